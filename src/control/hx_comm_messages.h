// What a camera's control channel carries: register and memory requests, event datagrams, ticks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/message_id_ranges.h"
#include "hlv_thread/message.h"
#include "wire/control_packet.h"

namespace halvex::control {

// Identifiers private to the control channel's thread.
enum : uint32_t {
    HMP_MSG = message_ids::INTERNAL_START + 1,
    PURGE_MSG = message_ids::INTERNAL_START + 3,
    READ_REG_MSG = message_ids::INTERNAL_START + 4,
    WRITE_REG_MSG = message_ids::INTERNAL_START + 5,
    READ_MEM_MSG = message_ids::INTERNAL_START + 6,
    WRITE_MEM_MSG = message_ids::INTERNAL_START + 7,
    READ_MULTI_REG_MSG = message_ids::INTERNAL_START + 8,
    WRITE_MULTI_REG_MSG = message_ids::INTERNAL_START + 9,
};

// A request's command as it goes on the wire, and whether the camera answers it.
struct Command {
    std::vector<uint8_t> datagram;
    bool ackRequired = true;
};

// The channel as a request sees it while it is encoded or completed: the camera's name for log
// lines, and the write-gate close after a failed write.
class RequestChannel {
public:
    virtual const std::string& cameraName() const = 0;
    virtual void closeWriteGate() = 0;

protected:
    ~RequestChannel() = default;
};

// How many registers a request carries, and the most one datagram takes.
struct RegisterExtent {
    std::size_t count;
    std::size_t limit;
};

// A register or memory request. The caller builds it on its stack and waits for it; while it is
// pending, the channel's exchange lock guards it. It ends done or failed, with the camera's
// status of the exchange. Each kind knows its command, the answer it expects and how an answer
// completes it (hx_comm_request_kinds.cpp).
class RequestMessage {
public:
    RequestMessage(uint32_t id, uint32_t camera) : req(id), cameraAddress(camera) {}
    virtual ~RequestMessage() = default;
    RequestMessage(const RequestMessage&) = delete;
    RequestMessage& operator=(const RequestMessage&) = delete;

    // The command for this request under requestId; an empty datagram when it cannot be built.
    virtual Command encode(uint16_t requestId, RequestChannel& channel) const = 0;
    // The acknowledge code that answers this request.
    virtual uint16_t expectedAnswer() const = 0;
    // Takes the result from a fitting acknowledge; returns the completion status (done or failed)
    // and leaves the camera's status in cameraStatus.
    virtual uint32_t takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel) = 0;
    // Register lists: their size against what one datagram takes; nothing for other requests.
    virtual std::optional<RegisterExtent> registerExtent() const { return std::nullopt; }
    // A single register read words a failed send differently.
    virtual bool singleRead() const { return false; }
    // True when the camera may receive the command twice without a second effect, so the channel
    // sends it again (same request id) while its answer is late (repeat_rule.h).
    virtual bool repeatable() const { return false; }

    uint32_t req;
    uint32_t status = thread::MESSAGE_PENDING;
    uint32_t cameraAddress;
    // Stays "generic error" unless the camera answers, so a local failure reads as one.
    uint16_t cameraStatus = wire::camera_status::kGenericError;
    // Set when the channel halted or was faulted while the request waited.
    bool channelDown = false;
    // Set once, when the request has its result; its caller may then return.
    bool completed = false;
    // The caller waits a few round trips only (HxComm::writeBriefly): the request then ends as
    // aged out for its caller but stays pending without it, so a late acknowledge is dropped.
    bool briefWait = false;
};

class ReadRegMessage : public RequestMessage {
public:
    ReadRegMessage(uint32_t camera, uint32_t reg) : RequestMessage(READ_REG_MSG, camera), regAddress(reg) {}
    Command encode(uint16_t requestId, RequestChannel& channel) const override;
    uint16_t expectedAnswer() const override;
    uint32_t takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel) override;
    bool singleRead() const override { return true; }
    bool repeatable() const override { return true; }

    uint32_t regAddress;
    uint32_t value = 0;
};

