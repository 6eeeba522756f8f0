#include "app/ConsoleCommands.h"

#include "app/HauptUnit.h"
#include "app/Startup.h"
#include "config/GameConfigStore.h"
#include "platform/EditorError.h"
#include "platform/GamePaths.h"
#include "platform/RegistryFile.h"

#include <QFileInfo>

#include <optional>

namespace {

constexpr int statusAbsent = 1;
constexpr int statusFailed = 1;
constexpr int statusUsage = 2;

// The INI file a command names, or nullopt with the reason in err.
std::optional<QString> iniPath(const CommandLine& commandLine, const QString& file, QByteArray& err)
{
    if (file != QLatin1String("main") && file != QLatin1String("user"))
        return file;
    std::optional<QString> gameDir = commandLine.options.gameDir;
    if (!gameDir) {
        RegistryFile registry(commandLine.options.registryPath);
        gameDir = installFolder(registry);
    }
    if (!gameDir || gameDir->isEmpty()) {
        err += QStringLiteral("brennwerk-editor: the game folder is unknown (no install path in %1); "
                              "give it with --game-dir DIR.\n")
                   .arg(commandLine.options.registryPath)
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

    try {
        store.WriteString(section, key, operands.value(3));
    } catch (const EditorError& error) {
        err += QStringLiteral("brennwerk-editor: %1\n").arg(error.message()).toUtf8();
        return statusFailed;
    }
    return 0;
}
