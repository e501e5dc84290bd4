// LUX13HS sensor: its capabilities and its frame-rate model.
#include "sensors/lux13hs_operations.h"

#include <algorithm>

#include <hx/hx.h>

namespace halvex::sensors {

constexpr SensorOperations::Capabilities kLux13HSCapabilities{
    .analogGain = HX_ANALOG_GAIN_1_00,
    .bitMode = HX_BIT_MODE_8A | HX_BIT_MODE_8B | HX_BIT_MODE_8C | HX_BIT_MODE_10A,
    .bnsMode = HX_BNS_MODE_1X1,
    .fpnMode = HX_FPN_MODE_OFF | HX_FPN_MODE_B,
};

Lux13HSOperations::Lux13HSOperations(uint32_t sensorType) : SensorOperations(sensorType, kLux13HSCapabilities) {}

uint32_t Lux13HSOperations::maxFrameRate(uint32_t /*width*/, uint32_t height, uint32_t /*xOffset*/, uint32_t /*unused*/,
                                         uint32_t /*bnsMode*/, uint32_t ceiling) const
{
    return rateForRowGroups(height, 133000000, 168, 580, ceiling);
}

uint32_t Lux13HSOperations::rateForRowGroups(uint32_t height, uint64_t clock, uint64_t rowClocks, uint64_t overhead,
                                             uint32_t ceiling)
{
    uint64_t period = (height / 4) * rowClocks + overhead;
    return static_cast<uint32_t>(std::min<uint64_t>(clock / period, ceiling));
}

} // namespace halvex::sensors
