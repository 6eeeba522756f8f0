#pragma once

#include <QString>

#include <optional>

enum class RegistryRoot { LocalMachine, ClassesRoot };

// The operations the program needs of the Windows registry. Key paths are
// absolute below the root and written the Windows way
// ("\Software\Unreal Technology\Installed Apps\UnrealTournament"); names of
// keys and values match regardless of ASCII letter case. At most one key is
// open at a time; reads and writes go to it.
class GameRegistry {
public:
    virtual ~GameRegistry() = default;

    virtual void SetRootKey(RegistryRoot root) = 0;

    // Opens the key for reading and writing. Without canCreate it succeeds
    // only when the key exists (and can be written); with canCreate missing
    // keys along the path are created (in the store at the next write).
    // Returns false on failure; any key open before is closed either way.
    virtual bool OpenKey(const QString& path, bool canCreate) = 0;

    // Opens an existing key for reading only, as a reader who may not write
    // the registry can; a WriteString to it fails. Returns false when the
    // key is missing; any key open before is closed either way.
    virtual bool OpenKeyReadOnly(const QString& path) = 0;

    // The open key's value as text; nullopt when the value is missing.
    // The empty name is the key's default value. A value that is not text
    // throws EditorError. Throws when no key is open.
    virtual std::optional<QString> ReadString(const QString& name) const = 0;

    // True when the open key holds a value of that name, of any type.
    virtual bool ValueExists(const QString& name) const = 0;

    // Sets a text value of the open key and stores it at once (crash-safe,
    // every other key and line kept). Throws EditorError
    // "Failed to set data for '<name>'" on any failure, nothing written.
    virtual void WriteString(const QString& name, const QString& value) = 0;

    // Whether a key exists below the current root, without opening it.
    virtual bool KeyExists(const QString& path) const = 0;

    virtual void CloseKey() = 0;
};
