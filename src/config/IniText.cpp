#include "config/IniText.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <QHash>

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <stdexcept>
#include <vector>

namespace IniText {
namespace {

const QByteArrayView crLf("\r\n");

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

qsizetype bodyStart(QByteArrayView text)
{
    return text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
}

// One line: [begin, end) is its content, [end, next) its line break.
struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

// The end of a line's content: its first CR or LF. Looked for in windows
// that grow, so that a text whose lines end in a lone CR (no LF anywhere)
// costs one pass, not a pass to the text's end for each of its lines.
qsizetype contentEnd(const char* data, qsizetype pos, qsizetype size)
{
    qsizetype window = 64;
    while (pos < size) {
        const qsizetype length = std::min(window, size - pos);
        const void* lf = std::memchr(data + pos, '\n', size_t(length));
        const qsizetype lfAt = lf ? static_cast<const char*>(lf) - data : pos + length;
        if (const void* cr = std::memchr(data + pos, '\r', size_t(lfAt - pos)))
            return static_cast<const char*>(cr) - data;
        if (lf)
            return lfAt;
        pos += length;
        window = std::min<qsizetype>(window * 2, 1 << 16);
    }
    return size;
}

Line lineAt(QByteArrayView text, qsizetype pos)
{
    const char* data = text.data();
    const qsizetype size = text.size();
    const qsizetype end = contentEnd(data, pos, size);
    qsizetype next = end;
    if (next < size) {
        if (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n')
            next += 2;
        else
            next += 1;
    }
    return {pos, end, next};
}

enum class Kind { Blank, Comment, Section, Key, Other };

struct Parsed {
    Kind kind = Kind::Other;
    QByteArrayView name;
    // The raw value without surrounding blanks, quotes included.
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
    qsizetype afterEquals = 0;
    qsizetype contentEnd = 0; // the line without its break
};

QByteArrayView trimmed(QByteArrayView text, qsizetype begin, qsizetype end)
{
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

Parsed classify(QByteArrayView text, const Line& line)
{
    Parsed parsed;
    qsizetype begin = line.begin;
    const qsizetype end = line.end;
    while (begin < end && isBlank(text[begin]))
        ++begin;
    if (begin == end) {
        parsed.kind = Kind::Blank;
        return parsed;
    }
    const QByteArrayView content = text.sliced(begin, end - begin);
    if (content[0] == ';') {
        parsed.kind = Kind::Comment;
        return parsed;
    }
    if (content[0] == '[') {
        const qsizetype close = content.lastIndexOf(']');
        const qsizetype nameEnd = close > 0 ? begin + close : end;
        parsed.kind = Kind::Section;
        parsed.name = trimmed(text, begin + 1, nameEnd);
        return parsed;
    }
    const qsizetype eq = content.indexOf('=');
    if (eq < 0)
        return parsed;
    parsed.kind = Kind::Key;
    parsed.name = trimmed(text, begin, begin + eq);
    qsizetype vb = begin + eq + 1;
    qsizetype ve = end;
    while (vb < ve && isBlank(text[vb]))
        ++vb;
    while (ve > vb && isBlank(text[ve - 1]))
        --ve;
    parsed.valueBegin = vb;
    parsed.valueEnd = ve;
    parsed.afterEquals = begin + eq + 1;
    parsed.contentEnd = end;
    return parsed;
}

bool isQuoted(QByteArrayView raw)
{
    return raw.size() >= 2 && isQuote(raw.front()) && raw.front() == raw.back();
}

// What a walk of the text found of the first section of a name.
struct SectionWalk {
    bool found = false;
    Line anchor;   // the section's last key line, else its header line
    Line lastLine; // the last line walked: the text's last when the section is missing
    bool haveLastLine = false;
};

// Walks the lines up to the end of the first section of the name (to the
// text's end when toEnd, or when there is no such section) and hands each key
// line of that section to onKey, which ends the walk by returning false.
template <typename OnKey>
SectionWalk walkSection(QByteArrayView text, QByteArrayView section, bool toEnd, OnKey onKey)
{
    SectionWalk walk;
    bool inSection = false;
    for (qsizetype pos = bodyStart(text); pos < text.size();) {
        const Line line = lineAt(text, pos);
        pos = line.next;
        walk.lastLine = line;
        walk.haveLastLine = true;
        const Parsed parsed = classify(text, line);
        if (parsed.kind == Kind::Section) {
            if (inSection && !toEnd)
                return walk; // the first section of the name has ended
            // Only the first section of the name counts.
            inSection = !walk.found && sameName(parsed.name, section);
            if (inSection) {
                walk.found = true;
                walk.anchor = line;
            }
        } else if (parsed.kind == Kind::Key && inSection) {
            walk.anchor = line;
            if (!onKey(line, parsed))
                return walk;
        }
    }
    return walk;
}

// The first line of one key in the first section of its name.
struct Scan : SectionWalk {
    bool keyFound = false;
    Line keyLine;
    Parsed key;
};

Scan scan(QByteArrayView text, QByteArrayView section, QByteArrayView key)
{
    Scan result;
    static_cast<SectionWalk&>(result) = walkSection(text, section, false, [&](const Line& line, const Parsed& parsed) {
        if (!sameName(parsed.name, key))
            return true;
        result.keyFound = true;
        result.keyLine = line;
        result.key = parsed;
        return false;
    });
    return result;
}

QByteArrayView breakOf(QByteArrayView text, const Line& line)
{
    return text.sliced(line.end, line.next - line.end);
}

QByteArrayView firstBreak(QByteArrayView text)
{
    const qsizetype start = bodyStart(text);
    if (start >= text.size())
        return {};
    return breakOf(text, lineAt(text, start));
}

QByteArrayView breakWithout(QByteArrayView text)
{
    const QByteArrayView first = firstBreak(text);
    return first.isEmpty() ? crLf : first;
}

// The break for a line added next to `neighbour`; `fallback` where it has
// none (the text's last line).
QByteArrayView breakFor(QByteArrayView text, const Line* neighbour, QByteArrayView fallback)
{
    if (neighbour && neighbour->next > neighbour->end)
        return breakOf(text, *neighbour);
    return fallback;
}

// The value as it goes into the file: verbatim, as the Windows functions
// write it, since the game reads its own files without removing quotes. A
// value that was quoted in the file keeps its quotes around the new text,
// unless that brings a pair of its own.
QByteArray rendered(QByteArrayView value, char quote)
{
    QByteArray out;
    out.reserve(value.size() + 2);
    if (quote)
        out.append(quote);
    out.append(value);
    if (quote)
        out.append(quote);
    return out;
}

QByteArray keyLine(QByteArrayView key, QByteArrayView value)
{
    QByteArray line;
    line.reserve(key.size() + value.size() + 3);
    line.append(key);
    line.append('=');
    line.append(rendered(value, 0));
    return line;
}

// Every line of the key in the first section of a name (every key line when
// the key is empty), the walk going on to the text's end.
struct SectionScan : SectionWalk {
    std::vector<std::pair<Line, Parsed>> keys;
};

SectionScan scanSection(QByteArrayView text, QByteArrayView section, QByteArrayView key)
{
    SectionScan result;
    static_cast<SectionWalk&>(result) = walkSection(text, section, true, [&](const Line& line, const Parsed& parsed) {
        if (key.isEmpty() || sameName(parsed.name, key))
            result.keys.emplace_back(line, parsed);
        return true;
    });
    return result;
}

QByteArray valueAt(QByteArrayView text, const Parsed& key)
{
    return readValue(text.sliced(key.valueBegin, key.valueEnd - key.valueBegin));
}

// The text with a line added after `anchor`, ending like it.
QByteArray withLineAfter(const QByteArray& text, const Line& anchor, const QByteArray& line, QByteArrayView fallback)
{
    const QByteArrayView eol = breakFor(text, &anchor, fallback);
    QByteArray out;
    out.reserve(text.size() + line.size() + 2);
    out.append(text.constData(), anchor.next);
    if (anchor.next == anchor.end) {
        // The anchor is the text's unterminated last line; the text keeps
        // ending without a line break.
        out.append(eol);
        out.append(line);
    } else {
        out.append(line);
        out.append(eol);
    }
    out.append(text.constData() + anchor.next, text.size() - anchor.next);
    return out;
}

// The text with a new section holding one line at its end, behind a blank
// line.
QByteArray withSection(const QByteArray& text, const Line* last, QByteArrayView section, const QByteArray& line)
{
    const QByteArrayView eol = breakFor(text, last, breakWithout(text));
    QByteArray out;
    out.reserve(text.size() + section.size() + line.size() + 10);
    out.append(text);
    if (last) {
        if (last->next == last->end)
            out.append(eol);
        if (classify(text, *last).kind != Kind::Blank)
            out.append(eol);
    }
    out.append('[');
    out.append(section);
    out.append(']');
    out.append(eol);
    out.append(line);
    out.append(eol);
    return out;
}

} // namespace

std::optional<QByteArray> valueOf(QByteArrayView text, QByteArrayView section, QByteArrayView key)
{
    const Scan found = scan(text, section, key);
    if (!found.keyFound)
        return std::nullopt;
    return valueAt(text, found.key);
}

QByteArray withValue(const QByteArray& text, QByteArrayView section, QByteArrayView key,
                     QByteArrayView value)
{
    return withValue(text, section, key, value, breakWithout(text));
}

QByteArray fallbackBreak(QByteArrayView text)
{
    return breakWithout(text).toByteArray();
}

QByteArray withValue(const QByteArray& text, QByteArrayView section, QByteArrayView key, QByteArrayView value,
                     QByteArrayView fallbackBreak)
{
    const Scan found = scan(text, section, key);
    QByteArray out;
    out.reserve(text.size() + section.size() + key.size() + value.size() + 16);

    if (found.keyFound) {
        const QByteArrayView old(text.constData() + found.key.valueBegin,
                                 found.key.valueEnd - found.key.valueBegin);
        if (isQuoted(old)) {
            // Only what stands between the quotes is the value; the bytes
            // around them are the line's, and stay. A new value that brings
            // its own pair is written as given, so that the same write twice
            // changes the file once.
            out.append(text.constData(), found.key.valueBegin);
            out.append(rendered(value, isQuoted(value) ? 0 : old.front()));
            out.append(text.constData() + found.key.valueEnd, text.size() - found.key.valueEnd);
            return out;
        }
        // The new value replaces everything up to the line break, so blanks
        // that stood after the old value do not pile up; the spacing after
        // "=" stays unless the new value brings its own.
        const qsizetype keep =
            value.isEmpty() || isBlank(value.front()) ? found.key.afterEquals : found.key.valueBegin;
        out.append(text.constData(), keep);
        out.append(rendered(value, 0));
        out.append(text.constData() + found.key.contentEnd, text.size() - found.key.contentEnd);
        return out;
    }
    if (found.found)
        return withLineAfter(text, found.anchor, keyLine(key, value), fallbackBreak);
    return withSection(text, found.haveLastLine ? &found.lastLine : nullptr, section, keyLine(key, value));
}

QByteArray readValue(QByteArrayView raw)
{
    qsizetype begin = 0;
    qsizetype end = raw.size();
    while (begin < end && isBlank(raw[begin]))
        ++begin;
    while (end > begin && isBlank(raw[end - 1]))
        --end;
    QByteArrayView value = raw.sliced(begin, end - begin);
    if (isQuoted(value))
        value = value.sliced(1, value.size() - 2);
    const qsizetype nul = value.indexOf('\0');
    if (nul >= 0)
        value = value.first(nul);
    return value.toByteArray();
}

bool sameText(QByteArrayView a, QByteArrayView b)
{
    return sameName(a, b);
}

bool hasSection(QByteArrayView text, QByteArrayView section)
{
    return scanSection(text, section, {}).found;
}

QList<QByteArray> sectionNames(QByteArrayView text)
{
    QList<QByteArray> names;
    for (qsizetype pos = bodyStart(text); pos < text.size();) {
        const Line line = lineAt(text, pos);
        pos = line.next;
        const Parsed parsed = classify(text, line);
        if (parsed.kind != Kind::Section)
            continue;
        if (std::none_of(names.cbegin(), names.cend(), [&](const QByteArray& n) { return sameName(n, parsed.name); }))
            names.append(parsed.name.toByteArray());
    }
    return names;
}

std::optional<QList<std::pair<QByteArray, QByteArray>>> entriesOf(QByteArrayView text, QByteArrayView section)
{
    const SectionScan found = scanSection(text, section, {});
    if (!found.found)
        return std::nullopt;
    QList<std::pair<QByteArray, QByteArray>> entries;
    for (const auto& [line, parsed] : found.keys)
        entries.append({parsed.name.toByteArray(), valueAt(text, parsed)});
    return entries;
}

QList<QByteArray> valuesOf(QByteArrayView text, QByteArrayView section, QByteArrayView key)
{
    QList<QByteArray> values;
    for (const auto& [line, parsed] : scanSection(text, section, key).keys)
        values.append(valueAt(text, parsed));
    return values;
}

QByteArray withAdded(const QByteArray& text, QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    const SectionScan found = scanSection(text, section, key);
    if (!found.found)
        return withSection(text, found.haveLastLine ? &found.lastLine : nullptr, section, keyLine(key, value));
    if (found.keys.empty())
        return withLineAfter(text, found.anchor, keyLine(key, value), breakWithout(text));
    // Next to its fellows, spelt as they are.
    const auto& [last, parsed] = found.keys.back();
    return withLineAfter(text, last, keyLine(parsed.name, value), breakWithout(text));
}

QByteArray withoutLines(const QByteArray& text, QByteArrayView section, QByteArrayView key,
                        const std::function<bool(QByteArrayView value)>& remove)
{
    const SectionScan found = scanSection(text, section, key);
    QByteArray out;
    out.reserve(text.size());
    qsizetype kept = 0; // the text before this is dealt with
    bool removedLast = false;
    for (const auto& [line, parsed] : found.keys) {
        if (remove && !remove(valueAt(text, parsed)))
            continue;
        out.append(text.constData() + kept, line.begin - kept);
        kept = line.next;
        removedLast = line.next == text.size();
    }
    if (kept == 0)
        return text;
    out.append(text.constData() + kept, text.size() - kept);
    // The removed last line had no line break: the line now last loses its
    // own, so that the text still ends as it did (and a line added back in
    // its place gives the old bytes). A blank line keeps it: without its
    // break it would be gone.
    const Line last = found.haveLastLine ? found.lastLine : Line{};
    if (removedLast && last.next == last.end) {
        const qsizetype breakLength = out.endsWith(crLf) ? 2 : (out.endsWith('\n') || out.endsWith('\r')) ? 1 : 0;
        const qsizetype lineEnd = out.size() - breakLength;
        const bool blankLine = lineEnd == 0 || out[lineEnd - 1] == '\n' || out[lineEnd - 1] == '\r';
        if (breakLength > 0 && !blankLine)
            out.chop(breakLength);
    }
    return out;
}

// ---- Index ------------------------------------------------------------------

namespace {

// The eight bytes with ASCII capitals made small, all at once: a byte below
// 0x80 whose low seven bits reach 'A' but not past 'Z' gets 0x20.
quint64 asciiLowerWord(quint64 word)
{
    constexpr quint64 ones = 0x0101010101010101;
    const quint64 low = word & (0x7f * ones);
    const quint64 fromA = low + (0x80 - 'A') * ones;
    const quint64 pastZ = low + (0x80 - 'Z' - 1) * ones;
    const quint64 capital = (fromA ^ pastZ) & ~word & (0x80 * ones);
    return word | (capital >> 2);
}

quint64 rotl(quint64 x, int b)
{
    return (x << b) | (x >> (64 - b));
}

// A name's hash as the tables compare names, ASCII letter case aside:
// SipHash-1-3 with a key drawn for the process, the keyed hash that Rust's
// and Python's hash tables use so that nobody who cannot read the key can
// write a file whose names all fall on one slot (and make each lookup a
// pass over all of them). Qt's qHashBits, seeded as well, took several
// times as long for the short names of a section.
size_t nameHash(QByteArrayView name)
{
    static const std::pair<quint64, quint64> key = [] {
        QRandomGenerator* random = QRandomGenerator::system();
        return std::pair(random->generate64(), random->generate64());
    }();
    // Its rounds inlined whatever else calls nameHash: a call per round
    // made the index of a file of ten million sections take half as long
    // again.
    struct State {
        quint64 v0, v1, v2, v3;
        Q_ALWAYS_INLINE void round()
        {
            v0 += v1;
            v1 = rotl(v1, 13);
            v1 ^= v0;
            v0 = rotl(v0, 32);
            v2 += v3;
            v3 = rotl(v3, 16);
            v3 ^= v2;
            v0 += v3;
            v3 = rotl(v3, 21);
            v3 ^= v0;
            v2 += v1;
            v1 = rotl(v1, 17);
            v1 ^= v2;
            v2 = rotl(v2, 32);
        }
        Q_ALWAYS_INLINE void take(quint64 word)
        {
            v3 ^= word;
            round();
            v0 ^= word;
        }
    } state{key.first ^ 0x736f6d6570736575, key.second ^ 0x646f72616e646f6d, key.first ^ 0x6c7967656e657261,
            key.second ^ 0x7465646279746573};
    const char* data = name.data();
    const qsizetype whole = name.size() & ~qsizetype(7);
    for (qsizetype at = 0; at < whole; at += 8) {
        quint64 word;
        std::memcpy(&word, data + at, 8);
        state.take(asciiLowerWord(qFromLittleEndian(word)));
    }
    quint64 last = 0;
    for (qsizetype at = name.size() - 1; at >= whole; --at)
        last = (last << 8) | static_cast<unsigned char>(asciiLower(data[at]));
    state.take(last | (quint64(name.size()) << 56));
    state.v2 ^= 0xff;
    state.round();
    state.round();
    state.round();
    return size_t(state.v0 ^ state.v1 ^ state.v2 ^ state.v3);
}

bool isHeader(QByteArrayView text, const Line& line)
{
    qsizetype first = line.begin;
    while (first < line.end && isBlank(text[first]))
        ++first;
    return first < line.end && text[first] == '[';
}

} // namespace

// The first line of each name among some lines of the text (the section
// headers, or the key lines of one section), found by the name: an open
// hash table of one word a line, which holds where the line starts, not its
// name; the name is read from the line when it is compared. A word holds the
// offset + 1 in its low 48 bits (2^48 bytes are 256 TiB, far beyond any
// text read whole into memory) and the top 16 bits of the name's hash,
// which tell most other names apart without reading their lines.
class Index::Lines {
public:
    // Room for `count` names at most, the table at most seven eighths full:
    // the slots of a name's probe lie side by side, and their tags are
    // compared without reading the text, so a full table costs less time
    // than a larger one costs memory.
    Lines(QByteArrayView text, qsizetype count) : text_(text)
    {
        size_t size = 8;
        while (size < size_t(count) + size_t(count) / 7 + 1)
            size *= 2;
        slots_.assign(size, 0);
    }

    // The line counts for its name unless a line of that name came first;
    // whether it does.
    bool add(QByteArrayView name, qsizetype line)
    {
        const size_t hash = nameHash(name);
        quint64& slot = slots_[slotOf(name, hash)];
        if (slot)
            return false;
        slot = tagOf(hash) | quint64(line + 1);
        return true;
    }

    // Where the line of the name starts; -1 when there is none.
    qsizetype find(QByteArrayView name) const
    {
        const quint64 slot = slots_[slotOf(name, nameHash(name))];
        return slot ? qsizetype(slot & offsetMask) - 1 : -1;
    }

private:
    static constexpr quint64 offsetMask = (quint64(1) << 48) - 1;

    static quint64 tagOf(size_t hash) { return quint64(hash) & ~offsetMask; }

    // The slot of the name, or the empty one where it would go.
    size_t slotOf(QByteArrayView name, size_t hash) const
    {
        const size_t mask = slots_.size() - 1;
        const quint64 tag = tagOf(hash);
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const quint64 slot = slots_[i];
            if (!slot || ((slot & ~offsetMask) == tag && sameName(nameAt(qsizetype(slot & offsetMask) - 1), name)))
                return i;
        }
    }

    QByteArrayView nameAt(qsizetype line) const { return classify(text_, lineAt(text_, line)).name; }

    QByteArrayView text_;
    std::vector<quint64> slots_;
};

struct Index::Keys {
    qsizetype end = 0; // of the section
    Lines lines;
};

Index::Index(QByteArray text) : text_(std::move(text))
{
    const QByteArrayView view(text_);
    // Counted first, so that the table is made once, at its size.
    qsizetype headers = 0;
    for (qsizetype pos = bodyStart(view); pos < view.size();) {
        const Line line = lineAt(view, pos);
        pos = line.next;
        headers += isHeader(view, line) ? 1 : 0;
    }
    sections_ = std::make_unique<Lines>(view, headers);
    repeated_.resize(size_t(headers));
    size_t header = 0;
    for (qsizetype pos = bodyStart(view); pos < view.size();) {
        const Line line = lineAt(view, pos);
        pos = line.next;
        if (isHeader(view, line))
            repeated_[header++] = !sections_->add(classify(view, line).name, line.begin);
    }
}

Index::~Index() = default;

qsizetype Index::headerOf(QByteArrayView section) const
{
    return sections_->find(section);
}

qsizetype Index::endOf(qsizetype header) const
{
    if (const auto kept = keys_.find(header); kept != keys_.end())
        return kept->second->end;
    const QByteArrayView view(text_);
    for (qsizetype pos = lineAt(view, header).next; pos < view.size();) {
        const Line line = lineAt(view, pos);
        if (isHeader(view, line))
            return line.begin;
        pos = line.next;
    }
    return view.size();
}

QByteArrayView Index::partOf(qsizetype header) const
{
    return QByteArrayView(text_).sliced(header, endOf(header) - header);
}

const Index::Keys& Index::keysOf(qsizetype header) const
{
    if (const auto kept = keys_.find(header); kept != keys_.end())
        return *kept->second;
    const QByteArrayView view(text_);
    const qsizetype end = endOf(header);
    const qsizetype first = lineAt(view, header).next;
    qsizetype count = 0;
    for (qsizetype pos = first; pos < end;) {
        const Line line = lineAt(view, pos);
        pos = line.next;
        count += classify(view, line).kind == Kind::Key ? 1 : 0;
    }
    auto keys = std::make_unique<Keys>(Keys{end, Lines(view, count)});
    for (qsizetype pos = first; pos < end;) {
        const Line line = lineAt(view, pos);
        pos = line.next;
        const Parsed parsed = classify(view, line);
        if (parsed.kind == Kind::Key)
            keys->lines.add(parsed.name, line.begin);
    }
    return *keys_.emplace(header, std::move(keys)).first->second;
}

QList<QByteArray> Index::sectionNames() const
{
    QList<QByteArray> names;
    forEachSectionName([&names](QByteArrayView name) { names.append(name.toByteArray()); });
    return names;
}

void Index::forEachSectionName(const std::function<void(QByteArrayView name)>& visit) const
{
    const QByteArrayView view(text_);
    size_t header = 0;
    for (qsizetype pos = bodyStart(view); pos < view.size();) {
        const Line line = lineAt(view, pos);
        pos = line.next;
        if (isHeader(view, line) && !repeated_[header++])
            visit(classify(view, line).name);
    }
}

std::optional<std::pair<qsizetype, qsizetype>> Index::span(QByteArrayView section) const
{
    const qsizetype header = headerOf(section);
    if (header < 0)
        return std::nullopt;
    return std::pair(header, endOf(header));
}

std::optional<QByteArray> Index::valueOf(QByteArrayView section, QByteArrayView key) const
{
    const qsizetype header = headerOf(section);
    if (header < 0)
        return std::nullopt;
    const qsizetype line = keysOf(header).lines.find(key);
    if (line < 0)
        return std::nullopt;
    return valueAt(text_, classify(text_, lineAt(text_, line)));
}

bool Index::hasSection(QByteArrayView section) const
{
    return headerOf(section) >= 0;
}

std::optional<QList<std::pair<QByteArray, QByteArray>>> Index::entriesOf(QByteArrayView section) const
{
    const qsizetype header = headerOf(section);
    if (header < 0)
        return std::nullopt;
    return IniText::entriesOf(partOf(header), section);
}

QList<QByteArray> Index::valuesOf(QByteArrayView section, QByteArrayView key) const
{
    const qsizetype header = headerOf(section);
    if (header < 0)
        return {};
    return IniText::valuesOf(partOf(header), section, key);
}

// ---- Editor -----------------------------------------------------------------

namespace {

enum class Break : quint8 { None, Lf, Cr, CrLf };

Break breakKind(QByteArrayView bytes)
{
    if (bytes.size() == 2)
        return Break::CrLf;
    if (bytes.size() == 1)
        return bytes[0] == '\n' ? Break::Lf : Break::Cr;
    return Break::None;
}

QByteArrayView bytesOf(Break lineBreak)
{
    switch (lineBreak) {
    case Break::Lf:
        return "\n";
    case Break::Cr:
        return "\r";
    case Break::CrLf:
        return crLf;
    case Break::None:
        break;
    }
    return {};
}

constexpr quint32 none = std::numeric_limits<quint32>::max();

Parsed parsedLine(QByteArrayView content)
{
    return classify(content, Line{0, content.size(), content.size()});
}

QByteArray folded(QByteArrayView text)
{
    QByteArray lower(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        lower[i] = asciiLower(text[i]);
    return lower;
}

} // namespace

struct Editor::State {
    // A line of a section held as lines: its content and its own break.
    struct Node {
        QByteArrayView content;
        quint32 prev = none;
        quint32 next = none;
        quint32 nextSame = none; // the next line of its key in the section
        quint32 prevSame = none;
        Break lineBreak = Break::None;
        Kind kind = Kind::Other;
        bool inText = false; // its content is where the text holds it
        bool gone = false;
    };
    // The lines of one key name in a section, in their order. Its name is
    // read from a line that has it (that stays readable when the lines are
    // gone): twelve bytes a name less for a section of millions of keys.
    struct Group {
        quint32 nameLine = none;
        quint32 first = none;
        quint32 last = none;
        quint32 count = 0;
        qint32 values = -1; // in valueSets, once asked for
    };
    // The groups of a section by name: an open hash table of one word a
    // name (the group and 32 bits of the name's hash), which grows as keys
    // are added.
    class Names {
    public:
        void reserve(size_t count)
        {
            size_t size = 8;
            while (size < count + count / 7 + 1)
                size *= 2;
            slots_.assign(size, 0);
        }

