#include "platform/SafeFile.h"

#include "platform/EditorError.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRandomGenerator>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace SafeFile {
namespace {

WriteHook& writeHook()
{
    static WriteHook hook;
    return hook;
}

[[noreturn]] void fail(const QString& path)
{
    throw EditorError(QStringLiteral("Unable to write to %1").arg(path));
}

// Where a write really has to go: the end of a chain of symbolic links. A
// dangling link names a file still to be created.
QString writeTarget(const QString& path)
{
    QString target = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            return target;
        QString next = info.symLinkTarget();
        if (next.isEmpty())
            return target;
        target = next;
    }
    fail(path);
}

void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool canWrite(const QByteArray& path, int what)
{
    return ::faccessat(AT_FDCWD, path.constData(), what, AT_EACCESS) == 0;
}

// ---- this program's locks --------------------------------------------------

// The files and folders this process holds locked for an update. A read or a
// second update of one of them in the same process must not wait for the
// lock: it would wait for itself (a flock belongs to one open of the file,
// not to the process).
std::mutex heldMutex;

std::vector<std::pair<dev_t, ino_t>>& held()
{
    static std::vector<std::pair<dev_t, ino_t>> files;
    return files;
}

bool heldHere(const struct stat& st)
{
    const std::lock_guard<std::mutex> guard(heldMutex);
    return std::find(held().begin(), held().end(), std::pair(st.st_dev, st.st_ino)) != held().end();
}

void setHeld(dev_t dev, ino_t ino, bool isHeld)
{
    const std::lock_guard<std::mutex> guard(heldMutex);
    const auto at = std::find(held().begin(), held().end(), std::pair(dev, ino));
    if (isHeld && at == held().end())
        held().emplace_back(dev, ino);
    else if (!isHeld && at != held().end())
        held().erase(at);
}

bool lock(int fd, int how)
{
    while (::flock(fd, how) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// ---- plain reads and writes ------------------------------------------------

std::optional<QByteArray> readAll(int fd)
{
    QByteArray bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(qsizetype(st.st_size));
    char buffer[64 * 1024];
    off_t at = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            return bytes;
        bytes.append(buffer, qsizetype(got));
        at += got;
    }
}

bool writeAll(int fd, const QByteArray& content, off_t at = 0)
{
    const char* data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t written = ::pwrite(fd, data, size_t(std::min<qsizetype>(left, 1 << 20)), at);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        data += written;
        at += written;
        left -= written;
    }
    return true;
}

// ---- temporary files -------------------------------------------------------

// Our own temporary files are named so that they cannot be mistaken for a
// file of the user's ("User.ini.backup"): only such files are ever removed.
// (QSaveFile's fallback name, "<name>.XXXXXX", could be either.)
constexpr int randomLength = 6;

QByteArray temporaryPrefix(const QByteArray& fileName)
{
    return '.' + fileName + ".brennwerk-";
}

// Never matched by isTemporaryOf: the random part would hold a "-".
QByteArray backupPrefix(const QByteArray& fileName)
{
    return temporaryPrefix(fileName) + "backup-";
}

bool isTemporaryOf(const char* entry, const QByteArray& prefix)
{
    const size_t length = std::strlen(entry);
    if (length != size_t(prefix.size()) + randomLength || std::memcmp(entry, prefix.constData(), prefix.size()) != 0)
        return false;
    for (const char* c = entry + prefix.size(); *c; ++c) {
        if (!std::isalnum(static_cast<unsigned char>(*c)))
            return false;
    }
    return true;
}

// A writer holds its temporary file locked from creation to rename; one that
// nobody holds was left by a writer that died (a kill, a crash, a power cut).
void removeStaleTemporaries(const QByteArray& folder, const QByteArray& prefix)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, prefix))
            continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named))
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// Creates and locks a new temporary file; -1 on failure.
int createTemporary(const QByteArray& folder, const QByteArray& prefix, mode_t mode, QByteArray* name)
{
    static constexpr char randomLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = folder + '/' + prefix;
        for (int i = 0; i < randomLength; ++i)
            candidate += randomLetters[QRandomGenerator::global()->bounded(int(sizeof randomLetters - 1))];
        const int fd = ::open(candidate.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        // Where the file system has no locks, nobody else can lock either,
        // so no clean-up will take the file away.
        (void)::flock(fd, LOCK_EX);
        // A clean-up may have opened the file before the lock was taken and
        // removed it since; then start again under a new name.
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && ::stat(candidate.constData(), &named) == 0 && sameFile(opened, named)) {
            *name = std::move(candidate);
            return fd;
        }
        ::close(fd);
    }
    return -1;
}

