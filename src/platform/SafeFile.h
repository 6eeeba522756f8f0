#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <functional>
#include <optional>

// Whole-file reads and crash-safe whole-file writes, shared by the INI layer
// and the registry file.
namespace SafeFile {

// The file's bytes, or nothing when it does not exist, is no plain file or
// cannot be read. Waits while a writer of this program (any process) is in
// the middle of changing it, so that a read never sees half a write.
std::optional<QByteArray> read(const QString& path);

// True when the file exists and carries no write permission bit at all. Such a
// file is never changed, even by root.
bool isReadOnly(const QString& path);

// Whether write() may change the file, as far as permissions tell: a plain
// file (through a symbolic link, its target) that is not read-only and that
// this process may write; for a file that does not exist yet, a folder this
// process may make files in.
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
// its lock is locked anew, so the lock survives the replacement. Nothing is
// created for it: no lock file is ever left behind.
class Update {
public:
    // A symbolic link is followed: the update is of the file it names.
    explicit Update(const QString& path);
    ~Update();
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;

    // The file as it stands now, as read() above gives it.
    std::optional<QByteArray> read() const;
    // Whether something is at the path (a file that cannot be read included).
    bool exists() const;

    // Replaces the file's content. Where it changes nothing but the content,
    // by replacement: a temporary file in the same folder, flushed to disk and
    // renamed over the original, so that a crash leaves the old or the new
    // file. Where a replacement would fail or would change more than the
    // content (a folder the user cannot write, a file mounted on its own, a
    // second hard link, an owner, group, mode or extended attribute the
    // writer cannot give a new file), in place: the old content is first
    // copied to a backup file in the folder where the folder can be written,
    // the new content is written over the old and synced, and the backup is
    // removed; a failure in between puts the old content back. A file that
    // does not exist is created when its folder exists, with the mode the
    // umask allows. On any failure throws EditorError "Unable to write to
    // <path>", the file as it was.
    //
    // The temporary file is ".<name>.brennwerk-XXXXXX" (six letters or
    // digits) beside the file, locked while it is written. A process killed in
    // mid-write leaves it behind; the next write to the same file removes
    // every such file that no living writer holds locked. The backup of an
    // in-place write is ".<name>.brennwerk-backup-XXXXXX": only a writer
    // killed in the middle of an in-place write leaves one, and it is then
    // the old content to restore by hand, so no write ever removes it.
    void write(const QByteArray& content);

private:
    QString path_;
    QString target_;
    int lockFd_ = -1;
    bool lockedFile_ = false; // the lock is on the file, not on its folder
    bool ownLock_ = false;    // not a lock this process held already
    dev_t lockDev_ = 0;
    ino_t lockIno_ = 0;
};

// An update of its own: the file's content replaced by content.
void write(const QString& path, const QByteArray& content);

// Tests watch the order of writes and make a chosen write fail through this
// hook: it sees every write before it happens; returning false makes that
// write fail as a full disk would. Empty: no hook.
using WriteHook = std::function<bool(const QString& path, const QByteArray& content)>;
void setWriteHook(WriteHook hook);

} // namespace SafeFile