        quint32 find(QByteArrayView name, const State& state) const
        {
            if (slots_.empty())
                return none;
            const quint64 slot = slots_[slotOf(name, nameHash(name), state)];
            return slot ? quint32(slot) - 1 : none;
        }

        // The group of the name; one that make() makes when there is none.
        template <typename Make>
        quint32 findOrAdd(QByteArrayView name, const State& state, Make make)
        {
            if (8 * (used_ + 1) > 7 * slots_.size()) {
                const std::vector<quint64> old = std::exchange(slots_, {});
                reserve(std::max<size_t>(2 * used_, 8));
                for (const quint64 slot : old) {
                    if (slot) {
                        const QByteArrayView kept = state.nameOf(quint32(slot) - 1);
                        slots_[slotOf(kept, nameHash(kept), state)] = slot;
                    }
                }
            }
            const size_t hash = nameHash(name);
            quint64& slot = slots_[slotOf(name, hash, state)];
            if (slot)
                return quint32(slot) - 1;
            const quint32 group = make();
            slot = (quint64(hash) >> 32 << 32) | (quint64(group) + 1);
            ++used_;
            return group;
        }

    private:
        size_t slotOf(QByteArrayView name, size_t hash, const State& state) const
        {
            const size_t mask = slots_.size() - 1;
            const quint64 tag = quint64(hash) >> 32;
            for (size_t i = hash & mask;; i = (i + 1) & mask) {
                const quint64 slot = slots_[i];
                if (!slot || ((slot >> 32) == tag && sameName(state.nameOf(quint32(slot) - 1), name)))
                    return i;
            }
        }

