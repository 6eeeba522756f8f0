#include "app/Startup.h"

#include "app/AppInfo.h"
#include "app/HauptUnit.h"
#include "app/InfoUnit.h"
#include "app/RendererUnit.h"
#include "platform/PhysicalMemory.h"
#include "platform/RegistryFile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString helpText(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [OPTION]...\n"
               "Edit the configuration of an installed copy of Unreal Tournament.\n"
               "\n"
               "  --game-dir DIR    use DIR as the game's folder (the one holding System/)\n"
               "                    instead of asking the registry\n"
               "  --registry FILE   the registry file (Wine's text format); default:\n"
               "                    %2\n"
               "  -h, --help        show this help and exit\n"
               "  --version         show the version and exit\n"
               "\n"
               "Every change is written to the game's INI files at once.\n")
        .arg(program, defaultRegistryPath());
}

} // namespace

QString defaultRegistryPath()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/brennwerk-editor/system.reg");
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    const QString program = arguments.isEmpty() ? QStringLiteral("brennwerk-editor")
                                                : QFileInfo(arguments.front()).fileName();
    QCommandLineParser parser;
    const QCommandLineOption gameDirOption(QStringLiteral("game-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption registryOption(QStringLiteral("registry"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({gameDirOption, registryOption, helpOption, versionOption});

    CommandLine result;
    auto error = [&](const QString& text) {
        result.action = CommandLine::Action::Error;
        result.message = QStringLiteral("%1: %2 Try '%1 --help'.\n").arg(program, text);
        return result;
    };
    if (!parser.parse(arguments.isEmpty() ? QStringList{program} : arguments))
        return error(parser.errorText());
    if (parser.isSet(helpOption)) {
        result.action = CommandLine::Action::Help;
        result.message = helpText(program);
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.action = CommandLine::Action::Version;
        result.message = AppInfo::name + QLatin1Char(' ') + AppInfo::version + QLatin1Char('\n');
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return error(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().front()));
    for (const QCommandLineOption* option : {&gameDirOption, &registryOption})
        if (parser.values(*option).size() > 1)
            return error(QStringLiteral("Option '--%1' given more than once.").arg(option->names().front()));

    if (parser.isSet(gameDirOption)) {
        QString dir = parser.value(gameDirOption);
        if (dir.isEmpty())
            return error(QStringLiteral("Option '--game-dir' needs a folder."));
        if (!QFileInfo(dir).isDir())
            return error(QStringLiteral("'%1' is not a folder.").arg(dir));
        dir = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
        result.options.gameDir = dir;
    }
    result.options.registryPath = parser.isSet(registryOption) ? parser.value(registryOption) : defaultRegistryPath();
    if (result.options.registryPath.isEmpty())
        return error(QStringLiteral("Option '--registry' needs a file."));
    return result;
}

// Outside any namespace: the macro declares the registration function.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

void registerResources()
{
    static const bool registered = (initResources(), true);
    Q_UNUSED(registered);
}

std::unique_ptr<THauptForm> openEditor(const EditorOptions& options, MessageBoxes& boxes,
                                       std::function<std::uint32_t()> totalPhysicalMemory)
{
    registerResources();
    if (!totalPhysicalMemory)
        totalPhysicalMemory = totalPhysicalMemoryBytes;
    auto window = std::make_unique<THauptForm>(boxes, std::make_unique<RegistryFile>(options.registryPath),
                                               std::move(totalPhysicalMemory), options.gameDir);
    if (!window->FormCreate())
        return nullptr;
    window->RendererForm = std::make_unique<TRendererForm>(*window, window->events());
    window->InfoForm = std::make_unique<TInfoForm>(*window);
    return window;
}

StartResult startEditor(const QStringList& arguments, MessageBoxes& boxes, QString& out, QString& err,
                        std::function<std::uint32_t()> totalPhysicalMemory)
{
    const CommandLine commandLine = parseCommandLine(arguments);
    StartResult result;
    switch (commandLine.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        out += commandLine.message;
        return result;
    case CommandLine::Action::Error:
        err += commandLine.message;
        result.exitCode = 2;
        return result;
    case CommandLine::Action::Run:
        break;
    }
    result.window = openEditor(commandLine.options, boxes, std::move(totalPhysicalMemory));
    return result;
}
