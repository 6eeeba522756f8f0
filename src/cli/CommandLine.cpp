#include "cli/CommandLine.h"

#include "platform/AppInfo.h"
#include "platform/WinePaths.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString helpText(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [OPTION]...\n"
               "  or:  %1 [OPTION]... get FILE SECTION KEY [DEFAULT]\n"
               "  or:  %1 [OPTION]... [--create] set FILE SECTION KEY VALUE\n"
               "  or:  %1 [OPTION]... paths\n"
               "Edit the configuration of an installed copy of Unreal Tournament.\n"
               "\n"
               "Without a command the editor's window opens. The commands need no display:\n"
               "  get   print the key's value (DEFAULT, or nothing, when it is absent);\n"
               "        exit status 0 when the key was found, 1 when it is absent\n"
               "  set   write the key's value at once, changing only its line;\n"
               "        exit status 0, or 1 with the error on stderr and the file unchanged;\n"
               "        a FILE that does not exist is refused unless --create comes before\n"
               "        'set', which makes it (its folder must exist)\n"
               "  paths print the main INI, the user INI and the registry file, one a\n"
               "        line, each with why it was chosen\n"
               "  FILE  'main' (the game's UnrealTournament.ini), 'user' (its User.ini),\n"
               "        or the path of any INI file; 'paths' tells which files they are\n"
               "  Values are UTF-8; the game's files hold Windows-1252 text. Exit status 2:\n"
               "  wrong usage, or the game folder is unknown or holds none of the game's\n"
               "  files (System/UnrealTournament.ini, User.ini, UnrealTournament.exe).\n"
               "\n"
               "  --game-dir DIR    use DIR as the game's folder (the one holding System/)\n"
               "                    instead of asking the registry\n"
               "  --ini-dir DIR     edit UnrealTournament.ini and User.ini in DIR; default:\n"
               "                    those the game reads (for a Linux build of the game\n"
               "                    ~/.utpg/System/, else ~/.loki/ut/System/, when they\n"
               "                    hold them, else the game folder's System/)\n"
               "  --registry FILE   the registry file (Wine's text format); default: the\n"
               "                    system.reg of the Wine prefix ($WINEPREFIX, else\n"
               "                    ~/.wine) when there is one, else\n"
               "                    %2\n"
               "  --create          let 'set' make FILE when it does not exist\n"
               "  -h, --help        show this help and exit\n"
               "  --version         show the version and exit\n"
               "\n"
               "Every change is written to the game's INI files at once.\n")
        .arg(program, ownRegistryPath());
}

// The option as it was typed, dashes included and without a value after "=".
QString typedOption(const QStringList& arguments, const QString& name)
{
    for (const QString& argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            break;
        const QString option = argument.section(QLatin1Char('='), 0, 0);
        if (option == QLatin1String("--") + name || option == QLatin1Char('-') + name)
            return option;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

} // namespace

QString defaultRegistryPath()
{
    // A game installed under Wine is registered in the prefix's machine hive.
    const QString wineHive = WinePaths::defaultPrefix() + QStringLiteral("/system.reg");
    if (QFileInfo(wineHive).isFile())
        return wineHive;
    return ownRegistryPath();
}

QString ownRegistryPath()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/brennwerk-editor/system.reg");
}

QString registryReason(const EditorOptions& options)
{
    const std::optional<QString> prefix = WinePaths::prefixOfRegistryFile(options.registryPath);
    if (options.registryGiven)
        return prefix ? QStringLiteral("given by --registry: the machine hive of the Wine prefix %1").arg(*prefix)
                      : QStringLiteral("given by --registry");
    const QString defaultPrefix = WinePaths::defaultPrefix();
    if (options.registryPath != ownRegistryPath())
        return QStringLiteral("the machine hive of the Wine prefix %1 (%2)")
            .arg(defaultPrefix, qEnvironmentVariableIsEmpty("WINEPREFIX") ? QStringLiteral("~/.wine")
                                                                          : QStringLiteral("$WINEPREFIX"));
    return QStringLiteral("the editor's own registry file: no Wine prefix with a system.reg in %1").arg(defaultPrefix);
}

