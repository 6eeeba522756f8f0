// libFuzzer target for the INI layer (GameConfigStore over IniText and
// TextCodec, writing through SafeFile). Each input is a file and one write;
// the target checks the store's promises against a reference reader written
// here from the documented rules, independently of IniText:
//
// - reading never fails and returns what the reference reader finds, for
//   every key of the file, ReadInteger and ReadBool included;
// - a write is refused exactly when it must be (a name or value the file
//   cannot hold, a real change to a read-only file), and a refused write
//   leaves every byte;
// - a write of the value a read of the key gives changes no byte of the
//   file, read-only or not;
// - after a write the key reads back as the value written (trimmed and
//   unquoted the way a read does it, cut at 2047 characters); every other key
//   keeps its value; every line the write did not touch is byte-identical;
// - the value just read, written to another key, comes out as the bytes it
//   was read from (unless the read cut it);
// - several keys written at once give the bytes of writing them one by one;
// - no temporary file is left in the folder;
// - Edit (the list commands' several edits in one write) makes all of its
//   edits or none; a dry run writes nothing and gives the bytes the write
//   gives; a refusal names the edit and a reason the file bears out; every
//   line that is no edited key's stays, in order; a key edited once holds
//   the values its edit leaves (Set, SetFirst, Add, Remove with letter case
//   ignored, Unset); setting first lines of one section is WriteStrings;
//   Edit gives the bytes of IniText's functions applied one edit after the
//   other to the whole text, as it made them before its edits shared one
//   parse, and refuses the same edit for the same reason.

#include "FuzzSupport.h"

#include "config/GameConfigStore.h"
#include "config/IniText.h"
#include "config/TextCodec.h"
#include "platform/EditorError.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr qsizetype kMaxValueLength = 2047;
const QString kSentinel = QStringLiteral("\u2603 nicht gefunden");

