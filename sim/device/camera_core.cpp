// Request handling of the stand-in camera: decoding, dispatch, acknowledges and events.
#include "sim/device/camera_core.h"

#include <algorithm>
#include <array>

#include <fmt/format.h>

#include "platform/ipv4_endpoint.h"
#include "sim/registers/camera_registers.h"
#include "wire/control_packet.h"
#include "wire/discovery_packet.h"
#include "wire/event_packet.h"
#include "wire/wire_text.h"

namespace hxsim {

using namespace halvex::sim;
namespace code = halvex::wire::control_code;
namespace status = halvex::wire::camera_status;

namespace {

// Registers whose changes reach hosts by polling or not at all: progress counters, the review
// frame number, the write gate and command registers, and the channel set-up registers.
constexpr std::array<uint32_t, 16> kWithoutEvents{GIGE_REG_PROGRESS_C08C,
                                                  GIGE_REG_PROGRESS_C090,
                                                  GIGE_REG_PROGRESS_C008,
                                                  GIGE_REG_PROGRESS_A050,
                                                  GIGE_REG_PROGRESS_A054,
                                                  GIGE_REG_PROGRESS_A058,
                                                  GIGE_REG_CSI_RVW_FRAME_NUM,
                                                  GIGE_REG_ACTIVE_FRAME_NUM,
                                                  GIGE_REG_WRITE_GATE,
                                                  GIGE_REG_SETTINGS_BATCH,
                                                  GIGE_REG_STATE_COMMAND,
                                                  GIGE_REG_CONTROL_KEY,
                                                  GIGE_REG_CCP,
                                                  GIGE_REG_HEARTBEAT_TIMEOUT,
                                                  GIGE_REG_MCP,
                                                  GIGE_REG_MCDA};

// Changes the camera makes on its own that it reports.
constexpr std::array<uint32_t, 7> kInternalEvents{GIGE_REG_CAMERA_STATE,  GIGE_REG_PARTITION_STATE, GIGE_REG_PB_C140,
                                                  GIGE_REG_PROGRESS_C180, GIGE_REG_PB_CONTROL,      GIGE_REG_PB_STATUS,
                                                  GIGE_REG_STREAM_CONTROL};

constexpr uint16_t kNoStreamChannel = 0xFFFF;

bool listed(std::span<const uint32_t> list, uint32_t address)
{
    return std::find(list.begin(), list.end(), address) != list.end();
}

bool allZero(std::span<const uint8_t> datagram)
{
    return std::all_of(datagram.begin(), datagram.end(), [](uint8_t byte) { return byte == 0; });
}

} // namespace

CameraCore::CameraCore(const CameraConfig& config, Logger logger) : logger_(logger), device_(config, std::move(logger))
{
}

void CameraCore::log(const std::string& line) const
{
    if (logger_) {
        logger_(line);
    }
}

std::vector<Outgoing> CameraCore::handle(std::span<const uint8_t> datagram, Endpoint from, SimTime now, bool broadcast)
{
    std::vector<Outgoing> out = advance(now);
    const auto header = halvex::wire::decodeCommandHeader(datagram);
    if (!header) {
        if (!allZero(datagram)) {
            log(fmt::format("dropped {} bytes from {}: not a request ({})", datagram.size(), toString(from),
                            halvex::wire::bytesText(datagram, 12)));
        }
        return out;
    }
    if (broadcast && header->command != code::kDiscoveryCmd) {
        log(fmt::format("ignored {} sent to a broadcast address by {}", halvex::wire::controlCodeName(header->command),
                        toString(from)));
        return out;
    }
    device_.activity(from, now);
    const bool control = header->command != code::kDiscoveryCmd;
    if (control && header->requestId == 0) {
        answered_.forget(from);
    }
    if (control && header->ackRequired()) {
        if (auto again = answered_.repeatOf(from, datagram)) {
            log(fmt::format("{} id {} from {} repeated: answered as before, not carried out again",
                            halvex::wire::controlCodeName(header->command), header->requestId, toString(from)));
            out.push_back(Outgoing{FaultChannel::Control, from, std::move(*again)});
            return out;
        }
    }
    const auto before = device_.registers().values();
    std::vector<uint8_t> reply = answer(datagram, header->command, from, now);
    if (header->ackRequired() && !reply.empty()) {
        if (control) {
            answered_.remember(from, datagram, reply);
        }
        out.push_back(Outgoing{control ? FaultChannel::Control : FaultChannel::Discovery, from, std::move(reply)});
    }
    appendEvents(before, false, now, out);
    return out;
}

std::vector<uint8_t> CameraCore::answer(std::span<const uint8_t> datagram, uint16_t command, Endpoint from, SimTime now)
{
    switch (command) {
    case code::kDiscoveryCmd: return discoveryReply(halvex::wire::decodeCommandHeader(datagram)->requestId);
    case code::kReadRegCmd: return readRegisters(datagram);
    case code::kWriteRegCmd: return writeRegisters(datagram, from, now);
    case code::kReadMemCmd: return readMemory(datagram);
    case code::kWriteMemCmd: return writeMemory(datagram);
    default: {
        const auto header = halvex::wire::decodeCommandHeader(datagram);
        log(fmt::format("command 0x{:04X} from {} not implemented", command, toString(from)));
        return halvex::wire::encodeAck(status::kNotImplemented, static_cast<uint16_t>(command + 1), header->requestId,
                                       {});
    }
    }
}

std::vector<uint8_t> CameraCore::readRegisters(std::span<const uint8_t> datagram)
{
    const uint16_t id = halvex::wire::decodeCommandHeader(datagram)->requestId;
    const auto request = halvex::wire::decodeReadRegCmd(datagram);
    if (!request || request->addresses.empty() || request->addresses.size() > halvex::wire::kMaxReadAddresses) {
        log("malformed register read refused (invalid parameter)");
        return halvex::wire::encodeReadRegAck(status::kInvalidParameter, id, {});
    }
    std::vector<uint32_t> values;
    for (uint32_t address : request->addresses) {
        const auto value = device_.registers().read(address);
        if (!value) {
            log(fmt::format("read of unknown register 0x{:04X}: answering invalid address after {} values", address,
                            values.size()));
            return halvex::wire::encodeReadRegAck(status::kInvalidAddress, id, values);
        }
        values.push_back(*value);
    }
    return halvex::wire::encodeReadRegAck(status::kSuccess, id, values);
}

std::vector<uint8_t> CameraCore::writeRegisters(std::span<const uint8_t> datagram, Endpoint from, SimTime now)
{
    const uint16_t id = halvex::wire::decodeCommandHeader(datagram)->requestId;
    const auto request = halvex::wire::decodeWriteRegCmd(datagram);
    if (!request || request->pairs.empty() || request->pairs.size() > halvex::wire::kMaxWritePairs) {
        log("malformed register write refused (invalid parameter)");
        return halvex::wire::encodeWriteRegAck(status::kInvalidParameter, id, 0);
    }
    uint16_t status = status::kSuccess;
    uint16_t written = 0;
    for (const halvex::wire::RegisterPair& pair : request->pairs) {
        status = device_.write(pair.address, pair.value, from, now);
        if (status != status::kSuccess) {
            break;
        }
        ++written;
    }
    device_.settle();
    return halvex::wire::encodeWriteRegAck(status, id, written);
}

std::vector<uint8_t> CameraCore::readMemory(std::span<const uint8_t> datagram)
{
    const uint16_t id = halvex::wire::decodeCommandHeader(datagram)->requestId;
    const auto request = halvex::wire::decodeReadMemCmd(datagram);
    if (!request) {
        log("malformed memory read refused (invalid parameter)");
        return halvex::wire::encodeReadMemAck(status::kInvalidParameter, id, 0, {});
    }
    const std::size_t count = request->byteCount == 0
                                  ? halvex::wire::kMaxMemoryBytes
                                  : std::min<std::size_t>(request->byteCount, halvex::wire::kMaxMemoryBytes);
    const std::vector<uint8_t> data = device_.readMemory(request->address, count);
    return halvex::wire::encodeReadMemAck(status::kSuccess, id, request->address, data);
}

std::vector<uint8_t> CameraCore::writeMemory(std::span<const uint8_t> datagram)
{
    const uint16_t id = halvex::wire::decodeCommandHeader(datagram)->requestId;
    const auto request = halvex::wire::decodeWriteMemCmd(datagram);
    if (!request || request->data.empty() || request->data.size() > halvex::wire::kMaxMemoryBytes) {
        log("malformed memory write refused (invalid parameter)");
        return halvex::wire::encodeWriteMemAck(status::kInvalidParameter, id, 0);
    }
    const uint16_t status = device_.writeMemory(request->address, request->data);
    const auto written = static_cast<uint16_t>(status == status::kSuccess ? request->data.size() : 0);
    return halvex::wire::encodeWriteMemAck(status, id, written);
}

std::vector<uint8_t> CameraCore::discoveryReply(uint16_t ackId) const
{
    const CameraConfig& config = device_.config();
    const CameraMemory& memory = device_.memory();
    halvex::wire::DiscoveryAck reply;
    reply.header.ackId = ackId;
    reply.protocolVersionMajor = 1;
    reply.protocolVersionMinor = 2;
    reply.deviceMode = 0x80000001; // a transmitter, little-endian register byte order flag clear
    reply.macAddress = config.mac;
    reply.ipConfigOptions = 0x7;
    reply.ipConfigCurrent = 0x5; // persistent IP and link-local
    reply.currentIp = halvex::platform::hostToNetwork(config.address);
    reply.subnetMask = halvex::platform::hostToNetwork(config.netmask);
    reply.defaultGateway = 0;
    reply.manufacturerName = memory.manufacturer();
    reply.modelName = memory.model();
    reply.deviceVersion = memory.deviceVersion();
    reply.manufacturerInfo = memory.manufacturerInfo();
    reply.serialNumber = memory.serial();
    reply.userDefinedName = memory.userName();
    return halvex::wire::encodeDiscoveryAck(reply);
}

std::vector<Outgoing> CameraCore::refuse(std::span<const uint8_t> datagram, Endpoint from, uint16_t status)
{
    const auto header = halvex::wire::decodeCommandHeader(datagram);
    if (!header || !header->ackRequired() || header->command == code::kDiscoveryCmd) {
        return {};
    }
    log(fmt::format("{} from {} refused with status 0x{:04X} (injected)",
                    halvex::wire::controlCodeName(header->command), toString(from), status));
    std::vector<uint8_t> reply;
    switch (header->command) {
    case code::kWriteRegCmd: reply = halvex::wire::encodeWriteRegAck(status, header->requestId, 0); break;
    case code::kWriteMemCmd: reply = halvex::wire::encodeWriteMemAck(status, header->requestId, 0); break;
    default:
        reply = halvex::wire::encodeAck(status, static_cast<uint16_t>(header->command + 1), header->requestId, {});
        break;
    }
    return {Outgoing{FaultChannel::Control, from, std::move(reply)}};
}

std::vector<Outgoing> CameraCore::advance(SimTime now)
{
    std::vector<Outgoing> out;
    const auto before = device_.registers().values();
    device_.advance(now);
    appendEvents(before, true, now, out);
    return out;
}

// `before` holds the values of every register, in address order, from before the change.
void CameraCore::appendEvents(const std::vector<uint32_t>& before, bool internalOnly, SimTime now,
                              std::vector<Outgoing>& out)
{
    const RegisterFile& regs = device_.registers();
    const uint32_t port = regs.get(GIGE_REG_MCP);
    const uint32_t address = regs.get(GIGE_REG_MCDA);
    if (port == 0 || address == 0) {
        return;
    }
    const Endpoint host{address, static_cast<uint16_t>(port)};
    const auto entries = regs.entries();
    for (std::size_t i = 0; i < entries.size() && i < before.size(); ++i) {
        const uint32_t reg = entries[i].address;
        const uint32_t value = entries[i].value;
        if (before[i] == value) {
            continue;
        }
        if (internalOnly ? !listed(kInternalEvents, reg) : listed(kWithoutEvents, reg)) {
            continue;
        }
        halvex::wire::EventData event;
        eventId_ = static_cast<uint16_t>(eventId_ == 0xFFFF ? 1 : eventId_ + 1);
        event.requestId = eventId_;
        event.eventId = static_cast<uint16_t>(reg);
        event.streamChannel = kNoStreamChannel;
        event.timestamp = static_cast<uint64_t>(now.count());
        event.value = value;
        out.push_back(Outgoing{FaultChannel::Events, host, halvex::wire::encodeEventData(event)});
    }
}

} // namespace hxsim
