#pragma once

#include <QString>
#include <QStringView>

#include <cstdio>

// What the program says on its standard streams. A terminal reads some
// characters as commands (ESC starts the sequences that set a window's
// title, clear the screen or answer with the keys a user would type), and
// the names and values the program echoes come from files anyone may have
// written. On a terminal those characters are shown as escapes, as ls and
// systemctl show them; a pipe or a file gets the text unchanged.
namespace TerminalText {

// The text with each character that drives a terminal written as "\x" and
// its code in two hex digits: the C0 controls but tab and line feed, DEL,
// and the C1 controls U+0080..U+009F (which a terminal may take as their
// ESC sequences when they come as UTF-8).
QString escaped(QStringView text);

// Puts the text on the stream in the encoding of the user's locale,
// escaped when the stream is a terminal.
void write(std::FILE* stream, QStringView text);

} // namespace TerminalText
