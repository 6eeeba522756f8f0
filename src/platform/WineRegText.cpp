#include "platform/WineRegText.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <deque>
#include <map>

namespace WineRegText {
namespace {

constexpr QByteArrayView headerLine = "WINE REGISTRY Version 2";
// FILETIME counts 100 ns ticks from 1601; Unix time starts 11644473600 s later.
constexpr qint64 ticksFrom1601To1970 = Q_INT64_C(116444736000000000);

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return unsigned(c - '0');
    if (c >= 'a' && c <= 'f')
        return unsigned(c - 'a' + 10);
    return unsigned(c - 'A' + 10);
}

qsizetype skipSpace(QByteArrayView text, qsizetype pos)
{
    while (pos < text.size() && isSpace(text[pos]))
        ++pos;
    return pos;
}

// The names joined by a single separator, empty names left out, as the
// keys' paths are kept.
QString joinedPath(QStringView names)
{
    QString joined(names.size(), Qt::Uninitialized);
    char16_t* const units = reinterpret_cast<char16_t*>(joined.data());
    qsizetype length = 0;
    for (const QChar c : names) {
        if (c == u'\\' && (length == 0 || units[length - 1] == u'\\'))
            continue;
        units[length++] = c.unicode();
    }
    if (length > 0 && units[length - 1] == u'\\')
        --length;
    joined.truncate(length);
    return joined;
}

QString foldPath(const QStringList& path)
{
    return foldCase(joinedPath(path.join(u'\\')));
}

// Whether the joined path is the joined prefix or a key below it: its first
// names are all of prefix's names (an empty prefix is the hive, above every
// key).
bool hasPrefix(const QString& path, const QString& prefix)
{
    return path.startsWith(prefix) && (path.size() == prefix.size() || prefix.isEmpty() || path[prefix.size()] == u'\\');
}

// The order in which wineserver saves keys: depth first, the subkeys of each
// key sorted by name regardless of case, a shorter name before a longer one
// it begins. On joined paths: name by name, where a name's end (the
// separator or the path's end) comes before any character.
bool sortsBefore(const QString& a, const QString& b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const QChar x = a[i];
        const QChar y = b[i];
        if (x == y)
            continue;
        if (x == u'\\')
            return true;
        if (y == u'\\')
            return false;
        return x < y;
    }
    return a.size() < b.size();
}

QByteArray valueLine(const QString& name, const QString& text)
{
    QByteArray line = name.isEmpty() ? QByteArray("@=") : '"' + escape(name, '"', '"') + "\"=";
    line += '"' + escape(text, '"', '"') + '"';
    return line;
}

