// Family capture rules shared by the capture computation and its validation: register bit
// meanings, memory segment size, low-light limits and the small readers both use.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include <hx/hx.h>

#include "registers/register_cache.h"

namespace halvex::family {

namespace capture::rules {

inline constexpr uint32_t PAGE_MODE = 1u << 31;
inline constexpr uint32_t TRIGGER_IN_FRAMES = 1u << 31;
inline constexpr uint32_t GAIN_FLAG = 1u << 31;
inline constexpr uint64_t SEGMENT = 0x1000000;
inline constexpr uint32_t MIN_BROC_LENGTH = 10;
inline constexpr uint32_t LOW_LIGHT_FLOOR = 8000;
inline constexpr uint32_t LOW_LIGHT_CEILING = 41666;
inline constexpr uint32_t OUTCOME = HX_FLAG_ERR | HX_FLAG_CHG;

inline uint32_t clamp32(uint64_t value)
{
    return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

inline constexpr uint32_t FRACTIONAL_RATE = 1u << 31;
inline constexpr double FRACTION_UNIT = 65536.0;

// The longest exposure a frame period leaves; 0 when the overhead takes all of it. A rate of 0
// (nothing read yet) counts as the slowest rate a sensor runs at, never as a division by zero.
inline uint32_t exposureCeiling(double rate, uint32_t overhead, uint32_t minRate)
{
    const double perSecond = rate > 0 ? rate : std::max(minRate, 1u);
    const auto period = static_cast<uint32_t>(std::trunc(1000000.0 / perSecond));
    return period > overhead ? period - overhead : 0;
}

inline uint32_t lowLightMin(uint32_t overhead)
{
    return overhead < LOW_LIGHT_FLOOR ? LOW_LIGHT_FLOOR - overhead : 0;
}
inline uint32_t lowLightMax(uint32_t overhead)
{
    return overhead < LOW_LIGHT_CEILING ? LOW_LIGHT_CEILING - overhead : 0;
}

} // namespace capture::rules

} // namespace halvex::family
