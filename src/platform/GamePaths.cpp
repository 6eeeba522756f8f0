#include "platform/GamePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace GamePaths {

namespace {

QString joined(const QString& folder, const QString& name)
{
    if (folder.isEmpty())
        return name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The names in the folder that are the name regardless of letter case, the
// exact spelling first, then as the folder lists them (sorted).
QStringList matching(const QString& folder, const QString& name, QDir::Filters kind = QDir::AllEntries)
{
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    QStringList found;
    for (const QString& entry : dir.entryList(kind | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (entry.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (entry == name)
            found.prepend(entry);
        else
            found << entry;
    }
    return found;
}

struct Matched {
    QString path;
    qsizetype found = 0; // how many of the parts exist
};

Matched matchFrom(const QString& at, const QStringList& parts, qsizetype index)
{
    if (index == parts.size())
        return {at, 0};
    // The rest as it is spelled is there: nothing can match more of it.
    const QString spelled = joined(at, parts.mid(index).join(QLatin1Char('/')));
    if (QFileInfo::exists(spelled))
        return {spelled, parts.size() - index};
    const QString& part = parts[index];
    QStringList candidates;
    if (part == QLatin1String(".") || part == QLatin1String(".."))
        candidates << part;
    else
        candidates = matching(at, part);
    if (candidates.isEmpty())
        return {spelled, 0};
    Matched best;
    bool first = true;
    for (const QString& candidate : candidates) {
        const Matched rest = matchFrom(joined(at, candidate), parts, index + 1);
        if (first || rest.found + 1 > best.found) {
            best = {rest.path, rest.found + 1};
            first = false;
        }
        if (best.found == parts.size() - index)
            break;
    }
    return best;
}

bool isFile(const QString& path)
{
    return QFileInfo(path).isFile();
}

// Files by which a folder is known as the game's System folder.
bool holdsGameFiles(const QString& folder)
{
    static const QStringList names =
        QStringList{QStringLiteral("UnrealTournament.ini"), QStringLiteral("User.ini"),
                    QStringLiteral("UnrealTournament.exe"), QStringLiteral("UCC.exe"), QStringLiteral("Core.u"),
                    QStringLiteral("Engine.u")}
        + linuxExecutables();
    return std::any_of(names.begin(), names.end(),
                       [&](const QString& name) { return !matching(folder, name, QDir::Files).isEmpty(); });
}

QString inFolder(const QString& folder, const QString& file)
{
    return matchOnDisk(joined(folder, file));
}

} // namespace

QString matchOnDisk(const QString& path)
{
    const bool absolute = path.startsWith(QLatin1Char('/'));
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return matchFrom(absolute ? QStringLiteral("/") : QString(), parts, 0).path;
}

const QStringList& linuxExecutables()
{
    static const QStringList names{QStringLiteral("ut-bin"), QStringLiteral("ut-bin-amd64"),
                                   QStringLiteral("ucc-bin")};
    return names;
}

QString gameDirFromExecutable(const QString& executablePath)
{
    const qsizetype slash = executablePath.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0 && linuxExecutables().contains(executablePath.mid(slash + 1))) {
        const QString folder = executablePath.left(slash);
        return folder.left(qMax<qsizetype>(0, folder.lastIndexOf(QLatin1Char('/'))));
    }
    return executablePath.left(qMax(0, executablePath.size() - 28));
}

QString gameFile(const QString& base, const QString& folder, const QString& file)
{
    const QString at = base.isEmpty() ? QStringLiteral("/") : base;
    const QStringList folders = matching(at, folder, QDir::Dirs);
    if (folders.isEmpty())
        return base + QLatin1Char('/') + folder + QLatin1Char('/') + file;
    QString best = folders.front();
    int bestRank = folders.size() > 1 ? -1 : 3;
    for (const QString& candidate : folders) {
        if (bestRank == 3)
            break;
        const QString path = joined(at, candidate);
        const int rank = (matching(path, file, QDir::Files).isEmpty() ? 0 : 2) + (holdsGameFiles(path) ? 1 : 0);
        if (rank > bestRank) {
            best = candidate;
            bestRank = rank;
        }
    }
    const QStringList files = matching(joined(at, best), file, QDir::Files);
    return base + QLatin1Char('/') + best + QLatin1Char('/') + (files.isEmpty() ? file : files.front());
}

std::optional<QString> linuxExecutable(const QString& gameDir)
{
    for (const auto& [folder, name] : {std::pair{QStringLiteral("System"), QStringLiteral("ut-bin")},
                                       std::pair{QStringLiteral("System64"), QStringLiteral("ut-bin-amd64")}}) {
        const QString path = gameFile(gameDir, folder, name);
        if (isFile(path))
            return path;
    }
    return std::nullopt;
}

bool isGameFolder(const QString& gameDir)
{
    for (const QString& folder : {QStringLiteral("System"), QStringLiteral("System64")})
        for (const QString& system : matching(gameDir, folder, QDir::Dirs))
            if (holdsGameFiles(joined(gameDir, system)))
                return true;
    return false;
}

QString mainIniPath(const QString& gameDir)
{
    return gameFile(gameDir, QStringLiteral("System"), QStringLiteral("UnrealTournament.ini"));
}

QString userIniPath(const QString& gameDir)
{
    return gameFile(gameDir, QStringLiteral("System"), QStringLiteral("User.ini"));
}

IniFiles gameIniFiles(const QString& gameDir, const std::optional<QString>& iniDir)
{
    // A Linux build: ut-bin in System, or ut-bin-amd64 alone in System64.
    const bool build32 = !iniDir && isFile(gameFile(gameDir, QStringLiteral("System"), QStringLiteral("ut-bin")));
    const bool only64 = !iniDir && !build32
        && isFile(gameFile(gameDir, QStringLiteral("System64"), QStringLiteral("ut-bin-amd64")));
    const bool linuxBuild = build32 || only64;
    const QString home = QDir::homePath();
    const auto choose = [&](const QString& name) -> IniFile {
        if (iniDir)
            return {inFolder(*iniDir, name), IniPlace::IniDir};
        if (linuxBuild) {
            // Each file on its own, as the game looks for it.
            for (const auto& [place, folder] : {std::pair{IniPlace::Utpg, home + QStringLiteral("/.utpg/System")},
                                                std::pair{IniPlace::Loki, home + QStringLiteral("/.loki/ut/System")}}) {
                const QString path = inFolder(folder, name);
                if (isFile(path))
                    return {path, place};
            }
            if (only64)
                return {gameFile(gameDir, QStringLiteral("System64"), name), IniPlace::Installation64};
        }
        return {gameFile(gameDir, QStringLiteral("System"), name), IniPlace::Installation};
    };
    return {choose(QStringLiteral("UnrealTournament.ini")), choose(QStringLiteral("User.ini"))};
}

} // namespace GamePaths
