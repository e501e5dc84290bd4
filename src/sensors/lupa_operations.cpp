// LUPA sensor: its capabilities, its extra cached register and its frame-rate model.
#include "sensors/lupa_operations.h"

#include <algorithm>
#include <cmath>

#include <hx/hx.h>

#include "registers/register_map.h"

namespace halvex::sensors {

namespace {

// The row time grows with the number of 24-column groups the ROI touches.
constexpr int64_t columnGroup = 24;

int64_t columnGroupsTouched(int64_t width, int64_t xOffset)
{
    // Integer division truncates toward zero, also for the -1 of an empty ROI at offset 0.
    return (width - 1 + xOffset) / columnGroup - xOffset / columnGroup + 1;
}

} // namespace

constexpr SensorOperations::Capabilities kLupaCapabilities{
    .analogGain = HX_ANALOG_GAIN_1_00 | HX_ANALOG_GAIN_1_50 | HX_ANALOG_GAIN_2_00 | HX_ANALOG_GAIN_2_50 |
                  HX_ANALOG_GAIN_3_00 | HX_ANALOG_GAIN_4_00,
    .bitMode = HX_BIT_MODE_8A | HX_BIT_MODE_8B | HX_BIT_MODE_8C | HX_BIT_MODE_10A,
    .bnsMode = HX_BNS_MODE_1X1,
    .fpnMode = HX_FPN_MODE_OFF | HX_FPN_MODE_A | HX_FPN_MODE_B,
};

// The frame-rate model depends on the X offset, so this sensor keeps it cached as well.
LupaOperations::LupaOperations(uint32_t sensorType) : SensorOperations(sensorType, kLupaCapabilities)
{
    registers_.push_back(registers::GIGE_REG_ROI_X_OFFSET);
}

uint32_t LupaOperations::maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t /*unused*/,
                                      uint32_t /*bnsMode*/, uint32_t ceiling) const
{
    int64_t groups = columnGroupsTouched(width, xOffset);
    double rowClocks = static_cast<double>(2 * groups + 12);
    double rate = 63000000.0 / (rowClocks * height + 465.0);
    return static_cast<uint32_t>(std::floor(std::min(static_cast<double>(ceiling), rate)));
}

} // namespace halvex::sensors