        std::vector<quint64> slots_;
        size_t used_ = 0;
    };
    // A section held as lines (or the lines before the first one): where it
    // stood in the text (nothing for a new one), its lines, and once its
    // keys are asked for, their groups.
    struct Block {
        qsizetype begin = -1;
        qsizetype end = -1;
        quint32 first = none;
        quint32 last = none;
        bool keyed = false;
        quint32 lastKey = none; // the anchor of a new key; none: the header
        Names keys;
    };

    State(QByteArray bytes, const Index* given) : bytes(std::move(bytes)), index(given), text(this->bytes)
    {
        const qsizetype start = bodyStart(text);
        if (start < text.size())
            firstBreak = breakKind(breakOf(text, lineAt(text, start)));
    }

    QByteArray bytes;
    // The first section of each name: the index given, else passes over the
    // text for the first few names (a set needs one), else an index made
    // here once a script has asked for more.
    const Index* index;
    std::unique_ptr<const Index> made;
    QHash<QByteArray, qsizetype> headers; // folded name: its header, or -1
    QByteArrayView text;
    Break firstBreak = Break::None; // of the text's first line, while its block is not held
    std::deque<Node> nodes;
    std::deque<Group> groups;
    // By the folded value a line reads as, the lines of one key that did,
    // among them some that are gone or read otherwise now (those are
    // dropped when met, so each costs once).
    std::vector<QHash<QByteArray, std::vector<quint32>>> valueSets;
    std::deque<Block> blocks;
    QHash<qsizetype, quint32> blockAt; // by where it began in the text
    std::vector<quint32> added;         // the new sections, in order
    QHash<QByteArray, quint32> addedByName; // folded
    std::vector<QByteArray> lines;      // the lines made here, which nodes view
    qsizetype madeSize = 0;
    qsizetype lastBegin = -2; // where the text's last block begins: -2 not yet known, -1 no line
    bool changed = false;

