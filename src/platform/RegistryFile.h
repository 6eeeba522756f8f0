#pragma once

#include "platform/GameRegistry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace WineRegText {
class Document;
}

// The registry kept in one file in Wine's text format, laid out like Wine's
// system.reg: keys relative to the machine hive, HKEY_CLASSES_ROOT being its
// Software\Classes. Every operation reads the file as it stands, since Wine or
// another program may change it between two calls; every write replaces the
// file crash-safely and changes only the lines of the value written and the
// time stamp of its key. A file that is not a Wine registry is never written.
//
// Opening with canCreate creates nothing yet: the key block is added to the
// file by the next WriteString. Until then the key is not in the file, so
// KeyExists does not see it and ReadString finds no values in it.
class RegistryFile : public GameRegistry {
public:
    explicit RegistryFile(QString path);

    const QString& path() const { return path_; }

    // The clock that stamps written keys, in milliseconds since 1970.
    void setClock(std::function<qint64()> msecsSinceEpoch);

    void SetRootKey(RegistryRoot root) override;
    bool OpenKey(const QString& path, bool canCreate) override;
    std::optional<QString> ReadString(const QString& name) const override;
    bool ValueExists(const QString& name) const override;
    void WriteString(const QString& name, const QString& value) override;
    bool KeyExists(const QString& path) const override;
    void CloseKey() override;

private:
    struct Loaded {
        bool exists = false;
        // Null when the file exists but is not a readable Wine registry.
        std::shared_ptr<const WineRegText::Document> document;
    };

    Loaded load() const;
    QStringList hivePath(const QString& path) const;
    bool writable() const;

    QString path_;
    RegistryRoot root_ = RegistryRoot::LocalMachine;
    std::optional<QStringList> openKey_;
    std::function<qint64()> clock_;
    // The last file parsed. Every operation still reads the file; the parse
    // is reused only when the bytes read are exactly the same.
    mutable std::shared_ptr<const WineRegText::Document> parsed_;
};