QString textFromUtf16Le(const QByteArray& data)
{
    QString text;
    for (qsizetype i = 0; i + 1 < data.size(); i += 2) {
        const char16_t unit = char16_t(uchar(data[i]) | (uchar(data[i + 1]) << 8));
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

QString cutAtNul(QString text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

bool endsWithBackslash(QByteArrayView text)
{
    qsizetype end = text.size();
    while (end > 0 && isSpace(text[end - 1]))
        --end;
    return end > 0 && text[end - 1] == '\\';
}

// A line's text as wineserver reads it: lines are C strings to it, so
// nothing after a NUL byte counts.
QByteArrayView lineContent(const QByteArray& bytes, const Line& line)
{
    const QByteArrayView text = QByteArrayView(bytes).sliced(line.begin, line.contentEnd - line.begin);
    const qsizetype nul = text.indexOf('\0');
    return nul < 0 ? text : text.first(nul);
}

bool isBlank(QByteArrayView text)
{
    return skipSpace(text, 0) == text.size();
}

// The one reading of escaped text, from p up to the first unescaped endChar:
// unescape() decodes with it, and the reading of a file that only needs to
// know where a name ends skips with it (Decode false, put never called).
// Returns the offset just past endChar, or nothing when endChar never comes.
template <bool Decode, typename Put>
std::optional<qsizetype> scanEscaped(QByteArrayView text, qsizetype p, char endChar, Put&& put)
{
    const qsizetype n = text.size();
    while (p < n && text[p] != endChar) {
        const char c = text[p];
        if (uchar(c) >= 0x80) {
            qsizetype run = p;
            while (run < n && uchar(text[run]) >= 0x80)
                ++run;
            if constexpr (Decode) {
                for (const QChar unit : QString::fromUtf8(text.sliced(p, run - p)))
                    put(unit.unicode());
            }
            p = run;
            continue;
        }
        if (c != '\\') {
            put(char16_t(c));
            ++p;
            continue;
        }
        if (++p >= n)
            return std::nullopt;
        const char e = text[p];
        switch (e) {
        case 'a': put(u'\a'); ++p; break;
        case 'b': put(u'\b'); ++p; break;
        case 'e': put(char16_t(27)); ++p; break;
        case 'f': put(u'\f'); ++p; break;
        case 'n': put(u'\n'); ++p; break;
        case 'r': put(u'\r'); ++p; break;
        case 't': put(u'\t'); ++p; break;
        case 'v': put(u'\v'); ++p; break;
        case 'x': {
            ++p;
            if (p >= n || !isHexDigit(text[p])) {
                put(u'x');
                break;
            }
            unsigned unit = 0;
            for (int digits = 0; digits < 4 && p < n && isHexDigit(text[p]); ++digits)
                unit = unit * 16 + hexValue(text[p++]);
            put(char16_t(unit));
            break;
        }
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
            unsigned unit = unsigned(e - '0');
            ++p;
            for (int digits = 1; digits < 3 && p < n && text[p] >= '0' && text[p] <= '7'; ++digits)
                unit = unit * 8 + unsigned(text[p++] - '0');
            put(char16_t(unit));
            break;
        }
        default:
            // A backslash before a raw UTF-8 sequence escapes nothing useful;
            // the sequence is read as it stands.
            if (uchar(e) < 0x80) {
                put(char16_t(e));
                ++p;
            }
            break;
        }
    }
    if (p >= n)
        return std::nullopt;
    return p + 1;
}

} // namespace

QByteArray escape(QStringView text, char special1, char special2)
{
    static const char cEscapes[33] = ".......abtnvfr.............e....";
    QByteArray out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const bool hasNext = i + 1 < text.size();
        const char16_t next = hasNext ? text[i + 1].unicode() : 0;
        if (unit > 127) {
            // A following hex digit would be read as part of the escape.
            const bool pad = hasNext && next < 128 && isHexDigit(char(next));
            out += QByteArray::number(unit, 16).rightJustified(pad ? 4 : 0, '0').prepend("\\x");
        } else if (unit < 32) {
            if (cEscapes[unit] != '.') {
                out += '\\';
                out += cEscapes[unit];
            } else {
                const bool pad = hasNext && next >= '0' && next <= '7';
                out += '\\';
                out += QByteArray::number(unit, 8).rightJustified(pad ? 3 : 0, '0');
            }
        } else {
            const char c = char(unit);
            if (c == '\\' || c == special1 || c == special2)
                out += '\\';
            out += c;
        }
    }
    return out;
}

std::optional<QString> unescape(QByteArrayView text, char endChar, qsizetype* next)
{
    qsizetype p = 0;
    const qsizetype n = text.size();
    // Most names and texts hold nothing to decode.
    while (p < n && text[p] != endChar && text[p] != '\\' && uchar(text[p]) < 0x80)
        ++p;
    if (p < n && text[p] == endChar) {
        *next = p + 1;
        return QString::fromLatin1(text.first(p));
    }
    // Written in place: appending unit by unit made reading a system.reg
    // slow. No input byte gives more than one UTF-16 unit, so n units hold
    // the text.
    QString out(n, Qt::Uninitialized);
    char16_t* const units = reinterpret_cast<char16_t*>(out.data());
    qsizetype length = 0;
    for (qsizetype i = 0; i < p; ++i)
        units[length++] = char16_t(uchar(text[i]));
    const std::optional<qsizetype> end =
        scanEscaped<true>(text, p, endChar, [&](char16_t unit) { units[length++] = unit; });
    if (!end)
        return std::nullopt;
    *next = *end;
    out.truncate(length);
    // n ran to the line's end, which may lie far beyond a value's name.
    if (out.capacity() - length > 64)
        out.squeeze();
    return out;
}

QByteArray newFileHeader()
{
    return QByteArray(headerLine.data(), headerLine.size()) + "\n;; All keys relative to \\\\Machine\n";
}

QString foldCase(const QString& name)
{
    QString folded = name;
    char16_t* const units = reinterpret_cast<char16_t*>(folded.data());
    for (qsizetype i = 0, n = folded.size(); i < n; ++i) {
        const char16_t c = units[i];
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z')
                units[i] = char16_t(c + 0x20);
        } else {
            units[i] = QChar(c).toLower().unicode();
        }
    }
    return folded;
}

QByteArrayView Document::raw(int line) const
{
    const Line& l = lines_[size_t(line)];
    return QByteArrayView(bytes_).sliced(l.begin, l.end - l.begin);
}

QByteArrayView Document::content(int line) const
{
    return lineContent(bytes_, lines_[size_t(line)]);
}

QByteArrayView Document::terminator(int line) const
{
    const Line& l = lines_[size_t(line)];
    return QByteArrayView(bytes_).sliced(l.contentEnd, l.end - l.contentEnd);
}

