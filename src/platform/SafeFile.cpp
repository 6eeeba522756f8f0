#include "platform/SafeFile.h"

#include "platform/EditorError.h"
#include "platform/TerminalText.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace SafeFile {
namespace {

WriteHook& writeHook()
{
    static WriteHook hook;
    return hook;
}

JournalHook& journalHook()
{
    static JournalHook hook;
    return hook;
}

// ---- descriptors -------------------------------------------------------------

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

QString userName(uid_t uid)
{
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

// ---- resolving a path once -----------------------------------------------------

// Where a path leads: the folder that holds the file (a descriptor that names
// no path any more) and the file's name in it; the file itself when it is
// there.
struct Place {
    Fd folder;
    QByteArray name;
    Fd file; // O_PATH; not valid when nothing is there
    struct stat st {};
    // The last name was a link to a file that does not exist: nothing may
    // be created through it.
    QString danglingLink;
    // Set: the path may not be used at all, and why.
    QString refusal;
    // Set: the path cannot be resolved (a folder on the way is missing).
    int error = 0;
};

QByteArray joined(const QByteArray& base, const QByteArray& name)
{
    if (base.isEmpty())
        return name;
    return base.endsWith('/') ? base + name : base + '/' + name;
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray();
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

// Resolves text (a path, or the text of a link) starting at the folder dir,
// one name at a time, never letting the kernel follow a link on its own.
// shownBase is how the user would name dir, for messages.
Place resolveIn(int dir, const QByteArray& text, const QByteArray& shownBase, int& hops)
{
    Place place;
    const bool absolute = text.startsWith('/');
    Fd current(absolute         ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
               : dir == AT_FDCWD ? ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                 : ::fcntl(dir, F_DUPFD_CLOEXEC, 0));
    if (!current.valid()) {
        place.error = errno;
        return place;
    }
    QByteArray shown = absolute ? QByteArray("/") : shownBase;
    QList<QByteArray> names = text.split('/');
    names.removeAll(QByteArray());
    names.removeAll(QByteArray("."));
    if (names.isEmpty()) {
        place.error = EISDIR;
        return place;
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QByteArray& name = names[i];
        const bool last = i == names.size() - 1;
        const QByteArray here = joined(shown, name);
        Fd next(::openat(current.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!next.valid() || ::fstat(next.get(), &st) != 0) {
            if (errno == ENOENT && last) {
                place.folder = std::move(current);
                place.name = name;
                return place;
            }
            place.error = errno;
            return place;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++hops > 40) {
                place.error = ELOOP;
                return place;
            }
            QByteArray target(PATH_MAX, '\0');
            const ssize_t length = ::readlinkat(next.get(), "", target.data(), size_t(target.size()));
            if (length < 0 || length >= target.size()) {
                place.error = length < 0 ? errno : ENAMETOOLONG;
                return place;
            }
            target.truncate(length);
            Place reached = resolveIn(current.get(), target, folderOf(here), hops);
            if (!reached.refusal.isEmpty() || reached.error != 0)
                return reached;
            if (!reached.file.valid()) {
                if (!last) {
                    place.error = ENOENT;
                    return place;
                }
                reached.danglingLink = QString::fromLocal8Bit(here);
                return reached;
            }
            // A link planted by someone else must not lead this user (root
            // above all) to a file that someone does not own.
            if (st.st_uid != ::geteuid() && st.st_uid != reached.st.st_uid) {
                place.refusal = QStringLiteral("%1 is a symbolic link of user %2 to a file of user %3; it is not "
                                               "followed")
                                    .arg(QString::fromLocal8Bit(here), userName(st.st_uid),
                                         userName(reached.st.st_uid));
                return place;
            }
            if (last)
                return reached;
            if (!S_ISDIR(reached.st.st_mode)) {
                place.error = ENOTDIR;
                return place;
            }
            current = std::move(reached.file);
            shown = here;
            continue;
        }
        if (last) {
            place.folder = std::move(current);
            place.name = name;
            place.file = std::move(next);
            place.st = st;
            return place;
        }
        if (!S_ISDIR(st.st_mode)) {
            place.error = ENOTDIR;
            return place;
        }
        current = std::move(next);
        shown = here;
    }
    place.error = EINVAL;
    return place;
}

// A path without any link on the way, in two calls: its folder by openat2,
// which refuses every link (ELOOP), and the last name in it. Nothing when it
// cannot tell (a link, no openat2 in this kernel, a folder that is not
// there): then the walk name by name decides, as it does for every link.
std::optional<Place> resolveWithoutLinks(const QByteArray& path)
{
    static std::atomic<bool> unavailable = false;
    if (unavailable)
        return std::nullopt;
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray name = path.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return std::nullopt;
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, folder.constData(), &how, sizeof how);
    if (fd < 0) {
        // Not in this kernel, or forbidden by a sandbox's filter.
        if (errno == ENOSYS || errno == EPERM)
            unavailable = true;
        return std::nullopt;
    }
    Place place;
    place.folder = Fd(int(fd));
    place.name = name;
    Fd file(::openat(place.folder.get(), name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid())
        return errno == ENOENT ? std::optional(std::move(place)) : std::nullopt;
    if (::fstat(file.get(), &place.st) != 0 || S_ISLNK(place.st.st_mode))
        return std::nullopt;
    place.file = std::move(file);
    return place;
}

Place resolve(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (std::optional<Place> place = resolveWithoutLinks(encoded))
        return *std::move(place);
    int hops = 0;
    return resolveIn(AT_FDCWD, encoded, QByteArray(), hops);
}

// The path a descriptor stands for now, as the kernel tells it.
QByteArray pathOf(int fd)
{
    QByteArray path(PATH_MAX, '\0');
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(self.constData(), path.data(), size_t(path.size()));
    if (length <= 0 || length >= path.size())
        return QByteArray();
    path.truncate(length);
    return path;
}

// Opens the file that the place's O_PATH descriptor names, without looking
// up its path again. Without /proc, the name in the folder already resolved
// is opened, and taken only if it is still that file.
Fd reopen(const Place& place, int flags)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(place.file.get());
    Fd fd(::open(self.constData(), flags | O_CLOEXEC | O_NOCTTY));
    if (fd.valid() || errno != ENOENT)
        return fd;
    fd = Fd(::openat(place.folder.get(), place.name.constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (fd.valid() && (::fstat(fd.get(), &st) != 0 || !sameFile(st, place.st))) {
        errno = ESTALE;
        return Fd();
    }
    return fd;
}

bool mayCreateIn(int folder)
{
    return ::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

bool readOnly(const struct stat& st)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// ---- this program's locks ------------------------------------------------------

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

void setHeld(const struct stat& st, bool isHeld)
{
    const std::lock_guard<std::mutex> guard(heldMutex);
    const auto at = std::find(held().begin(), held().end(), std::pair(st.st_dev, st.st_ino));
    if (isHeld && at == held().end())
        held().emplace_back(st.st_dev, st.st_ino);
    else if (!isHeld && at != held().end())
        held().erase(at);
}

// Files whose lock a read waited for in vain: a later read of them does not
// wait again, so a lock nobody releases costs the window one wait, not one
// per key.
QSet<QPair<dev_t, ino_t>>& stuck()
{
    static QSet<QPair<dev_t, ino_t>> files;
    return files;
}

// The process that holds a flock on the file, as /proc/locks tells; 0 when
// it does not.
pid_t lockHolder(const struct stat& st)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray device = QString::asprintf("%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                                                static_cast<unsigned long long>(st.st_ino))
                                  .toLatin1();
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiters carry "->".
        if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5] == device)
            return pid_t(fields[4].toInt());
    }
    return 0;
}

QString heldBy(const struct stat& st)
{
    const pid_t holder = lockHolder(st);
    return holder > 0 ? QStringLiteral("process %1").arg(holder) : QStringLiteral("another process");
}

enum class Locked { Yes, No, TimedOut };

// Takes the lock, waiting lockWaitSeconds at most. After a second of waiting
// it says on stderr which file it waits for.
Locked lockBounded(int fd, int how, const struct stat& st, const QString& path, int waitSeconds)
{
    QElapsedTimer clock;
    clock.start();
    bool told = false;
    for (;;) {
        if (::flock(fd, how | LOCK_NB) == 0)
            return Locked::Yes;
        if (errno == EINTR)
            continue;
        // A file system without locks: nobody can lock there.
        if (errno != EWOULDBLOCK)
            return Locked::No;
        if (clock.elapsed() >= qint64(waitSeconds) * 1000)
            return Locked::TimedOut;
        if (!told && clock.elapsed() >= 1000) {
            TerminalText::write(stderr, QStringLiteral("brennwerk-editor: waiting for %1, which %2 holds locked\n")
                                            .arg(path, heldBy(st)));
            told = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// ---- plain reads and writes ------------------------------------------------------

// sizeHint: what fstat told of the size, if the caller has asked.
std::optional<QByteArray> readAll(int fd, off_t sizeHint = -1)
{
    if (sizeHint < 0) {
        struct stat st {};
        sizeHint = ::fstat(fd, &st) == 0 ? st.st_size : 0;
    }
    // Room for one byte more than told, so that a file of the told size is
    // read whole by one call, and its end seen by the next.
    QByteArray bytes(qsizetype(std::max<off_t>(sizeHint, 0)) + 1, Qt::Uninitialized);
    qsizetype at = 0;
    for (;;) {
        if (at == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t got = ::pread(fd, bytes.data() + at, size_t(bytes.size() - at), off_t(at));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0) {
            bytes.truncate(at);
            return bytes;
        }
        at += got;
    }
}

// ---- what a read saw ---------------------------------------------------------------

Stamp stampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

qint64 nowNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// How far a file time may lie behind the moment of the change it records:
// the kernel stamps files from a clock that advances in ticks. Two of them,
// and a millisecond at least.
qint64 stampSlack()
{
    static const qint64 slack = [] {
        timespec tick {};
        if (::clock_getres(CLOCK_REALTIME_COARSE, &tick) != 0)
            return qint64(20000000);
        return std::max<qint64>(2 * (qint64(tick.tv_sec) * 1000000000 + tick.tv_nsec), 1000000);
    }();
    return slack;
}

// Whether the file system stamps this file's times from this machine's
// clock in nanoseconds. A network file system stamps them from the server's
// clock, others in whole seconds or more: there a stamp proves nothing, and
// every read compares the bytes.
bool stampsFromLocalClock(int fd, dev_t device)
{
    static std::mutex mutex;
    static QHash<dev_t, bool> known;
    const std::lock_guard<std::mutex> guard(mutex);
    if (const auto at = known.constFind(device); at != known.cend())
        return *at;
    struct statfs fs {};
    bool local = false;
    if (::fstatfs(fd, &fs) == 0) {
        switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC: // ext2, ext3 and ext4 alike
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case F2FS_SUPER_MAGIC:
        case OVERLAYFS_SUPER_MAGIC:
            local = true;
            break;
        default:
            break;
        }
    }
    known.insert(device, local);
    return local;
}

// Reads the file's bytes with its stamp; `before` is an fstat taken under
// the lock the caller holds.
std::optional<Seen> readSeenFrom(int fd, const struct stat& before)
{
    const qint64 began = nowNs();
    std::optional<QByteArray> bytes = readAll(fd, before.st_size);
    struct stat after {};
    if (!bytes || ::fstat(fd, &after) != 0)
        return std::nullopt;
    Seen seen;
    seen.stamp = stampOf(after);
    seen.settled = seen.stamp == stampOf(before) && bytes->size() == after.st_size
        && seen.stamp.changedNs + stampSlack() < began && stampsFromLocalClock(fd, after.st_dev);
    seen.bytes = *std::move(bytes);
    return seen;
}

std::optional<Seen> readSeenFrom(int fd)
{
    struct stat before {};
    if (::fstat(fd, &before) != 0)
        return std::nullopt;
    return readSeenFrom(fd, before);
}

// False with errno set when not all of it could be written.
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
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        at += written;
        left -= written;
    }
    return true;
}

void syncFolder(int folder)
{
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Whether a file of that size would pass this process's file size limit;
// errno EFBIG when not. (The limit would otherwise cut the write short.)
bool withinSizeLimit(qsizetype size)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && rlim_t(size) > limit.rlim_cur) {
        errno = EFBIG;
        return false;
    }
    return true;
}

// ---- failures ----------------------------------------------------------------------

[[noreturn]] void refuse(const QString& path, const QString& why)
{
    throw EditorError(QStringLiteral("Unable to write to %1: %2").arg(path, why));
}

// A plain lack of permission says no more than the path; a limit says which.
[[noreturn]] void fail(const QString& path, int error = 0)
{
    if (error == EFBIG || error == ENOSPC || error == EDQUOT)
        refuse(path, QString::fromLocal8Bit(std::strerror(error)));
    throw EditorError(QStringLiteral("Unable to write to %1").arg(path));
}

const QString changedMeanwhile = QStringLiteral("it was changed while being written; nothing was written");

// ---- temporary files ---------------------------------------------------------------

// Our own temporary files are named so that they cannot be mistaken for a
// file of the user's ("User.ini.backup"): only such files are ever removed.
constexpr int randomLength = 6;

QByteArray temporaryPrefix(const QByteArray& fileName)
{
    return '.' + fileName + ".brennwerk-";
}

// Never matched by isTemporaryOf: "journal" has seven letters.
QByteArray journalName(const QByteArray& fileName)
{
    return temporaryPrefix(fileName) + "journal";
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
void removeStaleTemporaries(int folder, const QByteArray& prefix)
{
    const int listFd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, prefix))
            continue;
        const Fd fd(::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid())
            continue;
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd.get(), &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0
            && ::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named))
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