class WriteRegMessage : public RequestMessage {
public:
    WriteRegMessage(uint32_t camera, uint32_t reg, uint32_t newValue)
        : RequestMessage(WRITE_REG_MSG, camera), regAddress(reg), value(newValue)
    {
    }
    Command encode(uint16_t requestId, RequestChannel& channel) const override;
    uint16_t expectedAnswer() const override;
    uint32_t takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel) override;
    bool repeatable() const override;

    uint32_t regAddress;
    uint32_t value;
};

// A request over a list of registers; the list's length is bounded by what one command carries.
class MultiRegMessage : public RequestMessage {
public:
    std::optional<RegisterExtent> registerExtent() const override { return RegisterExtent{pairs.size(), limit_}; }

    wire::RegisterPairs pairs;

protected:
    MultiRegMessage(uint32_t id, uint32_t camera, wire::RegisterPairs list, std::size_t limit)
        : RequestMessage(id, camera), pairs(std::move(list)), limit_(limit)
    {
    }

private:
    std::size_t limit_;
};

class ReadMultiRegMessage : public MultiRegMessage {
public:
    ReadMultiRegMessage(uint32_t camera, wire::RegisterPairs list)
        : MultiRegMessage(READ_MULTI_REG_MSG, camera, std::move(list), wire::kMaxReadAddresses)
    {
    }
    Command encode(uint16_t requestId, RequestChannel& channel) const override;
    uint16_t expectedAnswer() const override;
    uint32_t takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel) override;
    bool repeatable() const override { return true; }
};

class WriteMultiRegMessage : public MultiRegMessage {
public:
    WriteMultiRegMessage(uint32_t camera, wire::RegisterPairs list)
        : MultiRegMessage(WRITE_MULTI_REG_MSG, camera, std::move(list), wire::kMaxGatedCallerPairs)
    {
    }
    Command encode(uint16_t requestId, RequestChannel& channel) const override;
    uint16_t expectedAnswer() const override;
    uint32_t takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel) override;
    bool repeatable() const override;
};

class ReadMemMessage : public RequestMessage {
public:
    ReadMemMessage(uint32_t camera, uint32_t start, std::size_t count)
        : RequestMessage(READ_MEM_MSG, camera), startAddress(start), byteCount(count)
    {
    }
    Command encode(uint16_t requestId, RequestChannel& channel) const override;
    uint16_t expectedAnswer() const override;
    uint32_t takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel) override;
    bool repeatable() const override;

    uint32_t startAddress;
    // 0 asks for the most one datagram carries.
    std::size_t byteCount;
    std::vector<uint8_t> data;
};

class WriteMemMessage : public RequestMessage {
public:
    WriteMemMessage(uint32_t camera, uint32_t start, std::vector<uint8_t> bytes)
        : RequestMessage(WRITE_MEM_MSG, camera), startAddress(start), data(std::move(bytes))
    {
    }
    Command encode(uint16_t requestId, RequestChannel& channel) const override;
    uint16_t expectedAnswer() const override;
    uint32_t takeAnswer(std::span<const uint8_t> datagram, RequestChannel& channel) override;

    uint32_t startAddress;
    std::vector<uint8_t> data;
};

// The header fields as they arrived, whether or not the rest of the datagram makes sense, so a
// malformed acknowledge still finds (and fails) the request it answers.
wire::AckHeader rawAckHeader(std::span<const uint8_t> datagram);
// The status to report for an acknowledge that carried no usable result.
uint16_t unusableStatus(const wire::AckHeader& header);

// One datagram read from the event socket, with where it came from.
class HmpMessage : public thread::Message {
public:
    HmpMessage() { req = HMP_MSG; }
    std::array<uint8_t, wire::kMaxControlDatagram> buffer{};
    std::size_t length = 0;
    uint32_t sourceAddress = 0; // network order
    uint16_t sourcePort = 0;
    // When it was taken off the event socket (orderStamp), which orders it against reads.
    uint64_t known = 0;
};

// Posted when the camera is declared lost: fails every pending request at once.
class PurgeMessage : public thread::Message {
public:
    PurgeMessage() { req = PURGE_MSG; }
};

} // namespace halvex::control
