// The camera's bootstrap memory: identity texts, readable as memory alongside the registers.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/device/camera_config.h"
#include "sim/registers/register_file.h"

namespace hxsim {

// Addresses, sizes and contents of the bootstrap texts. Only the user-defined name can be
// written by hosts.
class CameraMemory {
public:
    explicit CameraMemory(const CameraConfig& config);

    // `count` bytes from `address`: the texts where they lie, the big-endian value of a register
    // for each whole register covered, and zeros elsewhere.
    std::vector<uint8_t> read(uint32_t address, std::size_t count, const RegisterFile& regs) const;

    // True when [address, address + size) lies in the bootstrap text block.
    static bool inTextBlock(uint32_t address, std::size_t size);
    // Writes into the text block: the camera status (0, access denied outside the user-defined
    // name, invalid parameter for a name with a family code).
    uint16_t write(uint32_t address, std::span<const uint8_t> data);

    std::string text(uint32_t address, std::size_t size) const;
    std::string manufacturer() const;
    std::string model() const;
    std::string deviceVersion() const;
    std::string manufacturerInfo() const;
    std::string serial() const;
    std::string userName() const;

private:
    void put(uint32_t address, std::size_t size, const std::string& value);

    static constexpr std::size_t kTextBlockEnd = 0xF8;
    std::array<uint8_t, kTextBlockEnd> texts_{};
};

} // namespace hxsim
