#pragma once

#include <cstdint>

// The machine's total physical memory in bytes, as the 32-bit count the
// cache recommendation is built on: 4 GiB and more read as 4294967295,
// the way Windows reports an overflow of that field. 0 when it cannot be
// found out.
std::uint32_t totalPhysicalMemoryBytes();

std::uint32_t saturateToUInt32(std::uint64_t value);
