// Lince sensor: its capabilities and its frame-rate timing model.
#pragma once

#include "sensors/sensor_operations.h"

namespace halvex::sensors {

class LinceOperations : public SensorOperations {
public:
    explicit LinceOperations(uint32_t sensorType);

    uint32_t maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t unused, uint32_t bnsMode,
                          uint32_t ceiling) const override;
};

} // namespace halvex::sensors
