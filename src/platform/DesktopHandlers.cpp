#include "platform/DesktopHandlers.h"

#include "platform/EditorError.h"
#include "platform/GamePaths.h"
#include "platform/SafeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace DesktopHandlers {

namespace {

const QString packageName = QStringLiteral("brennwerk-editor.xml");
const QByteArray defaultsGroup = QByteArrayLiteral("[Default Applications]");
const QByteArray entryGroup = QByteArrayLiteral("[Desktop Entry]");
constexpr std::array allTypes{Type::Map, Type::Link, Type::Protocol};

// Our package: the file types the game opens. Their names follow the
// shared-mime-info habit for types without a registered name (x-), their
// descriptions the game's own names for them.
const QByteArray package = QByteArrayLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
    "  <mime-type type=\"application/x-unreal-map\">\n"
    "    <comment>Unreal Map</comment>\n"
    "    <glob pattern=\"*.unr\"/>\n"
    "  </mime-type>\n"
    "  <mime-type type=\"application/x-unreal-link\">\n"
    "    <comment>Unreal Link</comment>\n"
    "    <glob pattern=\"*.unreal\"/>\n"
    "  </mime-type>\n"
    "</mime-info>\n");

QStringList absoluteList(const QByteArray& variable, const QStringList& fallback)
{
    QStringList dirs;
    for (const QString& dir : qEnvironmentVariable(variable.constData()).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir))
            dirs << QDir::cleanPath(dir);
    return dirs.isEmpty() ? fallback : dirs;
}

QString absoluteOr(const QByteArray& variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable.constData());
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : fallback;
}

QByteArray withoutEnding(const QByteArray& line)
{
    QByteArray body = line;
    while (body.endsWith('\n') || body.endsWith('\r'))
        body.chop(1);
    return body;
}

QList<QByteArray> linesOf(const QByteArray& text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype newline = text.indexOf('\n', start);
        const qsizetype end = newline < 0 ? text.size() : newline + 1;
        lines << text.mid(start, end - start);
        start = end;
    }
    return lines;
}

