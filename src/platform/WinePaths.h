#pragma once

#include <QString>

#include <optional>

// Where a Wine prefix keeps its registry, and how its Windows paths
// ("C:\Games\UT", "Z:\home\anna\UT") and Unix paths meet. The drives are the
// prefix's dosdevices links ("c:" -> ../drive_c, "z:" -> /), as Wine has them.
namespace WinePaths {

// The prefix Wine would use: $WINEPREFIX, else ~/.wine. It need not exist.
QString defaultPrefix();

// The prefix whose machine hive the file is: the file is named "system.reg"
// and its folder holds "dosdevices" or "drive_c". Nothing otherwise.
std::optional<QString> prefixOfRegistryFile(const QString& registryPath);

// "C:\...", "c:/...", "Z:" and the like: a drive letter and a colon first.
bool isWindowsPath(const QString& path);

// "\\server\share\..." (UNC) and the like: a path that begins with two
// separators names something on the network, no drive of the prefix.
bool isNetworkPath(const QString& path);

// Whether two local paths name the same folder (through symbolic links too).
bool sameFolder(const QString& a, const QString& b);

// The path without separators at its end, but for a drive's or the file
// system's own root ("C:\", "/").
QString withoutTrailingSeparator(const QString& path);

// The Unix path of a Windows path in the prefix: the drive's link target,
// then each part matched on disk regardless of letter case (a part that is
// not there keeps its spelling). Nothing when the path is not a Windows path
// or its drive does not exist.
std::optional<QString> toUnix(const QString& prefix, const QString& windowsPath);

// The Windows path of an absolute Unix path: the drive whose target is the
// deepest folder holding it (C: for drive_c, else Z: for "/"), with
// backslashes; a drive's own folder is "C:\". Nothing when no drive holds it.
std::optional<QString> toWindows(const QString& prefix, const QString& unixPath);

} // namespace WinePaths