// A new temporary file, locked, in the folder; not valid on failure (errno).
struct Temporary {
    Fd fd;
    QByteArray name;
};

Temporary createTemporary(int folder, const QByteArray& prefix, mode_t mode)
{
    static constexpr char randomLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = prefix;
        for (int i = 0; i < randomLength; ++i)
            candidate += randomLetters[QRandomGenerator::global()->bounded(int(sizeof randomLetters - 1))];
        Fd fd(::openat(folder, candidate.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return {};
        }
        // Where the file system has no locks, nobody else can lock either,
        // so no clean-up will take the file away.
        (void)::flock(fd.get(), LOCK_EX);
        // A clean-up may have opened the file before the lock was taken and
        // removed it since; then start again under a new name.
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd.get(), &opened) == 0 && ::fstatat(folder, candidate.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && sameFile(opened, named))
            return {std::move(fd), std::move(candidate)};
    }
    errno = EEXIST;
    return {};
}

// ---- what a replacement has to keep ----------------------------------------------------

// A file capability would make the new file a privileged program; the kernel
// drops it on every write too.
const QByteArray capabilityAttribute = "security.capability";

// The names of the file's extended attributes (ACLs, security labels, a
// user's own) but a capability; nothing when they cannot be listed.
std::optional<QList<QByteArray>> attributeNames(int fd)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional(QList<QByteArray>()) : std::nullopt;
        QByteArray list(qsizetype(size), '\0');
        const ssize_t got = ::flistxattr(fd, list.data(), size_t(size));
        if (got < 0 && errno == ERANGE)
            continue; // grew in between
        if (got < 0)
            return std::nullopt;
        list.truncate(got);
        QList<QByteArray> names = list.split('\0');
        names.removeAll(QByteArray());
        names.removeAll(capabilityAttribute);
        std::sort(names.begin(), names.end());
        return names;
    }
    return std::nullopt;
}

