// The small recording the fault matrix and the soak both make: 256x64 8-bit frames, 24 of them,
// started by the trigger at 1000 frames a second.
#pragma once

#include <cstdint>

#include <hx/hx.h>

namespace halvex::bench {

inline constexpr uint32_t kSmallWidth = 256;
inline constexpr uint32_t kSmallHeight = 64;
inline constexpr uint32_t kSmallFrames = 24;

// Marks the small recording's fields (and their sections) to be set in `record`.
inline void markSmallRecording(HX_CAPTURE_SETTINGS& record)
{
    record.sensor_group_flags = HX_FLAG_SET;
    record.width = kSmallWidth;
    record.width_flags = HX_FLAG_SET;
    record.height = kSmallHeight;
    record.height_flags = HX_FLAG_SET;
    record.bit_mode = HX_BIT_MODE_8A;
    record.bit_mode_flags = HX_FLAG_SET;
    record.record_group_flags = HX_FLAG_SET;
    record.record_mode = HX_RECORD_MODE_LTR;
    record.record_mode_flags = HX_FLAG_SET;
    record.length = kSmallFrames;
    record.length_flags = HX_FLAG_SET;
    record.rate = 1000;
    record.rate_flags = HX_FLAG_SET;
}

} // namespace halvex::bench