    QByteArrayView make(QByteArray line)
    {
        madeSize += line.size() + 2;
        lines.push_back(std::move(line));
        return lines.back();
    }

    // Where the first section of the name begins in the text; -1.
    qsizetype headerOf(QByteArrayView name)
    {
        // A pass costs as much as making the index; after a few, that is
        // cheaper.
        constexpr qsizetype passes = 4;
        if (!index) {
            QByteArray key = folded(name);
            if (const auto known = headers.constFind(key); known != headers.cend())
                return *known;
            if (headers.size() < passes) {
                qsizetype found = -1;
                for (qsizetype pos = bodyStart(text); pos < text.size() && found < 0;) {
                    const Line line = lineAt(text, pos);
                    pos = line.next;
                    if (isHeader(text, line) && sameName(classify(text, line).name, name))
                        found = line.begin;
                }
                headers.insert(std::move(key), found);
                return found;
            }
            made = std::make_unique<const Index>(bytes);
            index = made.get();
        }
        return index->headerOf(name);
    }

    quint32 append(quint32 block, Node node)
    {
        if (nodes.size() >= none)
            throw std::length_error("too many lines to edit");
        const auto id = quint32(nodes.size());
        Block& b = blocks[block];
        node.prev = b.last;
        node.next = none;
        nodes.push_back(node);
        if (b.last != none)
            nodes[b.last].next = id;
        else
            b.first = id;
        b.last = id;
        return id;
    }

