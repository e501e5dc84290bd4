// Camera configuration: derived identity values and the checks a configuration must pass.
#include "sim/device/camera_config.h"

#include <fmt/format.h>

#include "platform/ipv4_endpoint.h"

namespace hxsim {
namespace {

constexpr uint64_t kSegmentBytes = uint64_t{256} << 20;
// Image memory is addressed in 16-byte units by 32-bit registers, with two 256 MiB segments kept
// below the recording area and one above it; this is the most that leaves room for them.
constexpr uint64_t kMaxMemoryBytes = (uint64_t{0x100000000} - 4 * 0x1000000) * 16;

std::string checkText(const char* what, const std::string& text, std::size_t room)
{
    if (text.size() > room) {
        return fmt::format("{} '{}' is longer than {} characters", what, text, room);
    }
    if (halvex::sim::containsFamilyCode(text)) {
        return fmt::format("{} '{}' contains a camera family code; only the model may", what, text);
    }
    return {};
}

} // namespace

bool ChannelFaults::any() const
{
    return drop > 0 || delay > 0 || duplicate > 0 || reorder > 0 || corrupt > 0 || wrongIndex > 0 || errorStatus > 0;
}

halvex::sim::CameraFamily CameraConfig::family() const
{
    return halvex::sim::familyOf(model).value_or(halvex::sim::CameraFamily::Tarrow);
}

std::string CameraConfig::manufacturer() const
{
    return faults.wrongManufacturer ? "Elsewhere Imaging" : "halvex";
}

std::string CameraConfig::deviceVersion() const
{
    return faults.oldFirmware ? "2.3.5" : firmware;
}

uint32_t CameraConfig::broadcastAddress() const
{
    return address | ~netmask;
}

std::string CameraConfig::validate() const
{
    for (const std::string& problem :
         {checkText("user-defined name", userName, 15), checkText("serial number", serial, 15),
          checkText("manufacturer information", manufacturerInfo, 47), checkText("firmware version", firmware, 31)}) {
        if (!problem.empty()) {
            return problem;
        }
    }
    if (model.empty() || model.size() > 31) {
        return fmt::format("model '{}' must have 1 to 31 characters", model);
    }
    if (memoryBytes == 0 || memoryBytes % kSegmentBytes != 0 || memoryBytes > kMaxMemoryBytes) {
        return fmt::format("memory size {} must be a multiple of 256 MiB, at most {} MiB", memoryBytes,
                           kMaxMemoryBytes >> 20);
    }
    if (!(timeScale > 0) || timeScale > 1e6) {
        return fmt::format("time scale {} must be above 0 and at most 1000000", timeScale);
    }
    if ((address >> 24) == 0 || address == broadcastAddress()) {
        return fmt::format("address {} cannot be a camera's", dotted(address));
    }
    return {};
}

std::string dotted(uint32_t hostOrderAddress)
{
    return fmt::format("{}.{}.{}.{}", hostOrderAddress >> 24, (hostOrderAddress >> 16) & 0xFF,
                       (hostOrderAddress >> 8) & 0xFF, hostOrderAddress & 0xFF);
}

std::optional<uint32_t> parseDotted(const std::string& text)
{
    const std::optional<uint32_t> parsed = halvex::platform::ipv4FromText(text);
    if (!parsed) {
        return std::nullopt;
    }
    return halvex::platform::networkToHost(*parsed);
}

} // namespace hxsim
