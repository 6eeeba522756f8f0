#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class MessageBoxes;
class THauptForm;

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

// The resources (icon, logo) are compiled into the program's static library,
// whose registration the linker would drop unless something refers to it.
void registerResources();

// Qt's own texts (the file dialog's, say) in the user's language, from the
// translations installed with Qt. The program's own texts are German as they
// stand. False when there is none for that language.
bool loadQtTranslations(const QLocale& locale);

// Where the registry file lives when --registry is not given: the machine
// hive (system.reg) of the Wine prefix when there is one ($WINEPREFIX, else
// ~/.wine), else ownRegistryPath().
QString defaultRegistryPath();

// The registry file kept in the user's configuration folder, for a game
// that is not installed under Wine.
QString ownRegistryPath();

// Why the options' registry file is the one used, in a few words.
QString registryReason(const EditorOptions& options);

// From options to the shown main window. Nullptr when the user cancelled the
// search for the game: nothing was shown, read or written.
std::unique_ptr<THauptForm> openEditor(const EditorOptions& options, MessageBoxes& boxes,
                                       std::function<std::uint32_t()> totalPhysicalMemory = {});

// The whole start: parses the arguments, prints help, version or the error
// (to out and err), and opens the editor. exitCode is what the process ends
// with when no window is open.
struct StartResult {
    int exitCode = 0;
    std::unique_ptr<THauptForm> window;
};
StartResult startEditor(const QStringList& arguments, MessageBoxes& boxes, QString& out, QString& err,
                        std::function<std::uint32_t()> totalPhysicalMemory = {});