enum class Encoding { Windows1252, Utf8, Utf16 };

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(QByteArray text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QByteArray withoutLeadingBlanks(const QByteArray& text)
{
    qsizetype begin = 0;
    while (begin < text.size() && isBlank(text[begin]))
        ++begin;
    return text.mid(begin);
}

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

QByteArray folded(const QByteArray& name)
{
    QByteArray lower = name;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return lower;
}

bool quoted(const QByteArray& raw)
{
    return raw.size() >= 2 && (raw[0] == '"' || raw[0] == '\'') && raw.front() == raw.back();
}

std::optional<QByteArray> encode(const QString& text, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return TextCodec::toUtf8(text);
    return TextCodec::toWindows1252(text);
}

// Bytes of a UTF-8 file that are no UTF-8 come back as escapes that write
// back as the same bytes (the round trip is checked below, not assumed).
QString decode(const QByteArray& bytes, Encoding encoding)
{
    return encoding == Encoding::Utf8 ? TextCodec::fromUtf8(bytes) : TextCodec::fromWindows1252(bytes);
}

// What a read makes of a raw value, as bytes: quotes dropped, cut at a NUL.
QByteArray readBytes(QByteArray raw)
{
    if (quoted(raw))
        raw = raw.mid(1, raw.size() - 2);
    if (const qsizetype nul = raw.indexOf('\0'); nul >= 0)
        raw.truncate(nul);
    return raw;
}

// What a read hands back for the raw value text of a key line.
QString readValueOf(const QByteArray& raw, Encoding encoding)
{
    QString value = decode(readBytes(raw), encoding);
    if (value.size() > kMaxValueLength)
        value.truncate(value[kMaxValueLength - 1].isHighSurrogate() ? kMaxValueLength - 1 : kMaxValueLength);
    return value;
}

// ---- the reference reader ----------------------------------------------

struct Line {
    QByteArray content;
    QByteArray lineBreak;
};

struct Key {
    QByteArray section; // as spelled in the header
    QByteArray name;
    QByteArray raw;     // the value without surrounding blanks, quotes kept
    int line = 0;
};

struct Section {
    QByteArray name;
    int header = 0;
    int lastKeyLine = -1; // any key line, duplicates too
    std::vector<int> keys; // indexes into Reference::keys, first of each name
};

struct Reference {
    Encoding encoding = Encoding::Windows1252;
    std::vector<Line> lines; // the first one holds the byte-order mark, if any
    std::vector<Key> keys;
    std::vector<Section> sections; // the first section of each name

    const Section* section(const QByteArray& name) const
    {
        for (const Section& s : sections) {
            if (folded(s.name) == folded(name))
                return &s;
        }
        return nullptr;
    }
    const Key* key(const QByteArray& sectionName, const QByteArray& keyName) const
    {
        const Section* s = section(sectionName);
        if (!s)
            return nullptr;
        for (int k : s->keys) {
            if (folded(keys[size_t(k)].name) == folded(keyName))
                return &keys[size_t(k)];
        }
        return nullptr;
    }
};

// What a line is: a section's header (name), a key line (name and raw
// value), or nothing a reader sees (blank, comment, text without "=").
struct LineKind {
    enum { Other, Header, KeyLine } kind = Other;
    QByteArray name;
    QByteArray raw;
};

LineKind kindOf(QByteArray content, bool afterMark)
{
    if (afterMark)
        content = content.mid(3);
    content = withoutLeadingBlanks(content);
    LineKind line;
    if (content.isEmpty() || content[0] == ';')
        return line;
    if (content[0] == '[') {
        const qsizetype close = content.lastIndexOf(']');
        line.kind = LineKind::Header;
        line.name = trimBlanks(close > 0 ? content.mid(1, close - 1) : content.mid(1));
        return line;
    }
    const qsizetype eq = content.indexOf('=');
    if (eq < 0)
        return line;
    line.kind = LineKind::KeyLine;
    line.name = trimBlanks(content.left(eq));
    line.raw = trimBlanks(content.mid(eq + 1));
    return line;
}

std::vector<Line> splitLines(const QByteArray& text)
{
    std::vector<Line> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        const qsizetype breakLength = (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        lines.push_back({text.mid(begin, i - begin), text.mid(i, breakLength)});
        i += breakLength - 1;
        begin = i + 1;
    }
    if (begin < text.size())
        lines.push_back({text.mid(begin), QByteArray()});
    return lines;
}

QByteArray joinLines(const std::vector<Line>& lines)
{
    QByteArray text;
    for (const Line& line : lines)
        text += line.content + line.lineBreak;
    return text;
}

Reference parse(const QByteArray& text)
{
    Reference ref;
    const bool mark = text.startsWith("\xEF\xBB\xBF");
    if (text.startsWith("\xFF\xFE") || text.startsWith("\xFE\xFF"))
        ref.encoding = Encoding::Utf16;
    else if (mark)
        ref.encoding = Encoding::Utf8;
    ref.lines = splitLines(text);
    if (ref.encoding == Encoding::Utf16)
        return ref; // nothing in it can be read

    int current = -1; // index into ref.sections; -1 before the first and in later duplicates
    for (int i = 0; i < int(ref.lines.size()); ++i) {
        const LineKind line = kindOf(ref.lines[size_t(i)].content, i == 0 && mark);
        if (line.kind == LineKind::Header) {
            if (ref.section(line.name)) {
                current = -1;
            } else {
                ref.sections.push_back({line.name, i, -1, {}});
                current = int(ref.sections.size()) - 1;
            }
            continue;
        }
        if (line.kind != LineKind::KeyLine || current < 0)
            continue;
        Section& in = ref.sections[size_t(current)];
        in.lastKeyLine = i;
        const QByteArray& name = line.name;
        bool seen = false;
        for (int k : in.keys)
            seen = seen || folded(ref.keys[size_t(k)].name) == folded(name);
        if (!seen) {
            ref.keys.push_back({in.name, name, line.raw, i});
            in.keys.push_back(int(ref.keys.size()) - 1);
        }
    }
    return ref;
}

// ---- numbers, from the documented rules ---------------------------------

std::optional<std::int32_t> referenceInteger(QString t)
{
    if (t.size() > 2 && (t.startsWith(u"0x") || t.startsWith(u"0X")))
        t = u'$' + t.mid(2);
    qsizetype i = 0;
    while (i < t.size() && (t[i] == u' ' || t[i] == u'\t'))
        ++i;
    t = t.mid(i);
    qsizetype digitsAt = -1;
    for (const char* prefix : {"$", "x", "X", "0x", "0X"}) {
        if (t.startsWith(QLatin1String(prefix)))
            digitsAt = qsizetype(std::strlen(prefix));
    }
    if (digitsAt >= 0) {
        const QString digits = t.mid(digitsAt);
        if (digits.isEmpty() || digits.size() > 8)
            return std::nullopt;
        quint64 value = 0;
        for (QChar c : digits) {
            const int d = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
            if (d < 0 || c.unicode() > 127)
                return std::nullopt;
            value = value * 16 + quint64(d);
        }
        return std::int32_t(quint32(value));
    }
    bool negative = false;
    if (t.startsWith(u'+') || t.startsWith(u'-')) {
        negative = t.startsWith(u'-');
        t = t.mid(1);
    }
    if (t.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    bool tooBig = false;
    for (QChar c : t) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > (qint64(1) << 32)) {
            tooBig = true;
            value = 0;
        }
    }
    if (negative)
        value = -value;
    if (tooBig || value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return std::int32_t(value);
}

// ---- the operation ---------------------------------------------------------

QString textOf(const QByteArray& bytes, unsigned how)
{
    switch (how & 3) {
    case 0: return TextCodec::fromWindows1252(bytes);
    case 1: return QString::fromUtf8(bytes);
    case 2: return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2); // lone surrogates too
    default: return QString::fromLatin1(bytes);
    }
}

// The same name as the store must find it: other letter case, blanks around.
QString disguised(const QString& name)
{
    QString out = name;
    for (qsizetype i = 0; i < out.size(); i += 2) {
        const char16_t c = out[i].unicode();
        if (c >= 'a' && c <= 'z')
            out[i] = QChar(char16_t(c - 'a' + 'A'));
        else if (c >= 'A' && c <= 'Z')
            out[i] = QChar(char16_t(c - 'A' + 'a'));
    }
    return QStringLiteral(" \t") + out + QStringLiteral("\t ");
}

