// LUX19HS sensor: a LUX13HS with a slower clock and shorter row time.
#pragma once

#include "sensors/lux13hs_operations.h"

namespace halvex::sensors {

class Lux19HSOperations : public Lux13HSOperations {
public:
    explicit Lux19HSOperations(uint32_t sensorType);

    uint32_t maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t unused, uint32_t bnsMode,
                          uint32_t ceiling) const override;
};

} // namespace halvex::sensors