    static Node lineOf(QByteArrayView content, Break lineBreak, Kind kind)
    {
        Node node;
        node.content = content;
        node.lineBreak = lineBreak;
        node.kind = kind;
        return node;
    }

    quint32 newBlock()
    {
        blocks.emplace_back();
        return quint32(blocks.size() - 1);
    }

    // The block of the text that begins at the line at `begin` (a header, or
    // the text's first line), held as lines from now on.
    quint32 blockFrom(qsizetype begin)
    {
        if (const auto held = blockAt.constFind(begin); held != blockAt.cend())
            return *held;
        const quint32 block = newBlock();
        blocks[block].begin = begin;
        qsizetype pos = begin;
        for (bool first = true; pos < text.size(); first = false) {
            const Line line = lineAt(text, pos);
            if (!first && isHeader(text, line))
                break;
            Node node;
            node.content = text.sliced(line.begin, line.end - line.begin);
            node.lineBreak = breakKind(breakOf(text, line));
            node.kind = classify(text, line).kind;
            node.inText = true;
            append(block, node);
            pos = line.next;
        }
        blocks[block].end = pos;
        blockAt.insert(begin, block);
        return block;
    }

    void addToGroup(quint32 group, quint32 node)
    {
        Group& g = groups[group];
        if (g.last != none)
            nodes[g.last].nextSame = node;
        else
            g.first = node;
        nodes[node].prevSame = g.last;
        nodes[node].nextSame = none;
        g.last = node;
        ++g.count;
        if (g.values >= 0)
            valueSets[size_t(g.values)][folded(readOf(node))].push_back(node);
    }

