#include "cli/ConsoleCommands.h"

#include "cli/CommandLine.h"
#include "cli/EditScript.h"
#include "cli/UnifiedDiff.h"
#include "config/GameConfigStore.h"
#include "platform/EditorError.h"
#include "platform/GameFolder.h"
#include "platform/GamePaths.h"
#include "platform/RegistryFile.h"
#include "platform/SafeFile.h"
#include "platform/TerminalText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int statusAbsent = 1;
constexpr int statusFailed = 1;
constexpr int statusUsage = 2;

// Every error is one line: the program's name, then what failed and why,
// starting in lower case and without a full stop.
void say(CommandOutput& err, const QString& text)
{
    err += QStringLiteral("brennwerk-editor: %1\n").arg(text);
}

// The game folder a command works on and where it came from (as `paths`
// tells it), or nullopt with the reason in err.
struct GameFolderUsed {
    QString dir;
    QString origin;
};

// The INI files of the game, or nullopt with the reason in err.
std::optional<GamePaths::IniFiles> gameIniFiles(const CommandLine& commandLine, CommandOutput& err,
                                                std::optional<GameFolderUsed>* used = nullptr)
{
    const EditorOptions& options = commandLine.options;
    if (options.iniDir)
        return GamePaths::gameIniFiles(QString(), options.iniDir);
    RegistryFile registry(options.registryPath);
    const GameFolderChoice choice = chooseGameFolder(options.gameDir, registry);
    if (const QString why = whyNoGameFolder(choice, registry); !why.isEmpty()) {
        say(err, why);
        return std::nullopt;
    }
    if (used)
        *used = GameFolderUsed{choice.folder->dir, choice.folder->origin == GameFolder::Origin::GameDirOption
                                                       ? originText(choice)
                                                       : QStringLiteral("from the install path in the registry")};
    return GamePaths::gameIniFiles(choice.folder->dir);
}

// The INI file a command names, or nullopt with the reason in err.
std::optional<QString> iniPath(const CommandLine& commandLine, const QString& file, CommandOutput& err)
{
    if (file != QLatin1String("main") && file != QLatin1String("user"))
        return file;
    const std::optional<GamePaths::IniFiles> files = gameIniFiles(commandLine, err);
    if (!files)
        return std::nullopt;
    return file == QLatin1String("main") ? files->main.path : files->user.path;
}

QString placeReason(const GamePaths::IniFile& file, const std::optional<GameFolderUsed>& folder)
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

QString pathLine(const QString& what, const QString& path, QString why)
{
    if (!QFileInfo::exists(path))
        why += QStringLiteral("; does not exist yet");
    return QStringLiteral("%1: %2 (%3)\n").arg(what, path, why);
}

// "paths": which files the editor edits, and why those.
int printPaths(const CommandLine& commandLine, CommandOutput& out, CommandOutput& err)
{
    std::optional<GameFolderUsed> folder;
    const std::optional<GamePaths::IniFiles> files = gameIniFiles(commandLine, err, &folder);
    if (files) {
        out += pathLine(QStringLiteral("main INI"), files->main.path, placeReason(files->main, folder));
        out += pathLine(QStringLiteral("user INI"), files->user.path, placeReason(files->user, folder));
    } else {
        out += QStringLiteral("main INI: unknown (no game folder)\nuser INI: unknown (no game folder)\n");
    }
    out += pathLine(QStringLiteral("registry"), commandLine.options.registryPath,
                    registryReason(commandLine.options));
    return files ? 0 : statusUsage;
}

// A message of the INI layer as a clause of one of ours: its first word in
// lower case ("Unable to write to ..." reads "unable to write to ..."), a
// name that starts it as it is.
QString asClause(const QString& message)
{
    if (message.size() > 1 && message[0] >= u'A' && message[0] <= u'Z' && message[1].isLower())
        return message[0].toLower() + message.mid(1);
    return message;
}