// Why no file at all could take this, or nothing.
std::optional<QByteArray> badInAnyFile(const QString& section, const QString& key, const QString& value)
{
    const QString s = trimBlanks(section);
    const QString k = trimBlanks(key);
    const auto breaks = [](const QString& t) {
        return t.contains(u'\r') || t.contains(u'\n') || t.contains(QChar(0));
    };
    if (s.isEmpty() || k.isEmpty())
        return "empty name";
    if (breaks(s) || breaks(k) || breaks(value))
        return "line break or NUL";
    if (s.contains(u']') || k.contains(u'=') || k.startsWith(u';') || k.startsWith(u'['))
        return "name that would change the file's structure";
    return std::nullopt;
}

// Why the store must refuse to write this, or nothing.
std::optional<QByteArray> mustRefuse(const QString& section, const QString& key, const QString& value,
                                     Encoding encoding)
{
    const QString s = trimBlanks(section);
    const QString k = trimBlanks(key);
    if (std::optional<QByteArray> why = badInAnyFile(section, key, value))
        return why;
    if (encoding == Encoding::Utf16)
        return "UTF-16 file";
    if (!encode(s, encoding) || !encode(k, encoding) || !encode(value, encoding))
        return "character outside the file's encoding";
    return std::nullopt;
}

QString readOf(const GameConfigStore& store, const QString& section, const QString& key)
{
    return store.ReadString(section, key, kSentinel);
}

// What the reference reader says the store must find for these names.
std::optional<QString> expectedFind(const Reference& ref, const QString& section, const QString& key)
{
    if (ref.encoding == Encoding::Utf16)
        return std::nullopt;
    const auto s = encode(trimBlanks(section), ref.encoding);
    const auto k = encode(trimBlanks(key), ref.encoding);
    if (!s || !k)
        return std::nullopt;
    const Key* found = ref.key(*s, *k);
    if (!found)
        return std::nullopt;
    return readValueOf(found->raw, ref.encoding);
}

void checkReads(const GameConfigStore& store, const Reference& ref, const QString& section, const QString& key)
{
    const std::optional<QString> expected = expectedFind(ref, section, key);
    const QString read = readOf(store, section, key);
    FUZZ_CHECK(read == expected.value_or(kSentinel), "[" + Fuzz::show(section) + "] " + Fuzz::show(key) + " read "
                                                         + Fuzz::show(read) + ", expected "
                                                         + Fuzz::show(expected.value_or(kSentinel)));
    FUZZ_CHECK(store.Find(section, key) == expected, "Find differs from ReadString for " + Fuzz::show(key));

    const QString text = store.ReadString(section, key, QString());
    const std::int32_t integer = store.ReadInteger(section, key, 255);
    FUZZ_CHECK(integer == referenceInteger(text).value_or(255), "ReadInteger of " + Fuzz::show(text) + " gave "
                                                                   + QByteArray::number(integer));
    FUZZ_CHECK(store.ReadBool(section, key, false) == (store.ReadInteger(section, key, 0) != 0), Fuzz::show(text));
    FUZZ_CHECK(store.ReadBool(section, key, true) == (store.ReadInteger(section, key, 1) != 0), Fuzz::show(text));
}

// Every key of the file reads as the reference reader has it.
void checkEveryKey(const GameConfigStore& store, const Reference& ref)
{
    if (ref.encoding == Encoding::Utf16)
        return;
    int checked = 0;
    for (const Key& key : ref.keys) {
        const QString section = decode(key.section, ref.encoding);
        const QString name = decode(key.name, ref.encoding);
        // Names whose bytes do not survive decoding (broken UTF-8) cannot be
        // asked for at all.
        if (encode(section, ref.encoding) != key.section || encode(name, ref.encoding) != key.name)
            continue;
        const QString read = readOf(store, section, name);
        const QString expected = readValueOf(key.raw, ref.encoding);
        FUZZ_CHECK(read == expected, "[" + key.section + "] " + key.name + " read " + Fuzz::show(read)
                                         + ", expected " + Fuzz::show(expected));
        if (++checked == 64)
            break;
    }
}

QStringList stray(const QStringList& ours)
{
    QStringList found = QDir(Fuzz::scratch()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : ours)
        found.removeAll(name);
    return found;
}

