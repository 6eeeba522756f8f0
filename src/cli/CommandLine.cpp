#include "cli/CommandLine.h"

#include "platform/AppInfo.h"
#include "platform/WinePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <iterator>

namespace {

QString helpText(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [OPTION]...\n"
               "  or:  %1 [OPTION]... COMMAND OPERAND...\n"
               "Edit the configuration of an installed copy of Unreal Tournament.\n"
               "\n"
               "Without a command the editor's window opens. The commands need no display:\n"
               "  get FILE SECTION KEY [DEFAULT]\n"
               "                   print the key's value, or DEFAULT (or nothing) when it is\n"
               "                   absent; with --all every line of the key, one a line\n"
               "  list FILE [SECTION]\n"
               "                   print the section names, or the section's KEY=VALUE lines\n"
               "  set FILE SECTION KEY VALUE\n"
               "                   set the key's line; a key of several lines (a list such as\n"
               "                   ServerPackages) is refused, --first sets its first line\n"
               "  add FILE SECTION KEY VALUE\n"
               "                   add the line KEY=VALUE after the key's last line, unless\n"
               "                   the value is in the list already\n"
               "  remove FILE SECTION KEY VALUE\n"
               "                   remove every line of the key that holds the value\n"
               "  unset FILE SECTION KEY\n"
               "                   remove every line of the key\n"
               "  apply FILE [SCRIPT]\n"
               "                   make the set, add, remove and unset commands of SCRIPT\n"
               "                   (standard input when absent or '-'; one a line, without\n"
               "                   FILE, quoted as in a shell; # comments) in one write:\n"
               "                   all of them, or none when one is refused\n"
               "  paths            print the main INI, the user INI and the registry file,\n"
               "                   one a line, each with why it was chosen\n"
               "\n"
               "FILE is 'main' (the game's UnrealTournament.ini), 'user' (its User.ini) or\n"
               "the path of any INI file; 'paths' tells which files they are. FILE '-' is\n"
               "standard input: get and list read it, the others print the new content on\n"
               "standard output (with --dry-run the diff) and write no file. Names match\n"
               "regardless of ASCII letter case, and so do the values of a list. Values are\n"
               "UTF-8; the game's files hold Windows-1252 text. Only the lines a command\n"
               "changes change. Adding what is there and removing what is not change\n"
               "nothing and succeed. A FILE that does not exist is an error, and so is a\n"
               "SECTION (with the names closest to it); --create lets set, add and apply\n"
               "make them.\n"
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
               "  --create          let set, add and apply make a FILE or SECTION that does\n"
               "                    not exist (FILE's folder must exist)\n"
               "  --first           set: change the first of the key's lines\n"
               "  --all             get: print every line of the key\n"
               "  --dry-run         print the change as a unified diff and write nothing\n"
               "  --diff            make the change and print it as a unified diff\n"
               "                    (no diff: no change); the diff holds the file's bytes\n"
               "                    and names FILE as given ('main' and 'user' by their\n"
               "                    path): 'patch FILE < DIFF' or, where the command ran,\n"
               "                    'patch -p0 < DIFF' and 'git apply -p0 DIFF' apply it\n"
               "  --                end the options; the words after it are operands\n"
               "  -h, --help        show this help and exit\n"
               "  --version         show the version and exit\n"
               "\n"
               "Options go before or after the command. Exit status: 0 done (a change made\n"
               "or none needed, or what get and list asked for found); 1 refused, failed or\n"
               "not found (the reason on stderr, except for a key that get finds absent),\n"
               "or what it prints could not be written;\n"
               "2 wrong usage, or the game folder is unknown or holds none of the game's\n"
               "files (System/UnrealTournament.ini, User.ini, UnrealTournament.exe).\n")
        .arg(program, ownRegistryPath());
}

struct CommandUsage {
    Command command;
    const char* name;
    qsizetype minOperands;
    qsizetype maxOperands;
    const char* operands; // as the usage says them
};

constexpr CommandUsage commands[] = {
    {Command::Get, "get", 3, 4, "FILE SECTION KEY [DEFAULT]"},
    {Command::Set, "set", 4, 4, "FILE SECTION KEY VALUE"},
    {Command::Add, "add", 4, 4, "FILE SECTION KEY VALUE"},
    {Command::Remove, "remove", 4, 4, "FILE SECTION KEY VALUE"},
    {Command::Unset, "unset", 3, 3, "FILE SECTION KEY"},
    {Command::List, "list", 1, 2, "FILE [SECTION]"},
    {Command::Apply, "apply", 1, 2, "FILE [SCRIPT]"},
    {Command::Paths, "paths", 0, 0, nullptr},
};

// The options that only some commands take, and which.
struct CommandOption {
    const char* name;
    bool CommandLine::*flag;
    QList<Command> takenBy;
    const char* takenBySaid;
};

const QList<CommandOption>& commandOptions()
{
    const QList<Command> changes{Command::Set, Command::Add, Command::Remove, Command::Unset, Command::Apply};
    const char* changesSaid = "'set', 'add', 'remove', 'unset' and 'apply'";
    static const QList<CommandOption> options{
        {"create", &CommandLine::create, {Command::Set, Command::Add, Command::Apply}, "'set', 'add' and 'apply'"},
        {"first", &CommandLine::first, {Command::Set}, "'set' only"},
        {"all", &CommandLine::all, {Command::Get}, "'get' only"},
        {"dry-run", &CommandLine::dryRun, changes, changesSaid},
        {"diff", &CommandLine::diff, changes, changesSaid},
    };
    return options;
}

