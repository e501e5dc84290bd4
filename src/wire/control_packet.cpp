// Register and memory control packets: the host's commands, the camera's acknowledges, the
// write-gate rules and the mapping of camera status codes to results.
#include "wire/control_packet.h"

#include <algorithm>
#include <array>

#include "wire/byte_io.h"
#include "wire/wire_text.h"

namespace halvex::wire {

namespace {

// Registers a single write reaches without the gate: the stream channel, control privilege,
// stream control and playback registers, which must work while the gate is closed.
constexpr std::array<uint32_t, 14> kUngatedRegisters = {0x0A00, 0x0D00, 0x0D04, 0x0D08, 0x0D18, 0xC294, 0xD314,
                                                        0xD318, 0xD518, 0xE918, 0xE924, 0xE928, 0xE92C, 0xE930};

// Registers whose writes the camera may not answer, so waiting for an acknowledge would only
// run into the time-out.
constexpr std::array<uint32_t, 8> kUnacknowledgedRegisters = {0x0A00, 0x0B00, 0x0B10, 0x0D00,
                                                              0x0D08, 0xC58C, 0xD314, 0xE844};

bool contains(std::span<const uint32_t> set, uint32_t address)
{
    return std::find(set.begin(), set.end(), address) != set.end();
}

// A payload longer than the 16-bit length field can describe is never encoded: its length
// would lie to the receiver.
bool fitsLengthField(std::size_t payloadSize)
{
    return payloadSize <= 0xFFFF;
}

void writeCommandHeader(ByteWriter& out, uint8_t flags, uint16_t command, std::size_t length, uint16_t requestId)
{
    out.expectTotal(kControlHeaderSize + length);
    out.u8(kCommandKey);
    out.u8(flags);
    out.u16(command);
    out.u16(static_cast<uint16_t>(length));
    out.u16(requestId);
}

AckHeader readAckHeader(ByteReader& in)
{
    AckHeader header;
    header.status = in.u16();
    header.answer = in.u16();
    header.length = in.u16();
    header.ackId = in.u16();
    return header;
}

// An acknowledge with the expected answer code whose claimed payload actually arrived.
std::optional<AckHeader> checkedAck(std::span<const uint8_t> datagram, uint16_t answer)
{
    std::optional<AckHeader> header = decodeAckHeader(datagram);
    if (!header || header->answer != answer) {
        return std::nullopt;
    }
    return header;
}

// A command with the expected code whose claimed payload actually arrived, and whose payload
// length is a whole number of `unit`-byte fields.
std::optional<CommandHeader> checkedCommand(std::span<const uint8_t> datagram, uint16_t command, std::size_t unit)
{
    std::optional<CommandHeader> header = decodeCommandHeader(datagram);
    if (!header || header->command != command || header->length % unit != 0) {
        return std::nullopt;
    }
    return header;
}

std::string commandPrefix(const CommandHeader& header)
{
    return controlCodeName(header.command) + " id=" + std::to_string(header.requestId) +
           " flags=" + hexText(header.flags, 2) + " len=" + std::to_string(header.length);
}

std::string ackPrefix(const AckHeader& header)
{
    return controlCodeName(header.answer) + " id=" + std::to_string(header.ackId) +
           " status=" + hexText(header.status, 4) + " len=" + std::to_string(header.length);
}

template <typename Item, typename Render>
std::string listText(const std::vector<Item>& items, Render render)
{
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : ", ") + render(items[i]);
    }
    return text + "]";
}

} // namespace

uint32_t controlResultFromStatus(uint16_t cameraStatus)
{
    switch (cameraStatus) {
    case camera_status::kSuccess: return control_result::kSuccess;
    case camera_status::kPacketResend: return control_result::kPacketResend;
    case camera_status::kNotImplemented: return control_result::kNotImplemented;
    case camera_status::kInvalidParameter: return control_result::kInvalidParameter;
    case camera_status::kInvalidAddress: return control_result::kInvalidAddress;
    case camera_status::kAccessDenied: return control_result::kAccessDenied;
    case camera_status::kBusy: return control_result::kBusy;
    default: return control_result::kOtherError;
    }
}

