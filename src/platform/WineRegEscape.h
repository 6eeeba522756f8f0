#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Escaping in Wine's registry text format: how key names, value names and
// string data are written between their brackets or quotes, and read back.
namespace WineRegText {

// Escapes text the way wineserver writes it: a backslash before '\' and the
// two special characters, C escapes or octal for control characters, "\x"
// plus the hexadecimal UTF-16 unit for everything above ASCII.
QByteArray escape(QStringView text, char special1, char special2);

// Decodes escaped text up to the first unescaped endChar. Returns nothing when
// endChar never comes; otherwise *next is the offset just past it. Raw bytes
// above ASCII (Wine never writes them, a text editor might) are read as UTF-8.
std::optional<QString> unescape(QByteArrayView text, char endChar, qsizetype* next);

// Where unescape() would stop, without decoding: the offset just past the
// first unescaped endChar, or nothing when it never comes. For a reading
// that only needs to know where a name ends.
std::optional<qsizetype> endOfEscaped(QByteArrayView text, char endChar);

} // namespace WineRegText
