#include "cli/ConsoleCommands.h"

#include "cli/CommandLine.h"
#include "config/GameConfigStore.h"
#include "platform/EditorError.h"
#include "platform/GamePaths.h"
#include "platform/InstallPath.h"
#include "platform/RegistryFile.h"
#include "platform/SafeFile.h"

#include <QFileInfo>

#include <optional>

namespace {

constexpr int statusAbsent = 1;
constexpr int statusFailed = 1;
constexpr int statusUsage = 2;

// The game folder a command works on and where it came from, or nullopt
// with the reason in err.
struct GameFolder {
    QString dir;
    QString origin;
    QString registryPath; // the registry file that named it, if one did
};

std::optional<GameFolder> gameFolder(const CommandLine& commandLine, QByteArray& err)
{
    const EditorOptions& options = commandLine.options;
    if (options.gameDir)
        return GameFolder{*options.gameDir, QStringLiteral("given by --game-dir"), QString()};
    RegistryFile registry(options.registryPath);
    const InstallPath path = readInstallPath(registry);
    QString why;
    if (path.state == InstallPath::State::Unreachable)
        why = QStringLiteral("the game folder is unknown: %1").arg(unreachableReason(path, registry));
    else if (path.state == InstallPath::State::Missing || path.folder.isEmpty())
        why = QStringLiteral("the game folder is unknown (no install path in %1)").arg(options.registryPath);
    if (!why.isEmpty()) {
        err += QStringLiteral("brennwerk-editor: %1; give it with --game-dir DIR.\n").arg(why).toUtf8();
        return std::nullopt;
    }
    return GameFolder{path.folder, QStringLiteral("from the install path in the registry"), options.registryPath};
}

// The INI files of the game, or nullopt with the reason in err.
std::optional<GamePaths::IniFiles> gameIniFiles(const CommandLine& commandLine, QByteArray& err,
                                                std::optional<GameFolder>* folder = nullptr)
{
    const std::optional<QString>& iniDir = commandLine.options.iniDir;
    if (iniDir)
        return GamePaths::gameIniFiles(QString(), iniDir);
    std::optional<GameFolder> found = gameFolder(commandLine, err);
    if (!found)
        return std::nullopt;
    if (!GamePaths::isGameFolder(found->dir)) {
        const QString origin = found->registryPath.isEmpty()
                                   ? found->origin
                                   : QStringLiteral("from the install path in %1").arg(found->registryPath);
        err += QStringLiteral("brennwerk-editor: the game folder %1 (%2) holds none of the game's files "
                              "(System/UnrealTournament.ini, System/User.ini, System/UnrealTournament.exe, "
                              "a Linux build's ut-bin); give the right one with --game-dir DIR.\n")
                   .arg(found->dir, origin)
                   .toUtf8();
        return std::nullopt;
    }
    if (folder)
        *folder = found;
    return GamePaths::gameIniFiles(found->dir);
}

// The INI file a command names, or nullopt with the reason in err.
std::optional<QString> iniPath(const CommandLine& commandLine, const QString& file, QByteArray& err)
{
    if (file != QLatin1String("main") && file != QLatin1String("user"))
        return file;
    const std::optional<GamePaths::IniFiles> files = gameIniFiles(commandLine, err);
    if (!files)
        return std::nullopt;
    return file == QLatin1String("main") ? files->main.path : files->user.path;
}

QString placeReason(const GamePaths::IniFile& file, const std::optional<GameFolder>& folder)
{
    QString why;
    switch (file.place) {
    case GamePaths::IniPlace::IniDir:
        return QStringLiteral("given by --ini-dir");
    case GamePaths::IniPlace::Utpg:
        why = QStringLiteral("the Linux game's preference folder ~/.utpg/System holds it");
        break;
    case GamePaths::IniPlace::Loki:
        why = QStringLiteral("the Loki game's preference folder ~/.loki/ut/System holds it");
        break;
    case GamePaths::IniPlace::Installation64:
        why = QStringLiteral("the installation's System64: the game folder holds only the 64-bit Linux build");
        break;
    case GamePaths::IniPlace::Installation:
        why = QStringLiteral("the installation's System");
        break;
    }
    if (folder)
        why += QStringLiteral("; game folder %1, %2").arg(folder->dir, folder->origin);
    return why;
}

QByteArray pathLine(const QString& what, const QString& path, QString why)
{
    if (!QFileInfo::exists(path))
        why += QStringLiteral("; does not exist yet");
    return QStringLiteral("%1: %2 (%3)\n").arg(what, path, why).toUtf8();
}

// "paths": which files the editor edits, and why those.
int printPaths(const CommandLine& commandLine, QByteArray& out, QByteArray& err)
{
    std::optional<GameFolder> folder;
    const std::optional<GamePaths::IniFiles> files = gameIniFiles(commandLine, err, &folder);
    if (files) {
        out += pathLine(QStringLiteral("main INI"), files->main.path, placeReason(files->main, folder));
        out += pathLine(QStringLiteral("user INI"), files->user.path, placeReason(files->user, folder));
    } else {
        out += "main INI: unknown (no game folder)\nuser INI: unknown (no game folder)\n";
    }
    out += pathLine(QStringLiteral("registry"), commandLine.options.registryPath,
                    registryReason(commandLine.options));
    return files ? 0 : statusUsage;
}

} // namespace

int runConsoleCommand(const CommandLine& commandLine, QByteArray& out, QByteArray& err)
{
    SafeFile::setRecoveryReport([&err](const SafeFile::Recovery& recovery) {
        err += QStringLiteral("brennwerk-editor: %1\n").arg(SafeFile::describe(recovery)).toUtf8();
    });
    const struct ReportEnds {
        ~ReportEnds() { SafeFile::setRecoveryReport({}); }
    } reportEnds;
    if (commandLine.action == CommandLine::Action::Paths)
        return printPaths(commandLine, out, err);
    const QStringList& operands = commandLine.operands;
    const std::optional<QString> path = iniPath(commandLine, operands.value(0), err);
    if (!path)
        return statusUsage;
    GameConfigStore store(*path);
    const QString& section = operands.value(1);
    const QString& key = operands.value(2);

    if (commandLine.action == CommandLine::Action::Get) {
        // Silence would read as "no such key".
        if (const std::optional<QString> refusal = SafeFile::refusalOf(*path)) {
            err += QStringLiteral("brennwerk-editor: cannot read %1: %2\n").arg(*path, *refusal).toUtf8();
            return statusFailed;
        }
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
