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

    // Sets a text value (REG_SZ) of the open key and stores it at once
    // (crash-safe, every other key and line kept). A value that holds that
    // text as REG_SZ already is no change: nothing is written and the call
    // succeeds; the same text of another type (an expandable string, say)
    // becomes REG_SZ. Throws
    // EditorError "Failed to set data for '<name>'" on any failure, nothing
    // written.
    virtual void WriteString(const QString& name, const QString& value) = 0;

    // Whether a key exists below the current root, without opening it.
    virtual bool KeyExists(const QString& path) const = 0;

    virtual void CloseKey() = 0;

    // The file the registry is kept in, as messages name it.
    virtual QString path() const = 0;

    // The Wine prefix whose machine hive the registry is, if it is one; its
    // path values then name Windows paths ("C:\Games\UT").
    virtual std::optional<QString> winePrefix() const = 0;

    // A path value of the registry as a folder on this machine; nothing for
    // one that names no folder here (in a Wine prefix a drive the prefix does
    // not have, or a network path). Outside a prefix a path stays as it is.
    virtual std::optional<QString> localPathOf(const QString& value) const = 0;

    // A folder on this machine as a path value of the registry; where the
    // prefix has no drive for it, it stays as it is. `registered`, a path
    // value the registry holds already, is kept as it is spelled when it
    // still names the same folder (a symbolic link to the game, a folder
    // another drive maps too).
    virtual QString windowsPathOf(const QString& path, const QString& registered = QString()) const = 0;
};
