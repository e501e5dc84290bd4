// Bits per pixel of each capture bit mode: the library packs images by it and the tools unpack
// what it delivers by the same table, so the two can never disagree.
#pragma once

#include <cstdint>

#include <hx/hx.h>

namespace halvex::registers {

// 8, 10 or 12 for an HX_BIT_MODE_* value; 0 for a value that is none of them.
constexpr uint32_t bitModeDepth(uint32_t bitMode)
{
    switch (bitMode) {
    case HX_BIT_MODE_8A:
    case HX_BIT_MODE_8B:
    case HX_BIT_MODE_8C:
    case HX_BIT_MODE_8D:
    case HX_BIT_MODE_8E: return 8;
    case HX_BIT_MODE_10A:
    case HX_BIT_MODE_10B:
    case HX_BIT_MODE_10C: return 10;
    case HX_BIT_MODE_12: return 12;
    default: return 0;
    }
}

} // namespace halvex::registers
