#pragma once

#include "cli/CommandOutput.h"

#include <QByteArray>
#include <QString>

// The change from one content of a file to another as a unified diff, as
// "diff -u" prints it (three lines of context, "--- NAME" and "+++ NAME"
// without times), put on out. Each line is the file's bytes with its line
// break as it is (CR LF, LF, a CR inside, "\ No newline at end of file" after
// a last line without one), so that patch and git apply make exactly the
// after bytes from the before bytes. Nothing when the two are equal.
void unifiedDiff(CommandOutput& out, const QString& fileName, const QByteArray& before, const QByteArray& after);