// The lines a successful write may change, by the way it had to go.
void checkLines(const Reference& before, const std::vector<Line>& after, const QByteArray& section,
                const QByteArray& key, const QByteArray& value)
{
    const std::vector<Line>& old = before.lines;
    const Key* existing = before.key(section, key);
    const Section* inSection = before.section(section);
    const QByteArray detail = "[" + Fuzz::show(section) + "] " + Fuzz::show(key) + "=" + Fuzz::show(value);
    if (existing) {
        // The same lines; in the key's own only the value between its
        // blanks changed.
        FUZZ_CHECK(after.size() == old.size(), detail);
        for (size_t i = 0; i < old.size(); ++i) {
            if (int(i) == existing->line)
                continue;
            FUZZ_CHECK(after[i].content == old[i].content && after[i].lineBreak == old[i].lineBreak,
                       detail + " changed line " + QByteArray::number(i));
        }
        const Line& was = old[size_t(existing->line)];
        const Line& now = after[size_t(existing->line)];
        FUZZ_CHECK(now.lineBreak == was.lineBreak, detail);
        const qsizetype eq = was.content.indexOf('=');
        FUZZ_CHECK(now.content.startsWith(was.content.left(eq + 1)), detail + " lost the key's name");
        return;
    }
    if (inSection) {
        // One line more, right after the section's last key line (or its
        // header); an unterminated line before it gains a line break.
        const int anchor = inSection->lastKeyLine >= 0 ? inSection->lastKeyLine : inSection->header;
        FUZZ_CHECK(after.size() == old.size() + 1, detail);
        for (size_t i = 0; i < old.size(); ++i) {
            const Line& now = after[i <= size_t(anchor) ? i : i + 1];
            FUZZ_CHECK(now.content == old[i].content, detail + " changed line " + QByteArray::number(i));
            if (!(int(i) == anchor && old[i].lineBreak.isEmpty()))
                FUZZ_CHECK(now.lineBreak == old[i].lineBreak, detail + " changed a line break");
        }
        FUZZ_CHECK(after[size_t(anchor) + 1].content == key + "=" + value, detail);
        return;
    }
    // A new section at the end: the old bytes stay in front.
    const QByteArray oldText = joinLines(old);
    const QByteArray newText = joinLines(after);
    FUZZ_CHECK(newText.startsWith(oldText), detail);
    FUZZ_CHECK(newText.endsWith("[" + section + "]" + after.back().lineBreak + key + "=" + value
                                + after.back().lineBreak),
               detail);
}

// ---- several edits in one write (GameConfigStore::Edit) ------------------

// Every value of the key in the first section of the name, in order, as a
// read makes them (the reference keeps only the first line of each key).
QList<QByteArray> valuesIn(const Reference& ref, const QByteArray& section, const QByteArray& key)
{
    QList<QByteArray> values;
    const Section* in = ref.section(section);
    if (!in)
        return values;
    for (size_t i = size_t(in->header) + 1; i < ref.lines.size(); ++i) {
        const LineKind line = kindOf(ref.lines[i].content, false);
        if (line.kind == LineKind::Header)
            break;
        if (line.kind == LineKind::KeyLine && folded(line.name) == folded(key))
            values.append(readBytes(line.raw));
    }
    return values;
}

using FoldedNames = std::vector<std::pair<QByteArray, QByteArray>>; // section, key

// The contents of the lines that are none of these keys' lines, in any
// section of their section's name.
QList<QByteArray> otherLines(const QByteArray& text, const FoldedNames& edited)
{
    // The byte-order mark is no line's: a file of nothing else has none.
    const bool mark = text.startsWith("\xEF\xBB\xBF");
    QList<QByteArray> kept;
    QByteArray section; // folded; empty before the first header
    bool inSection = false;
    const std::vector<Line> lines = splitLines(mark ? text.mid(3) : text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const LineKind line = kindOf(lines[i].content, false);
        if (line.kind == LineKind::Header) {
            section = folded(line.name);
            inSection = true;
        }
        const bool editedKey = inSection && line.kind == LineKind::KeyLine
            && std::find(edited.cbegin(), edited.cend(), std::pair{section, folded(line.name)}) != edited.cend();
        if (!editedKey)
            kept.append(lines[i].content);
    }
    return kept;
}

QString flippedCase(QString text)
{
    for (QChar& c : text) {
        if (c >= u'a' && c <= u'z')
            c = QChar(char16_t(c.unicode() - 'a' + 'A'));
        else if (c >= u'A' && c <= u'Z')
            c = QChar(char16_t(c.unicode() - 'A' + 'a'));
    }
    return text;
}

// The edits the texts after the fifth ask for, each <kind> <how> <value>:
// the section and key are the first two texts, or with how & 1 a key the
// file holds (how >> 2 picks it); how & 2 takes that key's value, how & 0x80
// in other letter case. Without how & 1, how & 4 puts one of four digits
// ((how >> 4) & 3) after the key's name, and how & 8 takes the fourth text
// for the section: several keys, and sections an edit before has made.
QList<IniEdit> editsOf(const Fuzz::Input& input, const Reference& ref)
{
    QList<IniEdit> edits;
    for (qsizetype i = 5; i < input.texts.size() && edits.size() < 16; ++i) {
        const QByteArray& text = input.texts[i];
        IniEdit edit;
        edit.kind = IniEdit::Kind(text.isEmpty() ? 0 : uchar(text[0]) % 5);
        const unsigned how = text.size() > 1 ? uchar(text[1]) : 0;
        edit.section = textOf(input.text((how & 9) == 8 ? 3 : 0), input.flags);
        edit.key = textOf(input.text(1), input.flags);
        if ((how & 5) == 4)
            edit.key += QChar(u'0' + ((how >> 4) & 3));
        edit.value = textOf(text.mid(2), input.flags);
        if ((how & 1) && !ref.keys.empty()) {
            const Key& key = ref.keys[(how >> 2) % ref.keys.size()];
            edit.section = decode(key.section, ref.encoding);
            edit.key = decode(key.name, ref.encoding);
            if (how & 2)
                edit.value = readValueOf(key.raw, ref.encoding);
            if (how & 0x80)
                edit.value = flippedCase(edit.value);
        }
        edits.append(edit);
    }
    return edits;
}

