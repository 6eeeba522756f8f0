#pragma once

#include "platform/EditorError.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <utility>

// One change of several that GameConfigStore::Edit makes in one write.
struct IniEdit {
    enum class Kind {
        Set,      // the key's one line (refused when it has several)
        SetFirst, // the key's first line, as WriteString sets it
        Add,      // one more line of a repeated key, unless the value is there
        Remove,   // every line of the key with that value
        Unset,    // every line of the key
    };
    Kind kind = Kind::Set;
    QString section;
    QString key;
    QString value; // not used by Unset
};

// Why Edit refused, for a caller that words it itself. message() is a plain
// sentence too.
class IniEditError : public EditorError {
public:
    enum class Reason {
        NoFile,    // the file does not exist and create was not asked for
        NoSection, // the edit's section does not exist
        ManyLines, // Set on a key with `lines` lines in the section
        Refused,   // a name or value the file cannot hold, or a failed write
    };
    IniEditError(Reason reason, qsizetype edit, QString message)
        : EditorError(std::move(message)), reason(reason), edit(edit)
    {
    }
    Reason reason;
    qsizetype edit;       // the index of the edit refused; -1 for the whole
    qsizetype lines = 0;  // ManyLines
};

// One of the game's INI files (unrealtournament.ini or user.ini). Keeps nothing
// but its path: every read gives the file as it stands, every write changes
// the file before it returns. Failures are thrown as EditorError. (The last
// parse of each file is kept for the process, for all stores of that path,
// and used only while the file provably holds the bytes it was made from.)
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

    // Every value of the key in the section (the first section of its name),
    // in the order of the file; empty when there is none.
    QStringList FindAll(const QString& section, const QString& key) const;
    // The names of the sections, in the order of the file, each once.
    QStringList Sections() const;
    // The same one by one, for a file of millions of sections; without
    // those longer than `longest` characters, which are not even decoded.
    void ForEachSection(const std::function<void(const QString& name)>& visit,
                        qsizetype longest = std::numeric_limits<qsizetype>::max()) const;
    // The key lines of the section in order, names and values as a read
    // gives them; nothing when the file or the section is missing.
    std::optional<QList<std::pair<QString, QString>>> Entries(const QString& section) const;

    // Makes the edits in order, each on the text the one before left, in one
    // read-change-write of the file: all of them or, when any is refused,
    // none. Values are compared as the game compares the names in its lists
    // (ASCII letter case ignored). Without `create`, a file or section that
    // does not exist is refused (IniEditError), whatever the edit: more often
    // than not it is a typo. With `create`, Set and Add make them, and Remove
    // and Unset find nothing there to change. With write off,
    // nothing is written (a dry run). Returns the file's bytes before and
    // after (equal: no change, and nothing written). Throws IniEditError for
    // a refused edit and EditorError when the change cannot be written.
    struct Change {
        QByteArray before;
        QByteArray after;
    };
    Change Edit(const QList<IniEdit>& edits, bool create, bool write = true);

    // The file's bytes as text, decoded as a read decodes them.
    static QString textOf(QByteArrayView bytes);

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