// A value such as "-1" is no option: no option is a digit. "-" alone is an
// operand too (standard input).
bool isOption(const QString& word)
{
    return word.size() > 1 && word.startsWith(u'-') && !word[1].isDigit();
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
    CommandLine result;
    auto error = [&](const QString& text) {
        result.action = CommandLine::Action::Error;
        result.message = QStringLiteral("%1: %2; try '%1 --help'\n").arg(program, text);
        return result;
    };

    // The options with a value, each at most once.
    struct ValueOption {
        QString name;
        QString needs;
        std::optional<QString> value;
    };
    ValueOption gameDir{QStringLiteral("game-dir"), QStringLiteral("a folder"), {}};
    ValueOption iniDir{QStringLiteral("ini-dir"), QStringLiteral("a folder"), {}};
    ValueOption registry{QStringLiteral("registry"), QStringLiteral("a file"), {}};
    bool help = false;
    bool version = false;
    QList<const CommandOption*> given;
    QStringList operands;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (optionsEnded || !isOption(word)) {
            operands.append(word);
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (word == QLatin1String("-h")) {
            help = true;
            continue;
        }
        if (!word.startsWith(QLatin1String("--")))
            return error(QStringLiteral("unknown option '%1'").arg(word));
        const qsizetype equals = word.indexOf(u'=');
        const QString name = word.mid(2, equals < 0 ? -1 : equals - 2);
        const std::optional<QString> attached = equals < 0 ? std::nullopt : std::optional(word.mid(equals + 1));
        ValueOption* valueOption = nullptr;
        for (ValueOption* candidate : {&gameDir, &iniDir, &registry})
            if (candidate->name == name)
                valueOption = candidate;
        if (valueOption) {
            if (valueOption->value)
                return error(QStringLiteral("option '--%1' given more than once").arg(name));
            if (attached)
                valueOption->value = *attached;
            else if (i + 1 < arguments.size())
                valueOption->value = arguments[++i];
            if (!valueOption->value || valueOption->value->isEmpty())
                return error(QStringLiteral("option '--%1' needs %2").arg(name, valueOption->needs));
            continue;
        }
        const auto flag = std::find_if(commandOptions().cbegin(), commandOptions().cend(),
                                       [&](const CommandOption& option) { return name == QLatin1String(option.name); });
        if (flag == commandOptions().cend() && name != QLatin1String("help") && name != QLatin1String("version"))
            return error(QStringLiteral("unknown option '--%1'").arg(name));
        if (attached)
            return error(QStringLiteral("option '--%1' takes no value").arg(name));
        if (name == QLatin1String("help"))
            help = true;
        else if (name == QLatin1String("version"))
            version = true;
        else
            given.append(&*flag);
    }

    if (help) {
        result.action = CommandLine::Action::Help;
        result.message = helpText(program);
        return result;
    }
    if (version) {
        result.action = CommandLine::Action::Version;
        result.message = AppInfo::name + QLatin1Char(' ') + AppInfo::version
                         + QStringLiteral("\nCopyright (c) 2026 The Brennwerk-Editor developers\n"
                                          "MIT licence: free to use, change and share, without warranty.\n");
        return result;
    }

    if (!operands.isEmpty()) {
        const QString name = operands.takeFirst();
        const auto usage = std::find_if(std::begin(commands), std::end(commands),
                                       [&](const CommandUsage& c) { return name == QLatin1String(c.name); });
        if (usage == std::end(commands))
            return error(QStringLiteral("unknown command '%1'").arg(name));
        if (operands.size() < usage->minOperands || operands.size() > usage->maxOperands) {
            if (!usage->operands)
                return error(QStringLiteral("'%1' takes no operands").arg(name));
            return error(QStringLiteral("'%1' takes %2").arg(name, QLatin1String(usage->operands)));
        }
        result.action = CommandLine::Action::Command;
        result.command = usage->command;
        result.operands = operands;
    }
    for (const CommandOption* option : given) {
        if (result.action != CommandLine::Action::Command || !option->takenBy.contains(result.command))
            return error(QStringLiteral("option '--%1' goes with %2")
                             .arg(QLatin1String(option->name), QLatin1String(option->takenBySaid)));
        result.*(option->flag) = true;
    }
    if (result.action == CommandLine::Action::Command && result.operands.value(0) == u'-') {
        // Standard input is FILE; what it becomes goes to standard output.
        if (result.command == Command::Apply && result.operands.value(1, QStringLiteral("-")) == u'-')
            return error(QStringLiteral("'apply -' reads FILE from standard input, so SCRIPT must be a file"));
        if (result.diff)
            return error(QStringLiteral("option '--diff' does not go with FILE '-', whose new content goes to "
                                        "standard output; --dry-run prints the diff alone"));
    }

    for (auto [option, target] : {std::pair{&gameDir, &result.options.gameDir}, std::pair{&iniDir, &result.options.iniDir}}) {
        if (!option->value)
            continue;
        if (!QFileInfo(*option->value).isDir())
            return error(QStringLiteral("'%1' is not a folder").arg(*option->value));
        *target = QDir::cleanPath(QFileInfo(*option->value).absoluteFilePath());
    }
    result.options.registryGiven = registry.value.has_value();
    result.options.registryPath = registry.value.value_or(defaultRegistryPath());
    return result;
}
