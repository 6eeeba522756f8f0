#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace GamePaths {

// The path with each part matched, regardless of letter case, to what exists
// on disk ("system/user.ini" finds "System/User.ini"); a part that matches
// nothing keeps the spelling given. Where several names match, the one under
// which most of the rest of the path exists wins, then the exact spelling.
QString matchOnDisk(const QString& path);

// The executables of the game's Linux builds, beside the Windows
// UnrealTournament.exe: ut-bin, ut-bin-amd64, ucc-bin.
const QStringList& linuxExecutables();

// The game folder from the path of its executable: the folder above the one
// holding it. For the Windows executable (and any other name) by count alone,
// the last 28 characters ("/System/UnrealTournament.exe") cut off; for the
// Linux builds' executables (ut-bin, ut-bin-amd64, ucc-bin) by their folder.
QString gameDirFromExecutable(const QString& executablePath);

// The file of the game's own spelling ("UnrealTournament.ini") in the
// game's folder of that name ("System") below base, each matched on disk
// regardless of letter case. Where several folders or files match, the one
// that holds the file wins, then the one that holds other files of the game,
// then the game's spelling; a file that does not exist yet is named in the
// game's spelling, in the existing folder.
QString gameFile(const QString& base, const QString& folder, const QString& file);

// The executable of the folder's Linux build, the one the game's files are
// looked up for: System/ut-bin, else System64/ut-bin-amd64, each matched on
// disk regardless of letter case; nothing when the folder holds neither.
std::optional<QString> linuxExecutable(const QString& gameDir);

// Whether the folder is a game's: a System or System64 folder in it (any
// letter case) holds one of the files by which the game's System folder is
// known (its INI files, its Windows or Linux programs, its core packages).
bool isGameFolder(const QString& gameDir);

// The installation's own INI files: <gameDir>/System/UnrealTournament.ini
// and <gameDir>/System/User.ini, as gameFile() finds them.
QString mainIniPath(const QString& gameDir);
QString userIniPath(const QString& gameDir);

// Where an INI file the game uses lies, and why there.
enum class IniPlace {
    IniDir,         // the folder the user named (--ini-dir)
    Utpg,           // ~/.utpg/System/: the Linux patches' preference folder
    Loki,           // ~/.loki/ut/System/: the Loki build's preference folder
    Installation64, // <game>/System64/: a folder with only the 64-bit Linux build
    Installation,   // <game>/System/
};
struct IniFile {
    QString path;
    IniPlace place = IniPlace::Installation;
};
struct IniFiles {
    IniFile main; // UnrealTournament.ini
    IniFile user; // User.ini
};

// The INI files the game uses. In iniDir when one is given. For a Linux
// build, each file on its own: in ~/.utpg/System/ when it is there, else in
// ~/.loki/ut/System/ when it is there, else the installation's own (in
// System64/ when the folder holds only the 64-bit build). Otherwise the
// installation's own.
IniFiles gameIniFiles(const QString& gameDir, const std::optional<QString>& iniDir = std::nullopt);

} // namespace GamePaths