// The edits made as Edit made them before they shared one parse: each by
// IniText's functions on the whole text the one before left. The bytes, or
// the edit refused and why.
struct InTurn {
    QByteArray bytes;
    std::optional<IniEditError::Reason> reason;
    qsizetype edit = -1;
};

InTurn editsInTurn(const QByteArray& text, Encoding encoding, const QList<IniEdit>& edits, bool create)
{
    InTurn result{text, std::nullopt, -1};
    const auto refuse = [&](IniEditError::Reason reason, qsizetype i) {
        result.reason = reason;
        result.edit = i;
        return result;
    };
    QByteArray& changed = result.bytes;
    for (qsizetype i = 0; i < edits.size(); ++i) {
        const IniEdit& e = edits[i];
        const auto section = encode(trimBlanks(e.section), encoding);
        const auto key = encode(trimBlanks(e.key), encoding);
        const auto value = encode(e.value, encoding);
        if (!section || !key || !value)
            return refuse(IniEditError::Reason::Refused, i);
        if (!IniText::hasSection(changed, *section)) {
            if (!create)
                return refuse(IniEditError::Reason::NoSection, i);
            if (e.kind == IniEdit::Kind::Remove || e.kind == IniEdit::Kind::Unset)
                continue;
        }
        const QByteArray wanted = IniText::readValue(*value);
        const auto isWanted = [&wanted](QByteArrayView v) { return IniText::sameText(v, wanted); };
        switch (e.kind) {
        case IniEdit::Kind::Set:
            if (IniText::valuesOf(changed, *section, *key).size() > 1)
                return refuse(IniEditError::Reason::ManyLines, i);
            [[fallthrough]];
        case IniEdit::Kind::SetFirst: {
            // What a read gives: the first 3 * 2049 bytes decoded, cut.
            std::optional<QString> read;
            if (const auto raw = IniText::valueOf(changed, *section, *key)) {
                read = decode(raw->left(3 * (kMaxValueLength + 2)), encoding);
                if (read->size() > kMaxValueLength)
                    read->truncate((*read)[kMaxValueLength - 1].isHighSurrogate() ? kMaxValueLength - 1
                                                                                  : kMaxValueLength);
            }
            if (read != e.value)
                changed = IniText::withValue(changed, *section, *key, *value);
            break;
        }
        case IniEdit::Kind::Add: {
            const QList<QByteArray> values = IniText::valuesOf(changed, *section, *key);
            if (std::none_of(values.cbegin(), values.cend(), isWanted))
                changed = IniText::withAdded(changed, *section, *key, *value);
            break;
        }
        case IniEdit::Kind::Remove:
            changed = IniText::withoutLines(changed, *section, *key, isWanted);
            break;
        case IniEdit::Kind::Unset:
            changed = IniText::withoutLines(changed, *section, *key);
            break;
        }
    }
    return result;
}

