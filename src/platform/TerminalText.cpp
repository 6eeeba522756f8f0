#include "platform/TerminalText.h"

#include <unistd.h>

namespace TerminalText {
namespace {

// A line feed is kept: every text the program prints is lines, and each of
// them ends in one.
bool drivesTerminal(char16_t c)
{
    return (c < 0x20 && c != u'\t' && c != u'\n') || (c >= 0x7f && c <= 0x9f);
}

} // namespace

// A backslash stays as it is, though "\x1b" in a value then reads like an
// escaped ESC: on a terminal a person reads the text, and the game's values
// and paths hold Windows paths whose backslashes would all read doubled.
// No character of the text reaches the terminal as a command either way,
// and the exact text goes to a pipe.
QString escaped(QStringView text)
{
    qsizetype at = 0;
    while (at < text.size() && !drivesTerminal(text[at].unicode()))
        ++at;
    if (at == text.size())
        return text.toString();
    QString out;
    out.reserve(text.size() + 16);
    out.append(text.first(at));
    for (; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (drivesTerminal(c))
            out.append(QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0')));
        else
            out.append(QChar(c));
    }
    return out;
}

void write(std::FILE* stream, QStringView text)
{
    const QByteArray bytes = ::isatty(::fileno(stream)) ? escaped(text).toLocal8Bit() : text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace TerminalText
