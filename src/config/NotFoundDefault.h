#pragma once

#include <QString>

// The defaults the pages pass to ReadString for a key that may be missing:
// German notices that stand in the page's control in place of a value, and
// that a page compares a fresh read with, so that a field showing one counts
// as unchanged while the key stays missing. None of them is a value of the
// game. Which text a read passes belongs to the page that reads: the pages
// show them as they are.
namespace NotFoundDefault {

// The renderer options and the game's render device, the intro's map, the
// player, the server's switches, the key bindings.
inline const QString entryNotFound = QStringLiteral("Eintrag nicht gefunden!");
// The IRC nick, the aliases, the weapon priority.
inline const QString entryNotFoundNoMark = QStringLiteral("Eintrag nicht gefunden");
// The server's texts, the version the registry's install path is given.
inline const QString entryAbsent = QStringLiteral("Eintrag nicht vorhanden!");
// The cache size, when the System page is shown and as it is typed.
inline const QString absent = QStringLiteral("nicht vorhanden!");
// The cache size read back after "Eintragen".
inline const QString notFound = QStringLiteral("nicht gefunden!");

} // namespace NotFoundDefault
