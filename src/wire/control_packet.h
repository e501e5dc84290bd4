// Register and memory control packets: the host's commands, the camera's acknowledges, the
// write-gate rules and the mapping of camera status codes to results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "wire/register_pair.h"

namespace halvex::wire {

inline constexpr uint16_t kControlPort = 3956;
inline constexpr uint8_t kCommandKey = 0x42;
inline constexpr uint8_t kFlagAckRequired = 0x01;
inline constexpr uint8_t kFlagNoAck = 0x00;

inline constexpr std::size_t kControlHeaderSize = 8;
// The largest control datagram read: 576 bytes less the IP and UDP headers.
inline constexpr std::size_t kMaxControlDatagram = 548;
inline constexpr std::size_t kMaxMemoryBytes = 536;
inline constexpr std::size_t kMaxReadAddresses = 135;
inline constexpr std::size_t kMaxWritePairs = 67;
// Caller pairs that fit one gated write once the two gate pairs are added.
inline constexpr std::size_t kMaxGatedCallerPairs = kMaxWritePairs - 2;
// A memory read acknowledge carries the address and at least one data byte, within a datagram.
inline constexpr std::size_t kMinReadMemAckLength = 5;
inline constexpr std::size_t kMaxReadMemAckLength = kMaxControlDatagram - kControlHeaderSize;

// Command and answer codes.
namespace control_code {
inline constexpr uint16_t kDiscoveryCmd = 0x0002;
inline constexpr uint16_t kDiscoveryAck = 0x0003;
// Answered in place of a real acknowledge; completes a request without giving it a result.
inline constexpr uint16_t kResultlessAck = 0x0005;
inline constexpr uint16_t kReadRegCmd = 0x0080;
inline constexpr uint16_t kReadRegAck = 0x0081;
inline constexpr uint16_t kWriteRegCmd = 0x0082;
inline constexpr uint16_t kWriteRegAck = 0x0083;
inline constexpr uint16_t kReadMemCmd = 0x0084;
inline constexpr uint16_t kReadMemAck = 0x0085;
inline constexpr uint16_t kWriteMemCmd = 0x0086;
inline constexpr uint16_t kWriteMemAck = 0x0087;
inline constexpr uint16_t kEventDataCmd = 0x00C2;
} // namespace control_code

// Status codes a camera puts in an acknowledge.
namespace camera_status {
inline constexpr uint16_t kSuccess = 0x0000;
inline constexpr uint16_t kPacketResend = 0x0100;
inline constexpr uint16_t kNotImplemented = 0x8001;
inline constexpr uint16_t kInvalidParameter = 0x8002;
inline constexpr uint16_t kInvalidAddress = 0x8003;
inline constexpr uint16_t kAccessDenied = 0x8006;
inline constexpr uint16_t kBusy = 0x8007;
// Also stands for local failures (a send that did not go out, a malformed acknowledge).
inline constexpr uint16_t kGenericError = 0x8FFF;
} // namespace camera_status

// Results the control operations return to their callers.
namespace control_result {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kChannelDown = 6;
inline constexpr uint32_t kPacketResend = 7;
inline constexpr uint32_t kNotImplemented = 8;
inline constexpr uint32_t kInvalidParameter = 9;
inline constexpr uint32_t kInvalidAddress = 10;
inline constexpr uint32_t kAccessDenied = 11;
inline constexpr uint32_t kBusy = 12;
inline constexpr uint32_t kOtherError = 13;
} // namespace control_result

// Maps a camera status to the result a control operation returns.
uint32_t controlResultFromStatus(uint16_t cameraStatus);

// Registers with a role in how writes are sent.
inline constexpr uint32_t kWriteGateRegister = 0xC58C;
inline constexpr uint32_t kWriteGateOpen = 2;
inline constexpr uint32_t kWriteGateClosed = 0;
inline constexpr uint32_t kControlPrivilegeRegister = 0x0A00;
// A single write to this register is gated but never acknowledged.
inline constexpr uint32_t kUnacknowledgedSingleRegister = 0xE844;

// True when a single write to `address` goes out as one pair, without the write gate.
bool isUngatedRegister(uint32_t address);
// True when a multi-register write made only of such addresses needs no acknowledge.
bool isUnacknowledgedMultiRegister(uint32_t address);

// The pairs one register write puts on the wire and whether it waits for an acknowledge.
struct WritePlan {
    RegisterPairs pairs;
    bool ackRequired = true;
    // The index a successful acknowledge reports: the number of pairs sent.
    std::size_t expectedIndex() const { return pairs.size(); }
};

WritePlan planSingleWrite(uint32_t address, uint32_t value);
WritePlan planMultiWrite(std::span<const RegisterPair> callerPairs);
// The pair sent fire-and-forget to leave the write gate closed after a failed write.
RegisterPair gateClosePair();

struct CommandHeader {
    uint8_t key = kCommandKey;
    uint8_t flags = kFlagAckRequired;
    uint16_t command = 0;
    uint16_t length = 0;
    uint16_t requestId = 0;
    bool ackRequired() const { return (flags & kFlagAckRequired) != 0; }
};

struct AckHeader {
    uint16_t status = 0;
    uint16_t answer = 0;
    uint16_t length = 0;
    uint16_t ackId = 0;
};

// Host side: commands. An encoder gives an empty datagram when the payload is too long for the
// 16-bit length field.
std::vector<uint8_t> encodeReadRegCmd(std::span<const uint32_t> addresses, uint16_t requestId);
std::vector<uint8_t> encodeWriteRegCmd(std::span<const RegisterPair> pairs, bool ackRequired, uint16_t requestId);
// Asks for `byteCount` bytes; 0 or more than kMaxMemoryBytes asks for kMaxMemoryBytes.
std::vector<uint8_t> encodeReadMemCmd(uint32_t address, std::size_t byteCount, uint16_t requestId);
// Sends at most kMaxMemoryBytes of `data`; the rest is left for the caller to send separately.
std::vector<uint8_t> encodeWriteMemCmd(uint32_t address, std::span<const uint8_t> data, uint16_t requestId);
// The byte count a memory read actually asks for.
uint16_t effectiveReadCount(std::size_t byteCount);

// Host side: acknowledges.
struct ReadRegAck {
    AckHeader header;
    std::vector<uint32_t> values;
};
struct WriteRegAck {
    AckHeader header;
    uint32_t index = 0;
};
struct ReadMemAck {
    AckHeader header;
    uint32_t address = 0;
    std::span<const uint8_t> data; // points into the decoded datagram
};

// Each decoder rejects (nullopt) a datagram shorter than its header, one whose length field
// claims more bytes than arrived, or one with another answer code.
std::optional<AckHeader> decodeAckHeader(std::span<const uint8_t> datagram);
std::optional<ReadRegAck> decodeReadRegAck(std::span<const uint8_t> datagram);
std::optional<WriteRegAck> decodeWriteRegAck(std::span<const uint8_t> datagram);
// Also rejects a length outside kMinReadMemAckLength..kMaxReadMemAckLength.
std::optional<ReadMemAck> decodeReadMemAck(std::span<const uint8_t> datagram);
std::optional<AckHeader> decodeWriteMemAck(std::span<const uint8_t> datagram);

// Camera side: commands.
struct ReadRegCmd {
    CommandHeader header;
    std::vector<uint32_t> addresses;
};
struct WriteRegCmd {
    CommandHeader header;
    RegisterPairs pairs;
};
struct ReadMemCmd {
    CommandHeader header;
    uint32_t address = 0;
    uint16_t byteCount = 0;
};
struct WriteMemCmd {
    CommandHeader header;
    uint32_t address = 0;
    std::span<const uint8_t> data; // points into the decoded datagram
};

// Each decoder rejects a wrong key or command code, a length field that claims more bytes than
// arrived, and a payload that does not split into whole fields.
std::optional<CommandHeader> decodeCommandHeader(std::span<const uint8_t> datagram);
std::optional<ReadRegCmd> decodeReadRegCmd(std::span<const uint8_t> datagram);
std::optional<WriteRegCmd> decodeWriteRegCmd(std::span<const uint8_t> datagram);
std::optional<ReadMemCmd> decodeReadMemCmd(std::span<const uint8_t> datagram);
std::optional<WriteMemCmd> decodeWriteMemCmd(std::span<const uint8_t> datagram);

// Camera side: acknowledges. The acknowledge id repeats the request id.
std::vector<uint8_t> encodeAck(uint16_t status, uint16_t answer, uint16_t ackId, std::span<const uint8_t> payload);
std::vector<uint8_t> encodeReadRegAck(uint16_t status, uint16_t ackId, std::span<const uint32_t> values);
std::vector<uint8_t> encodeWriteRegAck(uint16_t status, uint16_t ackId, uint16_t index);
std::vector<uint8_t> encodeReadMemAck(uint16_t status, uint16_t ackId, uint32_t address, std::span<const uint8_t> data);
std::vector<uint8_t> encodeWriteMemAck(uint16_t status, uint16_t ackId, uint16_t index);

std::string controlCodeName(uint16_t code);
std::string toString(const CommandHeader& header);
std::string toString(const AckHeader& header);
std::string toString(const ReadRegCmd& command);
std::string toString(const WriteRegCmd& command);
std::string toString(const ReadMemCmd& command);
std::string toString(const WriteMemCmd& command);
std::string toString(const ReadRegAck& ack);
std::string toString(const WriteRegAck& ack);
std::string toString(const ReadMemAck& ack);
std::string toString(const WritePlan& plan);

} // namespace halvex::wire
