#pragma once

#include <QString>

namespace GamePaths {

// The path with each part matched, regardless of letter case, to what exists
// on disk ("system/user.ini" finds "System/User.ini"); a part that matches
// nothing keeps the spelling given. An exact match wins over others.
QString matchOnDisk(const QString& path);

// The game folder from the path of its executable: the last 28 characters
// ("/System/UnrealTournament.exe") cut off, by count alone.
QString gameDirFromExecutable(const QString& executablePath);

// "<gameDir>/system/unrealtournament.ini" and "<gameDir>/system/user.ini",
// matched on disk.
QString mainIniPath(const QString& gameDir);
QString userIniPath(const QString& gameDir);

} // namespace GamePaths