// ---- what a replacement has to keep ----------------------------------------

// The names of the file's extended attributes (ACLs, security labels, a
// user's own); nothing when they cannot be listed.
std::optional<QList<QByteArray>> attributeNames(const QByteArray& path, int fd)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = fd >= 0 ? ::flistxattr(fd, nullptr, 0) : ::listxattr(path.constData(), nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional(QList<QByteArray>()) : std::nullopt;
        QByteArray list(qsizetype(size), '\0');
        const ssize_t got = fd >= 0 ? ::flistxattr(fd, list.data(), size_t(size))
                                    : ::listxattr(path.constData(), list.data(), size_t(size));
        if (got < 0 && errno == ERANGE)
            continue; // grew in between
        if (got < 0)
            return std::nullopt;
        list.truncate(got);
        QList<QByteArray> names = list.split('\0');
        names.removeAll(QByteArray());
        std::sort(names.begin(), names.end());
        return names;
    }
    return std::nullopt;
}

bool copyAttributes(const QByteArray& from, int to)
{
    const std::optional<QList<QByteArray>> names = attributeNames(from, -1);
    if (!names)
        return false;
    for (const QByteArray& name : *names) {
        const ssize_t size = ::getxattr(from.constData(), name.constData(), nullptr, 0);
        if (size < 0)
            return false;
        QByteArray value(qsizetype(size), '\0');
        const ssize_t got = ::getxattr(from.constData(), name.constData(), value.data(), size_t(size));
        if (got != size || ::fsetxattr(to, name.constData(), value.constData(), size_t(size), 0) != 0)
            return false;
    }
    // Nor may the new file carry one the old did not (a folder's default ACL).
    return attributeNames({}, to) == names;
}

// Gives the new file the old one's owner, group, mode and extended
// attributes; false when it cannot have all of them.
bool takeOver(int fd, const QByteArray& original, const struct stat& before)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    // Root keeps a player's file the player's; a member of the file's group
    // can give it that group.
    if ((st.st_uid != before.st_uid || st.st_gid != before.st_gid)
        && ::fchown(fd, st.st_uid != before.st_uid ? before.st_uid : uid_t(-1), before.st_gid) != 0)
        return false;
    if (!copyAttributes(original, fd))
        return false;
    // After the owner: a change of owner clears the set-id bits.
    (void)::fchmod(fd, before.st_mode & 07777);
    return ::fstat(fd, &st) == 0 && st.st_uid == before.st_uid && st.st_gid == before.st_gid
        && (st.st_mode & 07777) == (before.st_mode & 07777);
}

// Whether a new file renamed over this one could be the same file again but
// for its content, as far as can be seen before making it.
bool replaceable(const struct stat& before, const QByteArray& folder)
{
    struct stat dir {};
    if (before.st_nlink != 1 || ::stat(folder.constData(), &dir) != 0 || dir.st_dev != before.st_dev)
        return false;
    const uid_t me = ::geteuid();
    return me == 0 || me == before.st_uid;
}

} // namespace

std::optional<QByteArray> read(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    // A pipe or a device at the path would block or never end.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // A writer of this program holds its lock until its write is whole.
    if (!heldHere(st))
        (void)lock(fd, LOCK_SH);
    std::optional<QByteArray> bytes = readAll(fd);
    ::close(fd);
    return bytes;
}

bool isReadOnly(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool mayWrite(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const QString folder = QFileInfo(path).absolutePath();
        return errno == ENOENT && QFileInfo(folder).isDir() && canWrite(QFile::encodeName(folder), W_OK | X_OK);
    }
    return S_ISREG(st.st_mode) && !isReadOnly(path) && canWrite(name, W_OK);
}

void setWriteHook(WriteHook hook)
{
    writeHook() = std::move(hook);
}