// Edit: all of the edits or none; a dry run tells the bytes a real one
// writes and writes nothing; a refusal has its reason; after the write every
// line that is no edited key's line stands as it stood, in order, and a key
// edited once holds what its edit asks.
void checkEdits(const Fuzz::Input& input, const Reference& ref)
{
    const QList<IniEdit> edits = editsOf(input, ref);
    if (edits.isEmpty())
        return;
    const QString path = Fuzz::scratch() + QStringLiteral("/edits.ini");
    Fuzz::put(path, input.file);
    const bool create = input.index & 0x80;
    const bool readOnly = input.flags & 0x40;
    if (readOnly)
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);

    struct Outcome {
        std::optional<GameConfigStore::Change> change;
        QByteArray failure;
        std::optional<IniEditError::Reason> reason;
        qsizetype edit = -1;
    };
    const auto edit = [&](bool write) {
        Outcome outcome;
        try {
            outcome.change = GameConfigStore(path).Edit(edits, create, write);
        } catch (const IniEditError& e) {
            outcome.failure = e.message().toUtf8();
            outcome.reason = e.reason;
            outcome.edit = e.edit;
        } catch (const EditorError& e) {
            outcome.failure = e.message().toUtf8();
        }
        return outcome;
    };
    const Outcome dry = edit(false);
    FUZZ_CHECK(Fuzz::bytesOf(path) == input.file, "a dry run changed the file: " + dry.failure);
    const Outcome real = edit(true);
    const QByteArray after = Fuzz::bytesOf(path);
    const QByteArray what = QByteArray::number(edits.size()) + " edits, the first [" + Fuzz::show(edits[0].section)
        + "] " + Fuzz::show(edits[0].key) + "=" + Fuzz::show(edits[0].value);
    FUZZ_CHECK(stray({QStringLiteral("UnrealTournament.ini"), QStringLiteral("Link.ini"), QStringLiteral("edits.ini")})
                   .isEmpty(),
               stray({}).join(u' ').toUtf8());
    QFile::remove(path);

    // A name or value no file can hold is refused before the file is read.
    for (qsizetype i = 0; i < edits.size(); ++i) {
        if (!badInAnyFile(edits[i].section, edits[i].key, edits[i].value))
            continue;
        for (const Outcome* o : {&dry, &real})
            FUZZ_CHECK(o->reason == IniEditError::Reason::Refused && o->edit == i, what + ": " + o->failure);
        FUZZ_CHECK(after == input.file, what);
        return;
    }
    if (ref.encoding == Encoding::Utf16) {
        FUZZ_CHECK(!dry.change && !real.change && after == input.file, what);
        return;
    }
    // The dry run's answer is the real run's, but for a read-only file's.
    FUZZ_CHECK(dry.reason == real.reason && dry.edit == real.edit, what + ": " + dry.failure + " / " + real.failure);
    // The bytes of the edits made in turn on the whole text: every rule of
    // where a line goes and how it ends, kept by the one parse.
    const InTurn inTurn = editsInTurn(input.file, ref.encoding, edits, create);
    FUZZ_CHECK(inTurn.reason == dry.reason && inTurn.edit == dry.edit,
               what + ": refused edit " + QByteArray::number(dry.edit) + " (" + dry.failure + "), made in turn "
                   + QByteArray::number(inTurn.edit));
    if (dry.change)
        FUZZ_CHECK(dry.change->after == inTurn.bytes, what + " gave " + Fuzz::show(dry.change->after)
                                                          + ", made in turn " + Fuzz::show(inTurn.bytes));
    if (!dry.change) {
        FUZZ_CHECK(!real.change && after == input.file, what + " was refused but changed the file");
        FUZZ_CHECK(dry.reason && dry.edit >= 0 && dry.edit < edits.size(), what + ": " + dry.failure);
        const IniEdit& refused = edits[dry.edit];
        const auto encodable = encode(trimBlanks(refused.section), ref.encoding)
            && encode(trimBlanks(refused.key), ref.encoding) && encode(refused.value, ref.encoding);
        switch (*dry.reason) {
        case IniEditError::Reason::NoSection:
            FUZZ_CHECK(!create && encodable && !ref.section(*encode(trimBlanks(refused.section), ref.encoding)),
                       what + ": " + dry.failure);
            break;
        case IniEditError::Reason::ManyLines:
            FUZZ_CHECK(refused.kind == IniEdit::Kind::Set && encodable, what + ": " + dry.failure);
            break;
        case IniEditError::Reason::Refused:
            FUZZ_CHECK(!encodable, what + ": " + dry.failure);
            break;
        case IniEditError::Reason::NoFile:
            FUZZ_CHECK(false, what + ": " + dry.failure);
        }
        return;
    }
    FUZZ_CHECK(dry.change->before == input.file, what);
    const QByteArray made = dry.change->after;
    if (readOnly && made != input.file) {
        FUZZ_CHECK(!real.change && real.failure == "Unable to write to " + path.toUtf8() && after == input.file,
                   what + ": " + real.failure);
        return;
    }
    FUZZ_CHECK(real.change && real.change->before == input.file && real.change->after == made && after == made,
               what + ": the dry run and the write differ (" + real.failure + ")");

    FoldedNames edited;
    for (const IniEdit& e : edits) {
        const auto section = encode(trimBlanks(e.section), ref.encoding);
        const auto key = encode(trimBlanks(e.key), ref.encoding);
        FUZZ_CHECK(section && key && encode(e.value, ref.encoding), what + ": an edit the file cannot hold was made");
        FUZZ_CHECK(create || ref.section(*section), what + " made a section without being asked to");
        edited.push_back({folded(*section), folded(*key)});
    }
    // Every other line in order; only blank lines and the headers of edited
    // sections may follow them. (Not in a file with a lone CR: a line taken
    // out from between a CR and an LF joins them into one line break, the
    // bytes around it as they were.)
    bool loneCr = false;
    for (qsizetype i = 0; i < input.file.size(); ++i)
        loneCr = loneCr || (input.file[i] == '\r' && (i + 1 == input.file.size() || input.file[i + 1] != '\n'));
    if (!loneCr) {
        const QList<QByteArray> before = otherLines(input.file, edited);
        const QList<QByteArray> now = otherLines(after, edited);
        FUZZ_CHECK(now.size() >= before.size() && now.mid(0, before.size()) == before,
                   what + " changed a line it was not asked to: " + Fuzz::show(before.join('|')) + " became "
                       + Fuzz::show(now.join('|')));
        for (qsizetype i = before.size(); i < now.size(); ++i) {
            const LineKind line = kindOf(now[i], false);
            const bool editedHeader = line.kind == LineKind::Header
                && std::any_of(edited.cbegin(), edited.cend(),
                               [&](const auto& n) { return n.first == folded(line.name); });
            FUZZ_CHECK(trimBlanks(now[i]).isEmpty() || editedHeader, what + " added the line " + Fuzz::show(now[i]));
        }
    }

    // A key edited once holds what the edit asked for.
    const Reference result = parse(after);
    for (qsizetype i = 0; i < edits.size(); ++i) {
        if (std::count(edited.cbegin(), edited.cend(), edited[size_t(i)]) != 1)
            continue;
        const IniEdit& e = edits[i];
        const QByteArray section = *encode(trimBlanks(e.section), ref.encoding);
        const QByteArray key = *encode(trimBlanks(e.key), ref.encoding);
        const QByteArray value = *encode(e.value, ref.encoding);
        const QByteArray wanted = readBytes(trimBlanks(value));
        const QList<QByteArray> was = valuesIn(ref, section, key);
        const QList<QByteArray> values = valuesIn(result, section, key);
        const auto same = [&](const QByteArray& v) { return folded(v) == folded(wanted); };
        QList<QByteArray> expected = was;
        switch (e.kind) {
        case IniEdit::Kind::Unset:
            expected.clear();
            break;
        case IniEdit::Kind::Remove:
            expected.removeIf(same);
            break;
        case IniEdit::Kind::Add:
            if (std::none_of(was.cbegin(), was.cend(), same))
                expected.append(wanted);
            break;
        case IniEdit::Kind::Set:
        case IniEdit::Kind::SetFirst: {
            // As WriteString sets it: a value a read already gives changes
            // nothing; an old value's quotes enclose the new one, unless it
            // brings its own.
            const Key* old = ref.key(section, key);
            if (expected.isEmpty())
                expected.append(wanted);
            else if (readValueOf(old->raw, ref.encoding) != e.value)
                expected.front() = quoted(old->raw) && !quoted(value) ? value : wanted;
            break;
        }
        }
        FUZZ_CHECK(values == expected, what + ": [" + Fuzz::show(section) + "] " + Fuzz::show(key) + " holds "
                                           + Fuzz::show(values.join('|')) + ", expected "
                                           + Fuzz::show(expected.join('|')));
    }

    // Setting the first lines of keys of one section makes the bytes that
    // WriteStrings makes.
    const bool firstLinesOfOneSection = std::all_of(edits.cbegin(), edits.cend(), [&](const IniEdit& e) {
        return e.kind == IniEdit::Kind::SetFirst && e.section == edits[0].section;
    });
    if (firstLinesOfOneSection) {
        QList<std::pair<QString, QString>> pairs;
        for (const IniEdit& e : edits)
            pairs.append({e.key, e.value});
        const QString pathAll = Fuzz::scratch() + QStringLiteral("/all.ini");
        Fuzz::put(pathAll, input.file);
        GameConfigStore(pathAll).WriteStrings(edits[0].section, pairs);
        FUZZ_CHECK(Fuzz::bytesOf(pathAll) == after, what + ": Edit and WriteStrings differ");
        QFile::remove(pathAll);
    }
}