// The value of the key in the group of a key file, as it stands (escapes
// kept); the first line of the key counts.
std::optional<QByteArray> keyValue(const QByteArray& text, const QByteArray& group, const QString& key)
{
    bool inGroup = false;
    for (const QByteArray& line : linesOf(text)) {
        const QByteArray body = withoutEnding(line).trimmed();
        if (body.startsWith('[')) {
            inGroup = body == group;
            continue;
        }
        const qsizetype equals = body.indexOf('=');
        if (!inGroup || body.startsWith('#') || equals < 0)
            continue;
        if (QString::fromUtf8(body.left(equals)).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return body.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}

QStringList listOf(const QByteArray& value)
{
    QStringList items;
    for (const QByteArray& part : value.split(';'))
        if (!part.trimmed().isEmpty())
            items << QString::fromUtf8(part.trimmed());
    return items;
}

// A string value of a desktop entry as the file holds it. No value written
// begins with a blank (a path, a quote, "Unreal"), so none needs "\s".
QString escaped(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

QString unescaped(const QString& value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's': out += QLatin1Char(' '); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case '\\': out += QLatin1Char('\\'); break;
        default: out += QLatin1Char('\\') + next;
        }
    }
    return out;
}

// The file of the desktop entry with this ID, in the first data folder that
// has one ("vendor-app.desktop" may also be vendor/app.desktop).
std::optional<QString> entryIn(const QString& folder, const QString& id)
{
    if (QFileInfo(folder + id).isFile())
        return folder + id;
    for (qsizetype dash = id.indexOf(QLatin1Char('-')); dash > 0; dash = id.indexOf(QLatin1Char('-'), dash + 1)) {
        const QString sub = folder + id.left(dash) + QLatin1Char('/');
        if (QFileInfo(sub).isDir())
            if (const auto found = entryIn(sub, id.mid(dash + 1)))
                return found;
    }
    return std::nullopt;
}

// The entry's file and bytes when it is installed: found, readable and not
// hidden (a hidden entry is one the user deleted).
std::optional<QByteArray> installedEntry(const QString& id, const Places& places)
{
    if (!id.endsWith(QLatin1String(".desktop")) || id.contains(QLatin1Char('/')) || id.startsWith(QLatin1Char('.')))
        return std::nullopt;
    for (const QString& dir : QStringList{places.dataHome} + places.dataDirs) {
        const auto file = entryIn(dir + QStringLiteral("/applications/"), id);
        if (!file)
            continue;
        const std::optional<QByteArray> text = SafeFile::read(*file);
        if (!text || keyValue(*text, entryGroup, QStringLiteral("Hidden")) == QByteArrayLiteral("true"))
            return std::nullopt;
        return text;
    }
    return std::nullopt;
}

bool sameFile(const QString& program, const QString& executable)
{
    if (program == executable)
        return true;
    const QString found = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    const QString canonical = QFileInfo(found).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(executable).canonicalFilePath();
}

// The files one change has written, with what they held before, so that a
// failure further on can put them back: the desktop then stands as it was.
class Written {
public:
    // One read-change-write of a file through SafeFile. Bytes equal to what
    // is there are not written.
    void update(const QString& path, const std::function<QByteArray(const std::optional<QByteArray>&)>& change)
    {
        // For the user alone, as the base directory rules ask, and by the
        // rule that resolves the file: root run with a user's HOME must not
        // make folders where that user's link points.
        SafeFile::makeFolders(QFileInfo(path).path(), 0700);
        SafeFile::Update file(path);
        const std::optional<QByteArray> old = file.read();
        if (file.exists() && !old)
            throw EditorError(QStringLiteral("Unable to write to %1: it cannot be read").arg(path));
        const QByteArray content = change(old);
        if (old && *old == content)
            return;
        file.write(content);
        files_.push_back({path, old, content});
    }

    bool contains(const QString& path) const
    {
        return std::any_of(files_.begin(), files_.end(), [&](const File& file) { return file.path == path; });
    }

    // Puts back, latest first, every file that still holds what this change
    // wrote; a file it made is removed again. As far as it goes: the failure
    // that called for it is the one to report.
    void putBack() noexcept
    {
        for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
            try {
                SafeFile::Update update(file->path);
                if (update.read() != file->now)
                    continue;
                if (file->before)
                    update.write(*file->before);
                else
                    QFile::remove(file->path);
            } catch (const EditorError&) {
            }
        }
        files_.clear();
    }

private:
    struct File {
        QString path;
        std::optional<QByteArray> before;
        QByteArray now;
    };
    std::vector<File> files_;
};

QString iconOf(const QString& gameDir)
{
    // What the Linux installers leave in the folder, else the icon the
    // Windows registrations use.
    for (const char* name : {"icon.png", "icon.xpm", "Help/Unreal.ico"}) {
        const QString path = GamePaths::matchOnDisk(gameDir + QLatin1Char('/') + QLatin1String(name));
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QByteArray entryText(const QString& gameDir, const QString& executable, const QStringList& types)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Unreal Tournament\n");
    text += QStringLiteral("Comment=Unreal Tournament in %1\n").arg(escaped(gameDir));
    text += QStringLiteral("Exec=%1\n").arg(execValue(executable));
    text += QStringLiteral("Path=%1\n").arg(escaped(QFileInfo(executable).path()));
    if (const QString icon = iconOf(gameDir); !icon.isEmpty())
        text += QStringLiteral("Icon=%1\n").arg(escaped(icon));
    text += QStringLiteral("Terminal=false\n"
                           "NoDisplay=true\n");
    text += QStringLiteral("MimeType=%1;\n").arg(types.join(QLatin1Char(';')));
    return text.toUtf8();
}

void updateMimeDatabase(const QString& mimeFolder)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (tool.isEmpty())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(tool, {mimeFolder});
    const bool finished = process.waitForStarted() && process.waitForFinished(60000);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    QString why = QString::fromLocal8Bit(process.readAllStandardError()).trimmed().section(QLatin1Char('\n'), 0, 0);
    if (why.isEmpty())
        why = finished ? QStringLiteral("update-mime-database failed") : process.errorString();
    throw EditorError(QStringLiteral("Unable to update the MIME database in %1: %2").arg(mimeFolder, why));
}

} // namespace

