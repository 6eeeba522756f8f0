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

// The commands that run without a window.
enum class Command {
    Get,    // FILE SECTION KEY [DEFAULT]; --all: every line of the key
    Set,    // FILE SECTION KEY VALUE; --first: the first of several lines
    Add,    // FILE SECTION KEY VALUE
    Remove, // FILE SECTION KEY VALUE
    Unset,  // FILE SECTION KEY
    List,   // FILE [SECTION]
    Apply,  // FILE [SCRIPT]
    Paths,  // no operands
};

struct CommandLine {
    enum class Action { Run, Help, Version, Error, Command };
    Action action = Action::Run;
    Command command = Command::Paths; // when action is Command
    EditorOptions options;
    QString message;      // the help or version text, or the error line
    QStringList operands; // the command's operands, without the command
    bool create = false;  // --create: set, add and apply may make FILE or SECTION
    bool first = false;   // --first (set)
    bool all = false;     // --all (get)
    bool dryRun = false;  // --dry-run: print the change as a diff, write nothing
    bool diff = false;    // --diff: make the change and print it as a diff
};

// Options go before or after the command, as GNU programs take them, and
// "--" ends them; arguments[0] is the program's name. A word that starts
// with "-" and a digit is a value (a negative number), never an option.
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
