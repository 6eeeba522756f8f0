#pragma once

#include "platform/WineRegEscape.h"
#include "platform/WineRegText.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

// The scan of a Wine registry file's lines the way wineserver reads them,
// which reading, editing and the 64-bit view's lookup share: the format's
// characters, key paths as they are kept, a cursor over the lines, and the
// one pass that tells a visitor the keys, values and lines it meets. Only the
// format's own files include this.
namespace WineRegText {

inline constexpr QByteArrayView headerLine = "WINE REGISTRY Version 2";

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline unsigned hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return unsigned(c - '0');
    if (c >= 'a' && c <= 'f')
        return unsigned(c - 'a' + 10);
    return unsigned(c - 'A' + 10);
}

inline qsizetype skipSpace(QByteArrayView text, qsizetype pos)
{
    while (pos < text.size() && isSpace(text[pos]))
        ++pos;
    return pos;
}

// The names joined by a single separator, empty names left out, as the
// keys' paths are kept.
QString joinedPath(QStringView names);

// A path as asked for, joined and folded: what a key's foldedPath is
// compared with.
QString foldPath(const QStringList& path);

// Whether the joined path is the joined prefix or a key below it: its first
// names are all of prefix's names (an empty prefix is the hive, above every
// key).
bool hasPrefix(const QString& path, const QString& prefix);

// A line's text as wineserver reads it: lines are C strings to it, so
// nothing after a NUL byte counts.
QByteArrayView lineContent(const QByteArray& bytes, const Line& line);

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
std::optional<Value> readValue(LineCursor& lines, qsizetype indent, bool decode, bool* cutShort);

// Reads the file the way wineserver does and tells the visitor what it
// meets: key(line, path, nameEnd) for each key line whose name parses (the
// names joined by "\\"); then, until the next key line, wantsValues() asks
// whether the values of that key are to be decoded, value(v) hands over each
// one, and content(firstLine, lastLine, text) comes for every line of the
// block that is not blank or a comment (a value's lines included). Lines
// below a key line that does not parse belong to no key. False when the
// bytes are not a Wine registry file.
template <typename Visitor>
bool scanFile(LineCursor& lines, Visitor& visitor, bool* cutShort)
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

// Where a key's value stands: a key may have several blocks in the file, and
// the last value of the name in the last block that holds one counts.
struct ValuePlace {
    const Key* lastBlock = nullptr;  // the key's last block; none when the key is missing
    const Key* valueBlock = nullptr; // the block that holds the value
    const Value* value = nullptr;
};

ValuePlace placeOf(const std::vector<Key>& keys, const QString& foldedPath, const QString& foldedName);

} // namespace WineRegText
