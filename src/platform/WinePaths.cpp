#include "platform/WinePaths.h"

#include "platform/GamePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <vector>

namespace WinePaths {

namespace {

struct Drive {
    QChar letter; // lower case
    QString root; // canonical, without a trailing slash but for "/"
};

// The drives as Wine sees them, a to z. A prefix without dosdevices gets the
// two drives Wine makes when it finds the folder missing.
std::vector<Drive> drivesOf(const QString& prefix)
{
    const QDir devices(prefix + QStringLiteral("/dosdevices"));
    std::vector<Drive> drives;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        QString target;
        if (devices.exists())
            target = QFileInfo(devices.filePath(QLatin1Char(letter) + QStringLiteral(":"))).canonicalFilePath();
        else if (letter == 'c')
            target = QFileInfo(prefix + QStringLiteral("/drive_c")).canonicalFilePath();
        else if (letter == 'z')
            target = QStringLiteral("/");
        if (!target.isEmpty() && QFileInfo(target).isDir())
            drives.push_back({QLatin1Char(letter), target});
    }
    return drives;
}

// Folds ".", ".." and doubled separators of the parts after the drive the
// way Windows does: ".." never climbs above the drive.
QStringList normalisedParts(const QString& path)
{
    QStringList parts;
    for (const QString& part : path.split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts << part;
    }
    return parts;
}

// The path with every symbolic link resolved, as far as it exists: a folder
// still to be made keeps its name below the deepest one that is there.
QString resolved(const QString& path)
{
    QString existing = path;
    QString rest;
    while (true) {
        const QString canonical = QFileInfo(existing).canonicalFilePath();
        if (!canonical.isEmpty())
            return rest.isEmpty() ? canonical : QDir::cleanPath(canonical + QLatin1Char('/') + rest);
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return path;
        rest = rest.isEmpty() ? existing.mid(slash + 1) : existing.mid(slash + 1) + QLatin1Char('/') + rest;
        existing = existing.left(slash);
    }
}

bool holds(const QString& root, const QString& path)
{
    if (root == QLatin1String("/"))
        return true;
    return path == root || (path.startsWith(root) && path.at(root.size()) == QLatin1Char('/'));
}

} // namespace

QString defaultPrefix()
{
    const QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (!prefix.isEmpty())
        return prefix;
    return QDir::homePath() + QStringLiteral("/.wine");
}

std::optional<QString> prefixOfRegistryFile(const QString& registryPath)
{
    QFileInfo file(registryPath);
    if (file.isSymLink() && !file.canonicalFilePath().isEmpty())
        file = QFileInfo(file.canonicalFilePath());
    if (file.fileName() != QLatin1String("system.reg"))
        return std::nullopt;
    const QDir folder = file.absoluteDir();
    if (!QFileInfo(folder.filePath(QStringLiteral("dosdevices"))).isDir()
        && !QFileInfo(folder.filePath(QStringLiteral("drive_c"))).isDir())
        return std::nullopt;
    return QDir::cleanPath(folder.absolutePath());
}

bool isWindowsPath(const QString& path)
{
    return path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].isLetter() && path[0].unicode() < 128
        && (path.size() == 2 || path[2] == QLatin1Char('\\') || path[2] == QLatin1Char('/'));
}

bool isNetworkPath(const QString& path)
{
    const auto separator = [&](qsizetype i) {
        return i < path.size() && (path[i] == QLatin1Char('\\') || path[i] == QLatin1Char('/'));
    };
    return separator(0) && separator(1);
}

bool sameFolder(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return a == b;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (!canonicalA.isEmpty() || !canonicalB.isEmpty())
        return canonicalA == canonicalB;
    return resolved(QDir::cleanPath(a)) == resolved(QDir::cleanPath(b));
}

QString withoutTrailingSeparator(const QString& path)
{
    QString trimmed = path;
    const auto isSeparator = [](QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); };
    while (trimmed.size() > 1 && isSeparator(trimmed.back()) && !(trimmed.size() == 3 && isWindowsPath(trimmed)))
        trimmed.chop(1);
    return trimmed;
}

std::optional<QString> toUnix(const QString& prefix, const QString& windowsPath)
{
    if (!isWindowsPath(windowsPath))
        return std::nullopt;
    const QChar letter = windowsPath[0].toLower();
    for (const Drive& drive : drivesOf(prefix)) {
        if (drive.letter != letter)
            continue;
        const QStringList parts = normalisedParts(windowsPath.mid(2));
        if (parts.isEmpty())
            return drive.root;
        const QString root = drive.root == QLatin1String("/") ? QString() : drive.root;
        return GamePaths::matchOnDisk(root + QLatin1Char('/') + parts.join(QLatin1Char('/')));
    }
    return std::nullopt;
}

std::optional<QString> toWindows(const QString& prefix, const QString& unixPath)
{
    if (!unixPath.startsWith(QLatin1Char('/')))
        return std::nullopt;
    // Wine finds a path's drive by the folders themselves, so a path through
    // a symbolic link lands where its target lies.
    const QString path = resolved(QDir::cleanPath(unixPath));
    const std::vector<Drive> drives = drivesOf(prefix);
    const Drive* best = nullptr;
    for (const Drive& drive : drives)
        if (holds(drive.root, path) && (!best || drive.root.size() > best->root.size()))
            best = &drive;
    if (!best)
        return std::nullopt;
    QString rest = best->root == QLatin1String("/") ? path.mid(1) : path.mid(best->root.size() + 1);
    rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return best->letter.toUpper() + QStringLiteral(":\\") + rest;
}

} // namespace WinePaths
