#include "platform/WineServer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace WineServer {

namespace {

enum class LockState { Absent, Free, Held };

// Whether another process holds an fcntl lock on the file (the locks of
// this process are invisible to F_GETLK, and it holds none there).
LockState lockState(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? LockState::Absent : LockState::Held;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const int result = ::fcntl(fd, F_GETLK, &lock);
    ::close(fd);
    // What cannot be asked counts as running: a write could be lost.
    if (result != 0)
        return LockState::Held;
    return lock.l_type == F_UNLCK ? LockState::Free : LockState::Held;
}

struct Prefix {
    dev_t device = 0;
    ino_t inode = 0;
    uid_t owner = 0;
    QByteArray serverFolder; // "server-<device>-<inode>"
    bool madeByWine = false; // holds dosdevices or drive_c
};

bool samePlace(const Prefix& prefix, const QByteArray& path)
{
    struct stat info = {};
    return !path.isEmpty() && ::stat(path.constData(), &info) == 0 && info.st_dev == prefix.device
        && info.st_ino == prefix.inode;
}

// A small file of /proc, read whole; nothing when it cannot be read.
std::optional<QByteArray> readProcFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[4096];
    ssize_t got = 0;
    // An environment is small; a huge one is cut, its WINEPREFIX likely read.
    while (bytes.size() < 1024 * 1024 && (got = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, got);
    ::close(fd);
    if (got < 0)
        return std::nullopt;
    return bytes;
}

// The prefix a process's environment names to Wine: WINEPREFIX, else
// ~/.wine. Nothing for a relative one, which depends on where it started.
QByteArray prefixInEnvironment(const QByteArray& environment)
{
    QByteArray home;
    for (const QByteArray& entry : environment.split('\0')) {
        if (entry.startsWith("WINEPREFIX=")) {
            const QByteArray prefix = entry.mid(11);
            return prefix.startsWith('/') ? prefix : QByteArray();
        }
        if (entry.startsWith("HOME="))
            home = entry.mid(5);
    }
    return home.startsWith('/') ? home + "/.wine" : QByteArray();
}

enum class Seen { NotIt, It, Hidden };

// What /proc tells of one process: a wineserver of the prefix, none, or one
// that this user may not look into.
Seen processServes(const QByteArray& pid, const Prefix& prefix)
{
    const QByteArray folder = "/proc/" + pid;
    const std::optional<QByteArray> name = readProcFile(folder + "/comm");
    // wineserver, wineserver32, wineserver64 as distributions name it.
    if (!name || !name->startsWith("wineserver"))
        return Seen::NotIt;
    char target[PATH_MAX];
    const ssize_t length = ::readlink((folder + "/cwd").constData(), target, sizeof target - 1);
    if (length < 0) {
        // A zombie or a process that has just ended has no working folder.
        if (errno != EACCES && errno != EPERM)
            return Seen::NotIt;
        struct stat owner = {};
        if (::stat(folder.constData(), &owner) != 0)
            return Seen::NotIt;
        return owner.st_uid == prefix.owner ? Seen::Hidden : Seen::NotIt;
    }
    const QByteArray cwd(target, length);
    const QByteArray cwdName = cwd.mid(cwd.lastIndexOf('/') + 1);
    if (cwdName.startsWith("server-"))
        return cwdName == prefix.serverFolder ? Seen::It : Seen::NotIt;
    // One that has not yet moved into its folder still has its prefix in its
    // environment.
    if (const std::optional<QByteArray> environment = readProcFile(folder + "/environ"))
        if (samePlace(prefix, prefixInEnvironment(*environment)))
            return Seen::It;
    return Seen::NotIt;
}

bool aProcessServes(const Prefix& prefix)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        if (pid.isEmpty() || !pid.front().isDigit())
            continue;
        switch (processServes(pid.toLatin1(), prefix)) {
        case Seen::It:
            return true;
        case Seen::Hidden:
            // Another user's wineserver, whose prefix stays unknown: only the
            // prefix's owner runs Wine in it, and this user is not the owner.
            if (prefix.madeByWine && prefix.owner != ::getuid())
                return true;
            break;
        case Seen::NotIt:
            break;
        }
    }
    return false;
}

// The folders where Wine may keep the prefix's server folder.
QStringList serverRoots(const QString& prefix, const Prefix& place)
{
    QStringList roots{QStringLiteral("/tmp/.wine-%1").arg(::getuid())};
    // Wine runs only in a prefix of one's own, so its server is the owner's.
    if (place.owner != ::getuid())
        roots << QStringLiteral("/tmp/.wine-%1").arg(place.owner);

    // Only a plain file: opening a FIFO would wait for a writer.
    QFile nameFile(prefix + QStringLiteral("/wineserver"));
    if (QFileInfo(nameFile).isFile() && nameFile.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromUtf8(nameFile.read(256)).trimmed();
        if (!name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String("..")
            && name != QLatin1String(".")) {
            QStringList temporaryFolders{QStringLiteral("/tmp")};
            const QString tmp = qEnvironmentVariable("TMPDIR");
            if (!tmp.isEmpty() && QDir::cleanPath(tmp) != temporaryFolders.front())
                temporaryFolders.prepend(tmp);
            for (const QString& folder : temporaryFolders)
                roots << folder + QLatin1Char('/') + name;
        }
    }
    return roots;
}

} // namespace

bool runsFor(const QString& prefix)
{
    struct stat folder = {};
    if (::stat(QFile::encodeName(prefix).constData(), &folder) != 0)
        return false;
    Prefix place;
    place.device = folder.st_dev;
    place.inode = folder.st_ino;
    place.owner = folder.st_uid;
    place.serverFolder = QStringLiteral("server-%1-%2")
                             .arg(qulonglong(folder.st_dev), 0, 16)
                             .arg(qulonglong(folder.st_ino), 0, 16)
                             .toLatin1();
    place.madeByWine = QFileInfo(prefix + QStringLiteral("/dosdevices")).isDir()
        || QFileInfo(prefix + QStringLiteral("/drive_c")).isDir();

    for (const QString& root : serverRoots(prefix, place))
        if (lockState(root + QLatin1Char('/') + QString::fromLatin1(place.serverFolder) + QStringLiteral("/lock"))
            == LockState::Held)
            return true;
    return aProcessServes(place);
}

} // namespace WineServer
