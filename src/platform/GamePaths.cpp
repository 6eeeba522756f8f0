#include "platform/GamePaths.h"

#include <QDir>
#include <QStringList>

namespace GamePaths {

QString matchOnDisk(const QString& path)
{
    const bool absolute = path.startsWith(QLatin1Char('/'));
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString result = absolute ? QStringLiteral("/") : QString();
    QString folder = absolute ? QStringLiteral("/") : QStringLiteral(".");
    for (const QString& part : parts) {
        QString name = part;
        const QDir dir(folder);
        if (part != QLatin1String(".") && part != QLatin1String("..") && !dir.exists(part)) {
            const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            for (const QString& entry : entries) {
                if (entry.compare(part, Qt::CaseInsensitive) == 0) {
                    name = entry;
                    break;
                }
            }
        }
        if (!result.isEmpty() && !result.endsWith(QLatin1Char('/')))
            result += QLatin1Char('/');
        result += name;
        folder = result;
    }
    return result;
}

QString gameDirFromExecutable(const QString& executablePath)
{
    return executablePath.left(qMax(0, executablePath.size() - 28));
}

QString mainIniPath(const QString& gameDir)
{
    return matchOnDisk(gameDir + QStringLiteral("/system/unrealtournament.ini"));
}

QString userIniPath(const QString& gameDir)
{
    return matchOnDisk(gameDir + QStringLiteral("/system/user.ini"));
}

} // namespace GamePaths
