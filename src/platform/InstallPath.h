#pragma once

#include <QString>

class GameRegistry;

// The key the game's installer writes and start-up reads:
// HKEY_LOCAL_MACHINE\Software\Unreal Technology\Installed Apps\UnrealTournament.
extern const QString installPathKey;

// Its "Folder", as start-up reads it.
struct InstallPath {
    enum class State {
        Missing,    // the key cannot be opened
        Found,      // folder: the game folder on this machine (empty when "Folder" is empty, missing or no text)
        Unreachable // "Folder" names no folder here: a drive the Wine prefix lacks, a network path
    };
    State state = State::Missing;
    QString folder;
    QString registered; // "Folder" as the registry holds it
};

// Leaves no key open.
InstallPath readInstallPath(GameRegistry& registry);

// "Folder" of the install-path key open in the registry; empty when it is
// missing or no text.
QString readFolderValue(const GameRegistry& registry);

// One line (no line break) that says why an unreachable install path names
// no folder here.
QString unreachableReason(const InstallPath& path, const GameRegistry& registry);
