#pragma once

#include "config/GameConfigStore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <variant>

// The script of "apply": the commands set, add, remove and unset, one a line
// as on the command line but without FILE ("add Engine.GameEngine
// ServerPackages MyMod"), words quoted as a POSIX shell quotes them ('...',
// "...", \), a backslash at a line's end joining the next, "#" starting a
// comment where a word could start, blank lines ignored. Nothing is expanded:
// "$" and "`" outside single quotes, and ; & | < > ( ) outside any quotes,
// mean something else to a shell, so a line with them is refused rather than
// read otherwise than a shell would.
struct ScriptEdit {
    IniEdit edit;
    int line = 0; // where its command starts, from 1
};

struct ScriptError {
    int line = 0;
    QString message;
};

std::variant<QList<ScriptEdit>, ScriptError> parseEditScript(const QByteArray& script);
