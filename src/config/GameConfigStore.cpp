#include "config/GameConfigStore.h"

#include "config/IniNumbers.h"
#include "config/IniText.h"
#include "config/TextCodec.h"
#include "platform/EditorError.h"
#include "platform/SafeFile.h"

#include <QHash>

#include <algorithm>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace {

// What the profile functions hand back at most.
constexpr qsizetype maxValueLength = 2047;

enum class Encoding { Windows1252, Utf8, Utf16 };

Encoding encodingOf(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return Encoding::Utf8;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return Encoding::Utf16;
    return Encoding::Windows1252;
}

std::optional<QByteArray> encode(QStringView text, Encoding encoding)
{
    return encoding == Encoding::Utf8 ? TextCodec::toUtf8(text) : TextCodec::toWindows1252(text);
}

QString decode(QByteArrayView bytes, Encoding encoding)
{
    return encoding == Encoding::Utf8 ? TextCodec::fromUtf8(bytes) : TextCodec::fromWindows1252(bytes);
}

QString trimmedName(const QString& name)
{
    qsizetype begin = 0;
    qsizetype end = name.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(name[begin]))
        ++begin;
    while (end > begin && blank(name[end - 1]))
        --end;
    return name.mid(begin, end - begin);
}

bool hasLineBreak(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

QString describeCharacter(QStringView text, qsizetype at)
{
    const char32_t code = (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        ? QChar::surrogateToUcs4(text[at], text[at + 1])
        : text[at].unicode();
    const QString hex = QString::number(static_cast<uint>(code), 16).toUpper().rightJustified(4, u'0');
    if (QChar(text[at]).isSurrogate() && code == text[at].unicode())
        return QStringLiteral("U+%1").arg(hex);
    return QStringLiteral("\"%1\" (U+%2)").arg(QString::fromUcs4(&code, 1), hex);
}

// Names and values are refused before anything is read or written when they
// would change the file's structure: a line break or a NUL inside a value
// would plant new lines, "]" would end a section header early, "=" would
// split a key name, and ";" or "[" at its start would make the key line a
// comment or a section header.
void checkText(const QString& section, const QString& key, const QString& value, const QString& path)
{
    // Worded only for a refusal: a script of thousands of edits checks each.
    const auto where = [&] { return QStringLiteral("[%1] %2").arg(section, key).trimmed(); };
    auto refuse = [&](const QString& why) {
        throw EditorError(QStringLiteral("%1 and cannot be stored in %2").arg(why, path));
    };
    auto checkName = [&](const QString& kind, const QString& name) {
        if (name.isEmpty())
            refuse(QStringLiteral("The %1 name of %2 is empty").arg(kind, where()));
        if (hasLineBreak(name) || name.contains(QChar(0)))
            refuse(QStringLiteral("The %1 name of %2 contains a line break or NUL character").arg(kind, where()));
    };
    checkName(QStringLiteral("section"), section);
    checkName(QStringLiteral("key"), key);
    if (section.contains(u']'))
        refuse(QStringLiteral("The section name of %1 contains \"]\"").arg(where()));
    if (key.contains(u'='))
        refuse(QStringLiteral("The key name of %1 contains \"=\"").arg(where()));
    if (key.startsWith(u';') || key.startsWith(u'['))
        refuse(QStringLiteral("The key name of %1 starts with \"%2\"").arg(where(), key.left(1)));
    if (hasLineBreak(value))
        refuse(QStringLiteral("The value for %1 contains a line break").arg(where()));
    if (value.contains(QChar(0)))
        refuse(QStringLiteral("The value for %1 contains a NUL character").arg(where()));
}

// `what` words the text for a refusal: "The value for [S] K".
template <typename What>
QByteArray encodeOrRefuse(const QString& text, const What& what, Encoding encoding, const QString& path)
{
    if (auto bytes = encode(text, encoding))
        return *std::move(bytes);
    const qsizetype at = TextCodec::firstUnencodable(text, encoding == Encoding::Utf8);
    const QString charset = encoding == Encoding::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("Windows-1252");
    throw EditorError(QStringLiteral("%1 contains the character %2, which cannot be stored in %3 (%4 text)")
                          .arg(what(), describeCharacter(text, at), path, charset));
}

QString cutToReadLength(QString value)
{
    if (value.size() > maxValueLength) {
        qsizetype cut = maxValueLength;
        if (value[cut - 1].isHighSurrogate())
            --cut; // never leave half a character
        value.truncate(cut);
    }
    return value;
}

// What a read hands back of a value's bytes: decoded, cut to what the
// profile functions hand back. No UTF-16 unit takes more than 3 bytes, so
// these bytes give the first maxValueLength + 1 units whole (one more for a
// sequence cut at their end), and a value of 100 MB is not decoded whole to
// keep 2047 characters of it.
QString readText(QByteArrayView raw, Encoding encoding)
{
    return cutToReadLength(decode(raw.first(std::min(raw.size(), 3 * (maxValueLength + 2))), encoding));
}

// What a read of the key returns from these bytes: the value decoded and cut
// to what the profile functions hand back.
std::optional<QString> valueIn(const QByteArray& bytes, Encoding encoding, const QByteArray& section,
                               const QByteArray& key)
{
    const std::optional<QByteArray> raw = IniText::valueOf(bytes, section, key);
    if (!raw)
        return std::nullopt;
    return readText(*raw, encoding);
}

// ---- the last parse of each file ----------------------------------------------
//
// A page reads a hundred keys in a row, and each read must give what the file
// holds at that moment: another program may write it in between. So every
// read still goes to the file (its lock, its journal, its stamp), but the
// parse of bytes already parsed is kept: SafeFile::read hands back the known
// bytes only when they are provably the file's now (the same bytes read
// again, or a settled stamp that is the file's stamp now), and a parse is
// used only with the bytes it was made from.
struct Parse {
    SafeFile::Seen seen;
    Encoding encoding = Encoding::Windows1252;
    std::shared_ptr<const IniText::Index> index; // none for UTF-16 text
};

std::mutex parsesMutex;

QHash<QString, std::shared_ptr<const Parse>>& parses()
{
    static QHash<QString, std::shared_ptr<const Parse>> byPath;
    return byPath;
}

std::shared_ptr<const Parse> knownParse(const QString& path)
{
    const std::lock_guard<std::mutex> guard(parsesMutex);
    return parses().value(path);
}

void keepParse(const QString& path, std::shared_ptr<const Parse> parse)
{
    const std::lock_guard<std::mutex> guard(parsesMutex);
    // The files of one installation are a handful; a caller that goes
    // through many files keeps only its latest ones.
    if (parses().size() >= 16 && !parses().contains(path))
        parses().clear();
    if (parse)
        parses().insert(path, std::move(parse));
    else
        parses().remove(path);
}

// A write's bytes are kept unparsed (lazy): a page that wrote need not read
// the file again.
std::shared_ptr<const Parse> parseOf(SafeFile::Seen seen, std::shared_ptr<const IniText::Index> index = {},
                                     bool lazy = false)
{
    auto parse = std::make_shared<Parse>();
    parse->encoding = encodingOf(seen.bytes);
    if (parse->encoding != Encoding::Utf16 && (index || !lazy))
        parse->index = index ? std::move(index) : std::make_shared<const IniText::Index>(seen.bytes);
    parse->seen = std::move(seen);
    return parse;
}

// After a write: its bytes are the file's now.
void keepWritten(const QString& path, const SafeFile::Update& update)
{
    if (std::optional<SafeFile::Seen> written = update.written())
        keepParse(path, parseOf(*std::move(written), {}, true));
}

// The file as it is now, parsed; nothing when it cannot be read.
std::shared_ptr<const Parse> currentParse(const QString& path)
{
    const std::shared_ptr<const Parse> last = knownParse(path);
    bool unchanged = false;
    std::optional<SafeFile::Seen> seen = SafeFile::read(path, last ? &last->seen : nullptr, &unchanged);
    if (!seen) {
        keepParse(path, nullptr);
        return nullptr;
    }
    if (unchanged) {
        const bool parsed = last->index || last->encoding == Encoding::Utf16;
        if (parsed && seen->stamp == last->seen.stamp && seen->settled == last->seen.settled
            && seen->period == last->seen.period)
            return last;
        // The same bytes with a newer stamp: what the next read compares.
        auto fresh = std::make_shared<Parse>(*last);
        fresh->seen = *std::move(seen);
        if (!parsed)
            fresh->index = std::make_shared<const IniText::Index>(fresh->seen.bytes);
        keepParse(path, fresh);
        return fresh;
    }
    std::shared_ptr<const Parse> parse = parseOf(*std::move(seen));
    keepParse(path, parse);
    return parse;
}

// The index of these bytes: the kept one when it was made from them.
std::shared_ptr<const IniText::Index> indexOf(const QString& path, const QByteArray& bytes)
{
    const std::shared_ptr<const Parse> known = knownParse(path);
    if (known && known->index && known->seen.bytes == bytes)
        return known->index;
    return std::make_shared<const IniText::Index>(bytes);
}

// The file's parse now, with the names asked for in its encoding; nothing
// when the file cannot be read, is UTF-16 text, or a name has no bytes in its
// encoding (so cannot be in it).
struct Lookup {
    std::shared_ptr<const Parse> parse;
    QByteArray section;
    QByteArray key;
};

std::optional<Lookup> lookUp(const QString& path, const QString& section, const QString& key = QString())
{
    std::shared_ptr<const Parse> parse = currentParse(path);
    if (!parse || !parse->index)
        return std::nullopt;
    auto sectionBytes = encode(trimmedName(section), parse->encoding);
    auto keyBytes = encode(trimmedName(key), parse->encoding);
    if (!sectionBytes || !keyBytes)
        return std::nullopt;
    return Lookup{std::move(parse), *std::move(sectionBytes), *std::move(keyBytes)};
}

} // namespace

GameConfigStore::GameConfigStore(QString path) : path_(std::move(path)) {}

QString GameConfigStore::ReadString(const QString& section, const QString& key, const QString& def) const
{
    return Find(section, key).value_or(def);
}

std::optional<QString> GameConfigStore::Find(const QString& section, const QString& key) const
{
    const std::optional<Lookup> found = lookUp(path_, section, key);
    if (!found)
        return std::nullopt;
    const std::optional<QByteArray> raw = found->parse->index->valueOf(found->section, found->key);
    if (!raw)
        return std::nullopt;
    return readText(*raw, found->parse->encoding);
}

void GameConfigStore::WriteString(const QString& section, const QString& key, const QString& value)
{
    WriteStrings(section, {{key, value}});
}

void GameConfigStore::WriteStrings(const QString& section, const QList<std::pair<QString, QString>>& keyValues)
{
    if (keyValues.isEmpty())
        return;
    const QString sectionName = trimmedName(section);
    // Every pair is checked before the file is read, so a refused one
    // leaves the file as it was.
    for (const auto& [key, value] : keyValues)
        checkText(sectionName, trimmedName(key), value, path_);

    // From the read to the write no other writer of this program can come
    // in between and have its change lost.
    SafeFile::Update update(path_);
    std::optional<SafeFile::Seen> seen = update.readSeen();
    // A file that is there but cannot be read must not be replaced by one
    // holding only the new keys.
    if (!seen && update.exists())
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    const QByteArray text = seen ? seen->bytes : QByteArray();
    const Encoding encoding = encodingOf(text);
    if (encoding == Encoding::Utf16)
        throw EditorError(QStringLiteral("%1 is UTF-16 text, which this program cannot edit; nothing was changed")
                              .arg(path_));

    const QByteArray sectionBytes = encodeOrRefuse(
        sectionName,
        [&] {
            return QStringLiteral("The section name of [%1] %2").arg(sectionName, trimmedName(keyValues.front().first));
        },
        encoding, path_);
    // Each pair is applied to the result of the one before, as separate
    // writes would apply it to the file the one before had left. Every pair
    // reads and changes only the first section of the name, so once it is
    // there the pairs work on its part of the text alone (the rest is put
    // back around it), and a hundred keys cost no hundred passes over a
    // large file.
    const std::shared_ptr<const IniText::Index> index = indexOf(path_, text);
    QByteArray fallbackBreak = IniText::fallbackBreak(text);
    QByteArray base = text; // what the part is taken from and put back into
    QByteArray part = text;
    qsizetype partBegin = 0;
    qsizetype partEnd = -1; // -1: the part is the whole text
    const auto split = [&](const IniText::Index& parsed) {
        if (const auto span = parsed.span(sectionBytes)) {
            partBegin = span->first;
            partEnd = span->second;
            part = base.sliced(partBegin, partEnd - partBegin);
        }
    };
    split(*index);
    for (const auto& [key, value] : keyValues) {
        const QString keyName = trimmedName(key);
        const auto where = [&] { return QStringLiteral("[%1] %2").arg(sectionName, keyName); };
        const QByteArray keyBytes =
            encodeOrRefuse(keyName, [&] { return QStringLiteral("The key name of %1").arg(where()); }, encoding, path_);
        const QByteArray valueBytes =
            encodeOrRefuse(value, [&] { return QStringLiteral("The value for %1").arg(where()); }, encoding, path_);
        // The value a read gives is what the key holds, so writing it changes
        // nothing: its quotes, its blanks and the part beyond what a read
        // hands back (a page writes back what it has just read) stay.
        if (valueIn(part, encoding, sectionBytes, keyBytes) == value)
            continue;
        if (partEnd >= 0) {
            part = IniText::withValue(part, sectionBytes, keyBytes, valueBytes, fallbackBreak);
        } else {
            // The section is made, at the end of the text: from now on the
            // pairs work on it alone.
            part = IniText::withValue(part, sectionBytes, keyBytes, valueBytes);
            base = part;
            fallbackBreak = IniText::fallbackBreak(base);
            split(IniText::Index(base));
        }
    }
    QByteArray changed;
    if (partEnd < 0) {
        changed = part;
    } else {
        changed.reserve(base.size() + part.size() - (partEnd - partBegin));
        changed.append(base.constData(), partBegin);
        changed.append(part);
        changed.append(base.constData() + partEnd, base.size() - partEnd);
    }
    if (seen && changed == text) {
        keepParse(path_, parseOf(*std::move(seen), index));
        return; // nothing to write, so nothing to refuse on a read-only file
    }
    if (update.isReadOnly())
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    update.write(changed);
    keepWritten(path_, update);
}

QStringList GameConfigStore::FindAll(const QString& section, const QString& key) const
{
    const std::optional<Lookup> found = lookUp(path_, section, key);
    if (!found)
        return {};
    QStringList values;
    for (const QByteArray& raw : found->parse->index->valuesOf(found->section, found->key))
        values.append(readText(raw, found->parse->encoding));
    return values;
}

QStringList GameConfigStore::Sections() const
{
    QStringList names;
    ForEachSection([&names](const QString& name) { names.append(name); });
    return names;
}

void GameConfigStore::ForEachSection(const std::function<void(const QString& name)>& visit, qsizetype longest) const
{
    const std::shared_ptr<const Parse> parse = currentParse(path_);
    if (!parse || !parse->index)
        return;
    parse->index->forEachSectionName([&](QByteArrayView name) {
        // No character takes more than three bytes.
        if (name.size() / 3 > longest)
            return;
        const QString decoded = decode(name, parse->encoding);
        if (decoded.size() <= longest)
            visit(decoded);
    });
}

std::optional<QList<std::pair<QString, QString>>> GameConfigStore::Entries(const QString& section) const
{
    const std::optional<Lookup> found = lookUp(path_, section);
    if (!found)
        return std::nullopt;
    const auto entries = found->parse->index->entriesOf(found->section);
    if (!entries)
        return std::nullopt;
    const Encoding encoding = found->parse->encoding;
    QList<std::pair<QString, QString>> decoded;
    for (const auto& [name, value] : *entries)
        decoded.append({decode(name, encoding), readText(value, encoding)});
    return decoded;
}

GameConfigStore::Change GameConfigStore::Edit(const QList<IniEdit>& edits, bool create, bool write)
{
    // Every edit is checked before the file is read, so a refused one leaves
    // the file as it was.
    const auto refused = [](qsizetype index, const EditorError& error) {
        return IniEditError(IniEditError::Reason::Refused, index, error.message());
    };
    for (qsizetype i = 0; i < edits.size(); ++i) {
        try {
            checkText(trimmedName(edits[i].section), trimmedName(edits[i].key), edits[i].value, path_);
        } catch (const EditorError& error) {
            throw refused(i, error);
        }
    }

    // A dry run only looks: no exclusive lock, no recovery of an
    // interrupted write, nothing opened for writing.
    std::optional<SafeFile::Update> update;
    std::optional<QByteArray> bytes;
    std::optional<SafeFile::Seen> seen;
    bool exists = false;
    if (write) {
        update.emplace(path_);
        seen = update->readSeen();
        if (seen)
            bytes = seen->bytes;
        exists = update->exists();
    } else {
        SafeFile::Look look = SafeFile::look(path_);
        bytes = std::move(look.bytes);
        exists = look.exists;
    }
    if (!bytes && exists)
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    if (!exists && !create)
        throw IniEditError(IniEditError::Reason::NoFile, -1, QStringLiteral("%1 does not exist").arg(path_));
    const QByteArray text = bytes.value_or(QByteArray());
    const Encoding encoding = encodingOf(text);
    if (encoding == Encoding::Utf16)
        throw EditorError(QStringLiteral("%1 is UTF-16 text, which this program cannot edit; nothing was changed")
                              .arg(path_));

    // One parse for all the edits: each costs what it touches, not a pass
    // over the whole text (a script may hold thousands).
    const std::shared_ptr<const Parse> known = knownParse(path_);
    const std::shared_ptr<const IniText::Index> index =
        known && known->index && known->seen.bytes == text ? known->index : nullptr;
    // Kept for what comes after a refusal (the sections near a mistyped
    // name) and for reads after a write that changed nothing.
    if (seen)
        keepParse(path_, parseOf(*std::move(seen), index, true));
    IniText::Editor editor(text, index.get());
    QByteArray changed;
    try {
        for (qsizetype i = 0; i < edits.size(); ++i) {
            const IniEdit& edit = edits[i];
            const QString sectionName = trimmedName(edit.section);
            const QString keyName = trimmedName(edit.key);
            const auto where = [&] { return QStringLiteral("[%1] %2").arg(sectionName, keyName); };
            QByteArray sectionBytes, keyBytes, valueBytes;
            try {
                sectionBytes = encodeOrRefuse(
                    sectionName, [&] { return QStringLiteral("The section name of %1").arg(where()); }, encoding, path_);
                keyBytes = encodeOrRefuse(
                    keyName, [&] { return QStringLiteral("The key name of %1").arg(where()); }, encoding, path_);
                valueBytes = encodeOrRefuse(
                    edit.value, [&] { return QStringLiteral("The value for %1").arg(where()); }, encoding, path_);
            } catch (const EditorError& error) {
                throw refused(i, error);
            }
            if (!editor.hasSection(sectionBytes)) {
                if (!create)
                    throw IniEditError(IniEditError::Reason::NoSection, i,
                                       QStringLiteral("There is no section [%1] in %2").arg(sectionName, path_));
                if (edit.kind == IniEdit::Kind::Remove || edit.kind == IniEdit::Kind::Unset)
                    continue;
            }
            // Values in a list are the game's package and class names, which it
            // compares without regard to ASCII letter case.
            const QByteArray wanted = IniText::readValue(valueBytes);
            switch (edit.kind) {
            case IniEdit::Kind::Set:
                if (const qsizetype lines = editor.lineCount(sectionBytes, keyBytes); lines > 1) {
                    IniEditError error(IniEditError::Reason::ManyLines, i,
                                       QStringLiteral("%1 has %2 lines in %3").arg(where()).arg(lines).arg(path_));
                    error.lines = lines;
                    throw error;
                }
                [[fallthrough]];
            case IniEdit::Kind::SetFirst: {
                const std::optional<QByteArray> raw = editor.valueOf(sectionBytes, keyBytes);
                if (!raw || readText(*raw, encoding) != edit.value)
                    editor.withValue(sectionBytes, keyBytes, valueBytes);
                break;
            }
            case IniEdit::Kind::Add:
                if (!editor.holds(sectionBytes, keyBytes, wanted))
                    editor.withAdded(sectionBytes, keyBytes, valueBytes);
                break;
            case IniEdit::Kind::Remove:
                editor.withoutLines(sectionBytes, keyBytes, QByteArrayView(wanted));
                break;
            case IniEdit::Kind::Unset:
                editor.withoutLines(sectionBytes, keyBytes, std::nullopt);
                break;
            }
        }
        changed = editor.text();
    } catch (const std::length_error&) {
        // More lines than the editor counts (2^32 in one section).
        throw EditorError(QStringLiteral("%1 has too many lines to edit; nothing was changed").arg(path_));
    }
    Change change{text, changed};
    if (changed == text || !write)
        return change; // nothing to write, so nothing to refuse on a read-only file
    if (update->isReadOnly())
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    update->write(changed);
    keepWritten(path_, *update);
    return change;
}

QString GameConfigStore::textOf(QByteArrayView bytes)
{
    return decode(bytes, encodingOf(bytes) == Encoding::Utf8 ? Encoding::Utf8 : Encoding::Windows1252);
}

std::int32_t GameConfigStore::ReadInteger(const QString& section, const QString& key, std::int32_t def) const
{
    return IniNumbers::toInt32(ReadString(section, key, QString())).value_or(def);
}

void GameConfigStore::WriteInteger(const QString& section, const QString& key, std::int32_t value)
{
    WriteString(section, key, QString::number(value));
}

bool GameConfigStore::ReadBool(const QString& section, const QString& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}
