// Escaping in Wine's registry text format: the one reading of escaped text,
// which decodes names and data or only finds their end, and the writing of
// text the way wineserver escapes it.

#include "platform/WineRegEscape.h"

#include "platform/WineRegScan.h"

namespace WineRegText {
namespace {

// The one reading of escaped text, from p up to the first unescaped endChar:
// unescape() decodes with it, endOfEscaped() skips with it (Decode false,
// put does nothing).
// Returns the offset just past endChar, or nothing when endChar never comes.
template <bool Decode, typename Put>
std::optional<qsizetype> scanEscaped(QByteArrayView text, qsizetype p, char endChar, Put&& put)
{
    const qsizetype n = text.size();
    while (p < n && text[p] != endChar) {
        const char c = text[p];
        if (uchar(c) >= 0x80) {
            qsizetype run = p;
            while (run < n && uchar(text[run]) >= 0x80)
                ++run;
            if constexpr (Decode) {
                for (const QChar unit : QString::fromUtf8(text.sliced(p, run - p)))
                    put(unit.unicode());
            }
            p = run;
            continue;
        }
        if (c != '\\') {
            put(char16_t(c));
            ++p;
            continue;
        }
        if (++p >= n)
            return std::nullopt;
        const char e = text[p];
        switch (e) {
        case 'a': put(u'\a'); ++p; break;
        case 'b': put(u'\b'); ++p; break;
        case 'e': put(char16_t(27)); ++p; break;
        case 'f': put(u'\f'); ++p; break;
        case 'n': put(u'\n'); ++p; break;
        case 'r': put(u'\r'); ++p; break;
        case 't': put(u'\t'); ++p; break;
        case 'v': put(u'\v'); ++p; break;
        case 'x': {
            ++p;
            if (p >= n || !isHexDigit(text[p])) {
                put(u'x');
                break;
            }
            unsigned unit = 0;
            for (int digits = 0; digits < 4 && p < n && isHexDigit(text[p]); ++digits)
                unit = unit * 16 + hexValue(text[p++]);
            put(char16_t(unit));
            break;
        }
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
            unsigned unit = unsigned(e - '0');
            ++p;
            for (int digits = 1; digits < 3 && p < n && text[p] >= '0' && text[p] <= '7'; ++digits)
                unit = unit * 8 + unsigned(text[p++] - '0');
            put(char16_t(unit));
            break;
        }
        default:
            // A backslash before a raw UTF-8 sequence escapes nothing useful;
            // the sequence is read as it stands.
            if (uchar(e) < 0x80) {
                put(char16_t(e));
                ++p;
            }
            break;
        }
    }
    if (p >= n)
        return std::nullopt;
    return p + 1;
}

} // namespace

QByteArray escape(QStringView text, char special1, char special2)
{
    static const char cEscapes[33] = ".......abtnvfr.............e....";
    QByteArray out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const bool hasNext = i + 1 < text.size();
        const char16_t next = hasNext ? text[i + 1].unicode() : 0;
        if (unit > 127) {
            // A following hex digit would be read as part of the escape.
            const bool pad = hasNext && next < 128 && isHexDigit(char(next));
            out += QByteArray::number(unit, 16).rightJustified(pad ? 4 : 0, '0').prepend("\\x");
        } else if (unit < 32) {
            if (cEscapes[unit] != '.') {
                out += '\\';
                out += cEscapes[unit];
            } else {
                const bool pad = hasNext && next >= '0' && next <= '7';
                out += '\\';
                out += QByteArray::number(unit, 8).rightJustified(pad ? 3 : 0, '0');
            }
        } else {
            const char c = char(unit);
            if (c == '\\' || c == special1 || c == special2)
                out += '\\';
            out += c;
        }
    }
    return out;
}

std::optional<QString> unescape(QByteArrayView text, char endChar, qsizetype* next)
{
    qsizetype p = 0;
    const qsizetype n = text.size();
    // Most names and texts hold nothing to decode.
    while (p < n && text[p] != endChar && text[p] != '\\' && uchar(text[p]) < 0x80)
        ++p;
    if (p < n && text[p] == endChar) {
        *next = p + 1;
        return QString::fromLatin1(text.first(p));
    }
    // Written in place: appending unit by unit made reading a system.reg
    // slow. No input byte gives more than one UTF-16 unit, so n units hold
    // the text.
    QString out(n, Qt::Uninitialized);
    char16_t* const units = reinterpret_cast<char16_t*>(out.data());
    qsizetype length = 0;
    for (qsizetype i = 0; i < p; ++i)
        units[length++] = char16_t(uchar(text[i]));
    const std::optional<qsizetype> end =
        scanEscaped<true>(text, p, endChar, [&](char16_t unit) { units[length++] = unit; });
    if (!end)
        return std::nullopt;
    *next = *end;
    out.truncate(length);
    // n ran to the line's end, which may lie far beyond a value's name.
    if (out.capacity() - length > 64)
        out.squeeze();
    return out;
}

std::optional<qsizetype> endOfEscaped(QByteArrayView text, char endChar)
{
    return scanEscaped<false>(text, 0, endChar, [](char16_t) {});
}

} // namespace WineRegText
