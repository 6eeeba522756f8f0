#include "support/WriteLog.h"

#include "platform/SafeFile.h"

namespace {

// The first line of `after` that is not in `before` at the same place.
QByteArray changedLine(const QByteArray& before, const QByteArray& after)
{
    const QList<QByteArray> old = before.split('\n');
    const QList<QByteArray> now = after.split('\n');
    for (qsizetype i = 0; i < now.size(); ++i)
        if (i >= old.size() || old[i] != now[i])
            return now[i].endsWith('\r') ? now[i].chopped(1) : now[i];
    return {};
}

} // namespace

WriteLog::WriteLog()
{
    SafeFile::setWriteHook([this](const QString& path, const QByteArray& content) {
        const QByteArray before = SafeFile::read(path).value_or(QByteArray());
        if (!failFrom_.isEmpty() && changedLine(before, content) == failFrom_)
            failing_ = true;
        if (failing_)
            return false;
        writes_.append({path, before, content});
        return true;
    });
}

WriteLog::~WriteLog()
{
    SafeFile::setWriteHook({});
}

QStringList WriteLog::changedLines() const
{
    QStringList lines;
    for (const Write& write : writes_)
        lines << QString::fromLatin1(changedLine(write.before, write.after));
    return lines;
}