QString mimeType(Type type)
{
    switch (type) {
    case Type::Map:
        return QStringLiteral("application/x-unreal-map");
    case Type::Link:
        return QStringLiteral("application/x-unreal-link");
    case Type::Protocol:
        break;
    }
    return QStringLiteral("x-scheme-handler/unreal");
}

Places Places::fromEnvironment()
{
    const QString home = QDir::homePath();
    Places places;
    places.dataHome = absoluteOr("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    places.configHome = absoluteOr("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    places.dataDirs = absoluteList("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
    places.configDirs = absoluteList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        places.currentDesktops << desktop.toLower();
    return places;
}

QString entryName(const QString& gameDir)
{
    QString folder = QFileInfo(gameDir).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(QDir(gameDir).absolutePath());
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(folder), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("brennwerk-ut-%1.desktop").arg(QString::fromLatin1(hash.left(16)));
}

bool opensWith(Type type, const QString& executable, const Places& places)
{
    QStringList lists;
    const auto addFolder = [&](const QString& folder) {
        for (const QString& desktop : places.currentDesktops)
            lists << folder + QLatin1Char('/') + desktop + QStringLiteral("-mimeapps.list");
        lists << folder + QStringLiteral("/mimeapps.list");
    };
    for (const QString& folder : QStringList{places.configHome} + places.configDirs)
        addFolder(folder);
    for (const QString& folder : QStringList{places.dataHome} + places.dataDirs)
        addFolder(folder + QStringLiteral("/applications"));

    // The first installed entry of the first list that names one is the
    // default; lists that name none installed give way to the next.
    for (const QString& list : lists) {
        const std::optional<QByteArray> text = SafeFile::read(list);
        if (!text)
            continue;
        const std::optional<QByteArray> value = keyValue(*text, defaultsGroup, mimeType(type));
        if (!value)
            continue;
        for (const QString& id : listOf(*value)) {
            const std::optional<QByteArray> entry = installedEntry(id, places);
            if (!entry)
                continue;
            const std::optional<QByteArray> exec = keyValue(*entry, entryGroup, QStringLiteral("Exec"));
            return exec && sameFile(execProgram(QString::fromUtf8(*exec)), executable);
        }
    }
    return false;
}

void makeDefault(Type type, const QString& gameDir, const QString& executable, const Places& places)
{
    const QString id = entryName(gameDir);
    const QString mimeFolder = places.dataHome + QStringLiteral("/mime");
    const QString packagePath = mimeFolder + QStringLiteral("/packages/") + packageName;
    const QString entryPath = places.dataHome + QStringLiteral("/applications/") + id;
    Written written;
    try {
        // The entry names the types it has been made the default for so far.
        written.update(entryPath, [&](const std::optional<QByteArray>& old) {
            const QStringList had =
                old ? listOf(keyValue(*old, entryGroup, QStringLiteral("MimeType")).value_or(QByteArray()))
                    : QStringList();
            QStringList types;
            for (const Type each : allTypes)
                if (each == type || had.contains(mimeType(each)))
                    types << mimeType(each);
            return entryText(gameDir, executable, types);
        });
        if (type != Type::Protocol) {
            written.update(packagePath, [](const std::optional<QByteArray>&) { return package; });
            // Also after a run that wrote the package and ended before the
            // database was made from it.
            const QFileInfo cache(mimeFolder + QStringLiteral("/mime.cache"));
            if (!cache.exists() || cache.lastModified() < QFileInfo(packagePath).lastModified())
                updateMimeDatabase(mimeFolder);
        }
        // Last: until this line names the entry, no desktop opens anything
        // with it by this change.
        written.update(places.configHome + QStringLiteral("/mimeapps.list"), [&](const std::optional<QByteArray>& old) {
            return withDefault(old.value_or(QByteArray()), mimeType(type), id);
        });
    } catch (const EditorError&) {
        // An entry alone is still a handler to desktops that find no default
        // for its types: so not one of the files stays changed.
        const bool packageWritten = written.contains(packagePath);
        written.putBack();
        if (packageWritten) {
            try {
                updateMimeDatabase(mimeFolder);
            } catch (const EditorError&) {
            }
        }
        throw;
    }
}

QByteArray withDefault(const QByteArray& mimeapps, const QString& type, const QString& entry)
{
    const QByteArray key = type.toUtf8();
    const QByteArray id = entry.toUtf8();
    QList<QByteArray> lines = linesOf(mimeapps);
    qsizetype group = -1;
    for (qsizetype i = 0; i < lines.size() && group < 0; ++i)
        if (withoutEnding(lines[i]).trimmed() == defaultsGroup)
            group = i;
    if (group < 0) {
        QByteArray text = mimeapps;
        if (!text.isEmpty() && !text.endsWith('\n'))
            text += '\n';
        return text + defaultsGroup + '\n' + key + '=' + id + ";\n";
    }
    const QByteArray eol = lines[group].endsWith("\r\n") ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    qsizetype end = group + 1;
    while (end < lines.size() && !withoutEnding(lines[end]).trimmed().startsWith('['))
        ++end;

    bool found = false;
    qsizetype last = group;
    for (qsizetype i = group + 1; i < end; ++i) {
        const QByteArray body = withoutEnding(lines[i]);
        if (!body.trimmed().isEmpty())
            last = i;
        const qsizetype equals = body.indexOf('=');
        if (body.trimmed().startsWith('#') || equals < 0
            || QString::fromUtf8(body.left(equals)).trimmed().compare(type, Qt::CaseInsensitive) != 0)
            continue;
        // Every line of the type: readers differ in which one counts.
        found = true;
        const QStringList ids = listOf(body.mid(equals + 1));
        if (!ids.isEmpty() && ids.front() == entry)
            continue;
        QByteArray value = id + ';';
        for (const QString& other : ids)
            if (other != entry)
                value += other.toUtf8() + ';';
        lines[i] = body.left(equals + 1) + value + lines[i].mid(body.size());
    }
    if (!found) {
        if (!lines[last].endsWith('\n'))
            lines[last] += eol;
        lines.insert(last + 1, key + '=' + id + ';' + eol);
    }
    return lines.join();
}

QString execProgram(const QString& exec)
{
    const QString value = unescaped(exec).trimmed();
    QString program;
    if (value.startsWith(QLatin1Char('"'))) {
        qsizetype i = 1;
        for (; i < value.size() && value[i] != QLatin1Char('"'); ++i) {
            if (value[i] == QLatin1Char('\\') && i + 1 < value.size())
                ++i;
            program += value[i];
        }
        if (i == value.size())
            return QString();
    } else {
        program = value.section(QRegularExpression(QStringLiteral("\\s")), 0, 0);
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

QString execValue(const QString& program)
{
    // Letters, digits and a few signs that no launcher gives a meaning pass
    // as they are; anything else, even what the desktop entry rules leave
    // free ("[", "]"), quotes the whole path. A launcher that splits the
    // line as a shell does (xdg-open's own one runs "which" on the word
    // unquoted) would take "[1]" for a pattern and start what it matches,
    // a program in another folder.
    const auto plain = [](QChar c) {
        if (c.unicode() >= 0x80)
            return c.isLetterOrNumber();
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
               || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || QStringLiteral("-_./+,:@%=").contains(c);
    };
    QString argument = program;
    // "%" starts a field code, inside quotes too: a path's own is doubled.
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (!std::all_of(program.begin(), program.end(), plain)) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = quoted + QLatin1Char('"');
    }
    return escaped(argument + QStringLiteral(" %u"));
}

} // namespace DesktopHandlers
