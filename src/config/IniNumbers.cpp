#include "config/IniNumbers.h"

#include <limits>

namespace IniNumbers {

std::optional<std::int32_t> toInt32(QStringView text)
{
    while (text.startsWith(u' ') || text.startsWith(u'\t'))
        text = text.sliced(1);

    qsizetype hexStart = 0;
    if (text.startsWith(u'$') || text.startsWith(u'x') || text.startsWith(u'X'))
        hexStart = 1;
    else if (text.startsWith(u"0x") || text.startsWith(u"0X"))
        hexStart = 2;
    if (hexStart == 0)
        return decimalToInt32(text);

    const QStringView digits = text.sliced(hexStart);
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        std::uint32_t digit;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> decimalToInt32(QStringView text)
{
    bool negative = false;
    if (text.startsWith(u'+') || text.startsWith(u'-')) {
        negative = text.front() == u'-';
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                        : std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < u'0' || u > u'9')
            return std::nullopt;
        value = value * 10 + (u - u'0');
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace IniNumbers