// Why a write to the path was refused, where the INI layer names only the
// path (a plain lack of permission); empty when nothing tells.
QString permissionCause(const QString& path)
{
    const QFileInfo info(path);
    const auto refusedBy = [](const QString& file, int mode) -> std::optional<QString> {
        if (::access(QFile::encodeName(file).constData(), mode) == 0)
            return std::nullopt;
        return QString::fromLocal8Bit(std::strerror(errno));
    };
    std::optional<QString> cause;
    if (!info.exists()) {
        cause = refusedBy(info.absolutePath(), W_OK | X_OK);
    } else if (!info.isFile()) {
        cause = QStringLiteral("it is no plain file");
    } else if (!(info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther))) {
        cause = QStringLiteral("it is read-only (it has no write permission)");
    } else {
        cause = refusedBy(path, W_OK);
        if (!cause)
            cause = refusedBy(path, R_OK);
    }
    return cause.value_or(QString());
}

// What went wrong with a write, as a clause.
QString failure(const EditorError& error, const QString& path)
{
    QString text = asClause(error.message());
    if (error.message() == QStringLiteral("Unable to write to %1").arg(path)) {
        if (const QString cause = permissionCause(path); !cause.isEmpty())
            text += QStringLiteral(": ") + cause;
    }
    return text;
}

// How many single-character edits (insert, delete, replace, swap of two
// neighbours) turn one name into the other, letter case aside; more than
// `most` counts as most + 1. Only the cells of the table within `most` of its
// diagonal can stay within `most`, so a name costs 2 most + 1 cells a
// character, in three rows (a swap looks two rows back): a section name of
// 50 MB in a file must not cost gigabytes and seconds.
int typosApart(const QString& a, const QString& b, int most)
{
    const int far = most + 1;
    if (std::abs(a.size() - b.size()) > most)
        return far;
    const QString x = a.toLower();
    const QString y = b.toLower();
    const qsizetype n = x.size();
    const qsizetype m = y.size();
    // Cells outside the band count as `far`: no path through them is any
    // nearer. The band moves right, so those right of it were never written;
    // of those left of it, a row reads its own next one.
    std::vector<int> twoBack(size_t(m) + 1, far), oneBack(size_t(m) + 1, far), row(size_t(m) + 1, far);
    for (qsizetype j = 0; j <= std::min<qsizetype>(m, most); ++j)
        oneBack[size_t(j)] = int(j);
    for (qsizetype i = 1; i <= n; ++i) {
        const qsizetype from = std::max<qsizetype>(1, i - most);
        const qsizetype to = std::min<qsizetype>(m, i + most);
        row[0] = i <= most ? int(i) : far;
        if (from > 1)
            row[size_t(from - 1)] = far;
        for (qsizetype j = from; j <= to; ++j) {
            const int cost = x[i - 1] == y[j - 1] ? 0 : 1;
            int d = std::min({oneBack[size_t(j)] + 1, row[size_t(j - 1)] + 1, oneBack[size_t(j - 1)] + cost});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
                d = std::min(d, twoBack[size_t(j - 2)] + 1);
            row[size_t(j)] = std::min(d, far);
        }
        std::swap(twoBack, oneBack);
        std::swap(oneBack, row);
    }
    return oneBack[size_t(m)];
}

