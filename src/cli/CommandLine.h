#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for.
struct EditorOptions {
    std::optional<QString> gameDir;  // --game-dir
    std::optional<QString> iniDir;   // --ini-dir: the folder of both INI files
    QString registryPath;            // --registry, else defaultRegistryPath()
    bool registryGiven = false;      // by --registry
};

struct CommandLine {
    // Get, Set and Paths run without a window: "get FILE SECTION KEY
    // [DEFAULT]", "set FILE SECTION KEY VALUE", "paths".
    enum class Action { Run, Help, Version, Error, Get, Set, Paths };
    Action action = Action::Run;
    EditorOptions options;
    QString message;        // the help or version text, or the error line
    QStringList operands;   // FILE SECTION KEY [DEFAULT | VALUE] of get and set
    bool create = false;    // --create: set may make a file that does not exist
};

// GNU-style options; arguments[0] is the program's name.
CommandLine parseCommandLine(const QStringList& arguments);

// Where the registry file lives when --registry is not given: the machine
// hive (system.reg) of the Wine prefix when there is one ($WINEPREFIX, else
// ~/.wine), else ownRegistryPath().
QString defaultRegistryPath();

// The registry file kept in the user's configuration folder, for a game
// that is not installed under Wine.
QString ownRegistryPath();

// Why the options' registry file is the one used, in a few words.
QString registryReason(const EditorOptions& options);
