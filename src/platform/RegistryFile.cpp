#include "platform/RegistryFile.h"

#include "platform/EditorError.h"
#include "platform/SafeFile.h"
#include "platform/WineRegText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

// Far beyond any real system.reg; a bigger file is not read at all.
constexpr qint64 kMaxFileSize = qint64(256) * 1024 * 1024;

bool canWriteIn(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

} // namespace

RegistryFile::Loaded RegistryFile::load() const
{
    const QFileInfo info(path_);
    if (!info.exists())
        return {};
    if (!info.isFile() || info.size() > kMaxFileSize)
        return {true, nullptr};
    std::optional<QByteArray> bytes = SafeFile::read(path_);
    if (!bytes)
        return {QFileInfo::exists(path_), nullptr};
    // An empty file holds nothing that could be lost: treat it as a new one.
    if (bytes->isEmpty())
        bytes = WineRegText::newFileHeader();
    if (!parsed_ || parsed_->bytes() != *bytes) {
        std::optional<WineRegText::Document> document = WineRegText::Document::parse(*bytes);
        if (!document)
            return {true, nullptr};
        parsed_ = std::make_shared<const WineRegText::Document>(std::move(*document));
    }
    return {true, parsed_};
}

RegistryFile::RegistryFile(QString path)
    : path_(std::move(path)), clock_([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

void RegistryFile::setClock(std::function<qint64()> msecsSinceEpoch)
{
    clock_ = std::move(msecsSinceEpoch);
}

void RegistryFile::SetRootKey(RegistryRoot root)
{
    root_ = root;
}

QStringList RegistryFile::hivePath(const QString& path) const
{
    QStringList names;
    if (root_ == RegistryRoot::ClassesRoot)
        names << QStringLiteral("Software") << QStringLiteral("Classes");
    names += path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    // A real registry always holds these two keys, so a new key below them
    // takes their usual spelling even when the file does not name them yet.
    if (!names.isEmpty() && names[0].compare(QLatin1String("Software"), Qt::CaseInsensitive) == 0) {
        names[0] = QStringLiteral("Software");
        if (names.size() > 1 && names[1].compare(QLatin1String("Classes"), Qt::CaseInsensitive) == 0)
            names[1] = QStringLiteral("Classes");
    }
    return names;
}

// Whether a write could replace the file: the same test the crash-safe write
// makes, done up front because opening a key asks for write access.
bool RegistryFile::writable() const
{
    const QFileInfo info(path_);
    if (info.exists()) {
        const QString target = info.canonicalFilePath();
        if (target.isEmpty() || !info.isFile() || SafeFile::isReadOnly(target)
            || ::access(QFile::encodeName(target).constData(), W_OK) != 0)
            return false;
        return canWriteIn(QFileInfo(target).absolutePath());
    }
    // The file and maybe its folders are still to be made: the nearest folder
    // that exists has to take them.
    QString folder = info.absolutePath();
    while (!QFileInfo::exists(folder)) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            return false;
        folder = parent;
    }
    return QFileInfo(folder).isDir() && canWriteIn(folder);
}

bool RegistryFile::OpenKey(const QString& path, bool canCreate)
{
    CloseKey();
    const QStringList key = hivePath(path);
    const Loaded loaded = load();
    if (loaded.exists && !loaded.document)
        return false;
    if (!canCreate && !(loaded.document && loaded.document->keyExists(key)))
        return false;
    if (!writable())
        return false;
    openKey_ = key;
    return true;
}

std::optional<QString> RegistryFile::ReadString(const QString& name) const
{
    if (!openKey_)
        throw EditorError(QStringLiteral("Failed to get data for '%1'").arg(name));
    const Loaded loaded = load();
    if (!loaded.document)
        return std::nullopt;
    const WineRegText::Value* value = loaded.document->findValue(*openKey_, name);
    if (!value)
        return std::nullopt;
    if (!value->text)
        throw EditorError(QStringLiteral("Invalid data type for '%1'").arg(name));
    return value->text;
}

bool RegistryFile::ValueExists(const QString& name) const
{
    if (!openKey_)
        return false;
    const Loaded loaded = load();
    return loaded.document && loaded.document->findValue(*openKey_, name);
}

void RegistryFile::WriteString(const QString& name, const QString& value)
{
    const auto fail = [&name]() {
        throw EditorError(QStringLiteral("Failed to set data for '%1'").arg(name));
    };
    // The file keeps every text up to its first NUL only.
    if (!openKey_ || name.contains(QChar(0)) || value.contains(QChar(0)))
        fail();
    const Loaded loaded = load();
    if (loaded.exists && !loaded.document)
        fail();
    const QByteArray content = loaded.document
        ? loaded.document->withStringValue(*openKey_, name, value, clock_())
        : WineRegText::Document::parse(WineRegText::newFileHeader())
              ->withStringValue(*openKey_, name, value, clock_());
    if (!loaded.exists && !QDir().mkpath(QFileInfo(path_).absolutePath()))
        fail();
    try {
        SafeFile::write(path_, content);
    } catch (const EditorError&) {
        fail();
    }
}

bool RegistryFile::KeyExists(const QString& path) const
{
    const Loaded loaded = load();
    return loaded.document && loaded.document->keyExists(hivePath(path));
}

void RegistryFile::CloseKey()
{
    openKey_.reset();
}
