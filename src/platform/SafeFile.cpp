#include "platform/SafeFile.h"

#include "platform/EditorError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Our own temporary files are named so that they cannot be mistaken for a
// file of the user's ("User.ini.backup"): only such files are ever removed.
// (QSaveFile's fallback name, "<name>.XXXXXX", could be either.)
constexpr int kRandomLength = 6;

QByteArray temporaryPrefix(const QByteArray& fileName)
{
    return '.' + fileName + ".brennwerk-";
}

bool isTemporaryOf(const char* entry, const QByteArray& prefix)
{
    const size_t length = std::strlen(entry);
    if (length != size_t(prefix.size()) + kRandomLength || std::memcmp(entry, prefix.constData(), prefix.size()) != 0)
        return false;
    for (const char* c = entry + prefix.size(); *c; ++c) {
        if (!std::isalnum(static_cast<unsigned char>(*c)))
            return false;
    }
    return true;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = folder + '/' + prefix;
        for (int i = 0; i < kRandomLength; ++i)
            candidate += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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

bool writeAll(int fd, const QByteArray& content)
{
    const char* data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(std::min<qsizetype>(left, 1 << 20)));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

std::optional<QByteArray> read(const QString& path)
{
    // A pipe or a device at the path would block or never end.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool isReadOnly(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void setWriteHook(WriteHook hook)
{
    writeHook() = std::move(hook);
}

void write(const QString& path, const QByteArray& content)
{
    if (writeHook() && !writeHook()(path, content))
        fail(path);
    const QString target = writeTarget(path);
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir())
        fail(path);

    const QByteArray targetName = QFile::encodeName(target);
    struct stat before {};
    const bool existed = ::stat(targetName.constData(), &before) == 0;
    if (existed && (!S_ISREG(before.st_mode) || isReadOnly(target)))
        fail(path);

    const QByteArray folderName = QFile::encodeName(folder);
    const QByteArray prefix = temporaryPrefix(QFile::encodeName(info.fileName()));
    removeStaleTemporaries(folderName, prefix);

    QByteArray temporary;
    // A new file gets the mode the umask allows, as any new file would.
    const int fd = createTemporary(folderName, prefix, existed ? 0600 : 0666, &temporary);
    if (fd < 0)
        fail(path);
    const auto abandon = [&]() {
        ::unlink(temporary.constData());
        ::close(fd);
        fail(path);
    };
    if (!writeAll(fd, content))
        abandon();
    if (existed) {
        // Best effort: a file system without Unix modes (FAT, NTFS) refuses
        // both, and the write must still go through there.
        (void)::fchmod(fd, before.st_mode & 07777);
        // Root editing a player's file must not hand it over to root.
        if (::geteuid() == 0)
            (void)::fchown(fd, before.st_uid, before.st_gid);
    }
    if (::fsync(fd) != 0)
        abandon();
    if (::rename(temporary.constData(), targetName.constData()) != 0)
        abandon();
    ::close(fd); // releases the lock only now that the name is gone
    syncFolder(folder);
}

} // namespace SafeFile