QByteArray Document::newline() const
{
    return terminator(0) == QByteArrayView("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
}

namespace {

// The file's lines one after another, each as wineserver reads it; the lines
// met are added to `table` when there is one.
class LineCursor {
public:
    LineCursor(const QByteArray& bytes, std::vector<Line>* table) : bytes_(bytes), table_(table) {}

    // Moves on to the next line; false at the file's end.
    bool next()
    {
        const qsizetype begin = index_ < 0 ? 0 : line_.end;
        if (begin >= bytes_.size())
            return false;
        line_.begin = begin;
        const qsizetype lf = bytes_.indexOf('\n', begin);
        if (lf < 0) {
            line_.contentEnd = line_.end = bytes_.size();
        } else {
            line_.end = lf + 1;
            line_.contentEnd = (lf > begin && bytes_[lf - 1] == '\r') ? lf - 1 : lf;
        }
        ++index_;
        if (table_)
            table_->push_back(line_);
        return true;
    }

    int index() const { return index_; }

    QByteArrayView content() const
    {
        return lineContent(bytes_, line_);
    }

private:
    const QByteArray& bytes_;
    std::vector<Line>* table_;
    Line line_;
    int index_ = -1;
};

// One value line and the lines its hex data goes on over, read the way
// wineserver reads them; the cursor is left on the value's last line.
// Nothing when the line holds no value: its name does not parse or no "="
// follows. With decode false only the value's extent is worked out, and
// its name and text stay empty. *cutShort is set when hex data goes on past
// the file's end.
std::optional<Value> readValue(LineCursor& lines, qsizetype indent, bool decode, bool* cutShort)
{
    const QByteArrayView text = lines.content();
    Value value;
    value.firstLine = value.lastLine = lines.index();
    qsizetype pos = indent;
    if (text[pos] == '@') {
        ++pos;
    } else {
        // wineserver skips a line whose name does not parse.
        qsizetype next = 0;
        if (decode) {
            const std::optional<QString> name = unescape(text.sliced(pos + 1), '"', &next);
            if (!name)
                return std::nullopt;
            value.name = *name;
        } else {
            const std::optional<qsizetype> end = scanEscaped<false>(text.sliced(pos + 1), 0, '"', [](char16_t) {});
            if (!end)
                return std::nullopt;
            next = *end;
        }
        pos += 1 + next;
    }
    pos = skipSpace(text, pos);
    if (pos >= text.size() || text[pos] != '=')
        return std::nullopt;
    value.prefixEnd = ++pos;
    pos = skipSpace(text, pos);
    const QByteArrayView data = text.sliced(pos);

    // From here on the value exists; data that does not parse makes it REG_NONE.
    // How the data starts tells its type: text after an opening quote, hex
    // bytes after a colon, or a dword.
    enum class Data { Text, Hex, Dword };
    struct DataStart {
        QByteArrayView start;
        ValueType type;
        Data data;
    };
    static constexpr DataStart dataStarts[] = {
        {"\"", RegSz, Data::Text},
        {"str:\"", RegSz, Data::Text},
        {"str(2):\"", RegExpandSz, Data::Text},
        {"str(7):\"", RegMultiSz, Data::Text},
        {"hex:", RegBinary, Data::Hex},
        {"dword:", RegDword, Data::Dword},
    };
    qsizetype stringStart = -1;
    qsizetype hexStart = -1;
    const auto known = std::find_if(std::begin(dataStarts), std::end(dataStarts),
                                    [&](const DataStart& start) { return data.startsWith(start.start); });
    if (known != std::end(dataStarts)) {
        value.type = known->type;
        if (known->data == Data::Text)
            stringStart = known->start.size();
        else if (known->data == Data::Hex)
            hexStart = known->start.size();
    } else if (data.startsWith("hex(")) {
        qsizetype p = 4;
        quint64 type = 0;
        while (p < data.size() && isHexDigit(data[p]) && type <= 0xffffffffu)
            type = type * 16 + hexValue(data[p++]);
        if (p > 4 && data.sliced(p).startsWith("):") && type <= 0xffffffffu) {
            value.type = unsigned(type);
            hexStart = p + 2;
        }
    }

    if (stringStart >= 0) {
        if (decode) {
            qsizetype next = 0;
            const std::optional<QString> decoded = unescape(data.sliced(stringStart), '"', &next);
            if (!decoded) {
                value.type = RegNone;
            } else if (value.type != RegMultiSz) {
                value.text = cutAtNul(*decoded);
                value.plainText = value.type == RegSz && value.text->size() == decoded->size();
            }
        }
    } else if (hexStart >= 0) {
        const bool keepBytes = decode && (value.type == RegSz || value.type == RegExpandSz || value.type == RegLink);
        QByteArray bytes;
        QByteArrayView rest = data.sliced(hexStart);
        bool ok = true;
        for (;;) {
            qsizetype p = 0;
            while (ok && p < rest.size() && isHexDigit(rest[p])) {
                unsigned byte = 0;
                while (ok && p < rest.size() && isHexDigit(rest[p])) {
                    byte = byte * 16 + hexValue(rest[p++]);
                    ok = byte <= 0xff;
                }
                if (keepBytes)
                    bytes.append(char(byte));
                p = skipSpace(rest, p);
                if (p < rest.size() && rest[p] == ',')
                    ++p;
                p = skipSpace(rest, p);
            }
            if (!ok)
                break;
            if (p == rest.size())
                break;
            if (rest[p] != '\\') {
                ok = false;
                break;
            }
            // Like wineserver, the next line is data whatever it holds.
            if (!lines.next()) {
                *cutShort = true;
                ok = false;
                break;
            }
            value.lastLine = lines.index();
            rest = lines.content();
            rest = rest.sliced(skipSpace(rest, 0));
        }
        if (!ok) {
            value.type = RegNone;
        } else if (keepBytes && value.type == RegLink) {
            value.link = textFromUtf16Le(bytes);
        } else if (keepBytes) {
            value.text = textFromUtf16Le(bytes);
            // The text's units and one NUL unit after them.
            value.plainText = value.type == RegSz && bytes.size() == 2 * (value.text->size() + 1);
        }
    } else if (value.type != RegDword) {
        value.type = RegNone;
    }
    return value;
}

// Reads the file the way wineserver does and tells the visitor what it
// meets: key(line, path, nameEnd) for each key line whose name parses (the
// names joined by "\\"); then, until the next key line, wantsValues() asks
// whether the values of that key are to be decoded, value(v) hands over each
// one, and content(firstLine, lastLine, text) comes for every line of the
// block that is not blank or a comment (a value's lines included). Lines
// below a key line that does not parse belong to no key. False when the
// bytes are not a Wine registry file.
template <typename Visitor>
bool walk(LineCursor& lines, Visitor& visitor, bool* cutShort)
{
    if (!lines.next() || lines.content() != headerLine)
        return false;
    bool inKey = false;
    while (lines.next()) {
        const QByteArrayView text = lines.content();
        const int line = lines.index();
        const qsizetype indent = skipSpace(text, 0);
        if (indent == text.size())
            continue;
        switch (text[indent]) {
        case '[': {
            qsizetype next = 0;
            const std::optional<QString> path = unescape(text.sliced(indent + 1), ']', &next);
            inKey = path.has_value();
            if (inKey)
                visitor.key(line, joinedPath(*path), indent + 1 + next);
            break;
        }
        case '@':
        case '"':
            if (inKey) {
                if (std::optional<Value> value = readValue(lines, indent, visitor.wantsValues(), cutShort))
                    visitor.value(std::move(*value));
                visitor.content(line, lines.index(), text.sliced(indent));
            }
            break;
        case ';':
            break;
        default:
            if (inKey)
                visitor.content(line, line, text.sliced(indent));
            break;
        }
    }
    return true;
}

} // namespace

std::optional<Document> Document::parse(const QByteArray& bytes)
{
    struct Builder {
        Document& doc;
        void key(int line, QString&& path, qsizetype nameEnd)
        {
            Key key;
            key.foldedPath = foldCase(path);
            key.path = std::move(path);
            key.line = line;
            key.nameEnd = nameEnd;
            key.lastContentLine = line;
            doc.keys_.push_back(std::move(key));
        }
        bool wantsValues() const { return true; }
        void value(Value&& value) { doc.keys_.back().values.push_back(std::move(value)); }
        void content(int firstLine, int lastLine, QByteArrayView text)
        {
            Key& key = doc.keys_.back();
            key.lastContentLine = lastLine;
            if (text.startsWith("#time="))
                key.timeLines.push_back(firstLine);
            else if (text.startsWith("#link"))
                key.link = true;
        }
    };
    Document doc;
    doc.bytes_ = bytes;
    LineCursor lines(doc.bytes_, &doc.lines_);
    Builder builder{doc};
    if (!walk(lines, builder, &doc.cutShort_))
        return std::nullopt;
    return doc;
}

std::optional<Lookup> lookUp(const QByteArray& bytes, const std::vector<QStringList>& paths)
{
    struct Finder {
        std::vector<QString> folded;
        Lookup found;
        std::vector<Value>* values = nullptr; // of the key being read, when asked for
        void key(int, QString&& path, qsizetype)
        {
            const QString key = foldCase(path);
            values = nullptr;
            for (size_t i = 0; i < folded.size(); ++i) {
                found.keyExists[i] = found.keyExists[i] || hasPrefix(key, folded[i]);
                if (!values && key == folded[i])
                    values = &found.values[i];
            }
        }
        bool wantsValues() const { return values != nullptr; }
        void value(Value&& value)
        {
            if (values)
                values->push_back(std::move(value));
        }
        void content(int, int, QByteArrayView) {}
    };
    Finder finder;
    for (const QStringList& path : paths)
        finder.folded.push_back(foldPath(path));
    finder.found.keyExists.assign(paths.size(), false);
    finder.found.values.resize(paths.size());
    LineCursor lines(bytes, nullptr);
    bool cutShort = false;
    if (!walk(lines, finder, &cutShort))
        return std::nullopt;
    // A path asked twice gets its values once; the copy is for the caller.
    for (size_t i = 0; i < paths.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (finder.folded[j] == finder.folded[i])
                finder.found.values[i] = finder.found.values[j];
    return std::move(finder.found);
}

namespace {

// The last value whose folded name is foldedName: the one the registry sees.
const Value* lastFoldedName(const std::vector<Value>& values, const QString& foldedName)
{
    for (auto it = values.rbegin(); it != values.rend(); ++it)
        if (foldCase(it->name) == foldedName)
            return &*it;
    return nullptr;
}

// Where a key's value stands: a key may have several blocks in the file, and
// the last value of the name in the last block that holds one counts.
struct ValuePlace {
    const Key* lastBlock = nullptr;  // the key's last block; none when the key is missing
    const Key* valueBlock = nullptr; // the block that holds the value
    const Value* value = nullptr;
};

ValuePlace placeOf(const std::vector<Key>& keys, const QString& foldedPath, const QString& foldedName)
{
    ValuePlace place;
    for (const Key& key : keys) {
        if (key.foldedPath != foldedPath)
            continue;
        place.lastBlock = &key;
        if (const Value* value = lastFoldedName(key.values, foldedName)) {
            place.valueBlock = &key;
            place.value = value;
        }
    }
    return place;
}

} // namespace

const Value* lastNamed(const std::vector<Value>& values, const QString& name)
{
    return lastFoldedName(values, foldCase(name));
}

bool Document::isLink(const QStringList& path) const
{
    const QString folded = foldPath(path);
    return std::any_of(keys_.begin(), keys_.end(), [&](const Key& key) { return key.link && key.foldedPath == folded; });
}

bool Document::keyExists(const QStringList& path) const
{
    const QString folded = foldPath(path);
    return std::any_of(keys_.begin(), keys_.end(), [&](const Key& key) { return hasPrefix(key.foldedPath, folded); });
}

const Value* Document::findValue(const QStringList& path, const QString& name) const
{
    return placeOf(keys_, foldPath(path), foldCase(name)).value;
}

// A new key takes the spelling of the keys above it that already exist:
// each name as the first key in the file that holds it spells it.
QStringList Document::spelledPath(const QStringList& path) const
{
    QStringList spelled = path;
    spelled.removeAll(QString());
    QStringList folded;
    for (const QString& name : spelled)
        folded << foldCase(name);
    // The first `named` names are spelled by keys before this one; a key
    // is read only as far as it shares names with the path, so the keys
    // are read once whatever the depth of the path.
    qsizetype named = 0;
    for (const Key& key : keys_) {
        if (named == spelled.size())
            break;
        qsizetype shared = 0;
        for (qsizetype begin = 0; shared < folded.size() && begin <= key.foldedPath.size(); ++shared) {
            qsizetype end = key.foldedPath.indexOf(u'\\', begin);
            if (end < 0)
                end = key.foldedPath.size();
            if (QStringView(key.foldedPath).sliced(begin, end - begin) != folded[shared])
                break;
            if (shared >= named)
                spelled[shared] = key.path.sliced(begin, end - begin);
            begin = end + 1;
        }
        named = std::max(named, shared);
    }
    return spelled;
}

QByteArray Document::withStringValue(const QStringList& path, const QString& name, const QString& text,
                                     qint64 msecsSinceEpoch) const
{
    const QByteArray nl = newline();
    const QString folded = foldPath(path);
    const qint64 msecs = std::max<qint64>(msecsSinceEpoch, 0);
    const QByteArray seconds = QByteArray::number(msecs / 1000);
    const quint64 ticks = quint64(msecs) * 10000 + quint64(ticksFrom1601To1970);
    const QByteArray fileTime = QByteArray::number(quint32(ticks >> 32), 16)
        + QByteArray::number(quint32(ticks), 16).rightJustified(8, '0');

    const auto [lastBlock, valueBlock, value] = placeOf(keys_, folded, foldCase(name));

    std::map<int, std::pair<int, QByteArray>> replaced; // first line -> (last line, new bytes)
    std::map<int, QByteArray> insertedBefore;

    const auto touch = [&](const Key& key) {
        const QByteArrayView keyLine = content(key.line);
        const QByteArrayView rawKey = raw(key.line);
        const qsizetype digits = skipSpace(keyLine, key.nameEnd);
        qsizetype digitsEnd = digits;
        while (digitsEnd < keyLine.size() && keyLine[digitsEnd] >= '0' && keyLine[digitsEnd] <= '9')
            ++digitsEnd;
        QByteArray stamped;
        if (digitsEnd > digits || digits > key.nameEnd)
            stamped = rawKey.first(digits).toByteArray() + seconds + rawKey.sliced(digitsEnd).toByteArray();
        else
            stamped = rawKey.first(key.nameEnd).toByteArray() + ' ' + seconds
                + rawKey.sliced(key.nameEnd).toByteArray();
        replaced[key.line] = {key.line, stamped};

        for (int line : key.timeLines) {
            const QByteArrayView option = content(line);
            const qsizetype start = skipSpace(option, 0) + 6;
            qsizetype end = start;
            while (end < option.size() && isHexDigit(option[end]))
                ++end;
            const QByteArrayView rawOption = raw(line);
            replaced[line] = {line, rawOption.first(start).toByteArray() + fileTime
                                        + rawOption.sliced(end).toByteArray()};
        }
    };

    if (value) {
        const QByteArray line = raw(value->firstLine).first(value->prefixEnd).toByteArray() + '"'
            + escape(text, '"', '"') + '"' + terminator(value->lastLine).toByteArray();
        replaced[value->firstLine] = {value->lastLine, line};
        touch(*valueBlock);
    } else if (lastBlock) {
        const int after = lastBlock->lastContentLine;
        QByteArray line;
        // Hex data cut off by the end of the file would swallow the new line.
        if (endsWithBackslash(content(after)))
            line += nl;
        line += valueLine(name, text) + nl;
        insertedBefore[after + 1] += line;
        touch(*lastBlock);
    } else {
        const QStringList spelled = spelledPath(path);
        QByteArray keyName;
        for (qsizetype i = 0; i < spelled.size(); ++i) {
            if (i > 0)
                keyName += "\\\\";
            keyName += escape(spelled[i], '[', ']');
        }
        const QByteArray block = '[' + keyName + "] " + seconds + nl + "#time=" + fileTime + nl
            + valueLine(name, text) + nl;
        const auto next = std::find_if(keys_.begin(), keys_.end(),
                                       [&](const Key& key) { return sortsBefore(folded, key.foldedPath); });
        if (next != keys_.end()) {
            insertedBefore[next->line] += block + nl;
        } else {
            const int last = int(lines_.size()) - 1;
            insertedBefore[last + 1] += (isBlank(content(last)) ? QByteArray() : nl) + block;
        }
    }

    QByteArray out;
    out.reserve(bytes_.size() + 256);
    const int count = int(lines_.size());
    for (int i = 0; i <= count; ++i) {
        if (const auto it = insertedBefore.find(i); it != insertedBefore.end()) {
            if (!out.isEmpty() && !out.endsWith('\n'))
                out += nl;
            out += it->second;
        }
        if (i == count)
            break;
        if (const auto it = replaced.find(i); it != replaced.end()) {
            out += it->second.second;
            i = it->second.first;
            continue;
        }
        out += raw(i);
    }
    return out;
}

bool isWin64(const QByteArray& bytes)
{
    qsizetype begin = 0;
    while (begin < bytes.size() && bytes[begin] != '[') {
        qsizetype end = bytes.indexOf('\n', begin);
        if (end < 0)
            end = bytes.size();
        if (QByteArrayView(bytes).sliced(begin, end - begin).trimmed() == "#arch=win64")
            return true;
        begin = end + 1;
    }
    return false;
}

namespace {

const QString wowName = QStringLiteral("Wow6432Node");

bool isWow(QStringView folded)
{
    return folded == u"wow6432node";
}

// The folded names without the Wow6432Node ones, joined: where a key lies
// whichever view it belongs to.
QString viewless(const QStringList& names)
{
    QStringList kept;
    for (const QString& name : names) {
        const QString folded = foldCase(name);
        if (!folded.isEmpty() && !isWow(folded))
            kept << folded;
    }
    return kept.join(u'\\');
}

// How a key's path (folded, joined) follows a viewless path, reading past
// Wow6432Node names: the length of its first part that lies on the way to
// that path (the path itself in some view included), and whether the key is
// that path in some view.
struct Follow {
    qsizetype length = 0;
    bool same = false;
};

Follow follow(QStringView key, QStringView path)
{
    qsizetype k = 0;
    qsizetype p = 0;
    bool reached = path.isEmpty();
    qsizetype followed = 0;
    while (k < key.size()) {
        qsizetype end = key.indexOf(u'\\', k);
        if (end < 0)
            end = key.size();
        const QStringView name = key.sliced(k, end - k);
        if (!isWow(name)) {
            if (reached)
                return {followed, false};
            qsizetype pathEnd = path.indexOf(u'\\', p);
            if (pathEnd < 0)
                pathEnd = path.size();
            if (name != path.sliced(p, pathEnd - p))
                return {followed, false};
            p = pathEnd + 1;
            reached = p > path.size();
        }
        followed = end;
        k = end + 1;
    }
    return {key.size(), reached};
}

// Folded key paths and every key above each, as a tree of names: a path
// of many names costs its length, where a string per key above it cost the
// square of that. On the way to a path a key holds that path's names and
// any number of Wow6432Node names between them; a run of those is kept as
// its length, so that memory grows with the other names only.
class KeyTree {
public:
    void add(QStringView path)
    {
        int node = 0;
        qsizetype run = 0;
        forEachName(path, [&](QStringView name) {
            if (isWow(name)) {
                ++run;
                return true;
            }
            extend(node, run);
            const Edge edge{node, run, name};
            auto it = children_.find(edge);
            if (it == children_.end()) {
                names_.push_back(name.toString());
                it = children_.insert(Edge{node, run, names_.back()}, int(longestRun_.size()));
                longestRun_.push_back(0);
            }
            node = it.value();
            run = 0;
            return true;
        });
        extend(node, run);
    }
    bool contains(QStringView path) const
    {
        int node = 0;
        qsizetype run = 0;
        const bool found = forEachName(path, [&](QStringView name) {
            if (isWow(name)) {
                ++run;
                return true;
            }
            const auto it = children_.constFind(Edge{node, run, name});
            if (it == children_.cend())
                return false;
            node = it.value();
            run = 0;
            return true;
        });
        return found && run <= longestRun_[size_t(node)];
    }

private:
    // A name after `run` Wow6432Node names below the key `parent`.
    struct Edge {
        int parent;
        qsizetype run;
        QStringView name;
        bool operator==(const Edge& other) const
        {
            return parent == other.parent && run == other.run && name == other.name;
        }
    };
    friend size_t qHash(const Edge& edge, size_t seed) { return qHashMulti(seed, edge.parent, edge.run, edge.name); }
    template <typename Visit>
    static bool forEachName(QStringView path, Visit&& visit)
    {
        for (qsizetype begin = 0; begin < path.size();) {
            qsizetype end = path.indexOf(u'\\', begin);
            if (end < 0)
                end = path.size();
            if (!visit(path.sliced(begin, end - begin)))
                return false;
            begin = end + 1;
        }
        return true;
    }
    void extend(int node, qsizetype run) { longestRun_[size_t(node)] = std::max(longestRun_[size_t(node)], run); }

    std::deque<QString> names_; // what the edges' names point into
    QHash<Edge, int> children_;
    // For each key (0 the hive, none before a key is added): the longest
    // run of Wow6432Node names found right below it.
    std::vector<qsizetype> longestRun_{-1};
};

// What a view needs to know of the keys on the way to some paths, from one
// pass: which keys exist there, which of them are links and where they lead,
// and the values of the keys that are those paths in some view. Keys below a
// path are left out: the walk asks for one only past a link, and surveys it
// then as a path of its own.
struct Survey {
    QStringList paths;                       // viewless
    KeyTree keys;                            // folded: the keys on the way, with their parents
    QSet<QString> links;                     // folded: the link keys among them ("#link" in any block)
    QHash<QString, QStringList> linkTargets; // folded -> names below the machine hive; none: elsewhere
    QHash<QString, std::vector<Value>> values;
    bool anyKey = false;

    bool around(const QString& folded) const
    {
        return std::any_of(paths.begin(), paths.end(),
                           [&](const QString& path) { return follow(folded, path).length == folded.size(); });
    }
    bool isPath(const QString& folded) const
    {
        return std::any_of(paths.begin(), paths.end(), [&](const QString& path) { return follow(folded, path).same; });
    }
};

// The names below the machine hive of a link's target
// ("\Registry\Machine\Software\Classes\AppId"); none for another hive.
QStringList linkTarget(const QString& target)
{
    static const QString machine = QStringLiteral("\\registry\\machine\\");
    if (foldCase(target.left(machine.size())) != machine)
        return {};
    return target.mid(machine.size()).split(u'\\', Qt::SkipEmptyParts);
}

std::optional<Survey> surveyed(const QByteArray& bytes, const QStringList& paths)
{
    struct Surveyor {
        Survey& survey;
        bool around = false; // in a key that lies on the way to a path
        QString current;     // its folded path
        bool same = false;   // that key is one of the paths in some view

        void key(int, QString&& path, qsizetype)
        {
            const QString folded = foldCase(path);
            survey.anyKey = true;
            same = false;
            qsizetype longest = 0;
            for (const QString& asked : survey.paths) {
                const Follow f = follow(folded, asked);
                longest = std::max(longest, f.length);
                same = same || f.same;
            }
            if (longest > 0)
                survey.keys.add(QStringView(folded).first(longest));
            around = longest == folded.size();
            current = around ? folded : QString();
        }
        // A link's option and its value may stand in different blocks of
        // the key: the values of every key around the paths are looked at.
        bool wantsValues() const { return around; }
        void value(Value&& value)
        {
            if (!around)
                return;
            if (foldCase(value.name) == u"symboliclinkvalue")
                survey.linkTargets.insert(current, value.type == RegLink && value.link ? linkTarget(*value.link)
                                                                                        : QStringList());
            if (same)
                survey.values[current].push_back(std::move(value));
        }
        void content(int, int, QByteArrayView text)
        {
            if (around && text.startsWith("#link"))
                survey.links.insert(current);
        }
    };
    Survey survey;
    survey.paths = paths;
    Surveyor surveyor{survey, false, {}, false};
    LineCursor lines(bytes, nullptr);
    bool cutShort = false;
    if (!walk(lines, surveyor, &cutShort))
        return std::nullopt;
    return survey;
}

// Wineserver's lookup of a key, name by name, over what the survey knows;
// nothing, and the viewless path to survey as well, when it needs a key the
// survey did not look at (one a link leads to: surveyed with the names of
// the path still to come after it, so that one more pass takes the walk on).
struct Walk {
    const Survey& survey;
    bool view32;
    QString unsurveyed;
    QStringList still; // the names of the path after the key being looked for

    std::optional<bool> has(const QStringList& names)
    {
        const QString folded = foldPath(names);
        if (survey.around(folded))
            return survey.keys.contains(folded);
        unsurveyed = viewless(names + still);
        return std::nullopt;
    }
    // A 32-bit program's key that holds a Wow6432Node subkey is that subkey.
    bool redirect(QStringList& at)
    {
        if (!view32 || at.isEmpty() || isWow(foldCase(at.back())))
            return true;
        const std::optional<bool> wow = has(at + QStringList{wowName});
        if (wow && *wow)
            at << wowName;
        return wow.has_value();
    }
    std::optional<ViewLookup> operator()(const QStringList& path)
    {
        using State = ViewLookup::State;
        const auto result = [](State state, QStringList key) { return ViewLookup{state, std::move(key), {}}; };
        // The hive itself is there once it holds a key.
        if (path.isEmpty())
            return result(survey.anyKey ? State::Exists : State::Missing, {});
        QStringList at;
        bool afterLink = false;
        for (qsizetype i = 0; i < path.size(); ++i) {
            still = path.mid(i);
            // Straight after a link the key it named is searched as it is.
            if (!afterLink && !isWow(foldCase(path[i])) && !redirect(at))
                return std::nullopt;
            afterLink = false;
            still.removeFirst();
            const QStringList next = at + QStringList{path[i]};
            const std::optional<bool> exists = has(next);
            if (!exists)
                return std::nullopt;
            if (!*exists)
                return result(State::Missing, at + path.mid(i));
            at = next;
            for (int hops = 0; survey.links.contains(foldPath(at)); ++hops) {
                const QStringList target = survey.linkTargets.value(foldPath(at));
                if (target.isEmpty() || hops >= 16)
                    return result(State::Unreachable, at);
                const std::optional<bool> there = has(target);
                if (!there)
                    return std::nullopt;
                if (!*there) // only the key itself may be made where its link leads
                    return result(i + 1 < path.size() ? State::Unreachable : State::Missing, target);
                at = target;
                afterLink = true;
            }
        }
        still.clear();
        if (!redirect(at))
            return std::nullopt;
        return result(State::Exists, at);
    }
};

} // namespace

std::optional<ViewLookup> lookUpInView(const QByteArray& bytes, const QStringList& path, bool view32)
{
    QStringList names = path;
    names.removeAll(QString());
    QStringList around{viewless(names)};
    // Each further round surveys what the walk met outside the paths
    // surveyed: a link that leads elsewhere.
    for (int round = 0; round < 8; ++round) {
        const std::optional<Survey> survey = surveyed(bytes, around);
        if (!survey)
            return std::nullopt;
        Walk walk{*survey, view32, {}, {}};
        std::optional<ViewLookup> found = walk(names);
        if (found) {
            if (found->state == ViewLookup::State::Exists) {
                const QString folded = foldPath(found->key);
                if (survey->isPath(folded))
                    found->values = survey->values.value(folded);
                else if (std::optional<Lookup> values = lookUp(bytes, {found->key}))
                    found->values = std::move(values->values[0]);
            }
            return found;
        }
        if (around.contains(walk.unsurveyed))
            break;
        around << walk.unsurveyed;
    }
    return ViewLookup{ViewLookup::State::Unreachable, names, {}};
}

} // namespace WineRegText
