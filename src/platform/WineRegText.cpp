#include "platform/WineRegText.h"

#include <algorithm>
#include <map>

namespace WineRegText {
namespace {

constexpr QByteArrayView kHeader = "WINE REGISTRY Version 2";
// FILETIME counts 100 ns ticks from 1601; Unix time starts 11644473600 s later.
constexpr qint64 kTicksFrom1601To1970 = Q_INT64_C(116444736000000000);

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

QStringList foldPath(const QStringList& path)
{
    QStringList folded;
    folded.reserve(path.size());
    for (const QString& name : path)
        folded.append(foldCase(name));
    return folded;
}

bool hasPrefix(const QStringList& path, const QStringList& prefix, qsizetype count)
{
    if (path.size() < count)
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        if (path[i] != prefix[i])
            return false;
    }
    return true;
}

// The order in which wineserver saves keys: depth first, the subkeys of each
// key sorted by name regardless of case, a shorter name before a longer one
// it begins.
bool sortsBefore(const QStringList& a, const QStringList& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
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

bool isBlank(QByteArrayView text)
{
    return skipSpace(text, 0) == text.size();
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
    QString out;
    qsizetype p = 0;
    const qsizetype n = text.size();
    while (p < n && text[p] != endChar) {
        const char c = text[p];
        if (uchar(c) >= 0x80) {
            qsizetype run = p;
            while (run < n && uchar(text[run]) >= 0x80)
                ++run;
            out += QString::fromUtf8(text.sliced(p, run - p));
            p = run;
            continue;
        }
        if (c != '\\') {
            out += QChar(char16_t(c));
            ++p;
            continue;
        }
        if (++p >= n)
            return std::nullopt;
        const char e = text[p];
        switch (e) {
        case 'a': out += QChar(u'\a'); ++p; break;
        case 'b': out += QChar(u'\b'); ++p; break;
        case 'e': out += QChar(char16_t(27)); ++p; break;
        case 'f': out += QChar(u'\f'); ++p; break;
        case 'n': out += QChar(u'\n'); ++p; break;
        case 'r': out += QChar(u'\r'); ++p; break;
        case 't': out += QChar(u'\t'); ++p; break;
        case 'v': out += QChar(u'\v'); ++p; break;
        case 'x': {
            ++p;
            if (p >= n || !isHexDigit(text[p])) {
                out += QLatin1Char('x');
                break;
            }
            unsigned unit = 0;
            for (int digits = 0; digits < 4 && p < n && isHexDigit(text[p]); ++digits)
                unit = unit * 16 + hexValue(text[p++]);
            out += QChar(char16_t(unit));
            break;
        }
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
            unsigned unit = unsigned(e - '0');
            ++p;
            for (int digits = 1; digits < 3 && p < n && text[p] >= '0' && text[p] <= '7'; ++digits)
                unit = unit * 8 + unsigned(text[p++] - '0');
            out += QChar(char16_t(unit));
            break;
        }
        default:
            // A backslash before a raw UTF-8 sequence escapes nothing useful;
            // the sequence is read as it stands.
            if (uchar(e) < 0x80) {
                out += QChar(char16_t(e));
                ++p;
            }
            break;
        }
    }
    if (p >= n)
        return std::nullopt;
    *next = p + 1;
    return out;
}

QByteArray newFileHeader()
{
    return QByteArray(kHeader.data(), kHeader.size()) + "\n;; All keys relative to \\\\Machine\n";
}

QString foldCase(const QString& name)
{
    QString folded = name;
    for (QChar& c : folded)
        c = c.toLower();
    return folded;
}

QByteArrayView Document::raw(int line) const
{
    const Line& l = lines_[size_t(line)];
    return QByteArrayView(bytes_).sliced(l.begin, l.end - l.begin);
}

QByteArrayView Document::content(int line) const
{
    const Line& l = lines_[size_t(line)];
    QByteArrayView text = QByteArrayView(bytes_).sliced(l.begin, l.contentEnd - l.begin);
    // wineserver reads lines as C strings: nothing after a NUL byte counts.
    const qsizetype nul = text.indexOf('\0');
    return nul < 0 ? text : text.first(nul);
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

std::optional<Document> Document::parse(const QByteArray& bytes)
{
    Document doc;
    doc.bytes_ = bytes;
    const qsizetype size = bytes.size();
    for (qsizetype pos = 0; pos < size;) {
        Line line;
        line.begin = pos;
        const qsizetype lf = bytes.indexOf('\n', pos);
        if (lf < 0) {
            line.contentEnd = line.end = size;
        } else {
            line.end = lf + 1;
            line.contentEnd = (lf > pos && bytes[lf - 1] == '\r') ? lf - 1 : lf;
        }
        doc.lines_.push_back(line);
        pos = line.end;
    }
    if (doc.lines_.empty() || doc.content(0) != kHeader)
        return std::nullopt;

    Key* current = nullptr;
    const int count = int(doc.lines_.size());
    for (int i = 1; i < count; ++i) {
        const QByteArrayView text = doc.content(i);
        const qsizetype indent = skipSpace(text, 0);
        if (indent == text.size())
            continue;
        switch (text[indent]) {
        case '[':
            doc.parseKeyLine(i, text, indent);
            // A key line that does not parse leaves the values below it without a key.
            current = doc.keys_.empty() || doc.keys_.back().line != i ? nullptr : &doc.keys_.back();
            break;
        case '@':
        case '"':
            if (current) {
                i = doc.parseValue(i, text, indent);
                current = &doc.keys_.back();
                current->lastContentLine = i;
            }
            break;
        case ';':
            break;
        default:
            if (current) {
                current->lastContentLine = i;
                if (text.sliced(indent).startsWith("#time="))
                    current->timeLines.push_back(i);
            }
            break;
        }
    }
    return doc;
}

void Document::parseKeyLine(int line, QByteArrayView text, qsizetype indent)
{
    qsizetype next = 0;
    const std::optional<QString> path = unescape(text.sliced(indent + 1), ']', &next);
    if (!path)
        return;
    Key key;
    key.path = path->split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    key.foldedPath = foldPath(key.path);
    key.line = line;
    key.nameEnd = indent + 1 + next;
    key.lastContentLine = line;
    keys_.push_back(std::move(key));
}

// Returns the last line the value takes (hex data may go on over several).
int Document::parseValue(int line, QByteArrayView text, qsizetype indent)
{
    Value value;
    value.firstLine = value.lastLine = line;
    qsizetype pos = indent;
    if (text[pos] == '@') {
        ++pos;
    } else {
        qsizetype next = 0;
        const std::optional<QString> name = unescape(text.sliced(pos + 1), '"', &next);
        if (!name)
            return line; // wineserver skips a line whose name does not parse
        value.name = *name;
        pos += 1 + next;
    }
    pos = skipSpace(text, pos);
    if (pos >= text.size() || text[pos] != '=')
        return line;
    value.prefixEnd = ++pos;
    pos = skipSpace(text, pos);
    const QByteArrayView data = text.sliced(pos);

    // From here on the value exists; data that does not parse makes it REG_NONE.
    qsizetype stringStart = -1;
    qsizetype hexStart = -1;
    if (data.startsWith("\"")) {
        value.type = RegSz;
        stringStart = 1;
    } else if (data.startsWith("str:\"")) {
        value.type = RegSz;
        stringStart = 5;
    } else if (data.startsWith("str(2):\"")) {
        value.type = RegExpandSz;
        stringStart = 8;
    } else if (data.startsWith("str(7):\"")) {
        value.type = RegMultiSz;
        stringStart = 8;
    } else if (data.startsWith("hex:")) {
        value.type = RegBinary;
        hexStart = 4;
    } else if (data.startsWith("dword:")) {
        value.type = RegDword;
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
        qsizetype next = 0;
        const std::optional<QString> decoded = unescape(data.sliced(stringStart), '"', &next);
        if (!decoded)
            value.type = RegNone;
        else if (value.type != RegMultiSz)
            value.text = cutAtNul(*decoded);
    } else if (hexStart >= 0) {
        const bool keepBytes = value.type == RegSz || value.type == RegExpandSz;
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
            if (rest[p] != '\\' || value.lastLine + 1 >= int(lines_.size())) {
                cutShort_ = cutShort_ || rest[p] == '\\';
                ok = false;
                break;
            }
            // Like wineserver, the next line is data whatever it holds.
            ++value.lastLine;
            rest = content(value.lastLine);
            rest = rest.sliced(skipSpace(rest, 0));
        }
        if (!ok)
            value.type = RegNone;
        else if (keepBytes)
            value.text = textFromUtf16Le(bytes);
    } else if (value.type != RegDword) {
        value.type = RegNone;
    }

    keys_.back().values.push_back(std::move(value));
    return keys_.back().values.back().lastLine;
}

bool Document::keyExists(const QStringList& path) const
{
    const QStringList folded = foldPath(path);
    return std::any_of(keys_.begin(), keys_.end(), [&](const Key& key) {
        return hasPrefix(key.foldedPath, folded, folded.size());
    });
}

const Value* Document::findValue(const QStringList& path, const QString& name) const
{
    const QStringList folded = foldPath(path);
    const QString foldedName = foldCase(name);
    const Value* found = nullptr;
    for (const Key& key : keys_) {
        if (key.foldedPath != folded)
            continue;
        for (const Value& value : key.values) {
            if (foldCase(value.name) == foldedName)
                found = &value;
        }
    }
    return found;
}

// A new key takes the spelling of the keys above it that already exist.
QStringList Document::spelledPath(const QStringList& path) const
{
    QStringList spelled = path;
    const QStringList folded = foldPath(path);
    for (qsizetype i = 0; i < folded.size(); ++i) {
        for (const Key& key : keys_) {
            if (hasPrefix(key.foldedPath, folded, i + 1)) {
                spelled[i] = key.path[i];
                break;
            }
        }
    }
    return spelled;
}

QByteArray Document::withStringValue(const QStringList& path, const QString& name, const QString& text,
                                     qint64 msecsSinceEpoch) const
{
    const QByteArray nl = newline();
    const QStringList folded = foldPath(path);
    const QString foldedName = foldCase(name);
    const qint64 msecs = std::max<qint64>(msecsSinceEpoch, 0);
    const QByteArray seconds = QByteArray::number(msecs / 1000);
    const quint64 ticks = quint64(msecs) * 10000 + quint64(kTicksFrom1601To1970);
    const QByteArray fileTime = QByteArray::number(quint32(ticks >> 32), 16)
        + QByteArray::number(quint32(ticks), 16).rightJustified(8, '0');

    const Key* lastBlock = nullptr;
    const Key* valueBlock = nullptr;
    const Value* value = nullptr;
    for (const Key& key : keys_) {
        if (key.foldedPath != folded)
            continue;
        lastBlock = &key;
        for (const Value& v : key.values) {
            if (foldCase(v.name) == foldedName) {
                valueBlock = &key;
                value = &v;
            }
        }
    }

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

} // namespace WineRegText
