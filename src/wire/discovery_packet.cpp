// Discovery packets: the host's broadcast request and the camera's 256-byte identity reply, with
// the pure checks a reply must pass before a camera is taken on.
#include "wire/discovery_packet.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "wire/byte_io.h"
#include "wire/wire_text.h"

namespace halvex::wire {

namespace {

uint32_t readAddress(ByteReader& in)
{
    const std::span<const uint8_t> bytes = in.bytes(4);
    uint32_t address = 0;
    if (bytes.size() == sizeof address) {
        std::memcpy(&address, bytes.data(), sizeof address);
    }
    return address;
}

void writeAddress(ByteWriter& out, uint32_t networkOrderAddress)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &networkOrderAddress, sizeof bytes);
    out.bytes(bytes);
}

void writeIdentity(ByteWriter& out, const DiscoveryAck& reply)
{
    out.text(reply.manufacturerName, discovery_text_size::kManufacturerName);
    out.text(reply.modelName, discovery_text_size::kModelName);
    out.text(reply.deviceVersion, discovery_text_size::kDeviceVersion);
    out.text(reply.manufacturerInfo, discovery_text_size::kManufacturerInfo);
    out.text(reply.serialNumber, discovery_text_size::kSerialNumber);
    out.text(reply.userDefinedName, discovery_text_size::kUserDefinedName);
}

void readIdentity(ByteReader& in, DiscoveryAck& reply)
{
    reply.manufacturerName = in.text(discovery_text_size::kManufacturerName);
    reply.modelName = in.text(discovery_text_size::kModelName);
    reply.deviceVersion = in.text(discovery_text_size::kDeviceVersion);
    reply.manufacturerInfo = in.text(discovery_text_size::kManufacturerInfo);
    reply.serialNumber = in.text(discovery_text_size::kSerialNumber);
    reply.userDefinedName = in.text(discovery_text_size::kUserDefinedName);
}

// The leading decimal digits of one version part, saturating rather than wrapping.
uint32_t leadingNumber(std::string_view part)
{
    uint64_t value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') {
            break;
        }
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(c - '0'), std::numeric_limits<uint32_t>::max());
    }
    return static_cast<uint32_t>(value);
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::vector<uint8_t> encodeDiscoveryCmd(uint16_t requestId)
{
    std::vector<uint8_t> datagram;
    ByteWriter out(datagram);
    out.u8(kCommandKey);
    out.u8(kFlagAckRequired);
    out.u16(control_code::kDiscoveryCmd);
    out.u16(0);
    out.u16(requestId);
    return datagram;
}

std::optional<CommandHeader> decodeDiscoveryCmd(std::span<const uint8_t> datagram)
{
    std::optional<CommandHeader> header = decodeCommandHeader(datagram);
    if (!header || header->command != control_code::kDiscoveryCmd) {
        return std::nullopt;
    }
    return header;
}

std::vector<uint8_t> encodeDiscoveryAck(const DiscoveryAck& reply)
{
    std::vector<uint8_t> datagram;
    datagram.reserve(kDiscoveryAckSize);
    ByteWriter out(datagram);
    out.u16(reply.header.status);
    out.u16(control_code::kDiscoveryAck);
    out.u16(kDiscoveryAckLength);
    out.u16(reply.header.ackId);
    out.u16(reply.protocolVersionMajor);
    out.u16(reply.protocolVersionMinor);
    out.u32(reply.deviceMode);
    out.zeros(2);
    out.bytes(reply.macAddress);
    out.u32(reply.ipConfigOptions);
    out.u32(reply.ipConfigCurrent);
    out.zeros(discovery_offset::kCurrentIp - discovery_offset::kIpConfigCurrent - 4);
    writeAddress(out, reply.currentIp);
    out.zeros(discovery_offset::kSubnetMask - discovery_offset::kCurrentIp - 4);
    writeAddress(out, reply.subnetMask);
    out.zeros(discovery_offset::kDefaultGateway - discovery_offset::kSubnetMask - 4);
    writeAddress(out, reply.defaultGateway);
    writeIdentity(out, reply);
    return datagram;
}

