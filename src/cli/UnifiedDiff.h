#pragma once

#include <QByteArray>
#include <QString>

// The change from one content of a file to another as a unified diff, as
// "diff -u" prints it (three lines of context, "--- path" and "+++ path"
// without times), in UTF-8: each line decoded as the INI layer reads the
// file (Windows-1252, or UTF-8 after a byte-order mark), without its line
// break. Empty when the two are equal.
QByteArray unifiedDiff(const QString& path, const QByteArray& before, const QByteArray& after);
