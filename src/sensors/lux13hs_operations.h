// LUX13HS sensor: its capabilities and its frame-rate model.
#pragma once

#include "sensors/sensor_operations.h"

namespace halvex::sensors {

class Lux13HSOperations : public SensorOperations {
public:
    explicit Lux13HSOperations(uint32_t sensorType);

    uint32_t maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t unused, uint32_t bnsMode,
                          uint32_t ceiling) const override;

protected:
    // Rows are read four at a time; a frame costs rowClocks per group of four plus a fixed overhead.
    static uint32_t rateForRowGroups(uint32_t height, uint64_t clock, uint64_t rowClocks, uint64_t overhead,
                                     uint32_t ceiling);
};

} // namespace halvex::sensors
