// The image sensors a stand-in camera can carry: their type codes, limits, modes and timing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hxsim {

enum class SensorChip { Lince, Lupa, Lux13HS, Lux19HS, X60 };

// What one sensor chip offers. A type code reads as four characters from its most significant
// byte, the last one C for the colour variant and M for the monochrome one. Mode lists are the
// register codes the camera accepts.
struct SensorSpec {
    std::string_view name; // "lince", "lupa", "lux13hs", "lux19hs", "x60"
    SensorChip chip;
    uint32_t colourCode, monoCode;
    uint32_t widthMax, heightMax, widthMin, heightMin;
    uint32_t frameRateCeiling;
    uint32_t gainCapabilities;    // bits over the gain table 100, 150, ... 450
    uint32_t bitModeCapabilities; // bits over the pixel format codes 16, 17, 18, 19, 20, 32, 33, 35, 48
    uint32_t bnsCapabilities;     // bits over the BNS words 0x101, 0x102, 0x104, 0x201, 0x401, 0x202
    uint32_t fpnCapabilities;     // bits over the FPN codes 0, 1, 4
};

// A sensor as installed in one camera: the chip and the type code its register reports (a code
// outside the table stands for an unknown sensor, which then behaves like a Lince).
class SensorModel {
public:
    // From a name such as "lince", "lupa-mono", "lux19hs", "x60", or a type code in hexadecimal
    // ("0x414C3543"); nothing for an unrecognised name.
    static std::optional<SensorModel> fromName(std::string_view name);
    static SensorModel fromCode(uint32_t typeCode);
    static std::span<const SensorSpec> chips();

    uint32_t typeCode() const { return typeCode_; }
    const SensorSpec& spec() const { return *spec_; }
    std::string describe() const;

    // Highest frame rate for an ROI, BNS word and ceiling, by the sensor's own timing.
    uint32_t maxFrameRate(uint32_t width, uint32_t height, uint32_t xOffset, uint32_t bnsWord, uint32_t ceiling) const;
    static constexpr uint32_t kMinFrameRate = 24;

    bool acceptsPixelFormat(uint32_t code) const;
    bool acceptsBns(uint32_t word) const;
    bool acceptsFpn(uint32_t code) const;
    bool acceptsGain(uint32_t hundredths) const;

private:
    SensorModel(const SensorSpec* spec, uint32_t typeCode) : spec_(spec), typeCode_(typeCode) {}

    const SensorSpec* spec_;
    uint32_t typeCode_;
};

// Bytes one frame of width x height occupies in camera memory for a pixel format code:
// 12-bit packs five pixels in eight bytes, 10-bit three pixels in four, otherwise one byte per
// pixel; every row is padded to whole words.
uint64_t frameBytes(uint32_t width, uint32_t height, uint32_t pixelFormat);

} // namespace hxsim