std::optional<DiscoveryAck> decodeDiscoveryAck(std::span<const uint8_t> datagram)
{
    if (datagram.size() != kDiscoveryAckSize) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    DiscoveryAck reply;
    reply.header = {in.u16(), in.u16(), in.u16(), in.u16()};
    if (reply.header.answer != control_code::kDiscoveryAck) {
        return std::nullopt;
    }
    reply.protocolVersionMajor = in.u16();
    reply.protocolVersionMinor = in.u16();
    reply.deviceMode = in.u32();
    in.seek(discovery_offset::kMacAddress);
    std::ranges::copy(in.bytes(reply.macAddress.size()), reply.macAddress.begin());
    reply.ipConfigOptions = in.u32();
    reply.ipConfigCurrent = in.u32();
    in.seek(discovery_offset::kCurrentIp);
    reply.currentIp = readAddress(in);
    in.seek(discovery_offset::kSubnetMask);
    reply.subnetMask = readAddress(in);
    in.seek(discovery_offset::kDefaultGateway);
    reply.defaultGateway = readAddress(in);
    readIdentity(in, reply);
    return reply;
}

bool isDiscoveryReply(std::span<const uint8_t> datagram)
{
    ByteReader in(datagram);
    const uint16_t status = in.u16();
    const uint16_t answer = in.u16();
    return datagram.size() == kDiscoveryAckSize && status == camera_status::kSuccess &&
           answer == control_code::kDiscoveryAck;
}

DeviceVersion parseDeviceVersion(std::string_view text)
{
    text = text.substr(0, discovery_text_size::kDeviceVersion);
    uint32_t parts[3] = {0, 0, 0};
    for (uint32_t& part : parts) {
        const std::size_t dot = text.find('.');
        part = leadingNumber(text.substr(0, dot));
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    return {parts[0], parts[1], parts[2]};
}

bool isOurManufacturer(std::string_view manufacturerName)
{
    return std::ranges::equal(manufacturerName, kOurManufacturer,
                              [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

DiscoveryVerdict judgeDiscoveryReply(const DiscoveryAck& reply)
{
    if (!isOurManufacturer(reply.manufacturerName)) {
        return DiscoveryVerdict::ForeignManufacturer;
    }
    if (parseDeviceVersion(reply.deviceVersion) < kMinimumDeviceVersion) {
        return DiscoveryVerdict::FirmwareTooOld;
    }
    return DiscoveryVerdict::Accepted;
}

std::string toString(const DeviceVersion& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.patch);
}

std::string toString(DiscoveryVerdict verdict)
{
    switch (verdict) {
    case DiscoveryVerdict::Accepted: return "accepted";
    case DiscoveryVerdict::ForeignManufacturer: return "foreign manufacturer";
    case DiscoveryVerdict::FirmwareTooOld: return "firmware too old";
    }
    return "unknown verdict";
}

std::string toString(const DiscoveryAck& reply)
{
    std::string mac;
    for (uint8_t octet : reply.macAddress) {
        mac += (mac.empty() ? "" : ":") + hexText(octet, 2).substr(2);
    }
    return "DISCOVERY_ACK id=" + std::to_string(reply.header.ackId) + " status=" + hexText(reply.header.status, 4) +
           " manufacturer='" + reply.manufacturerName + "' model='" + reply.modelName + "' version='" +
           reply.deviceVersion + "' info='" + reply.manufacturerInfo + "' serial='" + reply.serialNumber + "' name='" +
           reply.userDefinedName + "' mac=" + mac + " ip=" + dottedText(reply.currentIp) +
           " mask=" + dottedText(reply.subnetMask) + " gateway=" + dottedText(reply.defaultGateway);
}

} // namespace halvex::wire
