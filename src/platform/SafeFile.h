#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>

// Whole-file reads and crash-safe whole-file writes, shared by the INI layer
// and the registry file.
//
// The game's files often lie in folders that belong to someone else than the
// user running this program (root editing /srv/ut for the game's own user,
// a player editing a shared folder). So a path is resolved once, one name at
// a time, and everything after that goes through the descriptors it gave: the
// owner of a folder on the way can swap names, but never make a write land
// somewhere else or give a file more than it had.
//
// A symbolic link on the way is followed only when its owner is the user
// running this program or also owns what it points to (the rule the kernel's
// protected_symlinks applies in sticky folders, here in every folder).
namespace SafeFile {

// The file's bytes, or nothing when it does not exist, is no plain file,
// cannot be read or is reached by a link that is not followed. Waits (a few
// seconds at most) while a writer of this program is in the middle of
// changing it, so that a read never sees half a write; a write a crash left
// half done is undone first (see Update).
std::optional<QByteArray> read(const QString& path);

// A file's state as one fstat of its locked descriptor tells it. The change
// time is the kernel's own: set at every change of the file's bytes, its
// size or its metadata, and never to a time a program chooses.
struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const Stamp&) const = default;
};

// A file's bytes as a read or a write of this program saw them.
struct Seen {
    QByteArray bytes;
    Stamp stamp;
    // Whether the stamp alone proves the bytes (see read below).
    bool settled = false;
    // Which distrustStamps() period it was read in; a stamp of an earlier
    // one proves nothing.
    quint64 period = 0;
};

// read() that spares the reading of bytes already known. `last` is an earlier
// result for the same path. The path is resolved and a journal looked for as
// by read(); when `last` is settled, the file has its stamp and there is no
// journal, last comes back without the lock and without a read (why that is
// safe: in read()). Otherwise it reads as read() does, under the lock, after
// the journal's recovery; when the bytes are last's, those come back with
// the stamp of now (`unchanged` is set in both cases).
//
// A result is settled when the file's change time lay clearly (two ticks of
// the clock the kernel stamps files with) before its bytes were read, the
// stamp was the same before and after the read, the bytes were as many as
// the stamp's size, and the file system stamps times from this machine's
// clock in nanoseconds. Any later change of the file then gives a change
// time of after the read began, so another stamp: a file with the stamp of a
// settled result has its bytes. A change within the same tick as the read
// (the racy case) may leave the stamp as it was, so such a result is checked
// against the bytes again at the next read.
std::optional<Seen> read(const QString& path, const Seen* last, bool* unchanged = nullptr);

// What is at the path, as read() would read it, but never recovering a
// write a crash left unfinished and never taking more than a shared lock:
// what a dry run may do. Throws EditorError "Unable to write to <path>:
// <why>" when the path is refused, as Update does.
struct Look {
    std::optional<QByteArray> bytes;
    bool exists = false; // something is at the path, readable or not
};
Look look(const QString& path);

// For the rest of the process, reads look and never recover (a dry run).
void setLookOnly(bool lookOnly);

// A kept stamp proves the bytes only until this is called: after it, the
// next read of each file compares its bytes again. Called before a page
// reads its keys, so that a change no stamp can show (a file that another
// program changes through a shared memory map) is never shown for longer
// than one show of a page.
void distrustStamps();

// Why the path may not be used at all (a link that is not followed, a loop of
// links), as one sentence; nothing when it may.
std::optional<QString> refusalOf(const QString& path);

// Makes the folder and the folders on its way that are missing, with mode
// (less the umask), by the same rule as files: a link on the way is followed
// only as resolving a file follows it, and nothing is created through a link
// to a folder that is not there. Throws EditorError "Unable to write to
// <folder>: <why>" when a part cannot be made or is no folder.
void makeFolders(const QString& folder, mode_t mode = 0700);

// Whether write() may change the file, as far as permissions tell: a plain
// file that carries a write permission bit and that this process may write;
// for a file that does not exist yet, a folder this process may make files in.
// A file without any write permission bit is never changed, even by root.
bool mayWrite(const QString& path);