bool copyAttributes(int from, int to)
{
    const std::optional<QList<QByteArray>> names = attributeNames(from);
    if (!names)
        return false;
    for (const QByteArray& name : *names) {
        const ssize_t size = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (size < 0)
            return false;
        QByteArray value(qsizetype(size), '\0');
        const ssize_t got = ::fgetxattr(from, name.constData(), value.data(), size_t(size));
        if (got != size || ::fsetxattr(to, name.constData(), value.constData(), size_t(size), 0) != 0)
            return false;
    }
    // Nor may the new file carry one the old did not (a folder's default ACL).
    return attributeNames(to) == names;
}

constexpr mode_t withoutSetId = 01777;

// Gives the new file the old one's owner, group, mode (without set-id bits)
// and extended attributes (without a capability), all taken from the
// descriptor of the old; false when it cannot have all of them.
bool takeOver(int fd, int old, const struct stat& before)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    // Root keeps a player's file the player's; a member of the file's group
    // can give it that group.
    if ((st.st_uid != before.st_uid || st.st_gid != before.st_gid)
        && ::fchown(fd, st.st_uid != before.st_uid ? before.st_uid : uid_t(-1), before.st_gid) != 0)
        return false;
    if (!copyAttributes(old, fd))
        return false;
    const mode_t mode = before.st_mode & withoutSetId;
    (void)::fchmod(fd, mode);
    return ::fstat(fd, &st) == 0 && st.st_uid == before.st_uid && st.st_gid == before.st_gid
        && (st.st_mode & 07777) == mode;
}

