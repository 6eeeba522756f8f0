#include "config/TextCodec.h"

namespace TextCodec {
namespace {

// Bytes 0x80..0x9F. The undefined five carry their own number.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98..9F
};

std::optional<char> toByte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (windows1252High[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return std::nullopt;
}

} // namespace

QString fromWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[i] = (b >= 0x80 && b < 0xA0) ? QChar(windows1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

std::optional<QByteArray> toWindows1252(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto byte = toByte(text[i].unicode());
        if (!byte)
            return std::nullopt;
        bytes[i] = *byte;
    }
    return bytes;
}

namespace {

constexpr char16_t escapedByteBase = 0xDC00;

bool isEscapedByte(QChar c)
{
    return c.unicode() >= escapedByteBase + 0x80 && c.unicode() <= escapedByteBase + 0xFF;
}

// The length of the well-formed UTF-8 sequence at the start of bytes, or 0.
qsizetype sequenceLength(QByteArrayView bytes)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    qsizetype length = 0;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

QString fromUtf8(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const qsizetype length = sequenceLength(bytes.sliced(i));
        if (length == 0) {
            text.append(QChar(char16_t(escapedByteBase + static_cast<unsigned char>(bytes[i]))));
            ++i;
        } else {
            // By hand: Qt's decoder drops a U+FEFF at the start of what it is
            // given, which would lose it from the middle of a value.
            const auto byte = [&](qsizetype k) { return char32_t(static_cast<unsigned char>(bytes[i + k])); };
            char32_t code = length == 1 ? byte(0) : byte(0) & (0x7F >> length);
            for (qsizetype k = 1; k < length; ++k)
                code = (code << 6) | (byte(k) & 0x3F);
            if (code < 0x10000) {
                text.append(QChar(char16_t(code)));
            } else {
                text.append(QChar::highSurrogate(code));
                text.append(QChar::lowSurrogate(code));
            }
            i += length;
        }
    }
    return text;
}

std::optional<QByteArray> toUtf8(QStringView text)
{
    if (firstUnencodable(text, true) >= 0)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(text.size());
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // The low half of a pair (U+10000 and up) may fall into the range
        // of the escapes; it is a character's half, never a byte.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (!isEscapedByte(text[i]))
            continue;
        bytes.append(text.sliced(start, i - start).toUtf8());
        bytes.append(char(text[i].unicode() - escapedByteBase));
        start = i + 1;
    }
    bytes.append(text.sliced(start).toUtf8());
    return bytes;
}

qsizetype firstUnencodable(QStringView text, bool utf8)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            if (!utf8)
                return i;
            ++i;
            continue;
        }
        if (c.isSurrogate() && !(utf8 && isEscapedByte(c)))
            return i;
        if (!utf8 && !toByte(c.unicode()))
            return i;
    }
    return -1;
}

} // namespace TextCodec
