// libFuzzer target for the registry file (RegistryFile over WineRegText,
// writing through SafeFile). Each input is a file and one string write:
//
// - a file that is not a Wine registry is never written, and no key of it
//   opens;
// - a key is found, read and made where a 32-bit program has it (in a 64-bit
//   prefix below Wow6432Node and through link keys), and a key behind a link
//   that leads nowhere does not open;
// - ReadString agrees with the parsed file (a value that is no text throws);
// - a string is refused only when it holds a NUL, and a refused write leaves
//   every byte;
// - a write changes the file unless the value holds the text as REG_SZ
//   already; after it the value is REG_SZ and reads back exactly as
//   written, from this object and from a fresh one; every other value of
//   every key keeps its type and text, every key stays; every line outside
//   the written key's blocks stays in its order (a comment may come in
//   between);
// - no temporary file is left in the folder.

#include "FuzzSupport.h"

#include "platform/EditorError.h"
#include "platform/RegistryFile.h"
#include "platform/WineRegText.h"

#include <cctype>
#include <optional>
#include <vector>

namespace {

constexpr qint64 kNow = Q_INT64_C(1733600000123);

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The file's lines as the registry reads them: split at LF, nothing after a
// NUL. CRs at the end are left out: the registry drops the one before LF, so
// the line break a write adds after an unterminated last line ending in CR
// takes that CR along, which changes no value.
QList<QByteArray> contentLines(const QByteArray& text)
{
    QList<QByteArray> lines;
    for (qsizetype begin = 0; begin < text.size();) {
        const qsizetype lf = text.indexOf('\n', begin);
        QByteArray line = text.mid(begin, (lf < 0 ? text.size() : lf) - begin);
        if (const qsizetype nul = line.indexOf('\0'); nul >= 0)
            line.truncate(nul);
        while (line.endsWith('\r'))
            line.chop(1);
        lines << line;
        begin = lf < 0 ? text.size() : lf + 1;
    }
    return lines;
}

QByteArray indentless(const QByteArray& line)
{
    qsizetype i = 0;
    while (i < line.size() && isSpace(line[i]))
        ++i;
    return line.mid(i);
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether hex data goes on to the next line: bytes (at most ff), blanks and
// commas, then a backslash where they stop. Wineserver then takes the next
// line as more data, whatever it holds.
bool hexContinues(const QByteArray& data)
{
    qsizetype p = 0;
    const auto skip = [&] {
        while (p < data.size() && isSpace(data[p]))
            ++p;
    };
    while (p < data.size() && isHexDigit(data[p])) {
        unsigned byte = 0;
        while (p < data.size() && isHexDigit(data[p])) {
            byte = byte * 16 + unsigned(QByteArray("0123456789abcdef").indexOf(char(std::tolower(data[p++]))));
            if (byte > 0xff)
                return false;
        }
        skip();
        if (p < data.size() && data[p] == ',')
            ++p;
        skip();
    }
    return p < data.size() && data[p] == '\\';
}

// The hex data of a value line ("name"=hex:..., @=hex(N):...), if it has any.
std::optional<QByteArray> hexDataOf(const QByteArray& body)
{
    qsizetype pos = 0;
    if (body.startsWith('@')) {
        pos = 1;
    } else {
        qsizetype next = 0;
        if (!WineRegText::unescape(body.mid(1), '"', &next))
            return std::nullopt;
        pos = 1 + next;
    }
    while (pos < body.size() && isSpace(body[pos]))
        ++pos;
    if (pos >= body.size() || body[pos] != '=')
        return std::nullopt;
    ++pos;
    while (pos < body.size() && isSpace(body[pos]))
        ++pos;
    const QByteArray data = body.mid(pos);
    if (data.startsWith("hex:"))
        return data.mid(4);
    if (data.startsWith("hex(")) {
        qsizetype p = 4;
        quint64 type = 0;
        while (p < data.size() && isHexDigit(data[p]) && type <= 0xffffffffu)
            type = type * 16 + quint64(QByteArray("0123456789abcdef").indexOf(char(std::tolower(data[p++]))));
        if (p > 4 && data.mid(p).startsWith("):") && type <= 0xffffffffu)
            return data.mid(p + 2);
    }
    return std::nullopt;
}

// One line of the file as wineserver reads it.
struct ScannedLine {
    QByteArray content;
    std::optional<QStringList> key;  // the key whose block the line is in
    bool header = false;             // the "[...]" line itself
    std::optional<QString> value;    // the value the line starts
};

std::vector<ScannedLine> scan(const QByteArray& text, bool* cutOff = nullptr)
{
    std::vector<ScannedLine> lines;
    std::optional<QStringList> current;
    bool continuation = false;
    for (const QByteArray& content : contentLines(text)) {
        ScannedLine line{content, current, false, std::nullopt};
        const QByteArray body = indentless(content);
        if (lines.empty()) {
            // the header line
        } else if (continuation) {
            continuation = hexContinues(body);
        } else if (body.startsWith('[')) {
            qsizetype next = 0;
            const std::optional<QString> path = WineRegText::unescape(body.mid(1), ']', &next);
            // A key line that does not parse leaves what follows in no key.
            current = path ? std::optional<QStringList>(path->split(u'\\', Qt::SkipEmptyParts)) : std::nullopt;
            line.key = current;
            line.header = path.has_value();
        } else if (current && (body.startsWith('@') || body.startsWith('"'))) {
            if (body.startsWith('@')) {
                line.value = QString();
            } else {
                qsizetype next = 0;
                line.value = WineRegText::unescape(body.mid(1), '"', &next);
            }
            if (line.value) {
                const std::optional<QByteArray> hex = hexDataOf(body);
                continuation = hex && hexContinues(*hex);
            }
        }
        lines.push_back(std::move(line));
    }
    if (cutOff)
        *cutOff = continuation;
    return lines;
}

QStringList foldedPath(const QStringList& path)
{
    QStringList out;
    for (const QString& name : path)
        out << WineRegText::foldCase(name);
    return out;
}

struct Listed {
    QStringList key;
    QString value;
};

// Every key and value the file holds.
std::vector<Listed> listing(const QByteArray& text, std::vector<QStringList>* keys)
{
    std::vector<Listed> values;
    for (const ScannedLine& line : scan(text)) {
        if (line.header)
            keys->push_back(*line.key);
        else if (line.key && line.value)
            values.push_back({*line.key, *line.value});
    }
    return values;
}

// The lines, blank ones left out, that lie outside every block of the key.
QList<QByteArray> linesOutside(const QByteArray& text, const QStringList& folded)
{
    QList<QByteArray> kept;
    for (const ScannedLine& line : scan(text)) {
        if ((!line.key || foldedPath(*line.key) != folded) && !indentless(line.content).isEmpty())
            kept << line.content;
    }
    return kept;
}

// Data on the last line that says it goes on: the file was cut short.
bool cutShort(const QByteArray& text)
{
    bool continuation = false;
    const std::vector<ScannedLine> lines = scan(text, &continuation);
    return continuation;
}

// Where a 32-bit program has the key, as wineserver looks it up name by name:
// in a 64-bit prefix ("#arch=win64" before the first key) a key that holds a
// Wow6432Node subkey stands for that subkey, except right after a link; a
// link key ("#link") stands for the key its SymbolicLinkValue names below
// \Registry\Machine. A name not found: the part found and the rest, where
// the key would be made. Unreachable: a link on the way leads nowhere.
struct Placed {
    QStringList key;
    bool exists = false;
    bool reachable = true;
};

Placed placed(const WineRegText::Document& document, const QStringList& asked)
{
    bool win64 = false;
    for (const QByteArray& line : document.bytes().split('\n')) {
        if (line.startsWith('['))
            break;
        win64 = win64 || line.trimmed() == "#arch=win64";
    }
    const auto isWow = [](const QString& name) { return WineRegText::foldCase(name) == QLatin1String("wow6432node"); };
    QStringList names = asked;
    names.removeAll(QString());
    if (names.isEmpty())
        return {{}, document.keyExists({}), true};
    QStringList at;
    const auto redirect = [&] {
        const QStringList wow = at + QStringList{QStringLiteral("Wow6432Node")};
        if (win64 && !at.isEmpty() && !isWow(at.back()) && document.keyExists(wow))
            at = wow;
    };
    bool afterLink = false;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!afterLink && !isWow(names[i]))
            redirect();
        afterLink = false;
        if (!document.keyExists(at + QStringList{names[i]}))
            return {at + names.mid(i), false, true};
        at << names[i];
        for (int hops = 0; document.isLink(at); ++hops) {
            const WineRegText::Value* value = document.findValue(at, QStringLiteral("SymbolicLinkValue"));
            const QString target = value && value->type == WineRegText::RegLink ? value->link.value_or(QString()) : QString();
            const QString machine = QStringLiteral("\\registry\\machine\\");
            if (hops >= 16 || WineRegText::foldCase(target.left(machine.size())) != machine)
                return {at, false, false};
            const QStringList there = target.mid(machine.size()).split(u'\\', Qt::SkipEmptyParts);
            if (there.isEmpty())
                return {at, false, false};
            if (!document.keyExists(there))
                return {there, false, i + 1 == names.size()};
            at = there;
            afterLink = true;
        }
    }
    redirect();
    return {at, true, true};
}

