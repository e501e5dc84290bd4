// LUX19HS sensor: a LUX13HS with a slower clock and shorter row time.
#include "sensors/lux19hs_operations.h"

namespace halvex::sensors {

Lux19HSOperations::Lux19HSOperations(uint32_t sensorType) : Lux13HSOperations(sensorType) {}

uint32_t Lux19HSOperations::maxFrameRate(uint32_t /*width*/, uint32_t height, uint32_t /*xOffset*/, uint32_t /*unused*/,
                                         uint32_t /*bnsMode*/, uint32_t ceiling) const
{
    return rateForRowGroups(height, 87500000, 128, 440, ceiling);
}

} // namespace halvex::sensors
