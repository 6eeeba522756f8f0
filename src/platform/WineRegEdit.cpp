// Editing Wine's registry text format: the file with one string value set
// and its key's time stamp renewed, every other byte as it was. A new value
// goes at the end of its key's last block, a new key where wineserver would
// save it, spelled like the keys above it.

#include "platform/WineRegScan.h"
#include "platform/WineRegText.h"

#include <algorithm>
#include <map>
#include <utility>

namespace WineRegText {
namespace {

// FILETIME counts 100 ns ticks from 1601; Unix time starts 11644473600 s later.
constexpr qint64 ticksFrom1601To1970 = Q_INT64_C(116444736000000000);

// The moment a write stamps its key with: seconds since 1970 on the key
// line, a FILETIME in hexadecimal on its "#time=" lines.
struct TimeStamp {
    QByteArray seconds;
    QByteArray fileTime;
};

TimeStamp timeStampAt(qint64 msecsSinceEpoch)
{
    const qint64 msecs = std::max<qint64>(msecsSinceEpoch, 0);
    const quint64 ticks = quint64(msecs) * 10000 + quint64(ticksFrom1601To1970);
    const QByteArray fileTime = QByteArray::number(quint32(ticks >> 32), 16)
        + QByteArray::number(quint32(ticks), 16).rightJustified(8, '0');
    return {QByteArray::number(msecs / 1000), fileTime};
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

QByteArrayView Document::wholeLine(int line) const
{
    const Line& l = lines_[size_t(line)];
    return QByteArrayView(bytes_).sliced(l.begin, l.end - l.begin);
}

QByteArrayView Document::lineText(int line) const
{
    return lineContent(bytes_, lines_[size_t(line)]);
}

QByteArrayView Document::lineEnding(int line) const
{
    const Line& l = lines_[size_t(line)];
    return QByteArrayView(bytes_).sliced(l.contentEnd, l.end - l.contentEnd);
}

QByteArray Document::newline() const
{
    return lineEnding(0) == QByteArrayView("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
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

// One write's changes to the file's lines, made step by step and then
// spliced into its bytes: runs of lines replaced by new bytes, and new bytes
// inserted before a line (or after the last one).
class Document::StringValueEdit {
public:
    StringValueEdit(const Document& document, qint64 msecsSinceEpoch)
        : doc_(document), newline_(document.newline()), stamp_(timeStampAt(msecsSinceEpoch))
    {
    }

    // The value's data becomes the text as a plain string: its first line
    // kept up to the "=", the lines its data went on over dropped.
    void replaceValue(const Value& value, const QString& text)
    {
        const QByteArray line = doc_.wholeLine(value.firstLine).first(value.prefixEnd).toByteArray() + '"'
            + escape(text, '"', '"') + '"' + doc_.lineEnding(value.lastLine).toByteArray();
        replaced_[value.firstLine] = {value.lastLine, line};
    }

    // A new value line right after the last line of the block's content.
    void addValue(const Key& block, const QString& name, const QString& text)
    {
        const int after = block.lastContentLine;
        QByteArray line;
        // Hex data cut off by the end of the file would swallow the new line.
        if (endsWithBackslash(doc_.lineText(after)))
            line += newline_;
        line += valueLine(name, text) + newline_;
        insertedBefore_[after + 1] += line;
    }

    // A new key block, stamped and holding the value, before the first key
    // that wineserver saves after it; at the end of the file when none does.
    void addKey(const QStringList& path, const QString& foldedPath, const QString& name, const QString& text)
    {
        const QByteArray block = '[' + keyName(doc_.spelledPath(path)) + "] " + stamp_.seconds + newline_ + "#time="
            + stamp_.fileTime + newline_ + valueLine(name, text) + newline_;
        const auto next = std::find_if(doc_.keys_.begin(), doc_.keys_.end(),
                                       [&](const Key& key) { return sortsBefore(foldedPath, key.foldedPath); });
        if (next != doc_.keys_.end()) {
            insertedBefore_[next->line] += block + newline_;
        } else {
            const int last = int(doc_.lines_.size()) - 1;
            insertedBefore_[last + 1] += (isBlank(doc_.lineText(last)) ? QByteArray() : newline_) + block;
        }
    }

    // The block's time stamps renewed: the seconds on its key line and the
    // FILETIME of each of its "#time=" lines.
    void stamp(const Key& block)
    {
        stampKeyLine(block);
        for (int line : block.timeLines)
            stampTimeLine(line);
    }

    // The file's lines with the changes made.
    QByteArray applied() const
    {
        QByteArray out;
        out.reserve(doc_.bytes_.size() + 256);
        const int count = int(doc_.lines_.size());
        for (int i = 0; i <= count; ++i) {
            if (const auto it = insertedBefore_.find(i); it != insertedBefore_.end()) {
                if (!out.isEmpty() && !out.endsWith('\n'))
                    out += newline_;
                out += it->second;
            }
            if (i == count)
                break;
            if (const auto it = replaced_.find(i); it != replaced_.end()) {
                out += it->second.second;
                i = it->second.first;
                continue;
            }
            out += doc_.wholeLine(i);
        }
        return out;
    }

private:
    // The names of a key line, escaped, between the brackets.
    static QByteArray keyName(const QStringList& names)
    {
        QByteArray joined;
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (i > 0)
                joined += "\\\\";
            joined += escape(names[i], '[', ']');
        }
        return joined;
    }

    // The seconds after the key's name take the place of the digits there,
    // or come after the name when it has none.
    void stampKeyLine(const Key& key)
    {
        const QByteArrayView keyLine = doc_.lineText(key.line);
        const QByteArrayView wholeKeyLine = doc_.wholeLine(key.line);
        const qsizetype digits = skipSpace(keyLine, key.nameEnd);
        qsizetype digitsEnd = digits;
        while (digitsEnd < keyLine.size() && keyLine[digitsEnd] >= '0' && keyLine[digitsEnd] <= '9')
            ++digitsEnd;
        QByteArray stamped;
        if (digitsEnd > digits || digits > key.nameEnd)
            stamped = wholeKeyLine.first(digits).toByteArray() + stamp_.seconds
                + wholeKeyLine.sliced(digitsEnd).toByteArray();
        else
            stamped = wholeKeyLine.first(key.nameEnd).toByteArray() + ' ' + stamp_.seconds
                + wholeKeyLine.sliced(key.nameEnd).toByteArray();
        replaced_[key.line] = {key.line, stamped};
    }

    // The FILETIME takes the place of the hex digits after "#time=".
    void stampTimeLine(int line)
    {
        const QByteArrayView option = doc_.lineText(line);
        const qsizetype start = skipSpace(option, 0) + 6;
        qsizetype end = start;
        while (end < option.size() && isHexDigit(option[end]))
            ++end;
        const QByteArrayView wholeOptionLine = doc_.wholeLine(line);
        replaced_[line] = {line, wholeOptionLine.first(start).toByteArray() + stamp_.fileTime
                                     + wholeOptionLine.sliced(end).toByteArray()};
    }

    const Document& doc_;
    const QByteArray newline_;
    const TimeStamp stamp_;
    std::map<int, std::pair<int, QByteArray>> replaced_; // first line -> (last line, new bytes)
    std::map<int, QByteArray> insertedBefore_;
};

QByteArray Document::withStringValue(const QStringList& path, const QString& name, const QString& text,
                                     qint64 msecsSinceEpoch) const
{
    const QString folded = foldPath(path);
    const auto [lastBlock, valueBlock, value] = placeOf(keys_, folded, foldCase(name));
    StringValueEdit edit(*this, msecsSinceEpoch);
    if (value) {
        edit.replaceValue(*value, text);
        edit.stamp(*valueBlock);
    } else if (lastBlock) {
        edit.addValue(*lastBlock, name, text);
        edit.stamp(*lastBlock);
    } else {
        edit.addKey(path, folded, name, text);
    }
    return edit.applied();
}

} // namespace WineRegText