    void removeFromGroup(quint32 group, quint32 node)
    {
        Group& g = groups[group];
        const quint32 before = nodes[node].prevSame;
        const quint32 after = nodes[node].nextSame;
        if (before != none)
            nodes[before].nextSame = after;
        else
            g.first = after;
        if (after != none)
            nodes[after].prevSame = before;
        else
            g.last = before;
        --g.count;
    }

    QByteArrayView nameOf(quint32 group) const
    {
        return parsedLine(nodes[groups[group].nameLine].content).name;
    }

    // The group of the key line's name in the block, made when there is none.
    quint32 groupOf(quint32 block, quint32 line)
    {
        return blocks[block].keys.findOrAdd(parsedLine(nodes[line].content).name, *this, [&] {
            groups.push_back(Group{line});
            return quint32(groups.size() - 1);
        });
    }

    void key(quint32 block)
    {
        Block& b = blocks[block];
        if (b.keyed)
            return;
        size_t count = 0;
        for (quint32 n = b.first; n != none; n = nodes[n].next)
            count += nodes[n].kind == Kind::Key ? 1 : 0;
        b.keys.reserve(count);
        for (quint32 n = b.first; n != none; n = nodes[n].next) {
            if (nodes[n].kind != Kind::Key)
                continue;
            addToGroup(groupOf(block, n), n);
            b.lastKey = n;
        }
        b.keyed = true;
    }

    // The first section of the name, with its keys; none when there is none.
    quint32 section(QByteArrayView name)
    {
        if (const qsizetype header = headerOf(name); header >= 0) {
            const quint32 block = blockFrom(header);
            key(block);
            return block;
        }
        if (added.empty())
            return none;
        return addedByName.value(folded(name), none);
    }

    quint32 group(quint32 block, QByteArrayView key) const
    {
        if (block == none)
            return none;
        const quint32 found = blocks[block].keys.find(key, *this);
        return found != none && groups[found].count > 0 ? found : none;
    }

    QByteArray readOf(quint32 node) const
    {
        const QByteArrayView content = nodes[node].content;
        return valueAt(content, parsedLine(content));
    }

    QHash<QByteArray, std::vector<quint32>>& valuesOf(quint32 group)
    {
        Group& g = groups[group];
        if (g.values < 0) {
            QHash<QByteArray, std::vector<quint32>> values;
            for (quint32 n = g.first; n != none; n = nodes[n].nextSame)
                values[folded(readOf(n))].push_back(n);
            g.values = qint32(valueSets.size());
            valueSets.push_back(std::move(values));
        }
        return valueSets[size_t(g.values)];
    }

    bool reads(quint32 node, QByteArrayView foldedValue) const
    {
        return !nodes[node].gone && folded(readOf(node)) == foldedValue;
    }

    // The break of a line added where no neighbour gives one: the text's
    // first line's, else CR LF (breakWithout).
    Break fallback() const
    {
        Break first = Break::None;
        if (const qsizetype start = bodyStart(text); start < text.size()) {
            const auto held = blockAt.constFind(start);
            first = held != blockAt.cend() ? nodes[blocks[*held].first].lineBreak : firstBreak;
        } else if (!added.empty()) {
            first = nodes[blocks[added.front()].first].lineBreak;
        }
        return first == Break::None ? Break::CrLf : first;
    }

