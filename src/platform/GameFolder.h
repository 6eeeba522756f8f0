#pragma once

#include "platform/InstallPath.h"

#include <QString>

#include <optional>

class GameRegistry;

// Which game folder the program works on: the one rule the window and the
// command line share. The folder named by --game-dir comes first, and then no
// registry is read; else the install path the game's installer recorded in
// the registry. The folder chosen is never swapped for another because it
// fails a check: a folder that holds none of the game's files is reported as
// such, and each side decides what that means for it (the window opens it,
// its pages showing their not-found texts; a command refuses to work on it).
struct GameFolder {
    enum class Origin {
        GameDirOption, // --game-dir
        InstallPath,   // the registry's install path (its "Folder", possibly empty)
    };
    QString dir;
    Origin origin = Origin::GameDirOption;
    // A System or System64 folder in it holds one of the game's files.
    bool holdsGame = false;
};

struct GameFolderChoice {
    // Nothing when no --game-dir is given and the registry names no folder
    // on this machine (no install-path key, or a "Folder" on a drive or
    // share that is not here): the window asks for the game's executable.
    std::optional<GameFolder> folder;
    // How the registry's install path was found; Missing when it was not read.
    InstallPath installPath;
    // The registry file that was read, for the messages.
    QString registryPath;
};

GameFolderChoice chooseGameFolder(const std::optional<QString>& gameDir, GameRegistry& registry);

// Why a command cannot work on the choice, as one clause that starts in lower
// case and ends in how to mend it ("...; give it with --game-dir DIR"); empty
// when the folder holds the game.
QString whyNoGameFolder(const GameFolderChoice& choice, const GameRegistry& registry);

// Where the folder came from, as the command line names it: "given by
// --game-dir", "from the install path in <registry>".
QString originText(const GameFolderChoice& choice);
