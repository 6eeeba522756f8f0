#include "platform/RegistryFile.h"

#include "platform/EditorError.h"
#include "platform/SafeFile.h"
#include "platform/WinePaths.h"
#include "platform/WineRegText.h"
#include "platform/WineRegView.h"
#include "platform/WineServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace {

// Far beyond any real system.reg; a bigger file is not read at all.
constexpr qint64 maxFileSize = qint64(256) * 1024 * 1024;

// The key where a 32-bit program finds it (the game and its installer are
// 32-bit programs): in a 64-bit prefix through Wine's 32-bit view.
std::optional<WineRegText::ViewLookup> lookUpAs32BitProgram(const QByteArray& bytes, const QStringList& key)
{
    return WineRegText::lookUpInView(bytes, key, WineRegText::isWin64(bytes));
}

} // namespace

RegistryFile::Loaded RegistryFile::load(const SafeFile::Update* update) const
{
    const QFileInfo info(path_);
    if (!info.exists())
        return {};
    if (!info.isFile() || info.size() > maxFileSize)
        return {true, std::nullopt};
    std::optional<QByteArray> bytes = update ? update->read() : SafeFile::read(path_);
    if (!bytes)
        return {QFileInfo::exists(path_), std::nullopt};
    // An empty file holds nothing that could be lost: treat it as a new one.
    if (bytes->isEmpty())
        bytes = WineRegText::newFileHeader();
    return {true, std::move(bytes)};
}

RegistryFile::RegistryFile(QString path)
    : path_(std::move(path)),
      winePrefix_(WinePaths::prefixOfRegistryFile(path_)),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

std::optional<QString> RegistryFile::localPathOf(const QString& value) const
{
    if (!winePrefix_)
        return value;
    if (WinePaths::isNetworkPath(value))
        return std::nullopt;
    if (!WinePaths::isWindowsPath(value))
        return value;
    return WinePaths::toUnix(*winePrefix_, value);
}