    // Where the block of the text's last line begins: that line's section
    // header, else the text's first line; -1 for a text without lines. Found
    // from the end, so that it costs that block, not the text.
    qsizetype lastBlockBegin() const
    {
        const qsizetype start = bodyStart(text);
        qsizetype end = text.size();
        while (end > start) {
            qsizetype contentEnd = end;
            if (text[contentEnd - 1] == '\n') {
                --contentEnd;
                if (contentEnd > start && text[contentEnd - 1] == '\r')
                    --contentEnd;
            } else if (text[contentEnd - 1] == '\r') {
                --contentEnd;
            }
            qsizetype lineBegin = contentEnd;
            while (lineBegin > start && text[lineBegin - 1] != '\n' && text[lineBegin - 1] != '\r')
                --lineBegin;
            if (lineBegin == start || isHeader(text, Line{lineBegin, contentEnd, end}))
                return lineBegin;
            end = lineBegin;
        }
        return -1;
    }

    // The text's last line and its block; none for a text without lines.
    std::pair<quint32, quint32> lastLine()
    {
        if (!added.empty())
            return {added.back(), blocks[added.back()].last};
        if (lastBegin == -2)
            lastBegin = lastBlockBegin();
        if (lastBegin < 0)
            return {none, none};
        const quint32 block = blockFrom(lastBegin);
        return {block, blocks[block].last};
    }

    // A new key line after `anchor` in the block, ending like it
    // (withLineAfter), in the key's group.
    quint32 insertAfter(quint32 block, quint32 anchor, QByteArray line, quint32 group)
    {
        changed = true;
        const Break fallbackBreak = fallback();
        Node node;
        node.content = make(std::move(line));
        node.kind = Kind::Key;
        if (nodes[anchor].lineBreak == Break::None) {
            // The anchor was the text's unterminated last line; the text
            // keeps ending without a line break.
            nodes[anchor].lineBreak = fallbackBreak;
        } else {
            node.lineBreak = nodes[anchor].lineBreak;
        }
        if (nodes.size() >= none)
            throw std::length_error("too many lines to edit");
        const auto id = quint32(nodes.size());
        node.prev = anchor;
        node.next = nodes[anchor].next;
        nodes.push_back(node);
        if (node.next != none)
            nodes[node.next].prev = id;
        else
            blocks[block].last = id;
        nodes[anchor].next = id;

        addToGroup(group != none ? group : groupOf(block, id), id);
        Block& b = blocks[block];
        if (b.lastKey == none || b.lastKey == anchor)
            b.lastKey = id;
        return id;
    }

    // The key's lines in the section; where the section or the key is not
    // there yet, it is made with this value (a new section at the end, a
    // new key after the section's last key line), and the answer is none.
    quint32 groupOrAdded(QByteArrayView name, QByteArrayView key, QByteArrayView value, quint32* blockFound = nullptr)
    {
        const quint32 block = section(name);
        if (blockFound)
            *blockFound = block;
        if (block == none) {
            addSection(name, keyLine(key, value));
            return none;
        }
        const quint32 found = group(block, key);
        if (found == none) {
            const quint32 anchor = blocks[block].lastKey != none ? blocks[block].lastKey : blocks[block].first;
            insertAfter(block, anchor, keyLine(key, value), blocks[block].keys.find(key, *this));
        }
        return found;
    }

    // The section at the end of the text behind a blank line (withSection).
    void addSection(QByteArrayView name, QByteArray line)
    {
        changed = true;
        const auto [lastBlock, last] = lastLine();
        const Break fallbackBreak = fallback();
        const Break eol = last != none && nodes[last].lineBreak != Break::None ? nodes[last].lineBreak : fallbackBreak;
        if (last != none) {
            if (nodes[last].lineBreak == Break::None)
                nodes[last].lineBreak = eol;
            if (nodes[last].kind != Kind::Blank)
                append(lastBlock, lineOf({}, eol, Kind::Blank));
        }
        const quint32 block = newBlock();
        blocks[block].keyed = true;
        QByteArray header;
        header.reserve(name.size() + 2);
        header.append('[').append(name).append(']');
        append(block, lineOf(make(std::move(header)), eol, Kind::Section));
        const quint32 node = append(block, lineOf(make(std::move(line)), eol, Kind::Key));
        addToGroup(groupOf(block, node), node);
        blocks[block].lastKey = node;
        added.push_back(block);
        addedByName.insert(folded(name), block);
    }

    // Takes the line out of its block; the line before it now.
    quint32 unlink(quint32 block, quint32 node)
    {
        changed = true;
        nodes[node].gone = true;
        const quint32 before = nodes[node].prev;
        const quint32 after = nodes[node].next;
        nodes[before].next = after;
        if (after != none)
            nodes[after].prev = before;
        else
            blocks[block].last = before;
        return before;
    }

    // Where lines were taken out after the line: a lone CR ending it and an
    // empty line of a lone LF after it are now one line break (the text's
    // bytes read so). Only once all of an edit's lines are out: the line
    // may be one of them.
    void join(quint32 block, quint32 line)
    {
        const quint32 after = nodes[line].next;
        if (nodes[line].gone || after == none || nodes[line].lineBreak != Break::Cr || !nodes[after].content.isEmpty()
            || nodes[after].lineBreak != Break::Lf)
            return;
        nodes[line].lineBreak = Break::CrLf;
        unlink(block, after);
    }

