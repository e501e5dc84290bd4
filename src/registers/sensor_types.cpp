// Sensor type codes: which image sensors a camera may report and which of them are supported.
#include "registers/sensor_types.h"

#include <algorithm>
#include <array>

namespace halvex::registers {

namespace {

// A code reads as four characters from its most significant byte; the last one is C for a
// colour sensor and M for a monochrome one.
constexpr std::array<SensorTypeInfo, 10> sensorTable{{
    {0x414C3543, "lince", true, SensorKind::Lince},
    {0x414C354D, "lince", false, SensorKind::Lince},
    {0x4C313343, "lupa", true, SensorKind::Lupa},
    {0x4C31334D, "lupa", false, SensorKind::Lupa},
    {0x58334843, "lux13hs", true, SensorKind::Lux13HS},
    {0x5833484D, "lux13hs", false, SensorKind::Lux13HS},
    {0x58394843, "lux19hs", true, SensorKind::Lux19HS},
    {0x5839484D, "lux19hs", false, SensorKind::Lux19HS},
    {0x58363043, "x60", true, SensorKind::Unsupported},
    {0x5836304D, "x60", false, SensorKind::Unsupported},
}};

} // namespace

std::span<const SensorTypeInfo> knownSensorTypes()
{
    return sensorTable;
}

std::optional<SensorTypeInfo> findSensorType(uint32_t code)
{
    auto found = std::find_if(sensorTable.begin(), sensorTable.end(),
                              [code](const SensorTypeInfo& entry) { return entry.code == code; });
    if (found == sensorTable.end()) {
        return std::nullopt;
    }
    return *found;
}

std::optional<uint32_t> sensorTypeCode(std::string_view name, bool colour)
{
    auto found = std::find_if(sensorTable.begin(), sensorTable.end(), [&](const SensorTypeInfo& entry) {
        return entry.name == name && entry.colour == colour;
    });
    if (found == sensorTable.end()) {
        return std::nullopt;
    }
    return found->code;
}

} // namespace halvex::registers