bool isUngatedRegister(uint32_t address)
{
    return contains(kUngatedRegisters, address);
}

bool isUnacknowledgedMultiRegister(uint32_t address)
{
    return contains(kUnacknowledgedRegisters, address);
}

// Most writes are wrapped in gate-open and gate-close pairs inside one datagram, so a write can
// only change the camera while it is whole.
WritePlan planSingleWrite(uint32_t address, uint32_t value)
{
    WritePlan plan;
    if (isUngatedRegister(address)) {
        plan.pairs = {{address, value}};
        return plan;
    }
    plan.pairs = {{kWriteGateRegister, kWriteGateOpen}, {address, value}, {kWriteGateRegister, kWriteGateClosed}};
    plan.ackRequired = address != kUnacknowledgedSingleRegister;
    return plan;
}

WritePlan planMultiWrite(std::span<const RegisterPair> callerPairs)
{
    WritePlan plan;
    plan.pairs.reserve(callerPairs.size() + 2);
    plan.pairs.push_back({kWriteGateRegister, kWriteGateOpen});
    plan.pairs.insert(plan.pairs.end(), callerPairs.begin(), callerPairs.end());
    plan.pairs.push_back({kWriteGateRegister, kWriteGateClosed});
    plan.ackRequired = !std::all_of(callerPairs.begin(), callerPairs.end(),
                                    [](const RegisterPair& p) { return isUnacknowledgedMultiRegister(p.address); });
    return plan;
}

RegisterPair gateClosePair()
{
    return {kWriteGateRegister, kWriteGateClosed};
}

uint16_t effectiveReadCount(std::size_t byteCount)
{
    if (byteCount == 0 || byteCount > kMaxMemoryBytes) {
        return static_cast<uint16_t>(kMaxMemoryBytes);
    }
    return static_cast<uint16_t>(byteCount);
}

std::vector<uint8_t> encodeReadRegCmd(std::span<const uint32_t> addresses, uint16_t requestId)
{
    if (!fitsLengthField(4 * addresses.size())) {
        return {};
    }
    std::vector<uint8_t> datagram;
    ByteWriter out(datagram);
    writeCommandHeader(out, kFlagAckRequired, control_code::kReadRegCmd, 4 * addresses.size(), requestId);
    for (uint32_t address : addresses) {
        out.u32(address);
    }
    return datagram;
}

std::vector<uint8_t> encodeWriteRegCmd(std::span<const RegisterPair> pairs, bool ackRequired, uint16_t requestId)
{
    if (!fitsLengthField(8 * pairs.size())) {
        return {};
    }
    std::vector<uint8_t> datagram;
    ByteWriter out(datagram);
    writeCommandHeader(out, ackRequired ? kFlagAckRequired : kFlagNoAck, control_code::kWriteRegCmd, 8 * pairs.size(),
                       requestId);
    for (const RegisterPair& pair : pairs) {
        out.u32(pair.address);
        out.u32(pair.value);
    }
    return datagram;
}

std::vector<uint8_t> encodeReadMemCmd(uint32_t address, std::size_t byteCount, uint16_t requestId)
{
    std::vector<uint8_t> datagram;
    ByteWriter out(datagram);
    writeCommandHeader(out, kFlagAckRequired, control_code::kReadMemCmd, 8, requestId);
    out.u32(address);
    out.u16(0);
    out.u16(effectiveReadCount(byteCount));
    return datagram;
}

std::vector<uint8_t> encodeWriteMemCmd(uint32_t address, std::span<const uint8_t> data, uint16_t requestId)
{
    const std::span<const uint8_t> sent = data.first(std::min(data.size(), kMaxMemoryBytes));
    std::vector<uint8_t> datagram;
    ByteWriter out(datagram);
    writeCommandHeader(out, kFlagAckRequired, control_code::kWriteMemCmd, 4 + sent.size(), requestId);
    out.u32(address);
    out.bytes(sent);
    return datagram;
}

std::optional<AckHeader> decodeAckHeader(std::span<const uint8_t> datagram)
{
    ByteReader in(datagram);
    const AckHeader header = readAckHeader(in);
    if (!in.ok() || header.length > in.remaining()) {
        return std::nullopt;
    }
    return header;
}

