// Pixel depth: the bits each pixel of a capture bit mode holds, which the tools need to unpack the
// frames the library delivers.
#pragma once

#include <cstdint>

#include <hx/hx.h>

namespace halvex::common {

// 8, 10 or 12 for an HX_BIT_MODE_* value; 0 for a value that is none of them. The library packs
// frames by its own copy of this table; a unit test holds the two together.
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

} // namespace halvex::common
