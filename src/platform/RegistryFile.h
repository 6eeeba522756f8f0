#pragma once

#include "platform/GameRegistry.h"
#include "platform/SafeFile.h"
#include "platform/WineRegText.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// The registry kept in one file in Wine's text format, laid out like Wine's
// system.reg: keys relative to the machine hive, HKEY_CLASSES_ROOT being its
// Software\Classes. Every operation reads the file as it stands, since Wine or
// another program may change it between two calls; every write changes the
// file crash-safely and changes only the lines of the value written and the
// time stamp of its key. A file that is not a Wine registry is never written.
//
// Opening with canCreate creates nothing yet: the key block is added to the
// file by the next WriteString. Until then the key is not in the file, so
// KeyExists does not see it and ReadString finds no values in it.
//
// The file may be a Wine prefix's own system.reg. Wine's server keeps the
// registry in memory while any Wine program runs and writes it back later,
// which would undo a write of ours; so while a wineserver runs for the folder
// of the file, every WriteString that would change the file is refused
// before anything is written.
//
// The game and its installer are 32-bit programs: in a 64-bit prefix every
// key is read, written and made where a 32-bit program has it (Wine's 32-bit
// view, below Wow6432Node and through Wine's link keys; see
// WineRegText::lookUpInView in WineRegView.h), so the keys of one
// registration all stay in the view the game uses.
class RegistryFile : public GameRegistry {
public:
    explicit RegistryFile(QString path);

    // The clock that stamps written keys, in milliseconds since 1970.
    void setClock(std::function<qint64()> msecsSinceEpoch);

    void SetRootKey(RegistryRoot root) override;
    bool OpenKey(const QString& path, bool canCreate) override;
    bool OpenKeyReadOnly(const QString& path) override;
    std::optional<QString> ReadString(const QString& name) const override;
    bool ValueExists(const QString& name) const override;
    void WriteString(const QString& name, const QString& value) override;
    bool KeyExists(const QString& path) const override;
    void CloseKey() override;
    QString path() const override { return path_; }
    std::optional<QString> winePrefix() const override { return winePrefix_; }
    std::optional<QString> localPathOf(const QString& value) const override;
    QString windowsPathOf(const QString& path, const QString& registered = QString()) const override;

private:
    struct Loaded {
        bool exists = false;
        // Nothing when the file exists but cannot be read.
        std::optional<QByteArray> bytes;
    };

    // The file as it stands (read through the update's lock when one is
    // given); a missing file is not read, an empty one reads as a new
    // registry.
    Loaded load(const SafeFile::Update* update = nullptr) const;
    // The open key's value of that name as the file holds it now.
    std::optional<WineRegText::Value> openKeyValue(const QString& name) const;
    QStringList hivePath(const QString& path) const;
    bool writable() const;
    bool open(const QString& path, bool canCreate, bool forWriting);
    void refuseWhileWineRuns() const;

    QString path_;
    std::optional<QString> winePrefix_;
    RegistryRoot root_ = RegistryRoot::LocalMachine;
    std::optional<QStringList> openKey_;
    bool openForWriting_ = false;
    std::function<qint64()> clock_;
    // A cache of the open key's values as last read, and the file they were
    // read from: every read still reads the file, and reuses them only when
    // its bytes are exactly the same.
    struct CachedValues {
        QByteArray bytes;
        QStringList key;
        std::vector<WineRegText::Value> values;
    };
    mutable std::optional<CachedValues> valuesCache_;
};
