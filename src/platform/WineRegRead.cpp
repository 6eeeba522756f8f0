// Reading Wine's registry text format the way wineserver reads it: one
// value line and its data, the whole file as a Document, the values of a few
// keys in one pass (lookUp), and the questions asked of what was read.

#include "platform/WineRegScan.h"
#include "platform/WineRegText.h"

#include <algorithm>

namespace WineRegText {

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

bool hasPrefix(const QString& path, const QString& prefix)
{
    return path.startsWith(prefix) && (path.size() == prefix.size() || prefix.isEmpty() || path[prefix.size()] == u'\\');
}

QByteArrayView lineContent(const QByteArray& bytes, const Line& line)
{
    const QByteArrayView text = QByteArrayView(bytes).sliced(line.begin, line.contentEnd - line.begin);
    const qsizetype nul = text.indexOf('\0');
    return nul < 0 ? text : text.first(nul);
}

namespace {

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

// How a value's data starts tells its type: text after an opening quote,
// hex bytes after a colon, or a dword. Neither start is set for a dword or
// for data that does not parse.
struct DataStart {
    unsigned type = RegNone;
    qsizetype textStart = -1; // just past the opening quote
    qsizetype hexStart = -1;  // just past the colon
};

DataStart dataStartOf(QByteArrayView data)
{
    enum class Data { Text, Hex, Dword };
    struct KnownStart {
        QByteArrayView start;
        ValueType type;
        Data data;
    };
    static constexpr KnownStart knownStarts[] = {
        {"\"", RegSz, Data::Text},
        {"str:\"", RegSz, Data::Text},
        {"str(2):\"", RegExpandSz, Data::Text},
        {"str(7):\"", RegMultiSz, Data::Text},
        {"hex:", RegBinary, Data::Hex},
        {"dword:", RegDword, Data::Dword},
    };
    DataStart start;
    const auto known = std::find_if(std::begin(knownStarts), std::end(knownStarts),
                                    [&](const KnownStart& candidate) { return data.startsWith(candidate.start); });
    if (known != std::end(knownStarts)) {
        start.type = known->type;
        if (known->data == Data::Text)
            start.textStart = known->start.size();
        else if (known->data == Data::Hex)
            start.hexStart = known->start.size();
    } else if (data.startsWith("hex(")) {
        qsizetype p = 4;
        quint64 type = 0;
        while (p < data.size() && isHexDigit(data[p]) && type <= 0xffffffffu)
            type = type * 16 + hexValue(data[p++]);
        if (p > 4 && data.sliced(p).startsWith("):") && type <= 0xffffffffu) {
            start.type = unsigned(type);
            start.hexStart = p + 2;
        }
    }
    return start;
}

// Hex bytes ("01,02,...") from rest on, and on over the next line while a
// line ends in a backslash; the cursor is left on the last line read, and
// *lastLine is its index. Nothing when the bytes do not parse or go on past
// the file's end (*cutShort is set then). The bytes are kept only with
// keepBytes.
std::optional<QByteArray> readHexData(LineCursor& lines, QByteArrayView rest, bool keepBytes, int* lastLine,
                                      bool* cutShort)
{
    QByteArray bytes;
    for (;;) {
        qsizetype p = 0;
        while (p < rest.size() && isHexDigit(rest[p])) {
            unsigned byte = 0;
            while (p < rest.size() && isHexDigit(rest[p])) {
                byte = byte * 16 + hexValue(rest[p++]);
                if (byte > 0xff)
                    return std::nullopt;
            }
            if (keepBytes)
                bytes.append(char(byte));
            p = skipSpace(rest, p);
            if (p < rest.size() && rest[p] == ',')
                ++p;
            p = skipSpace(rest, p);
        }
        if (p == rest.size())
            return bytes;
        if (rest[p] != '\\')
            return std::nullopt;
        // Like wineserver, the next line is data whatever it holds.
        if (!lines.next()) {
            *cutShort = true;
            return std::nullopt;
        }
        *lastLine = lines.index();
        rest = lines.content();
        rest = rest.sliced(skipSpace(rest, 0));
    }
}

} // namespace

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
            const std::optional<qsizetype> end = endOfEscaped(text.sliced(pos + 1), '"');
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
    const DataStart start = dataStartOf(data);
    value.type = start.type;
    if (start.textStart >= 0) {
        if (decode) {
            qsizetype next = 0;
            const std::optional<QString> decoded = unescape(data.sliced(start.textStart), '"', &next);
            if (!decoded) {
                value.type = RegNone;
            } else if (value.type != RegMultiSz) {
                value.text = cutAtNul(*decoded);
                value.plainText = value.type == RegSz && value.text->size() == decoded->size();
            }
        }
    } else if (start.hexStart >= 0) {
        const bool keepBytes = decode && (value.type == RegSz || value.type == RegExpandSz || value.type == RegLink);
        const std::optional<QByteArray> bytes =
            readHexData(lines, data.sliced(start.hexStart), keepBytes, &value.lastLine, cutShort);
        if (!bytes) {
            value.type = RegNone;
        } else if (keepBytes && value.type == RegLink) {
            value.link = textFromUtf16Le(*bytes);
        } else if (keepBytes) {
            value.text = textFromUtf16Le(*bytes);
            // The text's units and one NUL unit after them.
            value.plainText = value.type == RegSz && bytes->size() == 2 * (value.text->size() + 1);
        }
    } else if (value.type != RegDword) {
        value.type = RegNone;
    }
    return value;
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
    if (!scanFile(lines, builder, &doc.cutShort_))
        return std::nullopt;
    return doc;
}

std::optional<Lookup> lookUp(const QByteArray& bytes, const std::vector<QStringList>& paths)
{
    struct Finder {
        std::vector<QString> foldedPaths;
        Lookup found;
        std::vector<Value>* values = nullptr; // of the key being read, when asked for
        void key(int, QString&& path, qsizetype)
        {
            const QString key = foldCase(path);
            values = nullptr;
            for (size_t i = 0; i < foldedPaths.size(); ++i) {
                found.keyExists[i] = found.keyExists[i] || hasPrefix(key, foldedPaths[i]);
                if (!values && key == foldedPaths[i])
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
        finder.foldedPaths.push_back(foldPath(path));
    finder.found.keyExists.assign(paths.size(), false);
    finder.found.values.resize(paths.size());
    LineCursor lines(bytes, nullptr);
    bool cutShort = false;
    if (!scanFile(lines, finder, &cutShort))
        return std::nullopt;
    // A path asked twice gets its values once; the copy is for the caller.
    for (size_t i = 0; i < paths.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (finder.foldedPaths[j] == finder.foldedPaths[i])
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

} // namespace

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

} // namespace WineRegText