bool sameValue(const WineRegText::Value* a, const WineRegText::Value* b)
{
    if (!a || !b)
        return !a && !b;
    return a->type == b->type && a->text == b->text;
}

QString textOf(const QByteArray& bytes, bool utf16)
{
    if (utf16)
        return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    return QString::fromUtf8(bytes);
}

QString keyPathText(const QStringList& path)
{
    return u'\\' + path.join(u'\\');
}

template <typename Call>
std::optional<QByteArray> failureOf(Call call)
{
    try {
        call();
    } catch (const EditorError& e) {
        return e.message().toUtf8();
    }
    return std::nullopt;
}

void run(const Fuzz::Input& input)
{
    const QString path = Fuzz::scratch() + QStringLiteral("/system.reg");
    Fuzz::put(path, input.file);
    const std::optional<WineRegText::Document> before = WineRegText::Document::parse(input.file);
    const bool wine = before.has_value() || input.file.isEmpty();

    std::vector<QStringList> keys;
    const std::vector<Listed> values = listing(input.file, &keys);

    const bool utf16 = input.flags & 0x01;
    bool classesRoot = input.flags & 0x02;
    QString keyPath = textOf(input.text(0), utf16);
    QString name = textOf(input.text(1), utf16);
    const QString value = textOf(input.text(2), utf16);
    if ((input.flags & 0x04) && !values.empty()) {
        const Listed& picked = values[input.index % values.size()];
        keyPath = keyPathText(picked.key);
        name = picked.value;
        classesRoot = false;
    } else if ((input.flags & 0x04) && !keys.empty()) {
        keyPath = keyPathText(keys[input.index % keys.size()]);
        classesRoot = false;
    }
    const bool canCreate = !(input.flags & 0x10);

    QStringList hivePath = keyPath.split(u'\\', Qt::SkipEmptyParts);
    if (classesRoot)
        hivePath = QStringList{QStringLiteral("Software"), QStringLiteral("Classes")} + hivePath;
    bool reachable = true;
    bool keyExists = false;
    if (before) {
        const Placed place = placed(*before, hivePath);
        hivePath = place.key;
        reachable = place.reachable;
        keyExists = place.exists;
    }
    const QStringList folded = foldedPath(hivePath);
    const QByteArray what = Fuzz::show(keyPath) + " " + Fuzz::show(name) + "=" + Fuzz::show(value);

    RegistryFile registry(path);
    registry.setClock([] { return kNow; });
    registry.SetRootKey(classesRoot ? RegistryRoot::ClassesRoot : RegistryRoot::LocalMachine);
    FUZZ_CHECK(registry.KeyExists(keyPath) == keyExists, what);
    const bool opened = registry.OpenKey(keyPath, canCreate);
    FUZZ_CHECK(opened == (wine && reachable && (canCreate || keyExists)), what + (opened ? " opened" : " did not open"));

    if (!opened) {
        FUZZ_CHECK(failureOf([&] { registry.WriteString(name, value); }).has_value(), what);
        FUZZ_CHECK(Fuzz::bytesOf(path) == input.file, what + ": a key that did not open was written");
        return;
    }

    // Reading agrees with the parse.
    const WineRegText::Value* held = before ? before->findValue(hivePath, name) : nullptr;
    std::optional<QString> read;
    const std::optional<QByteArray> readFailure = failureOf([&] { read = registry.ReadString(name); });
    if (held && !held->text) {
        FUZZ_CHECK(readFailure.has_value(), what + ": a value that is no text read as text");
    } else {
        FUZZ_CHECK(!readFailure, what + ": " + readFailure.value_or(""));
        FUZZ_CHECK(read == (held ? held->text : std::nullopt), what + " read " + Fuzz::show(read.value_or("<none>")));
    }
    FUZZ_CHECK(registry.ValueExists(name) == (held != nullptr), what);

    // A file that stopped being a Wine registry since the key was opened.
    if (input.flags & 0x08) {
        const QByteArray foreign = "REGEDIT4\r\n" + input.file;
        Fuzz::put(path, foreign);
        FUZZ_CHECK(failureOf([&] { registry.WriteString(name, value); }).has_value(), what);
        FUZZ_CHECK(Fuzz::bytesOf(path) == foreign, what + ": a file that is no Wine registry was written");
        return;
    }

    const bool mustRefuse = name.contains(QChar(0)) || value.contains(QChar(0));
    // A file cut short in the middle of data may be refused: whatever came
    // after that data would be read as more of it.
    const bool mayRefuse = cutShort(input.file);
    const std::optional<QByteArray> failure = failureOf([&] { registry.WriteString(name, value); });
    FUZZ_CHECK(failure.has_value() == mustRefuse || (failure && mayRefuse), what + ": " + failure.value_or("written"));
    const QStringList left = QDir(Fuzz::scratch()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    FUZZ_CHECK(left == QStringList{QStringLiteral("system.reg")}, left.join(u' ').toUtf8());
    const QByteArray after = Fuzz::bytesOf(path);
    if (failure) {
        FUZZ_CHECK(after == input.file, what + " was refused but changed the file");
        return;
    }
    // The value as a REG_SZ write stores it already is no change; anything
    // else, the same text of another type too, is written.
    const bool standsAsWritten = held && held->plainText && held->text == value;
    FUZZ_CHECK((after == input.file) == standsAsWritten,
               what + (standsAsWritten ? ": a value that stood as written was written" : ": nothing was written"));

    // The value reads back as written, here and from a fresh object.
    const auto readBack = [&](const GameRegistry& from) {
        std::optional<QString> text;
        const auto failed = failureOf([&] { text = from.ReadString(name); });
        FUZZ_CHECK(!failed && text == value, what + " reads back as " + Fuzz::show(text.value_or("<none>"))
                                                 + failed.value_or(""));
    };
    readBack(registry);
    RegistryFile fresh(path);
    fresh.SetRootKey(classesRoot ? RegistryRoot::ClassesRoot : RegistryRoot::LocalMachine);
    FUZZ_CHECK(fresh.OpenKey(keyPath, false), what + ": the written key is not in the file");
    readBack(fresh);

    const std::optional<WineRegText::Document> now = WineRegText::Document::parse(after);
    FUZZ_CHECK(now.has_value(), what + ": the file is no Wine registry any more");
    const WineRegText::Value* written = now->findValue(hivePath, name);
    FUZZ_CHECK(written && written->type == WineRegText::RegSz && written->plainText && written->text == value, what);

    // Everything else stays.
    if (before) {
        for (const Listed& other : values) {
            if (foldedPath(other.key) == folded && WineRegText::foldCase(other.value) == WineRegText::foldCase(name))
                continue;
            FUZZ_CHECK(sameValue(before->findValue(other.key, other.value), now->findValue(other.key, other.value)),
                       what + " changed " + Fuzz::show(keyPathText(other.key)) + " " + Fuzz::show(other.value));
        }
        for (const QStringList& key : keys)
            FUZZ_CHECK(!before->keyExists(key) || now->keyExists(key), what + " lost " + Fuzz::show(keyPathText(key)));
    }
    // An empty file is written as a new one, header first.
    const QList<QByteArray> kept =
        linesOutside(input.file.isEmpty() ? WineRegText::newFileHeader() : input.file, folded);
    const QList<QByteArray> still = linesOutside(after, folded);
    // In order, none lost or changed; what came in between is a comment (the
    // line that keeps data cut off by the end of the file cut off).
    qsizetype at = 0;
    for (const QByteArray& line : still) {
        if (at < kept.size() && line == kept[at])
            ++at;
        else
            FUZZ_CHECK(indentless(line).startsWith(';'), what + ": line added outside the key: " + Fuzz::show(line));
    }
    FUZZ_CHECK(at == kept.size(), what + ": line outside the key changed: " + Fuzz::show(kept.value(at)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    run(Fuzz::split(data, size));
    return 0;
}