// "there is no section [S] in FILE", with the sections a typo or two away
// from S, nearest first.
QString noSection(const QString& section, const QString& path)
{
    constexpr int maxTypos = 2;
    // The game's names are some dozens of characters; a longer one is no
    // name a person typed and mistyped.
    constexpr qsizetype longestName = 1000;
    const QString wanted = section.trimmed();
    QList<std::pair<int, QString>> near;
    if (wanted.size() <= longestName) {
        GameConfigStore(path).ForEachSection(
            [&](const QString& name) {
                const int typos = typosApart(name, wanted, maxTypos);
                if (typos <= maxTypos)
                    near.append({typos, name});
            },
            wanted.size() + maxTypos);
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList names;
    for (qsizetype i = 0; i < near.size() && i < 3; ++i)
        names.append(QStringLiteral("[%1]").arg(near[i].second));
    QString text = QStringLiteral("there is no section [%1] in %2").arg(wanted, path);
    if (!names.isEmpty())
        text += QStringLiteral(" (closest: %1)").arg(names.join(QStringLiteral(", ")));
    return text;
}

bool takesCreate(Command command)
{
    return command == Command::Set || command == Command::Add || command == Command::Apply;
}

// Why the path cannot be looked up (errno), or 0 when it can.
int lookupError(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? 0 : errno;
}

// Whether nothing is at the path: only when the system says so, not when
// the user may not look (a folder on the way that is not his).
bool doesNotExist(const QString& path)
{
    const int error = lookupError(path);
    return error == ENOENT || error == ENOTDIR;
}

// A file that cannot be read at all, said so; nothing when it can.
std::optional<QString> unreadable(const QString& path)
{
    if (const std::optional<QString> refusal = SafeFile::refusalOf(path))
        return QStringLiteral("cannot read %1: %2").arg(path, *refusal);
    if (doesNotExist(path))
        return QStringLiteral("%1 does not exist").arg(path);
    if (const int lookup = lookupError(path))
        return QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(lookup)));
    if (!QFileInfo(path).isFile())
        return QStringLiteral("cannot read %1: it is no plain file").arg(path);
    if (::access(QFile::encodeName(path).constData(), R_OK) != 0)
        return QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return std::nullopt;
}

QString lineOf(const QString& text)
{
    return text + u'\n';
}

// "get" and "list".
int read(const CommandLine& commandLine, const QString& path, CommandOutput& out, CommandOutput& err)
{
    const QStringList& operands = commandLine.operands;
    const GameConfigStore store(path);
    // Silence would read as "no such key".
    const std::optional<QString> problem = unreadable(path);
    if (problem)
        say(err, *problem);
    if (commandLine.command == Command::List) {
        if (problem)
            return statusFailed;
        if (operands.size() == 1) {
            store.ForEachSection([&out](const QString& name) { out += lineOf(name); });
            return 0;
        }
        const auto entries = store.Entries(operands[1]);
        if (!entries) {
            say(err, noSection(operands[1], path));
            return statusFailed;
        }
        for (const auto& [key, value] : *entries)
            out += lineOf(key + u'=' + value);
        return 0;
    }
    // get: DEFAULT stands in for a key that cannot be read, whatever the
    // reason; the status and stderr tell the reason.
    QStringList values;
    if (problem) {
        // nothing to read
    } else if (commandLine.all) {
        values = store.FindAll(operands[1], operands[2]);
    } else if (const std::optional<QString> value = store.Find(operands[1], operands[2])) {
        values.append(*value);
    }
    for (const QString& value : values)
        out += lineOf(value);
    if (values.isEmpty() && operands.size() > 3)
        out += lineOf(operands[3]);
    // An absent key is an answer; an absent section is more often a typo.
    if (values.isEmpty() && !problem && !store.Entries(operands[1]))
        say(err, noSection(operands[1], path));
    return values.isEmpty() ? (problem ? statusFailed : statusAbsent) : 0;
}

// The edits of "apply", from its script, or nullopt with the reason in err.
std::optional<QList<ScriptEdit>> scriptEdits(const CommandLine& commandLine, QString& scriptName, CommandOutput& err)
{
    const QString script = commandLine.operands.value(1, QStringLiteral("-"));
    QFile file;
    bool opened = false;
    if (script == QLatin1String("-")) {
        scriptName = QStringLiteral("standard input");
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        scriptName = script;
        file.setFileName(script);
        opened = file.open(QIODevice::ReadOnly);
    }
    QByteArray text;
    if (opened)
        text = file.readAll();
    if (!opened || file.error() != QFileDevice::NoError) {
        say(err, QStringLiteral("cannot read %1: %2").arg(scriptName, file.errorString()));
        return std::nullopt;
    }
    auto parsed = parseEditScript(text);
    if (const ScriptError* error = std::get_if<ScriptError>(&parsed)) {
        say(err, QStringLiteral("%1:%2: %3; nothing written").arg(scriptName).arg(error->line).arg(error->message));
        return std::nullopt;
    }
    return std::get<QList<ScriptEdit>>(std::move(parsed));
}