    // The block's lines; those that stand in the text as they are, one
    // after the other, copied as one run.
    void emit(QByteArray& out, const Block& block) const
    {
        qsizetype runBegin = 0;
        qsizetype runEnd = -1;
        for (quint32 n = block.first; n != none; n = nodes[n].next) {
            const Node& node = nodes[n];
            const QByteArrayView lineBreak = bytesOf(node.lineBreak);
            if (node.inText) {
                const qsizetype begin = node.content.data() - text.data();
                const qsizetype end = begin + node.content.size();
                if (text.sliced(end).startsWith(lineBreak)) {
                    if (begin != runEnd) {
                        out.append(text.sliced(runBegin, std::max<qsizetype>(runEnd - runBegin, 0)));
                        runBegin = begin;
                    }
                    runEnd = end + lineBreak.size();
                    continue;
                }
            }
            out.append(text.sliced(runBegin, std::max<qsizetype>(runEnd - runBegin, 0)));
            runBegin = 0;
            runEnd = -1;
            out.append(node.content).append(lineBreak);
        }
        out.append(text.sliced(runBegin, std::max<qsizetype>(runEnd - runBegin, 0)));
    }
};

Editor::Editor(QByteArray text, const Index* index) : state_(std::make_unique<State>(std::move(text), index)) {}

Editor::~Editor() = default;

bool Editor::hasSection(QByteArrayView section)
{
    return state_->headerOf(section) >= 0 || state_->addedByName.contains(folded(section));
}

std::optional<QByteArray> Editor::valueOf(QByteArrayView section, QByteArrayView key)
{
    State& s = *state_;
    const quint32 group = s.group(s.section(section), key);
    if (group == none)
        return std::nullopt;
    return s.readOf(s.groups[group].first);
}

qsizetype Editor::lineCount(QByteArrayView section, QByteArrayView key)
{
    State& s = *state_;
    const quint32 group = s.group(s.section(section), key);
    return group == none ? 0 : s.groups[group].count;
}

bool Editor::holds(QByteArrayView section, QByteArrayView key, QByteArrayView read)
{
    State& s = *state_;
    const quint32 group = s.group(s.section(section), key);
    if (group == none)
        return false;
    QHash<QByteArray, std::vector<quint32>>& values = s.valuesOf(group);
    const QByteArray wanted = folded(read);
    const auto lines = values.find(wanted);
    if (lines == values.end())
        return false;
    while (!lines->empty() && !s.reads(lines->back(), wanted))
        lines->pop_back();
    if (!lines->empty())
        return true;
    values.erase(lines);
    return false;
}

void Editor::withValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    State& s = *state_;
    const quint32 group = s.groupOrAdded(section, key, value);
    if (group == none)
        return;
    // As withValue rewrites the key's first line.
    State::Group& g = s.groups[group];
    State::Node& node = s.nodes[g.first];
    const QByteArrayView content = node.content;
    const Parsed parsed = parsedLine(content);
    const QByteArrayView old = content.sliced(parsed.valueBegin, parsed.valueEnd - parsed.valueBegin);
    QByteArray line;
    line.reserve(content.size() + value.size() + 2);
    if (isQuoted(old)) {
        line.append(content.first(parsed.valueBegin));
        line.append(rendered(value, isQuoted(value) ? 0 : old.front()));
        line.append(content.sliced(parsed.valueEnd));
    } else {
        const qsizetype keep = value.isEmpty() || isBlank(value.front()) ? parsed.afterEquals : parsed.valueBegin;
        line.append(content.first(keep));
        line.append(rendered(value, 0));
    }
    node.content = s.make(std::move(line));
    node.inText = false;
    // Its entry under the old value is dropped when met.
    if (g.values >= 0)
        s.valueSets[size_t(g.values)][folded(s.readOf(g.first))].push_back(g.first);
    s.changed = true;
}

void Editor::withAdded(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    State& s = *state_;
    quint32 block = none;
    const quint32 group = s.groupOrAdded(section, key, value, &block);
    if (group == none)
        return;
    // Next to its fellows, spelt as the last of them.
    const quint32 last = s.groups[group].last;
    const QByteArrayView name = parsedLine(s.nodes[last].content).name;
    s.insertAfter(block, last, keyLine(name, value), group);
}

void Editor::withoutLines(QByteArrayView section, QByteArrayView key, std::optional<QByteArrayView> read)
{
    State& s = *state_;
    const quint32 block = s.section(section);
    const quint32 group = s.group(block, key);
    if (group == none)
        return;
    // The lines to take out, each once; found by their value, so that a
    // remove costs the lines it removes, not all of the key's.
    std::vector<quint32> doomed;
    if (read) {
        const QByteArray wanted = folded(*read);
        for (const quint32 n : s.valuesOf(group).take(wanted)) {
            if (s.reads(n, wanted)) {
                s.nodes[n].gone = true; // an entry twice counts once
                doomed.push_back(n);
            }
        }
    } else {
        for (quint32 n = s.groups[group].first; n != none; n = s.nodes[n].nextSame)
            doomed.push_back(n);
        if (s.groups[group].values >= 0)
            s.valueSets[size_t(s.groups[group].values)].clear();
    }
    // The section's last key line last: the line before it, which stays,
    // is where the section's keys now end.
    const quint32 lastKey = s.blocks[block].lastKey;
    if (const auto at = std::find(doomed.begin(), doomed.end(), lastKey); at != doomed.end())
        std::iter_swap(at, doomed.end() - 1);
    bool lastKeyGone = false;
    bool endGone = false; // the text's unterminated last line
    quint32 before = none;
    std::vector<quint32> joints; // the lines before those taken out
    joints.reserve(doomed.size());
    for (const quint32 n : doomed) {
        lastKeyGone = lastKeyGone || n == lastKey;
        endGone = endGone || s.nodes[n].lineBreak == Break::None;
        s.removeFromGroup(group, n);
        before = s.unlink(block, n);
        joints.push_back(before);
    }
    for (const quint32 line : joints)
        s.join(block, line);
    State::Block& b = s.blocks[block];
    if (lastKeyGone) {
        // The key line before it, if any. The lines walked over end the
        // section from now on (new keys go before them), so no line is
        // walked twice.
        quint32 n = before;
        while (n != b.first && s.nodes[n].kind != Kind::Key)
            n = s.nodes[n].prev;
        b.lastKey = s.nodes[n].kind == Kind::Key ? n : none;
    }
    // The removed last line had no line break: the line now last loses its
    // own, unless it is empty (withoutLines).
    if (endGone && s.nodes[b.last].lineBreak != Break::None && !s.nodes[b.last].content.isEmpty())
        s.nodes[b.last].lineBreak = Break::None;
}

QByteArray Editor::text() const
{
    const State& s = *state_;
    if (!s.changed)
        return s.bytes;
    std::vector<std::pair<qsizetype, quint32>> held;
    held.reserve(size_t(s.blockAt.size()));
    for (auto it = s.blockAt.cbegin(); it != s.blockAt.cend(); ++it)
        held.emplace_back(it.key(), it.value());
    std::sort(held.begin(), held.end());
    QByteArray out;
    out.reserve(s.text.size() + s.madeSize);
    qsizetype at = 0;
    for (const auto& [begin, block] : held) {
        out.append(s.text.sliced(at, begin - at));
        s.emit(out, s.blocks[block]);
        at = s.blocks[block].end;
    }
    out.append(s.text.sliced(at));
    for (const quint32 block : s.added)
        s.emit(out, s.blocks[block]);
    return out;
}

} // namespace IniText