// ---- the journal of an in-place write -----------------------------------------------

// The file's owner and group for a copy of it, as far as this user may give
// them; what cannot be given stays this user's.
void giveOwnership(int fd, const struct stat& file)
{
    if (::fchown(fd, file.st_uid, file.st_gid) != 0 && ::fchown(fd, uid_t(-1), file.st_gid) != 0)
        return;
}

// The state folder of this user, where a journal goes that the file's own
// folder cannot take.
QByteArray stateFolder()
{
    QByteArray base = qgetenv("XDG_STATE_HOME");
    if (!base.startsWith('/')) {
        QByteArray home = qgetenv("HOME");
        if (home.isEmpty()) {
            if (const passwd* entry = ::getpwuid(::geteuid()))
                home = entry->pw_dir;
        }
        if (home.isEmpty())
            return QByteArray();
        base = home + "/.local/state";
    }
    return base + "/brennwerk-editor";
}

QByteArray stateJournalName(const struct stat& st)
{
    return QByteArray::number(qulonglong(st.st_dev), 16) + '-' + QByteArray::number(qulonglong(st.st_ino)) + ".journal";
}

QByteArray hashOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

constexpr char journalMagic[] = "BRENNWERK-JOURNAL 1";

// A complete journal: the file it belongs to, and its content before and
// after the write, each with its length and checksum, so that a cut-short or
// foreign journal is never taken for one.
struct Journal {
    dev_t dev = 0;
    ino_t ino = 0;
    QByteArray path;
    QByteArray before;
    QByteArray after;

    QByteArray bytes() const
    {
        return journalMagic + QByteArray("\nfile ") + QByteArray::number(qulonglong(dev)) + ' '
            + QByteArray::number(qulonglong(ino)) + "\npath " + path.toPercentEncoding("/") + "\nbefore "
            + QByteArray::number(before.size()) + ' ' + hashOf(before) + "\nafter " + QByteArray::number(after.size())
            + ' ' + hashOf(after) + "\n\n" + before + after;
    }

    static std::optional<Journal> parse(const QByteArray& bytes)
    {
        const qsizetype end = bytes.indexOf("\n\n");
        if (end < 0)
            return std::nullopt;
        const QList<QByteArray> lines = bytes.left(end).split('\n');
        if (lines.size() != 5 || lines[0] != journalMagic)
            return std::nullopt;
        const QList<QByteArray> file = lines[1].split(' ');
        const QList<QByteArray> before = lines[3].split(' ');
        const QList<QByteArray> after = lines[4].split(' ');
        if (file.size() != 3 || file[0] != "file" || !lines[2].startsWith("path ") || before.size() != 3
            || before[0] != "before" || after.size() != 3 || after[0] != "after")
            return std::nullopt;
        bool ok[4] = {};
        Journal journal;
        journal.dev = dev_t(file[1].toULongLong(&ok[0]));
        journal.ino = ino_t(file[2].toULongLong(&ok[1]));
        const qsizetype beforeSize = before[1].toLongLong(&ok[2]);
        const qsizetype afterSize = after[1].toLongLong(&ok[3]);
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || beforeSize < 0 || afterSize < 0
            || bytes.size() - end - 2 != beforeSize + afterSize)
            return std::nullopt;
        journal.path = QByteArray::fromPercentEncoding(lines[2].mid(5));
        journal.before = bytes.mid(end + 2, beforeSize);
        journal.after = bytes.mid(end + 2 + beforeSize);
        if (hashOf(journal.before) != before[2] || hashOf(journal.after) != after[2])
            return std::nullopt;
        return journal;
    }

    // Whether the file is as a write from before to after can leave it when
    // it stops at any point, or as putting before back can leave it: every
    // byte is the one of before or of after at that place.
    bool leftAsIs(const QByteArray& now) const
    {
        if (now.size() < std::min(before.size(), after.size()) || now.size() > std::max(before.size(), after.size()))
            return false;
        for (qsizetype i = 0; i < now.size(); ++i) {
            if (!(i < before.size() && now[i] == before[i]) && !(i < after.size() && now[i] == after[i]))
                return false;
        }
        return true;
    }
};