Update::Update(const QString& path) : path_(path), target_(writeTarget(path))
{
    const QByteArray target = QFile::encodeName(target_);
    const QByteArray folder = QFile::encodeName(QFileInfo(target_).absolutePath());
    // A writer that waited while another replaced the file holds the lock of
    // a file that is no longer there: it locks the new one instead.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        bool onFile = true;
        int fd = ::open(target.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            // A file that cannot be opened cannot be read either, and no
            // write goes on without reading it.
            if (errno != ENOENT)
                return;
            onFile = false;
            fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                return;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || (onFile && !S_ISREG(st.st_mode))) {
            ::close(fd);
            return;
        }
        const bool already = heldHere(st);
        if (!already && !lock(fd, LOCK_EX)) {
            // A file system without locks: nobody can lock there.
            ::close(fd);
            return;
        }
        struct stat now {};
        const bool found = ::stat(target.constData(), &now) == 0;
        const bool missing = !found && errno == ENOENT;
        if (onFile ? found && sameFile(st, now) : missing) {
            lockFd_ = fd;
            lockedFile_ = onFile;
            ownLock_ = !already;
            lockDev_ = st.st_dev;
            lockIno_ = st.st_ino;
            if (ownLock_)
                setHeld(lockDev_, lockIno_, true);
            return;
        }
        ::close(fd);
    }
}

Update::~Update()
{
    if (ownLock_)
        setHeld(lockDev_, lockIno_, false);
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

std::optional<QByteArray> Update::read() const
{
    if (lockFd_ >= 0 && lockedFile_)
        return readAll(lockFd_);
    return SafeFile::read(target_);
}

bool Update::exists() const
{
    return QFileInfo::exists(target_);
}

void Update::write(const QByteArray& content)
{
    if (writeHook() && !writeHook()(path_, content))
        fail(path_);
    const QFileInfo info(target_);
    const QString folderPath = info.absolutePath();
    if (!QFileInfo(folderPath).isDir())
        fail(path_);
    const QByteArray target = QFile::encodeName(target_);
    const QByteArray folder = QFile::encodeName(folderPath);
    const QByteArray name = QFile::encodeName(info.fileName());

    struct stat before {};
    const bool existed = ::stat(target.constData(), &before) == 0;
    if (existed && !mayWrite(target_))
        fail(path_);
    const bool folderWritable = canWrite(folder, W_OK | X_OK);
    if (folderWritable)
        removeStaleTemporaries(folder, temporaryPrefix(name));

    // By replacement where it changes nothing but the content.
    if (folderWritable && (!existed || replaceable(before, folder))) {
        QByteArray temporary;
        // A new file gets the mode the umask allows, as any new file would.
        const int fd = createTemporary(folder, temporaryPrefix(name), existed ? 0600 : 0666, &temporary);
        if (fd >= 0) {
            if (writeAll(fd, content) && (!existed || takeOver(fd, target, before)) && ::fsync(fd) == 0
                && ::rename(temporary.constData(), target.constData()) == 0) {
                ::close(fd); // releases the lock only now that the name is gone
                syncFolder(folder);
                return;
            }
            // A file mounted on its own refuses the rename (EBUSY), for one.
            ::unlink(temporary.constData());
            ::close(fd);
        }
    }
    if (!existed)
        fail(path_);

    // In place, as a careful editor writes a file it must not replace.
    const int fd = ::open(target.constData(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        fail(path_);
    const std::optional<QByteArray> old = readAll(fd);
    if (!old) {
        ::close(fd);
        fail(path_);
    }
    QByteArray backup;
    int backupFd = -1;
    const auto finish = [&](bool keepBackup) {
        if (backupFd >= 0) {
            if (!keepBackup)
                ::unlink(backup.constData());
            ::close(backupFd);
        }
        ::close(fd);
    };
    if (folderWritable) {
        backupFd = createTemporary(folder, backupPrefix(name), 0600, &backup);
        if (backupFd < 0 || !writeAll(backupFd, *old) || ::fsync(backupFd) != 0) {
            finish(false);
            fail(path_);
        }
        syncFolder(folder);
    }
    // Room for a longer content first, so that a full disk stops the write
    // before it begins where the file system can tell.
    if (content.size() > old->size()
        && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(old->size()), off_t(content.size() - old->size())) != 0
        && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        finish(false);
        fail(path_);
    }
    if (writeAll(fd, content) && (content.size() >= old->size() || ::ftruncate(fd, off_t(content.size())) == 0)
        && ::fsync(fd) == 0) {
        finish(false);
        syncFolder(folder);
        return;
    }
    // The old content back; the backup stays only where even that failed.
    const bool restored = writeAll(fd, *old) && ::ftruncate(fd, off_t(old->size())) == 0 && ::fsync(fd) == 0;
    finish(!restored);
    fail(path_);
}

void write(const QString& path, const QByteArray& content)
{
    Update(path).write(content);
}

} // namespace SafeFile
