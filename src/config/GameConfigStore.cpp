#include "config/GameConfigStore.h"

#include "config/IniNumbers.h"
#include "config/IniText.h"
#include "config/TextCodec.h"
#include "platform/EditorError.h"
#include "platform/SafeFile.h"

#include <algorithm>
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
    const QString where = QStringLiteral("[%1] %2").arg(section, key).trimmed();
    auto refuse = [&](const QString& why) {
        throw EditorError(QStringLiteral("%1 and cannot be stored in %2").arg(why, path));
    };
    auto checkName = [&](const QString& kind, const QString& name) {
        if (name.isEmpty())
            refuse(QStringLiteral("The %1 name of %2 is empty").arg(kind, where));
        if (hasLineBreak(name) || name.contains(QChar(0)))
            refuse(QStringLiteral("The %1 name of %2 contains a line break or NUL character").arg(kind, where));
    };
    checkName(QStringLiteral("section"), section);
    checkName(QStringLiteral("key"), key);
    if (section.contains(u']'))
        refuse(QStringLiteral("The section name of %1 contains \"]\"").arg(where));
    if (key.contains(u'='))
        refuse(QStringLiteral("The key name of %1 contains \"=\"").arg(where));
    if (key.startsWith(u';') || key.startsWith(u'['))
        refuse(QStringLiteral("The key name of %1 starts with \"%2\"").arg(where, key.left(1)));
    if (hasLineBreak(value))
        refuse(QStringLiteral("The value for %1 contains a line break").arg(where));
    if (value.contains(QChar(0)))
        refuse(QStringLiteral("The value for %1 contains a NUL character").arg(where));
}

QByteArray encodeOrRefuse(const QString& text, const QString& what, Encoding encoding, const QString& path)
{
    if (auto bytes = encode(text, encoding))
        return *std::move(bytes);
    const qsizetype at = TextCodec::firstUnencodable(text, encoding == Encoding::Utf8);
    const QString charset = encoding == Encoding::Utf8 ? QStringLiteral("UTF-8") : QStringLiteral("Windows-1252");
    throw EditorError(QStringLiteral("%1 contains the character %2, which cannot be stored in %3 (%4 text)")
                          .arg(what, describeCharacter(text, at), path, charset));
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

// What a read of the key returns from these bytes: the value decoded and cut
// to what the profile functions hand back.
std::optional<QString> valueIn(const QByteArray& bytes, Encoding encoding, const QByteArray& section,
                               const QByteArray& key)
{
    const std::optional<QByteArray> raw = IniText::valueOf(bytes, section, key);
    if (!raw)
        return std::nullopt;
    return cutToReadLength(decode(*raw, encoding));
}

} // namespace

GameConfigStore::GameConfigStore(QString path) : path_(std::move(path)) {}

QString GameConfigStore::ReadString(const QString& section, const QString& key, const QString& def) const
{
    return Find(section, key).value_or(def);
}

std::optional<QString> GameConfigStore::Find(const QString& section, const QString& key) const
{
    const std::optional<QByteArray> bytes = SafeFile::read(path_);
    if (!bytes)
        return std::nullopt;
    const Encoding encoding = encodingOf(*bytes);
    if (encoding == Encoding::Utf16)
        return std::nullopt;
    const auto sectionBytes = encode(trimmedName(section), encoding);
    const auto keyBytes = encode(trimmedName(key), encoding);
    if (!sectionBytes || !keyBytes)
        return std::nullopt;
    return valueIn(*bytes, encoding, *sectionBytes, *keyBytes);
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
    const std::optional<QByteArray> bytes = update.read();
    // A file that is there but cannot be read must not be replaced by one
    // holding only the new keys.
    if (!bytes && update.exists())
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    const QByteArray text = bytes.value_or(QByteArray());
    const Encoding encoding = encodingOf(text);
    if (encoding == Encoding::Utf16)
        throw EditorError(QStringLiteral("%1 is UTF-16 text, which this program cannot edit; nothing was changed")
                              .arg(path_));

    const QString firstWhere = QStringLiteral("[%1] %2").arg(sectionName, trimmedName(keyValues.front().first));
    const QByteArray sectionBytes =
        encodeOrRefuse(sectionName, QStringLiteral("The section name of %1").arg(firstWhere), encoding, path_);
    // Each pair is applied to the result of the one before, as separate
    // writes would apply it to the file the one before had left.
    QByteArray changed = text;
    for (const auto& [key, value] : keyValues) {
        const QString keyName = trimmedName(key);
        const QString where = QStringLiteral("[%1] %2").arg(sectionName, keyName);
        const QByteArray keyBytes =
            encodeOrRefuse(keyName, QStringLiteral("The key name of %1").arg(where), encoding, path_);
        const QByteArray valueBytes =
            encodeOrRefuse(value, QStringLiteral("The value for %1").arg(where), encoding, path_);
        // The value a read gives is what the key holds, so writing it changes
        // nothing: its quotes, its blanks and the part beyond what a read
        // hands back (a page writes back what it has just read) stay.
        if (valueIn(changed, encoding, sectionBytes, keyBytes) == value)
            continue;
        changed = IniText::withValue(changed, sectionBytes, keyBytes, valueBytes);
    }
    if (bytes && changed == text)
        return; // nothing to write, so nothing to refuse on a read-only file
    if (update.isReadOnly())
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    update.write(changed);
}