void run(const Fuzz::Input& input)
{
    const QString path = Fuzz::scratch() + QStringLiteral("/UnrealTournament.ini");
    Fuzz::put(path, input.file);
    // A second name for the file makes the store write it in place.
    const QString link = Fuzz::scratch() + QStringLiteral("/Link.ini");
    QFile::remove(link);
    const bool linked = input.flags & 0x80;
    if (linked && ::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) != 0)
        std::abort();
    const Reference ref = parse(input.file);
    checkEdits(input, ref);
    GameConfigStore store(path);

    // Reading: every key, and the names the input asks for.
    checkEveryKey(store, ref);

    QString section = textOf(input.text(0), input.flags);
    QString key = textOf(input.text(1), input.flags);
    QString value = textOf(input.text(2), input.flags);
    const bool pick = (input.flags & 0x04) && !ref.keys.empty();
    const Key* picked = pick ? &ref.keys[input.index % ref.keys.size()] : nullptr;
    if (picked) {
        section = decode(picked->section, ref.encoding);
        key = decode(picked->name, ref.encoding);
        if (input.flags & 0x10) {
            section = disguised(section);
            key = disguised(key);
        }
    }
    checkReads(store, ref, section, key);
    const QString readBefore = readOf(store, section, key);
    const bool writeBack = picked && (input.flags & 0x20);
    if (writeBack)
        value = readBefore;

    // Writing.
    const bool readOnly = input.flags & 0x40;
    if (readOnly)
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    std::optional<QByteArray> refusal = mustRefuse(section, key, value, ref.encoding);
    // What a read of the key gives is what it holds: no change to make.
    const bool noChange = !refusal && expectedFind(ref, section, key) == value;
    if (!refusal && readOnly && !noChange)
        refusal = "read-only file";
    QByteArray failure;
    try {
        store.WriteString(section, key, value);
    } catch (const EditorError& e) {
        failure = e.message().toUtf8();
    }
    const QByteArray after = Fuzz::bytesOf(path);
    const QByteArray what = "[" + Fuzz::show(section) + "] " + Fuzz::show(key) + "=" + Fuzz::show(value);
    FUZZ_CHECK(failure.isEmpty() != refusal.has_value(),
               what + ": refused with '" + failure + "', expected " + refusal.value_or("no refusal"));
    FUZZ_CHECK(stray({QStringLiteral("UnrealTournament.ini"), QStringLiteral("Link.ini")}).isEmpty(),
               stray({}).join(u' ').toUtf8());
    if (linked)
        FUZZ_CHECK(Fuzz::bytesOf(link) == after, what + " split the file from its second name");
    if (refusal) {
        FUZZ_CHECK(after == input.file, what + " was refused but changed the file");
        if (*refusal == "read-only file")
            FUZZ_CHECK(failure == "Unable to write to " + path.toUtf8(), failure);
        return;
    }
    if (noChange)
        FUZZ_CHECK(after == input.file, what + " is the value a read gives, yet the file changed");

    // The key reads back as written; every other key as before.
    const QByteArray sectionBytes = *encode(trimBlanks(section), ref.encoding);
    const QByteArray keyBytes = *encode(trimBlanks(key), ref.encoding);
    const QByteArray valueBytes = *encode(value, ref.encoding);
    const Key* existing = ref.key(sectionBytes, keyBytes);
    const QByteArray rawNow = existing && quoted(existing->raw) && !quoted(valueBytes)
        ? existing->raw.left(1) + valueBytes + existing->raw.left(1)
        : trimBlanks(valueBytes);
    const Reference now = parse(after);
    // (A value that is no change reads as it did: its line stayed as it was,
    // though written anew it would have lost the blanks at its end.)
    const QString expected = noChange ? value : readValueOf(rawNow, now.encoding);
    // A write that took the last bytes that are not UTF-8 out of a file with
    // a byte-order mark makes it a UTF-8 file: names read under the old
    // encoding may then spell other bytes, so the key is looked up by its
    // bytes there.
    if (now.encoding == ref.encoding) {
        FUZZ_CHECK(readOf(store, section, key) == expected, what + " reads back as "
                                                                + Fuzz::show(readOf(store, section, key))
                                                                + ", expected " + Fuzz::show(expected));
    }
    const Key* written = now.key(sectionBytes, keyBytes);
    FUZZ_CHECK(written && readValueOf(written->raw, now.encoding) == expected, what + " is not in the file");
    FUZZ_CHECK(now.keys.size() == ref.keys.size() + (existing ? 0 : 1), what);
    for (const Key& other : ref.keys) {
        if (folded(other.section) == folded(sectionBytes) && folded(other.name) == folded(keyBytes))
            continue;
        const Key* still = now.key(other.section, other.name);
        FUZZ_CHECK(still && still->raw == other.raw, what + " changed [" + other.section + "] " + other.name);
    }
    checkEveryKey(store, now);
    if (after != input.file)
        checkLines(ref, splitLines(after), sectionBytes, keyBytes, valueBytes);

    // The value just read, written to another key of the section (a real
    // write, not the no-op above), is the bytes it was read from, unless the
    // read had cut it (at a NUL or at 2047 characters).
    if (writeBack && existing && !existing->raw.contains('\0') && readBefore.size() < kMaxValueLength) {
        const QByteArray copyKey = "Brennwerk.Copy";
        const QString pathCopy = Fuzz::scratch() + QStringLiteral("/copy.ini");
        Fuzz::put(pathCopy, input.file);
        if (!ref.key(sectionBytes, copyKey)) {
            GameConfigStore(pathCopy).WriteString(section, QString::fromLatin1(copyKey), readBefore);
            const Reference copied = parse(Fuzz::bytesOf(pathCopy));
            const Key* copy = copied.key(sectionBytes, copyKey);
            const QByteArray inside = quoted(existing->raw) ? existing->raw.mid(1, existing->raw.size() - 2)
                                                            : existing->raw;
            FUZZ_CHECK(copy && copied.lines[size_t(copy->line)].content == copyKey + "=" + inside,
                       what + " was the value read, yet written elsewhere its bytes changed from "
                           + Fuzz::show(existing->raw));
        }
        QFile::remove(pathCopy);
    }

    // Several keys at once: the bytes of one write after the other.
    if (input.flags & 0x08) {
        const QString key2 = textOf(input.text(3), input.flags);
        const QString value2 = textOf(input.text(4), input.flags);
        const QString pathOne = Fuzz::scratch() + QStringLiteral("/one.ini");
        const QString pathAll = Fuzz::scratch() + QStringLiteral("/all.ini");
        Fuzz::put(pathOne, input.file);
        Fuzz::put(pathAll, input.file);
        GameConfigStore one(pathOne);
        GameConfigStore all(pathAll);
        // The second pair goes into the file the first one left.
        const bool refused = mustRefuse(section, key2, value2, now.encoding).has_value();
        bool allFailed = false;
        try {
            all.WriteStrings(section, {{key, value}, {key2, value2}});
        } catch (const EditorError&) {
            allFailed = true;
        }
        FUZZ_CHECK(allFailed == refused, "batch of " + what + " and " + Fuzz::show(key2));
        if (refused) {
            FUZZ_CHECK(Fuzz::bytesOf(pathAll) == input.file, "a refused batch changed the file");
        } else {
            one.WriteString(section, key, value);
            one.WriteString(section, key2, value2);
            FUZZ_CHECK(Fuzz::bytesOf(pathAll) == Fuzz::bytesOf(pathOne), "batch differs from single writes");
        }
        QFile::remove(pathOne);
        QFile::remove(pathAll);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    run(Fuzz::split(data, size));
    return 0;
}
