#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

// One of the game's INI files (unrealtournament.ini or user.ini). Keeps nothing
// but its path: every read reads the file as it stands, every write changes
// the file before it returns. Failures are thrown as EditorError.
class GameConfigStore {
public:
    explicit GameConfigStore(QString path);

    const QString& path() const { return path_; }

    // The key's value (at most 2047 characters), or def when the file,
    // section or key is missing. Never fails.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // The same, telling a missing key apart: nullopt.
    std::optional<QString> Find(const QString& section, const QString& key) const;

    // Sets the key; only the bytes of the key's own line change (a new key or
    // section is added). A value the file cannot hold faithfully (CR, LF, NUL,
    // a character outside the file's code page) is refused with nothing
    // written. A value equal to what ReadString of the key returns at that
    // moment is no change: nothing is written and the call succeeds, on a
    // read-only file too. Throws "Unable to write to <path>" when a change
    // cannot be written. Writers of this program never interleave their
    // read and write of a file (SafeFile::Update).
    void WriteString(const QString& section, const QString& key, const QString& value);

    // Sets several keys of one section in a single rewrite of the file: the
    // bytes come out exactly as from WriteString called for each pair in
    // order (pairs that change nothing included), but the file is written
    // once, and either all of the pairs are written or, when any of them is
    // refused or the write fails, none.
    void WriteStrings(const QString& section, const QList<std::pair<QString, QString>>& keyValues);

    // The key's value as a whole number (IniNumbers::toInt32); def when it
    // is missing or no such number.
    std::int32_t ReadInteger(const QString& section, const QString& key, std::int32_t def) const;
    void WriteInteger(const QString& section, const QString& key, std::int32_t value);

    // Numeric texts only: ReadInteger(...) != 0. "True" gives def.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // The end of the store's use, at exit. It holds no open file and no
    // unwritten bytes (every write is on disk when WriteString returns), so
    // there is nothing to flush or close.
    void release() {}

private:
    QString path_;
};
