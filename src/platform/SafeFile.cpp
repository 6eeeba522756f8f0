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
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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

// A wait for locks, bounded as a whole: a writer that finds the file
// replaced while it waited locks the new one on the same clock, so that a
// storm of writers waits its turn and fails only when the wait is over.
class LockWait {
public:
    explicit LockWait(qint64 boundMs) : boundMs_(boundMs) { clock_.start(); }

    // Takes the lock. After a second of waiting it says on stderr which file
    // it waits for, once.
    Locked take(int fd, int how, const struct stat& st, const QString& path)
    {
        for (;;) {
            if (::flock(fd, how | LOCK_NB) == 0)
                return Locked::Yes;
            if (errno == EINTR)
                continue;
            // A file system without locks: nobody can lock there.
            if (errno != EWOULDBLOCK)
                return Locked::No;
            if (clock_.elapsed() >= boundMs_)
                return Locked::TimedOut;
            if (!told_ && clock_.elapsed() >= 1000) {
                TerminalText::write(stderr, QStringLiteral("brennwerk-editor: waiting for %1, which %2 holds locked\n")
                                                .arg(path, heldBy(st)));
                told_ = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    bool over() const { return clock_.elapsed() >= boundMs_; }

private:
    QElapsedTimer clock_;
    qint64 boundMs_;
    bool told_ = false;
};

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

// The period of distrustStamps(): stamps read in an earlier one prove
// nothing. The program's one thread reads and counts.
std::atomic<quint64> stampPeriod = 1;

// Whether a result's stamp may stand for its bytes now.
bool provenByStamp(const Seen& last, const struct stat& now)
{
    return last.settled && last.period == stampPeriod && stampOf(now) == last.stamp;
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
    seen.period = stampPeriod;
    // A time without a part below the second comes from a file system (or
    // an inode, as ext4's small ones) that keeps whole seconds: a change in
    // the same second keeps the stamp.
    seen.settled = seen.stamp == stampOf(before) && bytes->size() == after.st_size
        && after.st_mtim.tv_nsec != 0 && after.st_ctim.tv_nsec != 0 && seen.stamp.changedNs + stampSlack() < began
        && stampsFromLocalClock(fd, after.st_dev);
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
//
// Putting bytes back into a file on the word of a journal is a write by
// whoever made the journal. So a journal is believed only where nobody could
// have made it who may not write the file anyway: in this user's own state
// folder, or beside the file in a folder whose every writer may write the
// file too. Anything else that looks like a journal is left alone, read no
// further than its header, told of once, and stops nothing.

// Whether the descriptor's file or folder carries an access control list;
// true when that cannot be told (doubt is a yes).
bool hasAccessList(int fd)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::getxattr(self.constData(), "system.posix_acl_access", nullptr, 0) >= 0)
        return true;
    return errno != ENODATA && errno != ENOTSUP;
}

// Whether everyone who may make a file in the folder may write the file
// anyway, so that a journal there holds nothing its author could not have
// written into the file himself: the folder belongs to the file's owner, to
// root or to this user, and where its group or everyone may make files
// there, they may write the file too. Told from the modes alone; an access
// control list on either leaves doubt, and doubt is a no. (With a list, the
// group bits are its mask: a folder without them lets no entry write.)
bool folderSpeaksForFile(int folder, int file, const struct stat& fileSt)
{
    struct stat dir {};
    if (::fstat(folder, &dir) != 0)
        return false;
    if (dir.st_uid != fileSt.st_uid && dir.st_uid != 0 && dir.st_uid != ::geteuid())
        return false;
    if ((dir.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    if (hasAccessList(folder) || hasAccessList(file))
        return false;
    const bool everyoneMayWrite = (fileSt.st_mode & S_IWGRP) && (fileSt.st_mode & S_IWOTH);
    if (dir.st_mode & S_IWOTH)
        return everyoneMayWrite;
    return everyoneMayWrite || ((fileSt.st_mode & S_IWGRP) && fileSt.st_gid == dir.st_gid);
}

// Where this user keeps journals and kept copies. Root's goes to /var/lib
// unless asked otherwise: with sudo -E, root's HOME is a user's.
QByteArray stateFolder()
{
    QByteArray base = qgetenv("XDG_STATE_HOME");
    if (!base.startsWith('/')) {
        if (::geteuid() == 0) {
            base = "/var/lib";
        } else {
            QByteArray home = qgetenv("HOME");
            if (!home.startsWith('/')) {
                if (const passwd* entry = ::getpwuid(::geteuid()))
                    home = entry->pw_dir;
            }
            if (!home.startsWith('/'))
                return QByteArray();
            base = home + "/.local/state";
        }
    }
    return base + "/brennwerk-editor";
}

// The state folder, made (mode 0700) when missing and `make` is set: only
// when it is a folder of this user's that nobody else may make files in,
// reached by the rule that resolves files. Not valid otherwise.
Fd openStateFolder(bool make)
{
    const QByteArray path = stateFolder();
    if (path.isEmpty())
        return Fd();
    if (make) {
        try {
            makeFolders(QFile::decodeName(path), 0700);
        } catch (const EditorError&) {
            return Fd();
        }
    }
    int hops = 0;
    Place place = resolveIn(AT_FDCWD, path, QByteArray(), hops);
    if (!place.refusal.isEmpty() || place.error != 0 || !place.file.valid() || !S_ISDIR(place.st.st_mode)
        || place.st.st_uid != ::geteuid() || (place.st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Fd();
    return std::move(place.file);
}

QByteArray stateJournalName(const struct stat& st)
{
    return QByteArray::number(qulonglong(st.st_dev), 16) + '-' + QByteArray::number(qulonglong(st.st_ino)) + ".journal";
}

// What tells this inode from a later one that gets its number: its birth
// time, else the generation the file system gives it; "none" where neither
// is kept. fd must be open for reading (the generation's ioctl).
QByteArray birthOf(int fd)
{
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        return "birth " + QByteArray::number(qlonglong(sx.stx_btime.tv_sec)) + '.'
            + QByteArray::number(sx.stx_btime.tv_nsec);
    int generation = 0;
    if (::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0)
        return "generation " + QByteArray::number(unsigned(generation));
    return "none";
}

QByteArray hashOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

constexpr char journalMagic[] = "BRENNWERK-JOURNAL 2";
// A header longer than this is not one (a path is at most PATH_MAX bytes,
// three times that percent-encoded).
constexpr qsizetype journalHeaderLimit = 4 * PATH_MAX;

// The file a journal belongs to, as the journal names it.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    QByteArray birth;
    QByteArray path;
    bool operator==(const FileIdentity&) const = default;
};

// A journal's header: whose it is and what it holds, so that a cut-short or
// foreign journal is never taken for one.
struct JournalHeader {
    FileIdentity file;
    qint64 beforeSize = 0;
    qint64 afterSize = 0;
    QByteArray beforeHash;
    QByteArray afterHash;
    qsizetype size = 0; // of the header itself, the blank line included

    static QByteArray of(const FileIdentity& file, const QByteArray& before, const QByteArray& after)
    {
        return journalMagic + QByteArray("\nfile ") + QByteArray::number(qulonglong(file.dev)) + ' '
            + QByteArray::number(qulonglong(file.ino)) + ' ' + file.birth + "\npath "
            + file.path.toPercentEncoding("/") + "\nbefore " + QByteArray::number(before.size()) + ' '
            + hashOf(before) + "\nafter " + QByteArray::number(after.size()) + ' ' + hashOf(after) + "\n\n";
    }

    // The header at the start of the journal fd, whose size is journalSize;
    // nothing when it is none or does not account for every byte.
    static std::optional<JournalHeader> read(int fd, off_t journalSize)
    {
        QByteArray head(qsizetype(std::min<off_t>(journalSize, journalHeaderLimit)), Qt::Uninitialized);
        qsizetype got = 0;
        while (got < head.size()) {
            const ssize_t n = ::pread(fd, head.data() + got, size_t(head.size() - got), off_t(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return std::nullopt;
            got += n;
        }
        const qsizetype end = head.indexOf("\n\n");
        if (end < 0)
            return std::nullopt;
        const QList<QByteArray> lines = head.left(end).split('\n');
        if (lines.size() != 5 || lines[0] != journalMagic || !lines[2].startsWith("path "))
            return std::nullopt;
        const QList<QByteArray> file = lines[1].split(' ');
        const QList<QByteArray> before = lines[3].split(' ');
        const QList<QByteArray> after = lines[4].split(' ');
        if (file.size() < 4 || file[0] != "file" || before.size() != 3 || before[0] != "before" || after.size() != 3
            || after[0] != "after")
            return std::nullopt;
        bool ok[4] = {};
        JournalHeader header;
        header.file.dev = dev_t(file[1].toULongLong(&ok[0]));
        header.file.ino = ino_t(file[2].toULongLong(&ok[1]));
        header.file.birth = lines[1].mid(file[0].size() + file[1].size() + file[2].size() + 3);
        header.file.path = QByteArray::fromPercentEncoding(lines[2].mid(5));
        header.beforeSize = before[1].toLongLong(&ok[2]);
        header.afterSize = after[1].toLongLong(&ok[3]);
        header.beforeHash = before[2];
        header.afterHash = after[2];
        header.size = end + 2;
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || header.beforeSize < 0 || header.afterSize < 0
            || header.beforeSize > journalSize || header.afterSize > journalSize
            || header.size + header.beforeSize + header.afterSize != journalSize)
            return std::nullopt;
        return header;
    }
};

// A complete journal: the file it belongs to, and its content before and
// after the write.
struct Journal {
    FileIdentity file;
    QByteArray before;
    QByteArray after;

    QByteArray bytes() const { return JournalHeader::of(file, before, after) + before + after; }

    // The contents after a header already read; nothing when they are not
    // the ones the header names.
    static std::optional<Journal> read(int fd, const JournalHeader& header)
    {
        std::optional<QByteArray> body = readAll(fd, off_t(header.size + header.beforeSize + header.afterSize));
        if (!body || body->size() != header.size + header.beforeSize + header.afterSize)
            return std::nullopt;
        Journal journal{header.file, body->mid(header.size, header.beforeSize),
                        body->mid(header.size + header.beforeSize)};
        if (hashOf(journal.before) != header.beforeHash || hashOf(journal.after) != header.afterHash)
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

// The file at the place, as a journal names it; fd is the file opened.
FileIdentity identityOf(const Place& place, int fd, const struct stat& st)
{
    return {st.st_dev, st.st_ino, birthOf(fd), joined(pathOf(place.folder.get()), place.name)};
}

// A new file with these bytes, complete before it has its name: a
// temporary file, written, synced and only then renamed, never over a file
// that is there. It gets the mode (less the umask); a copy of a file (owner)
// also gets that file's owner and group where the writer can give them, so
// that whoever may read the file may read its copy. False with errno set on
// failure, nothing left behind.
bool createComplete(int folder, const QByteArray& name, const QByteArray& prefix, const QByteArray& bytes, mode_t mode,
                    const struct stat* owner = nullptr)
{
    if (!withinSizeLimit(bytes.size()))
        return false;
    Temporary temporary = createTemporary(folder, prefix, owner ? 0600 : mode);
    if (!temporary.fd.valid())
        return false;
    const int fd = temporary.fd.get();
    if (owner) {
        if (::fchown(fd, owner->st_uid, owner->st_gid) != 0 && ::fchown(fd, uid_t(-1), owner->st_gid) != 0) {
            // What cannot be given stays this user's.
        }
        (void)::fchmod(fd, mode);
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

// Journals that were left alone, by their own identity and change time and
// the file they were found for (one file may have two names), so that each
// is told of once and costs no more than a look after that.
std::mutex leftAloneMutex;

QSet<QByteArray>& leftAlone()
{
    static QSet<QByteArray> journals;
    return journals;
}

QByteArray journalKey(const struct stat& journal, const Place& place)
{
    struct stat folder {};
    (void)::fstat(place.folder.get(), &folder);
    QByteArray key;
    for (const qint64 n : {qint64(journal.st_dev), qint64(journal.st_ino), qint64(journal.st_ctim.tv_sec),
                           qint64(journal.st_ctim.tv_nsec), qint64(journal.st_size), qint64(folder.st_dev),
                           qint64(folder.st_ino)})
        key += QByteArray::number(n) + ' ';
    return key + place.name;
}

bool knownLeftAlone(const struct stat& journal, const Place& place)
{
    const QByteArray key = journalKey(journal, place);
    const std::lock_guard<std::mutex> guard(leftAloneMutex);
    return leftAlone().contains(key);
}

// Whether a journal of the file may be there: a look at two names, made
// before every read. One already left alone does not count.
bool journalThere(const Place& place, const struct stat& st)
{
    struct stat journal {};
    if (::fstatat(place.folder.get(), journalName(place.name).constData(), &journal, AT_SYMLINK_NOFOLLOW) == 0
        && !knownLeftAlone(journal, place))
        return true;
    const QByteArray state = stateFolder();
    return !state.isEmpty() && ::lstat((state + '/' + stateJournalName(st)).constData(), &journal) == 0
        && !knownLeftAlone(journal, place);
}

RecoveryReport& recoveryReport()
{
    static RecoveryReport report;
    return report;
}

void tell(const Recovery& recovery)
{
    if (recoveryReport())
        recoveryReport()(recovery);
    else
        TerminalText::write(stderr, QStringLiteral("brennwerk-editor: %1\n").arg(describe(recovery)));
}

// A journal that stays would be told of at every read of the file. One
// left alone is not looked at again; one of this program's that could not
// be put back still stops every write in place, and is tried again at each
// access.
void tellOnce(const Recovery& recovery, const struct stat& journal, const Place& place)
{
    static QSet<QByteArray> told;
    const QByteArray key = journalKey(journal, place);
    {
        const std::lock_guard<std::mutex> guard(leftAloneMutex);
        if (recovery.outcome == Recovery::Outcome::LeftAlone)
            leftAlone().insert(key);
        if (told.contains(key))
            return;
        told.insert(key);
    }
    tell(recovery);
}

// The old content kept as a file of this user's alone in the state folder,
// for the user to restore by hand; its path, or nothing.
std::optional<QByteArray> keepCopy(const QByteArray& fileName, const QByteArray& content)
{
    const Fd state = openStateFolder(true);
    if (!state.valid())
        return std::nullopt;
    const QByteArray stem = fileName + ".brennwerk-kept-"
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    for (int n = 1; n < 100; ++n) {
        const QByteArray name = n == 1 ? stem : stem + '-' + QByteArray::number(n);
        if (createComplete(state.get(), name, temporaryPrefix(name), content, 0600))
            return joined(stateFolder(), name);
        if (errno != EEXIST)
            return std::nullopt;
    }
    return std::nullopt;
}

// Where a journal of the file may be, and whether one there is believed.
struct JournalPlace {
    Fd folder;
    QByteArray name;
    QByteArray shown; // its path, for messages
    bool believed = false;
};

// Runs with the file locked for writing: puts back the old content of a
// write that a crash left unfinished, where the file is still as it left it.
// Returns false when a journal of this program stays for this file (nothing
// may be written in place then); one left alone stops nothing.
bool recover(const Place& place, const QString& path, int fd, bool writable, const struct stat& st)
{
    std::vector<JournalPlace> places;
    places.push_back({Fd(::fcntl(place.folder.get(), F_DUPFD_CLOEXEC, 0)), journalName(place.name),
                      joined(pathOf(place.folder.get()), journalName(place.name)),
                      folderSpeaksForFile(place.folder.get(), fd, st)});
    places.push_back({openStateFolder(false), stateJournalName(st), joined(stateFolder(), stateJournalName(st)), true});
    const FileIdentity file = identityOf(place, fd, st);
    bool clear = true;
    for (const JournalPlace& at : places) {
        if (!at.folder.valid())
            continue;
        struct stat journalSt {};
        if (::fstatat(at.folder.get(), at.name.constData(), &journalSt, AT_SYMLINK_NOFOLLOW) != 0
            || knownLeftAlone(journalSt, place))
            continue;
        Recovery recovery;
        recovery.file = path;
        recovery.copy = QString::fromLocal8Bit(at.shown);
        const auto leaveAlone = [&](Recovery::Why why) {
            recovery.outcome = Recovery::Outcome::LeftAlone;
            recovery.why = why;
            tellOnce(recovery, journalSt, place);
        };
        const auto notPutBack = [&](Recovery::Why why, int error = 0) {
            recovery.outcome = Recovery::Outcome::NotPutBack;
            recovery.why = why;
            recovery.error = error;
            tellOnce(recovery, journalSt, place);
            clear = false;
        };
        if (!S_ISREG(journalSt.st_mode) || journalSt.st_nlink != 1) {
            leaveAlone(Recovery::Why::NotAPlainFile);
            continue;
        }
        if (!at.believed) {
            leaveAlone(Recovery::Why::OthersMayHaveMadeIt);
            continue;
        }
        const Fd journalFd(::openat(at.folder.get(), at.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {};
        if (!journalFd.valid() || ::fstat(journalFd.get(), &opened) != 0 || !sameFile(opened, journalSt)) {
            leaveAlone(Recovery::Why::NotAJournalOfThisFile);
            continue;
        }
        const std::optional<JournalHeader> header = JournalHeader::read(journalFd.get(), opened.st_size);
        if (!header || header->file.path != file.path) {
            leaveAlone(Recovery::Why::NotAJournalOfThisFile);
            continue;
        }
        const std::optional<QByteArray> now = readAll(fd);
        if (!now)
            continue;
        // The two contents of a write of this file; a journal that claims
        // more is no journal of it, and is not read into memory.
        const qint64 most = 2 * std::max<qint64>(now->size(), qint64(32) << 20);
        if (header->beforeSize > most || header->afterSize > most) {
            leaveAlone(Recovery::Why::TooLarge);
            continue;
        }
        const std::optional<Journal> journal = Journal::read(journalFd.get(), *header);
        if (!journal) {
            leaveAlone(Recovery::Why::NotAJournalOfThisFile);
            continue;
        }
        if (journal->file == file && journal->leftAsIs(*now)) {
            if (!writable && *now != journal->before) {
                notPutBack(Recovery::Why::NotWritable);
                continue;
            }
            if (*now != journal->before
                && !(writeAll(fd, journal->before) && ::ftruncate(fd, off_t(journal->before.size())) == 0
                     && ::fsync(fd) == 0)) {
                notPutBack(Recovery::Why::SystemError, errno);
                continue;
            }
            recovery.outcome = Recovery::Outcome::PutBack;
        } else {
            // Someone wrote or replaced the file since (the game, a text
            // editor): theirs stays, and the old content is kept where
            // only this user can read it.
            const std::optional<QByteArray> kept = keepCopy(place.name, journal->before);
            if (!kept) {
                notPutBack(Recovery::Why::ChangedSince, errno);
                continue;
            }
            recovery.outcome = Recovery::Outcome::Kept;
            recovery.copy = QString::fromLocal8Bit(*kept);
        }
        ::unlinkat(at.folder.get(), at.name.constData(), 0);
        syncFolder(at.folder.get());
        tell(recovery);
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
    LockWait wait(qint64(lockWaitSeconds) * 1000);
    struct stat lastWaitedFor {};
    for (;;) {
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
            lastWaitedFor = st;
            if (wait.take(fd.get(), LOCK_EX, st, path) == Locked::TimedOut)
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
        if (wait.over())
            refuse(path, QStringLiteral("%1 has held it locked for %2 seconds; nothing was written")
                             .arg(heldBy(lastWaitedFor))
                             .arg(lockWaitSeconds));
    }
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
        if (!createComplete(folder, name, temporaryPrefix(name), content, 0666)) {
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
    const Journal journal{identityOf(s.place, fd, before), *old, content};
    // Beside the file where a second user of the file may find it, if its
    // folder speaks for the file; else in this user's state folder.
    JournalPlace journalAt;
    int journalError = 0;
    struct stat nothing {};
    if (folderWritable && folderSpeaksForFile(folder, fd, before)
        && ::fstatat(folder, journalName(name).constData(), &nothing, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
        removeStaleTemporaries(folder, temporaryPrefix(name));
        if (createComplete(folder, journalName(name), temporaryPrefix(name), journal.bytes(), before.st_mode & 0666,
                           &before))
            journalAt = {Fd(::fcntl(folder, F_DUPFD_CLOEXEC, 0)), journalName(name), QByteArray(), true};
        else
            journalError = errno;
    }
    if (!journalAt.folder.valid()) {
        Fd state = openStateFolder(true);
        const QByteArray stateName = stateJournalName(before);
        if (state.valid()) {
            removeStaleTemporaries(state.get(), temporaryPrefix(stateName));
            if (createComplete(state.get(), stateName, temporaryPrefix(stateName), journal.bytes(), 0600))
                journalAt = {std::move(state), stateName, QByteArray(), true};
            else if (journalError == 0)
                journalError = errno;
        }
    }
    if (!journalAt.folder.valid()) {
        // The journal holds the old and the new content: a limit may stop it
        // where the new content alone would fit.
        if (journalError == EFBIG || journalError == ENOSPC || journalError == EDQUOT)
            fail(path, journalError);
        refuse(path, QStringLiteral("no copy of its content could be made first, neither beside it nor in %1; "
                                    "nothing was written")
                         .arg(QFile::decodeName(stateFolder())));
    }
    const auto done = [&] {
        ::unlinkat(journalAt.folder.get(), journalAt.name.constData(), 0);
        syncFolder(journalAt.folder.get());
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

namespace {

std::atomic<bool> lookOnly = false;

std::optional<Seen> readAt(const QString& path, const Place& place, const Seen* last, bool* unchanged, bool recover)
{
    if (unchanged)
        *unchanged = false;
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
    if (last && provenByStamp(*last, place.st) && !journalThere(place, place.st)) {
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
        const Locked locked = LockWait(stuck().contains(id) ? 0 : qint64(lockWaitSeconds) * 1000)
                                  .take(fd.get(), LOCK_SH, st, path);
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
        if (recover && locked != Locked::TimedOut && journalThere(place, st)) {
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
        if (last && provenByStamp(*last, now)) {
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

} // namespace

std::optional<Seen> read(const QString& path, const Seen* last, bool* unchanged)
{
    return readAt(path, resolve(path), last, unchanged, !lookOnly);
}

Look look(const QString& path)
{
    const Place place = resolve(path);
    if (!place.refusal.isEmpty())
        refuse(path, place.refusal);
    Look look;
    look.exists = place.file.valid();
    if (std::optional<Seen> seen = readAt(path, place, nullptr, nullptr, false))
        look.bytes = std::move(seen->bytes);
    return look;
}

void setLookOnly(bool only)
{
    lookOnly = only;
}

void distrustStamps()
{
    ++stampPeriod;
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

void makeFolders(const QString& folder, mode_t mode)
{
    const QByteArray encoded = QFile::encodeName(folder);
    QByteArray prefix = encoded.startsWith('/') ? QByteArray("/") : QByteArray();
    for (const QByteArray& name : encoded.split('/')) {
        if (name.isEmpty() || name == ".")
            continue;
        prefix = joined(prefix, name);
        // Each prefix is resolved afresh, so that a folder just made, or one
        // another process made in between, is checked like any other.
        for (int attempt = 0;; ++attempt) {
            int hops = 0;
            const Place place = resolveIn(AT_FDCWD, prefix, QByteArray(), hops);
            if (!place.refusal.isEmpty())
                refuse(folder, place.refusal);
            if (place.error != 0)
                refuse(folder, QString::fromLocal8Bit(std::strerror(place.error)));
            if (place.file.valid()) {
                if (!S_ISDIR(place.st.st_mode))
                    refuse(folder, QStringLiteral("%1 is no folder").arg(QFile::decodeName(prefix)));
                break;
            }
            if (!place.danglingLink.isEmpty())
                refuse(folder, QStringLiteral("%1 is a symbolic link to a folder that does not exist; nothing is "
                                              "created through a link")
                                   .arg(place.danglingLink));
            if (::mkdirat(place.folder.get(), place.name.constData(), mode) == 0)
                break;
            if (errno != EEXIST || attempt > 0)
                refuse(folder, QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
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

namespace {

QString whyText(const Recovery& recovery)
{
    switch (recovery.why) {
    case Recovery::Why::NotWritable:
        return QStringLiteral("this user may not write the file");
    case Recovery::Why::ChangedSince:
        return QStringLiteral("the file was changed since, and no copy of it could be kept: %1")
            .arg(QString::fromLocal8Bit(std::strerror(recovery.error)));
    case Recovery::Why::SystemError:
        return QString::fromLocal8Bit(std::strerror(recovery.error));
    case Recovery::Why::NotAPlainFile:
        return QStringLiteral("it is no plain file");
    case Recovery::Why::OthersMayHaveMadeIt:
        return QStringLiteral("another user may have made it");
    case Recovery::Why::NotAJournalOfThisFile:
        return QStringLiteral("it is no complete copy of this file");
    case Recovery::Why::TooLarge:
        return QStringLiteral("it is larger than a copy of this file can be");
    case Recovery::Why::Nothing:
        break;
    }
    return QString();
}

} // namespace

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
    case Recovery::Outcome::LeftAlone:
        return QStringLiteral("%1: %2 is left alone and changes nothing, as %3").arg(recovery.file, recovery.copy,
                                                                                    whyText(recovery));
    case Recovery::Outcome::NotPutBack:
        break;
    }
    return QStringLiteral("%1: a write was interrupted, and its content from before cannot be put back (%2); the "
                          "copy is %3")
        .arg(recovery.file, whyText(recovery), recovery.copy);
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