// A new file with these bytes, complete before it has its name: a
// temporary file, written, synced and only then renamed, never over a file
// that is there. A copy of a file (like) gets that file's owner, group and
// mode where the writer can give them, so that whoever may read the file may
// read its copy; a file of its own gets the mode the umask allows. False
// with errno set on failure, nothing left behind.
bool createComplete(int folder, const QByteArray& name, const QByteArray& prefix, const QByteArray& bytes,
                    const struct stat* like)
{
    if (!withinSizeLimit(bytes.size()))
        return false;
    Temporary temporary = createTemporary(folder, prefix, like ? 0600 : 0666);
    if (!temporary.fd.valid())
        return false;
    const int fd = temporary.fd.get();
    if (like) {
        giveOwnership(fd, *like);
        (void)::fchmod(fd, like->st_mode & 0666);
    }
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0
        || ::renameat2(folder, temporary.name.constData(), folder, name.constData(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        ::unlinkat(folder, temporary.name.constData(), 0);
        errno = error;
        return false;
    }
    syncFolder(folder);
    return true;
}

// The journal is never put over one that is there: that is the only copy of
// an earlier write's old content.
bool writeJournal(int folder, const QByteArray& name, const QByteArray& prefix, const Journal& journal,
                  const struct stat& file)
{
    removeStaleTemporaries(folder, prefix);
    return createComplete(folder, name, prefix, journal.bytes(), &file);
}

// Where a journal of the file may be: beside it, and in the state folder.
struct JournalPlace {
    Fd folder;
    QByteArray name;
    QByteArray shown; // its path, for messages
};

std::vector<JournalPlace> journalPlaces(const Place& place, const struct stat& st)
{
    std::vector<JournalPlace> places;
    const QByteArray shownFolder = pathOf(place.folder.get());
    places.push_back({Fd(::fcntl(place.folder.get(), F_DUPFD_CLOEXEC, 0)), journalName(place.name),
                      joined(shownFolder, journalName(place.name))});
    const QByteArray state = stateFolder();
    if (!state.isEmpty())
        places.push_back({Fd(::open(state.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC)), stateJournalName(st),
                          joined(state, stateJournalName(st))});
    return places;
}

// Whether a journal of the file is there: a look at two names, made before
// every read.
bool journalThere(const Place& place, const struct stat& st)
{
    struct stat journal {};
    if (::fstatat(place.folder.get(), journalName(place.name).constData(), &journal, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    const QByteArray state = stateFolder();
    return !state.isEmpty() && ::lstat((state + '/' + stateJournalName(st)).constData(), &journal) == 0;
}

RecoveryReport& recoveryReport()
{
    static RecoveryReport report;
    return report;
}

void tell(const Recovery& recovery, const struct stat& journal)
{
    // A journal that stays would be told of at every read of the file.
    static QSet<QList<qint64>> told;
    if (recovery.outcome == Recovery::Outcome::NotPutBack) {
        const QList<qint64> id{qint64(journal.st_dev), qint64(journal.st_ino), qint64(journal.st_mtim.tv_sec),
                               qint64(journal.st_mtim.tv_nsec)};
        if (told.contains(id))
            return;
        told.insert(id);
    }
    if (recoveryReport())
        recoveryReport()(recovery);
    else
        TerminalText::write(stderr, QStringLiteral("brennwerk-editor: %1\n").arg(describe(recovery)));
}

// A journal is the word of whoever made it: taken only from the file's
// owner, this user, or someone who may write the file anyway (its group,
// anyone), so that the owner of a folder cannot have a file that is not his
// written with a content of his.
bool trusted(const struct stat& journal, const struct stat& file)
{
    return S_ISREG(journal.st_mode) && journal.st_nlink == 1
        && (journal.st_uid == file.st_uid || journal.st_uid == ::geteuid() || (file.st_mode & S_IWOTH)
            || ((file.st_mode & S_IWGRP) && journal.st_gid == file.st_gid));
}

// The old content kept as a plain file beside the journal, for the user to
// restore by hand; its path, or nothing.
std::optional<QByteArray> keepCopy(const JournalPlace& at, const QByteArray& fileName, const Journal& journal,
                                   const struct stat& file)
{
    const QByteArray name = fileName + ".brennwerk-kept-"
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    if (!createComplete(at.folder.get(), name, temporaryPrefix(name), journal.before, &file))
        return std::nullopt;
    return joined(folderOf(at.shown), name);
}

// Runs with the file locked for writing: puts back the old content of a
// write that a crash left unfinished, where the file is still as it left it.
// Returns false when a journal stays (nothing may be written in place then).
bool recover(const Place& place, const QString& path, int fd, bool writable, const struct stat& st)
{
    bool clear = true;
    for (const JournalPlace& at : journalPlaces(place, st)) {
        if (!at.folder.valid())
            continue;
        const Fd journalFd(::openat(at.folder.get(), at.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat journalSt {};
        if (!journalFd.valid() || ::fstat(journalFd.get(), &journalSt) != 0)
            continue;
        Recovery recovery;
        recovery.file = path;
        recovery.copy = QString::fromLocal8Bit(at.shown);
        const std::optional<QByteArray> bytes = readAll(journalFd.get());
        const std::optional<Journal> journal = bytes ? Journal::parse(*bytes) : std::nullopt;
        if (!journal || !trusted(journalSt, st) || journal->dev != st.st_dev || journal->ino != st.st_ino) {
            // Not one this program would have made for this file: left alone.
            recovery.outcome = Recovery::Outcome::NotPutBack;
            recovery.reason = QStringLiteral("that copy is not a complete one of this file");
            tell(recovery, journalSt);
            clear = false;
            continue;
        }
        const std::optional<QByteArray> now = readAll(fd);
        if (now && journal->leftAsIs(*now)) {
            if (!writable && *now != journal->before) {
                recovery.outcome = Recovery::Outcome::NotPutBack;
                recovery.reason = QStringLiteral("this user may not write the file");
                tell(recovery, journalSt);
                clear = false;
                continue;
            }
            if (*now != journal->before
                && !(writeAll(fd, journal->before) && ::ftruncate(fd, off_t(journal->before.size())) == 0
                     && ::fsync(fd) == 0)) {
                recovery.outcome = Recovery::Outcome::NotPutBack;
                recovery.reason = QString::fromLocal8Bit(std::strerror(errno));
                tell(recovery, journalSt);
                clear = false;
                continue;
            }
            recovery.outcome = Recovery::Outcome::PutBack;
        } else {
            // Someone wrote the file since (the game, a text editor): theirs
            // stays, and the old content is kept where the user can take it.
            const std::optional<QByteArray> kept = now ? keepCopy(at, place.name, *journal, st) : std::nullopt;
            if (!kept) {
                recovery.outcome = Recovery::Outcome::NotPutBack;
                recovery.reason = QStringLiteral("the file was changed since");
                tell(recovery, journalSt);
                clear = false;
                continue;
            }
            recovery.outcome = Recovery::Outcome::Kept;
            recovery.copy = QString::fromLocal8Bit(*kept);
        }
        ::unlinkat(at.folder.get(), at.name.constData(), 0);
        syncFolder(at.folder.get());
        tell(recovery, journalSt);
    }
    return clear;
}

void ignoreFileSizeSignal()
{
    // Past the file size limit a write fails with EFBIG instead of ending
    // the process half-way through a file.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

} // namespace

// ---- one update ------------------------------------------------------------------------

struct Update::State {
    ~State()
    {
        if (ownLock)
            setHeld(locked, false);
    }

    QString path;
    Place place;
    Fd file;       // open for reading (and writing where it may), locked
    Fd folderLock; // locked while the file does not exist
    bool writable = false;
    bool exists = false;
    bool ownLock = false;
    bool journalLeft = false;
    struct stat locked {};
    std::optional<QByteArray> written;
};

Update::Update(const QString& path) : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.path = path;
    ignoreFileSizeSignal();
    Place place = resolve(path);
    if (!place.refusal.isEmpty())
        refuse(path, place.refusal);
    s.place = std::move(place);
    if (s.place.error != 0)
        return; // write() fails: a folder on the way is missing
    // A writer that waited while another replaced the file holds the lock of
    // a file that is no longer there: it locks the new one instead.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const bool onFile = s.place.file.valid();
        Fd fd;
        struct stat st {};
        if (onFile) {
            st = s.place.st;
            // A pipe or a device at the path would block or never end.
            if (!S_ISREG(st.st_mode)) {
                s.exists = true;
                return;
            }
            fd = reopen(s.place, O_RDWR);
            s.writable = fd.valid();
            if (!fd.valid())
                fd = reopen(s.place, O_RDONLY);
            if (!fd.valid()) {
                // A file that cannot be opened cannot be read either, and no
                // write goes on without reading it.
                s.exists = true;
                return;
            }
        } else {
            fd = Fd(::openat(s.place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
                return;
        }
        const bool already = heldHere(st);
        if (!already) {
            const Locked locked = lockBounded(fd.get(), LOCK_EX, st, path, lockWaitSeconds);
            if (locked == Locked::TimedOut)
                refuse(path, QStringLiteral("%1 has held it locked for %2 seconds; nothing was written")
                                 .arg(heldBy(st))
                                 .arg(lockWaitSeconds));
        }
        // Only the last name is looked up again, in the folder already
        // resolved: a writer before us may have renamed a new file over it.
        struct stat now {};
        const bool found = ::fstatat(s.place.folder.get(), s.place.name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0;
        if (onFile ? found && sameFile(st, now) : !found && errno == ENOENT) {
            s.exists = onFile;
            s.locked = st;
            s.ownLock = !already;
            if (s.ownLock)
                setHeld(st, true);
            if (onFile) {
                s.file = std::move(fd);
                s.journalLeft = journalThere(s.place, st) && !recover(s.place, path, s.file.get(), s.writable, st);
            } else {
                s.folderLock = std::move(fd);
            }
            return;
        }
        fd.reset();
        int hops = 0;
        Place again = resolveIn(s.place.folder.get(), s.place.name, pathOf(s.place.folder.get()), hops);
        if (!again.refusal.isEmpty() || again.error != 0)
            refuse(path, again.refusal.isEmpty() ? changedMeanwhile : again.refusal);
        s.place = std::move(again);
    }
    refuse(path, changedMeanwhile);
}

Update::~Update() = default;

std::optional<QByteArray> Update::read() const
{
    if (!state_->file.valid())
        return std::nullopt;
    return readAll(state_->file.get());
}

std::optional<Seen> Update::readSeen() const
{
    if (!state_->file.valid())
        return std::nullopt;
    return readSeenFrom(state_->file.get());
}

std::optional<Seen> Update::written() const
{
    // No stamp: the write's own change time lies within the tick of now, so
    // it could prove nothing; the next read compares the bytes.
    if (!state_->written)
        return std::nullopt;
    return Seen{*state_->written, Stamp{}, false};
}

bool Update::exists() const
{
    return state_->exists;
}

bool Update::isReadOnly() const
{
    return state_->exists && readOnly(state_->locked);
}

void Update::write(const QByteArray& content)
{
    State& s = *state_;
    const QString& path = s.path;
    if (writeHook() && !writeHook()(path, content))
        fail(path);
    if (s.place.error != 0)
        fail(path);
    const int folder = s.place.folder.get();
    const QByteArray& name = s.place.name;
    const bool folderWritable = mayCreateIn(folder);
    if (folderWritable)
        removeStaleTemporaries(folder, temporaryPrefix(name));

    if (!s.exists) {
        if (!s.place.danglingLink.isEmpty())
            refuse(path, QStringLiteral("%1 is a symbolic link to a file that does not exist; nothing is created "
                                        "through a link")
                             .arg(s.place.danglingLink));
        if (!folderWritable)
            fail(path);
        if (!createComplete(folder, name, temporaryPrefix(name), content, nullptr)) {
            if (errno == EEXIST)
                refuse(path, changedMeanwhile);
            fail(path, errno);
        }
        s.written = content;
        return;
    }

    const int fd = s.file.get();
    const struct stat& before = s.locked;
    if (!s.file.valid() || !s.writable || readOnly(before))
        fail(path);
    if (!withinSizeLimit(content.size()))
        fail(path, errno);
    // The name must still name the file that was locked and read: whatever
    // stands there now (a link a folder's owner swapped in) is not written.
    const auto stillThere = [&] {
        struct stat named {};
        return ::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, before);
    };

    // By replacement where it changes nothing but the content.
    struct stat folderSt {};
    const uid_t me = ::geteuid();
    if (folderWritable && before.st_nlink == 1 && ::fstat(folder, &folderSt) == 0 && folderSt.st_dev == before.st_dev
        && (me == 0 || me == before.st_uid)) {
        Temporary temporary = createTemporary(folder, temporaryPrefix(name), 0600);
        if (temporary.fd.valid()) {
            const int newFd = temporary.fd.get();
            const auto discard = [&] { ::unlinkat(folder, temporary.name.constData(), 0); };
            if (!writeAll(newFd, content) || ::fsync(newFd) != 0) {
                const int error = errno;
                discard();
                fail(path, error);
            }
            if (takeOver(newFd, fd, before)) {
                if (!stillThere()) {
                    discard();
                    refuse(path, changedMeanwhile);
                }
                if (::renameat(folder, temporary.name.constData(), folder, name.constData()) == 0) {
                    temporary.fd.reset(); // releases its lock only now that the name is gone
                    syncFolder(folder);
                    s.written = content;
                    return;
                }
            }
            // A file mounted on its own refuses the rename (EBUSY), for one.
            discard();
        }
    }

    // In place, as a careful editor writes a file it must not replace, with
    // a journal so that a crash can be undone.
    if (s.journalLeft)
        refuse(path, QStringLiteral("the copy that an interrupted write left of it is still there; nothing was "
                                    "written"));
    const std::optional<QByteArray> old = readAll(fd);
    if (!old)
        fail(path);
    Journal journal{before.st_dev, before.st_ino, joined(pathOf(folder), name), *old, content};
    std::vector<JournalPlace> places = journalPlaces(s.place, before);
    const JournalPlace* journalAt = nullptr;
    int journalError = 0;
    if (folderWritable) {
        if (writeJournal(folder, places[0].name, temporaryPrefix(name), journal, before))
            journalAt = &places[0];
        else
            journalError = errno;
    }
    if (!journalAt && places.size() > 1) {
        // Only this user's, as the state folder should be.
        const QByteArray state = stateFolder();
        (void)QDir().mkpath(QFile::decodeName(folderOf(state)));
        (void)::mkdir(state.constData(), 0700);
        places[1].folder = Fd(::open(state.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (places[1].folder.valid()
            && writeJournal(places[1].folder.get(), places[1].name, temporaryPrefix(places[1].name), journal, before))
            journalAt = &places[1];
        else if (journalError == 0)
            journalError = errno;
    }
    if (!journalAt) {
        // The journal holds the old and the new content: a limit may stop it
        // where the new content alone would fit.
        if (journalError == EFBIG || journalError == ENOSPC || journalError == EDQUOT)
            fail(path, journalError);
        refuse(path, QStringLiteral("no copy of its content could be made first, neither beside it nor in %1; "
                                    "nothing was written")
                         .arg(QFile::decodeName(stateFolder())));
    }
    const auto done = [&] {
        ::unlinkat(journalAt->folder.get(), journalAt->name.constData(), 0);
        syncFolder(journalAt->folder.get());
    };
    if (journalHook())
        journalHook()(path);
    // Checked as late as can be: a swap after this point still leaves the
    // bytes in the file that was read, never in what the name leads to now.
    if (!stillThere()) {
        done();
        refuse(path, changedMeanwhile);
    }

    // A write never leaves a privileged program behind, not even one root
    // wrote into (root's writes keep these bits otherwise).
    if (before.st_mode & (S_ISUID | S_ISGID))
        (void)::fchmod(fd, before.st_mode & withoutSetId);
    (void)::fremovexattr(fd, capabilityAttribute.constData());

    // Room for a longer content first, so that a full disk stops the write
    // before it begins where the file system can tell.
    if (content.size() > old->size()
        && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(old->size()), off_t(content.size() - old->size())) != 0
        && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        const int error = errno;
        done();
        fail(path, error);
    }
    if (writeAll(fd, content) && (content.size() >= old->size() || ::ftruncate(fd, off_t(content.size())) == 0)
        && ::fsync(fd) == 0) {
        done();
        s.written = content;
        return;
    }
    const int error = errno;
    // The old content back; the journal stays only where even that failed,
    // for the next access to try again.
    if (writeAll(fd, *old) && ::ftruncate(fd, off_t(old->size())) == 0 && ::fsync(fd) == 0)
        done();
    fail(path, error);
}

// ---- reads --------------------------------------------------------------------------------

std::optional<Seen> read(const QString& path, const Seen* last, bool* unchanged)
{
    if (unchanged)
        *unchanged = false;
    const Place place = resolve(path);
    if (!place.file.valid() || !S_ISREG(place.st.st_mode))
        return std::nullopt;
    // A settled stamp that is the file's stamp now proves its bytes, without
    // the lock and without reading:
    // - The lock keeps a read from seeing half a write of this program. A
    //   write replaces the file by rename (another inode, so another stamp)
    //   or changes it in place, and its first byte gives the file a change
    //   time of after the read that made `last` began, which a settled stamp
    //   lies clearly before. So the stamp is still last's only while no byte
    //   of that write has landed, and the bytes before it are the file's.
    // - The bytes of `last` were read (or read again and compared) under the
    //   lock, after the look for a journal and its recovery.
    // - The look for a journal is made here as well, and a journal found
    //   goes the long way below, to be recovered. (A write killed after
    //   touching the file has changed its stamp anyway; one killed before
    //   left the file's bytes as they were, so the recovery would not change
    //   them, but it clears the journal at this access, as every access
    //   does.)
    if (last && last->settled && stampOf(place.st) == last->stamp && !journalThere(place, place.st)) {
        if (unchanged)
            *unchanged = true;
        return *last;
    }
    const Fd fd = reopen(place, O_RDONLY | O_NONBLOCK);
    if (!fd.valid())
        return std::nullopt;
    const struct stat& st = place.st;
    std::optional<Seen> seen;
    bool recovered = false;
    bool lockedOut = false;
    if (!heldHere(st)) {
        // A writer of this program holds its lock until its write is whole.
        const QPair<dev_t, ino_t> id{st.st_dev, st.st_ino};
        const Locked locked = lockBounded(fd.get(), LOCK_SH, st, path, stuck().contains(id) ? 0 : lockWaitSeconds);
        if (locked == Locked::TimedOut) {
            if (!stuck().contains(id))
                TerminalText::write(stderr,
                                    QStringLiteral("brennwerk-editor: %1 has stayed locked by %2 for %3 seconds; "
                                                   "read anyway\n")
                                        .arg(path, heldBy(st), QString::number(lockWaitSeconds)));
            stuck().insert(id);
            // A writer of this program may be in the middle of its write:
            // what is read now proves nothing for later.
            lockedOut = true;
        } else {
            stuck().remove(id);
        }
        // A write that a crash left unfinished is undone first, under the
        // writers' lock, before any bytes are read or known bytes handed
        // back.
        if (locked != Locked::TimedOut && journalThere(place, st)) {
            ::flock(fd.get(), LOCK_UN);
            recovered = true;
            try {
                seen = Update(path).readSeen();
            } catch (const EditorError&) {
                seen = readSeenFrom(fd.get());
            }
        }
    }
    if (!recovered) {
        struct stat now {};
        if (::fstat(fd.get(), &now) != 0)
            return std::nullopt;
        if (last && last->settled && stampOf(now) == last->stamp) {
            if (unchanged)
                *unchanged = true;
            return *last;
        }
        seen = readSeenFrom(fd.get(), now);
        if (seen && lockedOut)
            seen->settled = false;
    }
    if (seen && last && seen->bytes == last->bytes) {
        seen->bytes = last->bytes; // shared, not a second copy
        if (unchanged)
            *unchanged = true;
    }
    return seen;
}

std::optional<QByteArray> read(const QString& path)
{
    std::optional<Seen> seen = read(path, nullptr);
    if (!seen)
        return std::nullopt;
    return std::move(seen->bytes);
}

std::optional<QString> refusalOf(const QString& path)
{
    const Place place = resolve(path);
    if (!place.refusal.isEmpty())
        return place.refusal;
    return std::nullopt;
}

bool mayWrite(const QString& path)
{
    const Place place = resolve(path);
    if (!place.refusal.isEmpty() || place.error != 0)
        return false;
    if (!place.file.valid())
        return place.danglingLink.isEmpty() && mayCreateIn(place.folder.get());
    return S_ISREG(place.st.st_mode) && !readOnly(place.st) && reopen(place, O_WRONLY | O_NONBLOCK).valid();
}

void write(const QString& path, const QByteArray& content)
{
    Update(path).write(content);
}

QString describe(const Recovery& recovery)
{
    switch (recovery.outcome) {
    case Recovery::Outcome::PutBack:
        return QStringLiteral("%1: a write was interrupted; the file's content from before it is put back")
            .arg(recovery.file);
    case Recovery::Outcome::Kept:
        return QStringLiteral("%1: a write was interrupted and the file changed since, so it is left as it is; its "
                              "content from before that write is kept in %2")
            .arg(recovery.file, recovery.copy);
    case Recovery::Outcome::NotPutBack:
        break;
    }
    return QStringLiteral("%1: a write was interrupted, and its content from before cannot be put back (%2); the "
                          "copy is %3")
        .arg(recovery.file, recovery.reason, recovery.copy);
}

void setRecoveryReport(RecoveryReport report)
{
    recoveryReport() = std::move(report);
}

void setWriteHook(WriteHook hook)
{
    writeHook() = std::move(hook);
}

void setJournalHook(JournalHook hook)
{
    journalHook() = std::move(hook);
}

} // namespace SafeFile