CommandLine parseCommandLine(const QStringList& arguments)
{
    const QString program = arguments.isEmpty() ? QStringLiteral("brennwerk-editor")
                                                : QFileInfo(arguments.front()).fileName();
    QCommandLineParser parser;
    const QCommandLineOption gameDirOption(QStringLiteral("game-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption registryOption(QStringLiteral("registry"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption iniDirOption(QStringLiteral("ini-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption createOption(QStringLiteral("create"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({gameDirOption, registryOption, iniDirOption, createOption, helpOption, versionOption});
    // A value such as "-1" after the command is no option.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);

    CommandLine result;
    auto error = [&](const QString& text) {
        result.action = CommandLine::Action::Error;
        result.message = QStringLiteral("%1: %2 Try '%1 --help'.\n").arg(program, text);
        return result;
    };
    if (!parser.parse(arguments.isEmpty() ? QStringList{program} : arguments)) {
        if (!parser.unknownOptionNames().isEmpty())
            return error(QStringLiteral("unknown option '%1'.")
                             .arg(typedOption(arguments, parser.unknownOptionNames().front())));
        return error(parser.errorText());
    }
    if (parser.isSet(helpOption)) {
        result.action = CommandLine::Action::Help;
        result.message = helpText(program);
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.action = CommandLine::Action::Version;
        result.message = AppInfo::name + QLatin1Char(' ') + AppInfo::version
                         + QStringLiteral("\nCopyright (c) 2026 The Brennwerk-Editor developers\n"
                                          "MIT licence: free to use, change and share, without warranty.\n");
        return result;
    }
    QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty()) {
        const QString command = positional.takeFirst();
        if (command == QLatin1String("get") && (positional.size() == 3 || positional.size() == 4))
            result.action = CommandLine::Action::Get;
        else if (command == QLatin1String("set") && positional.size() == 4)
            result.action = CommandLine::Action::Set;
        else if (command == QLatin1String("paths") && positional.isEmpty())
            result.action = CommandLine::Action::Paths;
        else if (command == QLatin1String("paths"))
            return error(QStringLiteral("'paths' takes no arguments."));
        else if (command == QLatin1String("set") && positional.contains(QLatin1String("--create")))
            return error(QStringLiteral("Option '--create' goes before 'set'."));
        else if (command == QLatin1String("get") || command == QLatin1String("set"))
            return error(QStringLiteral("'%1' takes FILE SECTION KEY %2.")
                             .arg(command, command == QLatin1String("get") ? QStringLiteral("[DEFAULT]")
                                                                          : QStringLiteral("VALUE")));
        else
            return error(QStringLiteral("Unexpected argument '%1'.").arg(command));
        result.operands = positional;
    }
    if (parser.isSet(createOption)) {
        if (result.action != CommandLine::Action::Set)
            return error(QStringLiteral("Option '--create' goes with 'set' only."));
        result.create = true;
    }
    for (const QCommandLineOption* option : {&gameDirOption, &registryOption, &iniDirOption})
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
    if (parser.isSet(iniDirOption)) {
        const QString dir = parser.value(iniDirOption);
        if (dir.isEmpty())
            return error(QStringLiteral("Option '--ini-dir' needs a folder."));
        if (!QFileInfo(dir).isDir())
            return error(QStringLiteral("'%1' is not a folder.").arg(dir));
        result.options.iniDir = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    }
    result.options.registryGiven = parser.isSet(registryOption);
    result.options.registryPath = parser.isSet(registryOption) ? parser.value(registryOption) : defaultRegistryPath();
    if (result.options.registryPath.isEmpty())
        return error(QStringLiteral("Option '--registry' needs a file."));
    return result;
}
