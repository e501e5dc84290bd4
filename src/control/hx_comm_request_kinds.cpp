// The control channel's request kinds: each encodes its command, names the acknowledge that
// answers it and takes its result from that acknowledge.
#include <algorithm>

#include "control/hx_comm_messages.h"
#include "control/repeat_rule.h"
#include "hlv_thread/log.h"
#include "wire/byte_io.h"

namespace halvex::control {

using thread::MESSAGE_DONE;
using thread::MESSAGE_FAILED;
namespace code = wire::control_code;
namespace status = wire::camera_status;

namespace {

std::vector<uint32_t> addressesOf(const wire::RegisterPairs& pairs)
{
    std::vector<uint32_t> addresses;
    addresses.reserve(pairs.size());
    for (const auto& pair : pairs)
        addresses.push_back(pair.address);
    return addresses;
}

Command writeCommand(const wire::WritePlan& plan, uint16_t requestId)
{
    return {wire::encodeWriteRegCmd(plan.pairs, plan.ackRequired, requestId), plan.ackRequired};
}

// Register and memory writes: only the status counts, and for a multi-register write the index
// of pairs written must cover every pair sent (expectedIndex: the caller's and the two gate pairs).
uint32_t takeWriteAnswer(RequestMessage& request, std::span<const uint8_t> datagram, RequestChannel& channel,
                         std::optional<std::size_t> expectedIndex)
{
    request.cameraStatus = rawAckHeader(datagram).status;
    if (request.cameraStatus == status::kSuccess && expectedIndex) {
        const auto ack = wire::decodeWriteRegAck(datagram);
        const long index = ack ? static_cast<long>(ack->index) : -1;
        if (index != static_cast<long>(*expectedIndex)) {
            HLV_LOG("%s: dataIndex [%ld] != reqlen [%zu]", "HxComm::finishWrite", index, *expectedIndex);
            request.cameraStatus = status::kGenericError;
        }
    }
    if (request.cameraStatus == status::kSuccess)
        return MESSAGE_DONE;
    HLV_LOG("%s(%s): Write failed, status=0x%x", "HxComm::finishWrite", channel.cameraName().c_str(),
            request.cameraStatus);
    channel.closeWriteGate();
    return MESSAGE_FAILED;
}

} // namespace

wire::AckHeader rawAckHeader(std::span<const uint8_t> datagram)
{
    wire::ByteReader in(datagram);
    wire::AckHeader header;
    header.status = in.u16();
    header.answer = in.u16();
    header.length = in.u16();
    header.ackId = in.u16();
    return header;
}

uint16_t unusableStatus(const wire::AckHeader& header)
{
    return header.status != status::kSuccess ? header.status : status::kGenericError;
}

Command ReadRegMessage::encode(uint16_t requestId, RequestChannel& channel) const
{
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): msg_id=%d, reg_addr=0x%08x/0x%08x", "HxComm::buildCommand",
              channel.cameraName().c_str(), requestId, regAddress, regAddress);
    const uint32_t address[] = {regAddress};
    return {wire::encodeReadRegCmd(address, requestId)};
}

uint16_t ReadRegMessage::expectedAnswer() const
{
    return code::kReadRegAck;
}

// A read completes as done whatever the camera's status, as long as a value came with it.
uint32_t ReadRegMessage::takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel)
{
    const auto ack = wire::decodeReadRegAck(datagram);
    if (!ack || ack->values.empty()) {
        const wire::AckHeader header = rawAckHeader(datagram);
        HLV_LOG("%s(%s): No value in the answer to message %d, length=%d", "HxComm::finishReadReg",
                channel.cameraName().c_str(), header.ackId, header.length);
        cameraStatus = unusableStatus(header);
        return MESSAGE_FAILED;
    }
    value = ack->values.front();
    cameraStatus = ack->header.status;
    return MESSAGE_DONE;
}

Command ReadMultiRegMessage::encode(uint16_t requestId, RequestChannel& channel) const
{
    const char* camera = channel.cameraName().c_str();
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): reg count=%zu", "HxComm::buildCommand", camera, pairs.size());
    HLV_TRACE(thread::TRACE_COMM, "%s(%s) msg_id=%d", "HxComm::buildCommand", camera, requestId);
    return {wire::encodeReadRegCmd(addressesOf(pairs), requestId)};
}