namespace {

// The file's text as a read sees it: its bytes and their encoding, with the
// names asked for in that encoding. Nothing when the file cannot be read or
// the names have no bytes in its encoding (so cannot be in it).
struct ReadView {
    QByteArray bytes;
    Encoding encoding = Encoding::Windows1252;
};

std::optional<ReadView> readView(const QString& path)
{
    std::optional<QByteArray> bytes = SafeFile::read(path);
    if (!bytes)
        return std::nullopt;
    const Encoding encoding = encodingOf(*bytes);
    if (encoding == Encoding::Utf16)
        return std::nullopt;
    return ReadView{*std::move(bytes), encoding};
}

} // namespace

QStringList GameConfigStore::FindAll(const QString& section, const QString& key) const
{
    const std::optional<ReadView> view = readView(path_);
    if (!view)
        return {};
    const auto sectionBytes = encode(trimmedName(section), view->encoding);
    const auto keyBytes = encode(trimmedName(key), view->encoding);
    if (!sectionBytes || !keyBytes)
        return {};
    QStringList values;
    for (const QByteArray& raw : IniText::valuesOf(view->bytes, *sectionBytes, *keyBytes))
        values.append(cutToReadLength(decode(raw, view->encoding)));
    return values;
}

QStringList GameConfigStore::Sections() const
{
    const std::optional<ReadView> view = readView(path_);
    QStringList names;
    if (view) {
        for (const QByteArray& name : IniText::sectionNames(view->bytes))
            names.append(decode(name, view->encoding));
    }
    return names;
}

std::optional<QList<std::pair<QString, QString>>> GameConfigStore::Entries(const QString& section) const
{
    const std::optional<ReadView> view = readView(path_);
    if (!view)
        return std::nullopt;
    const auto sectionBytes = encode(trimmedName(section), view->encoding);
    if (!sectionBytes)
        return std::nullopt;
    const auto entries = IniText::entriesOf(view->bytes, *sectionBytes);
    if (!entries)
        return std::nullopt;
    QList<std::pair<QString, QString>> decoded;
    for (const auto& [name, value] : *entries)
        decoded.append({decode(name, view->encoding), cutToReadLength(decode(value, view->encoding))});
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

    SafeFile::Update update(path_);
    const std::optional<QByteArray> bytes = update.read();
    if (!bytes && update.exists())
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    if (!update.exists() && !create)
        throw IniEditError(IniEditError::Reason::NoFile, -1, QStringLiteral("%1 does not exist").arg(path_));
    const QByteArray text = bytes.value_or(QByteArray());
    const Encoding encoding = encodingOf(text);
    if (encoding == Encoding::Utf16)
        throw EditorError(QStringLiteral("%1 is UTF-16 text, which this program cannot edit; nothing was changed")
                              .arg(path_));

    QByteArray changed = text;
    for (qsizetype i = 0; i < edits.size(); ++i) {
        const IniEdit& edit = edits[i];
        const QString sectionName = trimmedName(edit.section);
        const QString keyName = trimmedName(edit.key);
        const QString where = QStringLiteral("[%1] %2").arg(sectionName, keyName);
        QByteArray sectionBytes, keyBytes, valueBytes;
        try {
            sectionBytes = encodeOrRefuse(sectionName, QStringLiteral("The section name of %1").arg(where), encoding,
                                          path_);
            keyBytes = encodeOrRefuse(keyName, QStringLiteral("The key name of %1").arg(where), encoding, path_);
            valueBytes = encodeOrRefuse(edit.value, QStringLiteral("The value for %1").arg(where), encoding, path_);
        } catch (const EditorError& error) {
            throw refused(i, error);
        }
        if (!IniText::hasSection(changed, sectionBytes)) {
            if (!create)
                throw IniEditError(IniEditError::Reason::NoSection, i,
                                   QStringLiteral("There is no section [%1] in %2").arg(sectionName, path_));
            if (edit.kind == IniEdit::Kind::Remove || edit.kind == IniEdit::Kind::Unset)
                continue;
        }
        // Values in a list are the game's package and class names, which it
        // compares without regard to ASCII letter case.
        const QByteArray wanted = IniText::readValue(valueBytes);
        const auto isWanted = [&wanted](QByteArrayView value) { return IniText::sameText(value, wanted); };
        switch (edit.kind) {
        case IniEdit::Kind::Set:
            if (const qsizetype lines = IniText::valuesOf(changed, sectionBytes, keyBytes).size(); lines > 1) {
                IniEditError error(IniEditError::Reason::ManyLines, i,
                                   QStringLiteral("%1 has %2 lines in %3").arg(where).arg(lines).arg(path_));
                error.lines = lines;
                throw error;
            }
            [[fallthrough]];
        case IniEdit::Kind::SetFirst:
            if (valueIn(changed, encoding, sectionBytes, keyBytes) != edit.value)
                changed = IniText::withValue(changed, sectionBytes, keyBytes, valueBytes);
            break;
        case IniEdit::Kind::Add: {
            const QList<QByteArray> values = IniText::valuesOf(changed, sectionBytes, keyBytes);
            if (std::none_of(values.cbegin(), values.cend(), isWanted))
                changed = IniText::withAdded(changed, sectionBytes, keyBytes, valueBytes);
            break;
        }
        case IniEdit::Kind::Remove:
            changed = IniText::withoutLines(changed, sectionBytes, keyBytes, isWanted);
            break;
        case IniEdit::Kind::Unset:
            changed = IniText::withoutLines(changed, sectionBytes, keyBytes);
            break;
        }
    }
    Change change{text, changed};
    if (changed == text || !write)
        return change; // nothing to write, so nothing to refuse on a read-only file
    if (update.isReadOnly())
        throw EditorError(QStringLiteral("Unable to write to %1").arg(path_));
    update.write(changed);
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