// "set", "add", "remove", "unset" and "apply": all the edits in one write;
// for a filter (FILE "-", path its copy), none, but the new content printed.
int edit(const CommandLine& commandLine, const QString& path, bool filter, CommandOutput& out, CommandOutput& err)
{
    const QStringList& operands = commandLine.operands;
    QList<ScriptEdit> scriptLines;
    QString scriptName;
    if (commandLine.command == Command::Apply) {
        std::optional<QList<ScriptEdit>> parsed = scriptEdits(commandLine, scriptName, err);
        if (!parsed)
            return statusFailed;
        scriptLines = *std::move(parsed);
    } else {
        IniEdit edit;
        switch (commandLine.command) {
        case Command::Set:
            edit.kind = commandLine.first ? IniEdit::Kind::SetFirst : IniEdit::Kind::Set;
            break;
        case Command::Add:
            edit.kind = IniEdit::Kind::Add;
            break;
        case Command::Remove:
            edit.kind = IniEdit::Kind::Remove;
            break;
        default:
            edit.kind = IniEdit::Kind::Unset;
            break;
        }
        edit.section = operands[1];
        edit.key = operands[2];
        edit.value = operands.value(3);
        scriptLines.append({edit, 0});
    }
    QList<IniEdit> edits;
    for (const ScriptEdit& line : scriptLines)
        edits.append(line.edit);

    const bool create = commandLine.create;
    const QString createHint = takesCreate(commandLine.command) ? QStringLiteral("; --create makes it") : QString();
    // A mistyped name would otherwise become a new file nobody reads.
    if (!create && doesNotExist(path) && !SafeFile::refusalOf(path)) {
        say(err, QStringLiteral("%1 does not exist%2").arg(path, createHint));
        return statusFailed;
    }
    GameConfigStore store(path);
    GameConfigStore::Change change;
    try {
        change = store.Edit(edits, create, !commandLine.dryRun && !filter);
    } catch (const IniEditError& error) {
        QString text;
        const IniEdit* edit = error.edit >= 0 ? &edits[error.edit] : nullptr;
        switch (error.reason) {
        case IniEditError::Reason::NoFile:
            // What the user may not see is not missing.
            if (const int lookup = lookupError(path); lookup != 0 && !doesNotExist(path))
                text = QStringLiteral("unable to write to %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(lookup)));
            else
                text = QStringLiteral("%1 does not exist%2").arg(path, createHint);
            break;
        case IniEditError::Reason::NoSection:
            text = noSection(edit->section, path);
            if (takesCreate(commandLine.command))
                text += QStringLiteral("; --create adds it");
            break;
        case IniEditError::Reason::ManyLines:
            text = QStringLiteral("[%1] %2 has %3 lines in %4, and 'set' would change only the first: use 'add' and "
                                  "'remove' for a list, or 'set --first'")
                       .arg(edit->section.trimmed(), edit->key.trimmed())
                       .arg(error.lines)
                       .arg(path);
            break;
        case IniEditError::Reason::Refused:
            text = failure(error, path);
            break;
        }
        if (commandLine.command == Command::Apply) {
            if (edit)
                text = QStringLiteral("%1:%2: %3").arg(scriptName).arg(scriptLines[error.edit].line).arg(text);
            text += QStringLiteral("; nothing written");
        }
        say(err, text);
        return statusFailed;
    } catch (const EditorError& error) {
        say(err, failure(error, path));
        return statusFailed;
    }
    if (commandLine.dryRun || commandLine.diff)
        unifiedDiff(out, filter ? QStringLiteral("-") : path, change.before, change.after);
    else if (filter)
        out.append(change.after, change.after.startsWith("\xEF\xBB\xBF") ? CommandOutput::Encoding::Utf8
                                                                         : CommandOutput::Encoding::Windows1252);
    return 0;
}

// FILE "-": standard input, read whole into a file of its own that only this
// user can reach, for the INI layer, which reads files; that copy is named
// "standard input" in what the command says. Edits print the new content
// instead of writing it.
int runOnStandardInput(const CommandLine& commandLine, CommandOutput& out, CommandOutput& err)
{
    QFile input;
    QByteArray bytes;
    if (input.open(stdin, QIODevice::ReadOnly))
        bytes = input.readAll();
    if (!input.isOpen() || input.error() != QFileDevice::NoError) {
        say(err, QStringLiteral("cannot read standard input: %1").arg(input.errorString()));
        return statusFailed;
    }
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("standard-input.ini"));
    QFile copy(path);
    if (!dir.isValid() || !copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.flush()) {
        say(err, QStringLiteral("cannot keep a copy of standard input in %1: %2")
                     .arg(QDir::tempPath(), dir.isValid() ? copy.errorString() : dir.errorString()));
        return statusFailed;
    }
    copy.close();
    CommandOutput said;
    const int status = commandLine.command == Command::Get || commandLine.command == Command::List
                           ? read(commandLine, path, out, said)
                           : edit(commandLine, path, true, out, said);
    // The INI layer's messages name the file by its path.
    said.replace(path, QStringLiteral("standard input"));
    err.append(said.bytes(), CommandOutput::Encoding::Utf8);
    return status;
}

} // namespace