std::optional<ReadRegAck> decodeReadRegAck(std::span<const uint8_t> datagram)
{
    const std::optional<AckHeader> header = checkedAck(datagram, control_code::kReadRegAck);
    if (!header) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    in.seek(kControlHeaderSize);
    ReadRegAck ack{*header, {}};
    ack.values.resize(header->length / 4);
    for (uint32_t& value : ack.values) {
        value = in.u32();
    }
    return ack;
}

std::optional<WriteRegAck> decodeWriteRegAck(std::span<const uint8_t> datagram)
{
    const std::optional<AckHeader> header = checkedAck(datagram, control_code::kWriteRegAck);
    if (!header || header->length < 4) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    in.seek(kControlHeaderSize);
    return WriteRegAck{*header, in.u32()};
}

std::optional<ReadMemAck> decodeReadMemAck(std::span<const uint8_t> datagram)
{
    const std::optional<AckHeader> header = checkedAck(datagram, control_code::kReadMemAck);
    if (!header || header->length < kMinReadMemAckLength || header->length > kMaxReadMemAckLength) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    in.seek(kControlHeaderSize);
    ReadMemAck ack{*header, in.u32(), {}};
    ack.data = in.bytes(header->length - 4u);
    return ack;
}

std::optional<AckHeader> decodeWriteMemAck(std::span<const uint8_t> datagram)
{
    return checkedAck(datagram, control_code::kWriteMemAck);
}

std::optional<CommandHeader> decodeCommandHeader(std::span<const uint8_t> datagram)
{
    ByteReader in(datagram);
    CommandHeader header;
    header.key = in.u8();
    header.flags = in.u8();
    header.command = in.u16();
    header.length = in.u16();
    header.requestId = in.u16();
    if (!in.ok() || header.key != kCommandKey || header.length > in.remaining()) {
        return std::nullopt;
    }
    return header;
}

std::optional<ReadRegCmd> decodeReadRegCmd(std::span<const uint8_t> datagram)
{
    const std::optional<CommandHeader> header = checkedCommand(datagram, control_code::kReadRegCmd, 4);
    if (!header) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    in.seek(kControlHeaderSize);
    ReadRegCmd command{*header, std::vector<uint32_t>(header->length / 4)};
    for (uint32_t& address : command.addresses) {
        address = in.u32();
    }
    return command;
}

std::optional<WriteRegCmd> decodeWriteRegCmd(std::span<const uint8_t> datagram)
{
    const std::optional<CommandHeader> header = checkedCommand(datagram, control_code::kWriteRegCmd, 8);
    if (!header) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    in.seek(kControlHeaderSize);
    WriteRegCmd command{*header, RegisterPairs(header->length / 8)};
    for (RegisterPair& pair : command.pairs) {
        pair.address = in.u32();
        pair.value = in.u32();
    }
    return command;
}

std::optional<ReadMemCmd> decodeReadMemCmd(std::span<const uint8_t> datagram)
{
    const std::optional<CommandHeader> header = checkedCommand(datagram, control_code::kReadMemCmd, 1);
    if (!header || header->length != 8) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    in.seek(kControlHeaderSize);
    ReadMemCmd command{*header, in.u32(), 0};
    in.skip(2);
    command.byteCount = in.u16();
    return command;
}

std::optional<WriteMemCmd> decodeWriteMemCmd(std::span<const uint8_t> datagram)
{
    const std::optional<CommandHeader> header = checkedCommand(datagram, control_code::kWriteMemCmd, 1);
    if (!header || header->length < 4) {
        return std::nullopt;
    }
    ByteReader in(datagram);
    in.seek(kControlHeaderSize);
    WriteMemCmd command{*header, in.u32(), {}};
    command.data = in.bytes(header->length - 4u);
    return command;
}

std::vector<uint8_t> encodeAck(uint16_t status, uint16_t answer, uint16_t ackId, std::span<const uint8_t> payload)
{
    if (!fitsLengthField(payload.size())) {
        return {};
    }
    std::vector<uint8_t> datagram;
    ByteWriter out(datagram);
    out.u16(status);
    out.u16(answer);
    out.u16(static_cast<uint16_t>(payload.size()));
    out.u16(ackId);
    out.bytes(payload);
    return datagram;
}