uint16_t ReadMultiRegMessage::expectedAnswer() const
{
    return code::kReadRegAck;
}

uint32_t ReadMultiRegMessage::takeAnswer(std::span<const uint8_t> datagram, RequestChannel&)
{
    const auto ack = wire::decodeReadRegAck(datagram);
    const wire::AckHeader header = rawAckHeader(datagram);
    const std::size_t returned = ack ? ack->values.size() : 0;
    if (!ack || returned != pairs.size()) {
        HLV_LOG("%s: Mismatch between request list (%d) and returned values list (%d)", "HxComm::finishReadMultiReg",
                static_cast<int>(pairs.size()), static_cast<int>(returned));
        cameraStatus = unusableStatus(header);
        return MESSAGE_FAILED;
    }
    for (std::size_t i = 0; i < returned; ++i)
        pairs[i].value = ack->values[i];
    cameraStatus = header.status;
    return MESSAGE_DONE;
}

Command WriteRegMessage::encode(uint16_t requestId, RequestChannel&) const
{
    return writeCommand(wire::planSingleWrite(regAddress, value), requestId);
}

bool WriteRegMessage::repeatable() const
{
    return repeatableWrite(regAddress, value);
}

uint16_t WriteRegMessage::expectedAnswer() const
{
    return code::kWriteRegAck;
}

uint32_t WriteRegMessage::takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel)
{
    return takeWriteAnswer(*this, datagram, channel, std::nullopt);
}

Command WriteMultiRegMessage::encode(uint16_t requestId, RequestChannel& channel) const
{
    const wire::WritePlan plan = wire::planMultiWrite(pairs);
    if (!plan.ackRequired) {
        for (const auto& pair : pairs)
            HLV_TRACE(thread::TRACE_COMM, "%s(%s): Addr: 0x%x doesn't need ack", "HxComm::buildCommand",
                      channel.cameraName().c_str(), pair.address);
    }
    return writeCommand(plan, requestId);
}

bool WriteMultiRegMessage::repeatable() const
{
    return repeatableWrite(pairs);
}

uint16_t WriteMultiRegMessage::expectedAnswer() const
{
    return code::kWriteRegAck;
}

uint32_t WriteMultiRegMessage::takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel)
{
    return takeWriteAnswer(*this, datagram, channel, pairs.size() + 2);
}

Command ReadMemMessage::encode(uint16_t requestId, RequestChannel&) const
{
    return {wire::encodeReadMemCmd(startAddress, byteCount, requestId)};
}

bool ReadMemMessage::repeatable() const
{
    return repeatableMemoryRead(startAddress);
}

uint16_t ReadMemMessage::expectedAnswer() const
{
    return code::kReadMemAck;
}

uint32_t ReadMemMessage::takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel)
{
    const auto ack = wire::decodeReadMemAck(datagram);
    if (!ack) {
        const wire::AckHeader header = rawAckHeader(datagram);
        HLV_LOG("%s(%s): Error reading reg_addr: 0x%04X, length=%d", "HxComm::finishReadMem",
                channel.cameraName().c_str(), startAddress, header.length);
        cameraStatus = unusableStatus(header);
        return MESSAGE_FAILED;
    }
    const std::size_t count = std::min<std::size_t>(ack->data.size(), wire::effectiveReadCount(byteCount));
    data.assign(ack->data.begin(), ack->data.begin() + static_cast<std::ptrdiff_t>(count));
    cameraStatus = ack->header.status;
    return MESSAGE_DONE;
}

Command WriteMemMessage::encode(uint16_t requestId, RequestChannel&) const
{
    return {wire::encodeWriteMemCmd(startAddress, data, requestId)};
}

uint16_t WriteMemMessage::expectedAnswer() const
{
    return code::kWriteMemAck;
}

uint32_t WriteMemMessage::takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel)
{
    return takeWriteAnswer(*this, datagram, channel, std::nullopt);
}

} // namespace halvex::control
