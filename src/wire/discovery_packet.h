// Discovery packets: the host's broadcast request and the camera's 256-byte identity reply, with
// the pure checks a reply must pass before a camera is taken on.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "wire/control_packet.h"

namespace halvex::wire {

inline constexpr std::size_t kDiscoveryCmdSize = 8;
inline constexpr std::size_t kDiscoveryAckSize = 256;
inline constexpr uint16_t kDiscoveryAckLength = kDiscoveryAckSize - kControlHeaderSize;

// Byte offsets of the reply's fields, counted from the start of the datagram.
namespace discovery_offset {
inline constexpr std::size_t kProtocolVersionMajor = 8;
inline constexpr std::size_t kProtocolVersionMinor = 10;
inline constexpr std::size_t kDeviceMode = 12;
inline constexpr std::size_t kMacAddress = 18;
inline constexpr std::size_t kIpConfigOptions = 24;
inline constexpr std::size_t kIpConfigCurrent = 28;
inline constexpr std::size_t kCurrentIp = 44;
inline constexpr std::size_t kSubnetMask = 60;
inline constexpr std::size_t kDefaultGateway = 76;
inline constexpr std::size_t kManufacturerName = 80;
inline constexpr std::size_t kModelName = 112;
inline constexpr std::size_t kDeviceVersion = 144;
inline constexpr std::size_t kManufacturerInfo = 176;
inline constexpr std::size_t kSerialNumber = 224;
inline constexpr std::size_t kUserDefinedName = 240;
} // namespace discovery_offset

// Room of each text field; a text that fills its field has no terminating NUL.
namespace discovery_text_size {
inline constexpr std::size_t kManufacturerName = 32;
inline constexpr std::size_t kModelName = 32;
inline constexpr std::size_t kDeviceVersion = 32;
inline constexpr std::size_t kManufacturerInfo = 48;
inline constexpr std::size_t kSerialNumber = 16;
inline constexpr std::size_t kUserDefinedName = 16;
} // namespace discovery_text_size

// Every field of a discovery reply. IPv4 addresses are in network order: their bytes in memory
// are the address, as in a socket address and as the library keys cameras.
struct DiscoveryAck {
    AckHeader header{0, control_code::kDiscoveryAck, kDiscoveryAckLength, 0};
    uint16_t protocolVersionMajor = 0;
    uint16_t protocolVersionMinor = 0;
    uint32_t deviceMode = 0;
    std::array<uint8_t, 6> macAddress{};
    uint32_t ipConfigOptions = 0;
    uint32_t ipConfigCurrent = 0;
    uint32_t currentIp = 0;
    uint32_t subnetMask = 0;
    uint32_t defaultGateway = 0;
    std::string manufacturerName;
    std::string modelName;
    std::string deviceVersion;
    std::string manufacturerInfo;
    std::string serialNumber;
    std::string userDefinedName;
};

std::vector<uint8_t> encodeDiscoveryCmd(uint16_t requestId);
// Camera side: a discovery request (key, command code; its payload, if any, is ignored).
std::optional<CommandHeader> decodeDiscoveryCmd(std::span<const uint8_t> datagram);

// Always 256 bytes: the status and acknowledge id from the header, the answer code and length
// fixed, texts cut to their fields.
std::vector<uint8_t> encodeDiscoveryAck(const DiscoveryAck& reply);
// Needs exactly 256 bytes with the discovery answer code; any status is decoded.
std::optional<DiscoveryAck> decodeDiscoveryAck(std::span<const uint8_t> datagram);

// True for a datagram worth handing to discovery: 256 bytes, status 0, the discovery answer code.
bool isDiscoveryReply(std::span<const uint8_t> datagram);

struct DeviceVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t patch = 0;
    auto operator<=>(const DeviceVersion&) const = default;
};

inline constexpr DeviceVersion kMinimumDeviceVersion{2, 3, 6};
inline constexpr std::string_view kOurManufacturer = "halvex";

// "major.minor.patch" from at most the first 32 characters; each part is its leading decimal
// digits, and a missing or non-numeric part counts as 0.
DeviceVersion parseDeviceVersion(std::string_view text);
bool isOurManufacturer(std::string_view manufacturerName);

enum class DiscoveryVerdict { Accepted, ForeignManufacturer, FirmwareTooOld };
// Whether a camera that replied may be taken on: our manufacturer first, then the firmware.
DiscoveryVerdict judgeDiscoveryReply(const DiscoveryAck& reply);

std::string toString(const DeviceVersion& version);
std::string toString(DiscoveryVerdict verdict);
std::string toString(const DiscoveryAck& reply);

} // namespace halvex::wire
