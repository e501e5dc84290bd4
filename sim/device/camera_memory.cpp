// Bootstrap texts of the stand-in camera and memory reads over them and the registers.
#include "sim/device/camera_memory.h"

#include <algorithm>

#include "sim/registers/camera_registers.h"
#include "sim/registers/family_codes.h"
#include "wire/control_packet.h"

namespace hxsim {

using namespace halvex::sim;

namespace {

constexpr std::size_t kNameSize = 16;

uint8_t registerByte(const RegisterFile& regs, uint64_t address)
{
    const auto word = static_cast<uint32_t>(address & ~uint64_t{3});
    const auto value = regs.read(word);
    if (!value) {
        return 0;
    }
    return static_cast<uint8_t>(*value >> (8 * (3 - address % 4)));
}

} // namespace

CameraMemory::CameraMemory(const CameraConfig& config)
{
    put(GIGE_REG_MANUFACTURER_NAME, 32, config.manufacturer());
    put(GIGE_REG_MODEL_NAME, 32, config.model);
    put(GIGE_REG_DEVICE_VERSION, 32, config.deviceVersion());
    put(GIGE_REG_MANUFACTURER_INFO, 48, config.manufacturerInfo);
    put(GIGE_REG_SERIAL_NUMBER, 16, config.serial);
    put(GIGE_REG_USER_DEFINED_NAME, kNameSize, config.userName);
}

void CameraMemory::put(uint32_t address, std::size_t size, const std::string& value)
{
    const std::size_t used = std::min(value.size(), size - 1);
    std::fill_n(texts_.begin() + address, size, uint8_t{0});
    std::copy_n(value.begin(), used, texts_.begin() + address);
}

std::string CameraMemory::text(uint32_t address, std::size_t size) const
{
    const auto* begin = texts_.data() + address;
    const auto* end = std::find(begin, begin + size, uint8_t{0});
    return {begin, end};
}

std::string CameraMemory::manufacturer() const
{
    return text(GIGE_REG_MANUFACTURER_NAME, 32);
}
std::string CameraMemory::model() const
{
    return text(GIGE_REG_MODEL_NAME, 32);
}
std::string CameraMemory::deviceVersion() const
{
    return text(GIGE_REG_DEVICE_VERSION, 32);
}
std::string CameraMemory::manufacturerInfo() const
{
    return text(GIGE_REG_MANUFACTURER_INFO, 48);
}
std::string CameraMemory::serial() const
{
    return text(GIGE_REG_SERIAL_NUMBER, 16);
}
std::string CameraMemory::userName() const
{
    return text(GIGE_REG_USER_DEFINED_NAME, kNameSize);
}

std::vector<uint8_t> CameraMemory::read(uint32_t address, std::size_t count, const RegisterFile& regs) const
{
    std::vector<uint8_t> bytes(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t at = uint64_t{address} + i;
        if (at < kTextBlockEnd) {
            bytes[i] = at >= GIGE_REG_MANUFACTURER_NAME ? texts_[at] : registerByte(regs, at);
        } else if (at <= UINT32_MAX) {
            bytes[i] = registerByte(regs, at);
        }
    }
    return bytes;
}

bool CameraMemory::inTextBlock(uint32_t address, std::size_t size)
{
    return address >= GIGE_REG_MANUFACTURER_NAME && address < kTextBlockEnd && size <= kTextBlockEnd - address;
}

uint16_t CameraMemory::write(uint32_t address, std::span<const uint8_t> data)
{
    const bool inName = address >= GIGE_REG_USER_DEFINED_NAME &&
                        uint64_t{address} + data.size() <= GIGE_REG_USER_DEFINED_NAME + kNameSize;
    if (!inName) {
        return halvex::wire::camera_status::kAccessDenied;
    }
    std::array<uint8_t, kNameSize> name{};
    std::copy_n(texts_.begin() + GIGE_REG_USER_DEFINED_NAME, kNameSize, name.begin());
    std::copy(data.begin(), data.end(), name.begin() + (address - GIGE_REG_USER_DEFINED_NAME));
    name.back() = 0; // at most 15 characters
    // Whatever follows the terminating NUL is cleared too: hosts search the raw bytes for codes.
    const auto end = std::find(name.begin(), name.end(), uint8_t{0});
    std::fill(end, name.end(), uint8_t{0});
    if (containsFamilyCode(std::string(name.begin(), end))) {
        return halvex::wire::camera_status::kInvalidParameter;
    }
    std::copy(name.begin(), name.end(), texts_.begin() + GIGE_REG_USER_DEFINED_NAME);
    return halvex::wire::camera_status::kSuccess;
}

} // namespace hxsim
