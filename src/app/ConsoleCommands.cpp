#include "app/ConsoleCommands.h"

#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "config/GameConfigStore.h"
#include "platform/EditorError.h"
#include "platform/GamePaths.h"
#include "platform/RegistryFile.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace {

constexpr int statusAbsent = 1;
constexpr int statusFailed = 1;
constexpr int statusUsage = 2;

// Whether the folder is a game's: its System folder (any letter case) holds
// the main INI, the player's INI or the program, the Windows one or a Linux
// build's ut-bin. A folder with none of them is a wrong folder, not one whose
// keys are all absent.
bool holdsGameFiles(const QString& gameDir)
{
    const QDir folder(gameDir);
    for (const QString& system : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (system.compare(QLatin1String("System"), Qt::CaseInsensitive) != 0)
            continue;
        for (const QString& file : QDir(folder.filePath(system)).entryList(QDir::Files | QDir::Hidden)) {
            for (const char* name : {"UnrealTournament.ini", "User.ini", "UnrealTournament.exe"})
                if (file.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                    return true;
            if (file.startsWith(QLatin1String("ut-bin"), Qt::CaseInsensitive))
                return true;
        }
    }
    return false;
}

// The INI file a command names, or nullopt with the reason in err.
std::optional<QString> iniPath(const CommandLine& commandLine, const QString& file, QByteArray& err)
{
    if (file != QLatin1String("main") && file != QLatin1String("user"))
        return file;
    std::optional<QString> gameDir = commandLine.options.gameDir;
    const QString& registryPath = commandLine.options.registryPath;
    if (!gameDir) {
        RegistryFile registry(registryPath);
        gameDir = installFolder(registry);
    }
    if (!gameDir || gameDir->isEmpty()) {
        err += QStringLiteral("brennwerk-editor: the game folder is unknown (no install path in %1); "
                              "give it with --game-dir DIR.\n")
                   .arg(registryPath)
                   .toUtf8();
        return std::nullopt;
    }
    if (!holdsGameFiles(*gameDir)) {
        const QString from = commandLine.options.gameDir ? QStringLiteral("--game-dir")
                                                         : QStringLiteral("the install path in %1").arg(registryPath);
        err += QStringLiteral("brennwerk-editor: the game folder %1 (from %2) holds none of the game's files "
                              "(System/UnrealTournament.ini, System/User.ini, System/UnrealTournament.exe); "
                              "give the right one with --game-dir DIR.\n")
                   .arg(*gameDir, from)
                   .toUtf8();
        return std::nullopt;
    }
    return file == QLatin1String("main") ? GamePaths::mainIniPath(*gameDir) : GamePaths::userIniPath(*gameDir);
}

} // namespace

int runConsoleCommand(const CommandLine& commandLine, QByteArray& out, QByteArray& err)
{
    const QStringList& operands = commandLine.operands;
    const std::optional<QString> path = iniPath(commandLine, operands.value(0), err);
    if (!path)
        return statusUsage;
    GameConfigStore store(*path);
    const QString& section = operands.value(1);
    const QString& key = operands.value(2);

    if (commandLine.action == CommandLine::Action::Get) {
        const std::optional<QString> value = store.Find(section, key);
        if (value)
            out += value->toUtf8() + '\n';
        else if (operands.size() > 3)
            out += operands[3].toUtf8() + '\n';
        return value ? 0 : statusAbsent;
    }

    // A mistyped name would otherwise become a new file nobody reads.
    if (!commandLine.create && !QFileInfo::exists(*path)) {
        err += QStringLiteral("brennwerk-editor: %1 does not exist; nothing written (to make it, give --create "
                              "before 'set').\n")
                   .arg(*path)
                   .toUtf8();
        return statusFailed;
    }
    try {
        store.WriteString(section, key, operands.value(3));
    } catch (const EditorError& error) {
        err += QStringLiteral("brennwerk-editor: %1\n").arg(error.message()).toUtf8();
        return statusFailed;
    }
    return 0;
}