QString RegistryFile::windowsPathOf(const QString& path, const QString& registered) const
{
    if (!registered.isEmpty()) {
        const std::optional<QString> local = localPathOf(registered);
        if (local && WinePaths::sameFolder(*local, path))
            return registered;
    }
    if (!winePrefix_)
        return path;
    return WinePaths::toWindows(*winePrefix_, path).value_or(path);
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

// Whether a write could change the file, asked up front because opening a
// key asks for write access. A file that may be written is, in place where
// its folder cannot be written.
bool RegistryFile::writable() const
{
    // The file and maybe its folders are still to be made: the nearest
    // folder that exists has to take them.
    QString nearest = QFileInfo(path_).absoluteFilePath();
    while (!QFileInfo::exists(nearest) && !QFileInfo::exists(QFileInfo(nearest).absolutePath())) {
        const QString parent = QFileInfo(nearest).absolutePath();
        if (parent == nearest)
            return false;
        nearest = parent;
    }
    return SafeFile::mayWrite(nearest);
}

bool RegistryFile::OpenKey(const QString& path, bool canCreate)
{
    return open(path, canCreate, true);
}

bool RegistryFile::OpenKeyReadOnly(const QString& path)
{
    return open(path, false, false);
}

bool RegistryFile::open(const QString& path, bool canCreate, bool forWriting)
{
    CloseKey();
    const Loaded loaded = load();
    if (loaded.exists && !loaded.bytes)
        return false;
    using State = WineRegText::ViewLookup::State;
    QStringList key = hivePath(path);
    std::optional<WineRegText::ViewLookup> found;
    if (loaded.bytes) {
        found = lookUpAs32BitProgram(*loaded.bytes, key);
        if (!found)
            return false; // not a Wine registry file
        if (found->state == State::Unreachable || (!canCreate && found->state != State::Exists))
            return false;
        key = found->key;
    } else if (!canCreate) {
        return false;
    }
    if (forWriting && !writable())
        return false;
    openKey_ = key;
    openForWriting_ = forWriting;
    if (found)
        valuesCache_ = CachedValues{*loaded.bytes, key, std::move(found->values)};
    return true;
}

std::optional<WineRegText::Value> RegistryFile::openKeyValue(const QString& name) const
{
    const Loaded loaded = load();
    if (!loaded.bytes)
        return std::nullopt;
    if (!valuesCache_ || valuesCache_->key != *openKey_ || valuesCache_->bytes != *loaded.bytes) {
        std::optional<WineRegText::Lookup> found = WineRegText::lookUp(*loaded.bytes, {*openKey_});
        if (!found)
            return std::nullopt;
        valuesCache_ = CachedValues{*loaded.bytes, *openKey_, std::move(found->values[0])};
    }
    const WineRegText::Value* value = WineRegText::lastNamed(valuesCache_->values, name);
    return value ? std::optional<WineRegText::Value>(*value) : std::nullopt;
}

std::optional<QString> RegistryFile::ReadString(const QString& name) const
{
    if (!openKey_)
        throw EditorError(QStringLiteral("Failed to get data for '%1'").arg(name));
    const std::optional<WineRegText::Value> value = openKeyValue(name);
    if (!value)
        return std::nullopt;
    if (!value->text)
        throw EditorError(QStringLiteral("Invalid data type for '%1'").arg(name));
    return value->text;
}

bool RegistryFile::ValueExists(const QString& name) const
{
    return openKey_ && openKeyValue(name).has_value();
}

void RegistryFile::WriteString(const QString& name, const QString& value)
{
    const auto fail = [&name]() {
        throw EditorError(QStringLiteral("Failed to set data for '%1'").arg(name));
    };
    // The file keeps every text up to its first NUL only.
    if (!openKey_ || !openForWriting_ || name.contains(QChar(0)) || value.contains(QChar(0)))
        fail();
    // Only a change is written: a page that writes back what it found
    // touches nothing, and needs no Wine to be ended for it. What stands
    // must be what the write stores, though, not only read the same here:
    // an expandable string (REG_EXPAND_SZ, whose "%...%" other programs
    // expand) or data past a NUL becomes a plain string, as RegSetValueEx
    // with REG_SZ makes it.
    if (const std::optional<WineRegText::Value> stored = openKeyValue(name);
        stored && stored->plainText && stored->text == value)
        return;
    refuseWhileWineRuns();
    if (!QFileInfo::exists(path_) && !QDir().mkpath(QFileInfo(path_).absolutePath()))
        fail();
    try {
        // Read and written under one lock, so that another writer of this
        // program cannot slip its change in between and lose it.
        SafeFile::Update update(path_);
        const Loaded loaded = load(&update);
        if (loaded.exists && !loaded.bytes)
            fail();
        const std::optional<WineRegText::Document> document =
            WineRegText::Document::parse(loaded.bytes ? *loaded.bytes : WineRegText::newFileHeader());
        if (!document || document->cutShort())
            fail();
        update.write(document->withStringValue(*openKey_, name, value, clock_()));
    } catch (const EditorError& error) {
        // A refusal with a cause (a limit, a link, a lock) says the file and why.
        if (error.message().startsWith(QStringLiteral("Unable to write to %1: ").arg(path_)))
            throw EditorError(QStringLiteral("Failed to set data for '%1' (%2)").arg(name, error.message()));
        fail();
    }
}

bool RegistryFile::KeyExists(const QString& path) const
{
    const Loaded loaded = load();
    if (!loaded.bytes)
        return false;
    const std::optional<WineRegText::ViewLookup> found = lookUpAs32BitProgram(*loaded.bytes, hivePath(path));
    return found && found->state == WineRegText::ViewLookup::State::Exists;
}

void RegistryFile::refuseWhileWineRuns() const
{
    const QString prefix = winePrefix_ ? *winePrefix_ : QFileInfo(path_).absolutePath();
    if (WineServer::runsFor(prefix))
        throw EditorError(QStringLiteral("Wine läuft noch (wineserver für %1). Bitte beende das Spiel und alle "
                                         "Wine-Programme und versuche es dann erneut.")
                              .arg(QDir::toNativeSeparators(prefix)));
}

void RegistryFile::CloseKey()
{
    openKey_.reset();
}
