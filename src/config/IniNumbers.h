#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

// Whole numbers as the game's files write them. The store's ReadInteger and
// the pages that check a number someone typed or the file holds read them
// here, so that a text is the same number wherever it is read.
namespace IniNumbers {

// Leading blanks and tabs, then either a decimal (decimalToInt32) or one to
// eight hexadecimal digits after "$", "x", "X", "0x" or "0X" (eight digits
// from 80000000 on give the negative number of the same 32 bits). The digits
// must run to the end: a trailing blank fails.
std::optional<std::int32_t> toInt32(QStringView text);

// An optional "+" or "-", then ASCII digits up to the end, within the 32-bit
// range; nothing else, not even a blank.
std::optional<std::int32_t> decimalToInt32(QStringView text);

} // namespace IniNumbers
