// Sensor type codes: which image sensors a camera may report and which of them are supported.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace halvex::registers {

enum class SensorKind { Lince, Lupa, Lux13HS, Lux19HS, Unsupported };

struct SensorTypeInfo {
    uint32_t code;         // value of the camera's sensor type register
    std::string_view name; // short lower-case name, shared by the colour and monochrome variants
    bool colour;           // colour (Bayer) variant rather than monochrome
    SensorKind kind;       // which operations class serves it, or Unsupported
};

// Every sensor type code the library knows, supported or not, colour variant first.
std::span<const SensorTypeInfo> knownSensorTypes();

// The table entry of a code, or nothing for an unknown code.
std::optional<SensorTypeInfo> findSensorType(uint32_t code);

// The code of a sensor by short name and variant ("lux19hs", colour), or nothing.
std::optional<uint32_t> sensorTypeCode(std::string_view name, bool colour);

} // namespace halvex::registers