// One read-change-write of a file, serialised with every writer of this
// program in another process for as long as the object lives: create it,
// read() the file as it stands, work out the new content and write() it.
// (Within one process the program's one thread makes one update after the
// other; a read or an update of a file this process holds does not wait for
// itself.) Other programs take no part in this; they may still change the
// file between two such updates, and the next update reads what they left.
//
// The lock is an advisory lock (flock) on the file itself, or on its folder
// while the file does not exist yet. A file replaced while a writer waits for
// its lock is locked anew. The wait is bounded: after lockWaitSeconds the
// update gives up with an error naming the file and, where the system tells,
// the process that holds it.
class Update {
public:
    // Throws EditorError "Unable to write to <path>: <why>" when the path is
    // refused or its lock stays taken.
    explicit Update(const QString& path);
    ~Update();
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;

    // The file as it stands now; nothing when it does not exist or cannot be
    // read.
    std::optional<QByteArray> read() const;
    // The same with its stamp, settled as for SafeFile::read.
    std::optional<Seen> readSeen() const;
    // After write(): the bytes written, never settled (the write's own
    // change time lies within the tick of now, so its stamp could prove
    // nothing): the next read compares the bytes.
    std::optional<Seen> written() const;
    // Whether something is at the path (a file that cannot be read included).
    bool exists() const;
    // Whether the file is there and carries no write permission bit at all.
    bool isReadOnly() const;

    // Replaces the file's content. Where it changes nothing but the content,
    // by replacement: a temporary file ".<name>.brennwerk-XXXXXX" in the same
    // folder, flushed to disk, given the file's owner, group, mode and
    // extended attributes, and renamed over the original, so that a crash
    // leaves the old or the new file. Where a replacement would fail or
    // would change more than the content (a folder the user cannot write, a
    // file mounted on its own, a second hard link, an owner, group, mode or
    // attribute the writer cannot give a new file), in place: first a
    // complete, synced copy of the old and the new content (the journal,
    // ".<name>.brennwerk-journal" beside the file, else in the user's state
    // folder), then the new content over the old, synced, and the journal
    // removed. A process killed in mid-write leaves the journal, and the next
    // access to the file puts the old content back from it, as long as the
    // file is still as the write left it.
    //
    // Never gives the file set-user-ID or set-group-ID bits or file
    // capabilities. A file that does not exist is created when its folder
    // exists, with the mode the umask allows, never through a link. On any
    // failure throws EditorError "Unable to write to <path>" (with the
    // cause where it is not a plain lack of permission), the file as it was
    // and nothing of this write left behind.
    void write(const QByteArray& content);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// An update of its own: the file's content replaced by content.
void write(const QString& path, const QByteArray& content);

// How long a writer waits for another's lock before it gives up.
constexpr int lockWaitSeconds = 10;

// What the next access to a file did about a write that a crash left
// unfinished, or about a file that looks like the journal of one and is not
// believed.
struct Recovery {
    enum class Outcome {
        PutBack,    // the old content is back in the file
        Kept,       // the file was changed since; the old content is in copy
        NotPutBack, // it could not be put back (why); the journal is copy
        LeftAlone,  // copy is not believed (why) and changes nothing
    };
    enum class Why {
        Nothing,
        NotWritable,           // this user may not write the file
        ChangedSince,          // and the old content could not be kept (error)
        SystemError,           // error
        NotAPlainFile,         // a link, a pipe, a file with several names
        OthersMayHaveMadeIt,   // it lies where another user may make files
        NotAJournalOfThisFile, // incomplete, damaged, or of another file
        TooLarge,              // larger than two contents of the file can be
    };
    Outcome outcome = Outcome::PutBack;
    Why why = Why::Nothing;
    int error = 0; // errno, where there is one
    QString file;
    QString copy;
};
// The line that tells the user about a recovery on the command line.
QString describe(const Recovery& recovery);
// Who hears about recoveries: by default a line on stderr; the window shows
// an information box instead. A journal that stays is told about once per
// process.
using RecoveryReport = std::function<void(const Recovery&)>;
void setRecoveryReport(RecoveryReport report);

// Tests watch the order of writes, make a chosen write fail or hold a write
// between its read and its first change through this hook: it sees every
// write before it happens; returning false makes that write fail as a full
// disk would. Empty: no hook.
using WriteHook = std::function<bool(const QString& path, const QByteArray& content)>;
void setWriteHook(WriteHook hook);

// Tests hold an in-place write after its journal is complete and before its
// first byte reaches the file through this hook. Empty: no hook.
using JournalHook = std::function<void(const QString& path)>;
void setJournalHook(JournalHook hook);

} // namespace SafeFile
