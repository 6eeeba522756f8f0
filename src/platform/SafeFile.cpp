#include "platform/SafeFile.h"

#include "platform/EditorError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
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
    if (!QFileInfo(info.absolutePath()).isDir())
        fail(path);

    struct stat before {};
    const bool existed = ::stat(QFile::encodeName(target).constData(), &before) == 0;
    if (existed && (!S_ISREG(before.st_mode) || isReadOnly(target)))
        fail(path);

    QSaveFile file(target);
    // Never fall back to writing the original in place: that is what a crash
    // could leave half-written.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        fail(path);
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
        file.commit(); // removes the temporary file
        fail(path);
    }
    if (!file.commit())
        fail(path);

    // Root editing a player's file must not hand it over to root.
    if (existed && ::geteuid() == 0)
        (void)::chown(QFile::encodeName(target).constData(), before.st_uid, before.st_gid);
    syncFolder(info.absolutePath());
}

} // namespace SafeFile