int runConsoleCommand(const CommandLine& commandLine, CommandOutput& out, CommandOutput& err)
{
    SafeFile::setRecoveryReport([&err](const SafeFile::Recovery& recovery) {
        say(err, SafeFile::describe(recovery));
    });
    const struct ReportEnds {
        ~ReportEnds() { SafeFile::setRecoveryReport({}); }
    } reportEnds;
    // A dry run reads, and writes nothing but its output: not even the
    // recovery of a write a crash left unfinished.
    const bool standardInput = commandLine.command != Command::Paths && commandLine.operands.value(0) == u'-';
    SafeFile::setLookOnly(commandLine.dryRun || standardInput);
    if (commandLine.command == Command::Paths)
        return printPaths(commandLine, out, err);
    if (standardInput)
        return runOnStandardInput(commandLine, out, err);
    const std::optional<QString> path = iniPath(commandLine, commandLine.operands.value(0), err);
    if (!path)
        return statusUsage;
    if (commandLine.command == Command::Get || commandLine.command == Command::List)
        return read(commandLine, *path, out, err);
    return edit(commandLine, *path, false, out, err);
}

std::optional<int> runWithoutWindow(const CommandLine& commandLine, CommandOutput& out, CommandOutput& err)
{
    switch (commandLine.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        out += commandLine.message;
        return 0;
    case CommandLine::Action::Error:
        err += commandLine.message;
        return statusUsage;
    case CommandLine::Action::Command:
        return runConsoleCommand(commandLine, out, err);
    case CommandLine::Action::Run:
        break;
    }
    return std::nullopt;
}

std::optional<int> runWithoutWindow(const CommandLine& commandLine, QString& out, QString& err)
{
    CommandOutput commandOut, commandErr;
    const std::optional<int> status = runWithoutWindow(commandLine, commandOut, commandErr);
    out += commandOut.text();
    err += commandErr.text();
    return status;
}

void printText(const QString& text, std::FILE* stream)
{
    TerminalText::write(stream, text);
}
