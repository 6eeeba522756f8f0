#include "support/Files.h"

#include "platform/EditorError.h"

#include <QFile>

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray sourceBytes(const QString& path)
{
    QFile file(QStringLiteral(BRENNWERK_SOURCE_DIR "/") + path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(path));
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QString unableToWrite(const QString& path)
{
    return QStringLiteral("Unable to write to %1.").arg(path);
}

QString failureOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const EditorError& e) {
        return e.message();
    }
    return QString();
}
