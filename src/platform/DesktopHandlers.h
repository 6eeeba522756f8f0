#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// How a Linux desktop opens maps, links and unreal:// addresses with a game
// installed natively: the freedesktop way, for the user running this program.
//
// - a desktop entry of ours for the game folder in $XDG_DATA_HOME/applications
//   (hidden from menus, Exec the game's executable with %u, working folder the
//   executable's), named brennwerk-ut-<hash of the folder>.desktop;
// - the two file types in our shared-mime-info package
//   $XDG_DATA_HOME/mime/packages/brennwerk-editor.xml, then update-mime-database;
// - the entry as the default handler in $XDG_CONFIG_HOME/mimeapps.list.
//
// Every file goes through SafeFile, bytes equal to what is there are not
// written, and nothing of anyone else's is ever removed: other programs'
// entries and defaults stay as they are.
namespace DesktopHandlers {

enum class Type { Map, Link, Protocol };

// "application/x-unreal-map", "application/x-unreal-link",
// "x-scheme-handler/unreal".
QString mimeType(Type type);

// The places the freedesktop base directories name, from the environment at
// the time of the call (XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_DATA_DIRS,
// XDG_CONFIG_DIRS and their defaults; relative paths in them are ignored).
struct Places {
    QString dataHome;
    QString configHome;
    QStringList dataDirs;
    QStringList configDirs;
    QStringList currentDesktops; // XDG_CURRENT_DESKTOP, lower case
    static Places fromEnvironment();
};

// The file name of our desktop entry for the game folder; the same for the
// same folder, whatever way it is spelled.
QString entryName(const QString& gameDir);

// Whether the desktop's default application for the type, looked up in the
// mimeapps.list files as the freedesktop MIME applications rules say (user
// before system, config before data), is a desktop entry whose Exec names
// the executable.
bool opensWith(Type type, const QString& executable, const Places& places = Places::fromEnvironment());

// Makes the executable (of the game in gameDir) the desktop's default for
// the type: the desktop entry first, then for the file types the MIME
// package and its database, mimeapps.list last. All or nothing: on a failure
// the files written so far are put back (a file it made is removed again)
// and EditorError is thrown.
void makeDefault(Type type, const QString& gameDir, const QString& executable,
                 const Places& places = Places::fromEnvironment());

// The text of mimeapps.list with the entry first in the default of the type
// in [Default Applications]; every other byte as it was.
QByteArray withDefault(const QByteArray& mimeapps, const QString& type, const QString& entry);

// The program an Exec value of a desktop entry (as it stands in the file)
// runs; empty when the value cannot be parsed.
QString execProgram(const QString& exec);

// The Exec value that runs the program with one URL or file (%u), quoted
// and escaped as the desktop entry rules ask.
QString execValue(const QString& program);

} // namespace DesktopHandlers