std::vector<uint8_t> encodeReadRegAck(uint16_t status, uint16_t ackId, std::span<const uint32_t> values)
{
    std::vector<uint8_t> payload;
    ByteWriter out(payload);
    for (uint32_t value : values) {
        out.u32(value);
    }
    return encodeAck(status, control_code::kReadRegAck, ackId, payload);
}

std::vector<uint8_t> encodeWriteRegAck(uint16_t status, uint16_t ackId, uint16_t index)
{
    const uint8_t payload[4] = {0, 0, static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index)};
    return encodeAck(status, control_code::kWriteRegAck, ackId, payload);
}

std::vector<uint8_t> encodeReadMemAck(uint16_t status, uint16_t ackId, uint32_t address, std::span<const uint8_t> data)
{
    std::vector<uint8_t> payload;
    ByteWriter out(payload);
    out.u32(address);
    out.bytes(data);
    return encodeAck(status, control_code::kReadMemAck, ackId, payload);
}

std::vector<uint8_t> encodeWriteMemAck(uint16_t status, uint16_t ackId, uint16_t index)
{
    const uint8_t payload[4] = {0, 0, static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index)};
    return encodeAck(status, control_code::kWriteMemAck, ackId, payload);
}

std::string controlCodeName(uint16_t code)
{
    switch (code) {
    case control_code::kDiscoveryCmd: return "DISCOVERY_CMD";
    case control_code::kDiscoveryAck: return "DISCOVERY_ACK";
    case control_code::kResultlessAck: return "ANSWER_0005";
    case control_code::kReadRegCmd: return "READREG_CMD";
    case control_code::kReadRegAck: return "READREG_ACK";
    case control_code::kWriteRegCmd: return "WRITEREG_CMD";
    case control_code::kWriteRegAck: return "WRITEREG_ACK";
    case control_code::kReadMemCmd: return "READMEM_CMD";
    case control_code::kReadMemAck: return "READMEM_ACK";
    case control_code::kWriteMemCmd: return "WRITEMEM_CMD";
    case control_code::kWriteMemAck: return "WRITEMEM_ACK";
    case control_code::kEventDataCmd: return "EVENTDATA_CMD";
    default: return "CODE_" + hexText(code, 4);
    }
}

std::string toString(const CommandHeader& header)
{
    return commandPrefix(header) + " key=" + hexText(header.key, 2);
}

std::string toString(const AckHeader& header)
{
    return ackPrefix(header);
}

std::string toString(const ReadRegCmd& command)
{
    return commandPrefix(command.header) +
           " addresses=" + listText(command.addresses, [](uint32_t a) { return hexText(a, 4); });
}

std::string toString(const WriteRegCmd& command)
{
    return commandPrefix(command.header) +
           " pairs=" + listText(command.pairs, [](const RegisterPair& p) { return toString(p); });
}

std::string toString(const ReadMemCmd& command)
{
    return commandPrefix(command.header) + " address=" + hexText(command.address, 8) +
           " count=" + std::to_string(command.byteCount);
}

std::string toString(const WriteMemCmd& command)
{
    return commandPrefix(command.header) + " address=" + hexText(command.address, 8) +
           " data=" + std::to_string(command.data.size()) + " bytes [" + bytesText(command.data, 16) + "]";
}

std::string toString(const ReadRegAck& ack)
{
    return ackPrefix(ack.header) + " values=" + listText(ack.values, [](uint32_t v) { return hexText(v, 8); });
}

std::string toString(const WriteRegAck& ack)
{
    return ackPrefix(ack.header) + " index=" + std::to_string(ack.index);
}

std::string toString(const ReadMemAck& ack)
{
    return ackPrefix(ack.header) + " address=" + hexText(ack.address, 8) + " data=" + std::to_string(ack.data.size()) +
           " bytes [" + bytesText(ack.data, 16) + "]";
}

std::string toString(const WritePlan& plan)
{
    return std::string(plan.ackRequired ? "acknowledged" : "unacknowledged") + " write " +
           listText(plan.pairs, [](const RegisterPair& p) { return toString(p); });
}

} // namespace halvex::wire
