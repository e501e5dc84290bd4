// Image stream packets: the generic header, the file leader, payload and trailer that carry one
// image, and the test packet a camera fires while the host tries a packet size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halvex::wire {

class ByteWriter;

inline constexpr uint16_t kTcpStreamPort = 3957;
inline constexpr std::size_t kStreamHeaderSize = 8;
inline constexpr std::size_t kStreamLeaderSize = 48;
// The fewest leader bytes worth checking; fields beyond what arrived read as zero.
inline constexpr std::size_t kMinStreamLeaderSize = 20;
inline constexpr std::size_t kStreamTrailerSize = 12;
inline constexpr std::size_t kFileNameSize = 20;
inline constexpr uint16_t kLeaderMagic = 0x4858; // "HX"
inline constexpr uint16_t kFilePayloadType = 3;
// The largest image a leader may announce (21,037,056 bytes).
inline constexpr uint32_t kMaxImageLength = 0x1410000;
inline constexpr uint32_t kPacketIdMask = 0xFFFFFF;
// A packet size counts the IP and UDP headers in front of the datagram.
inline constexpr std::size_t kIpUdpHeaderSize = 28;

namespace packet_format {
inline constexpr uint8_t kTest = 0; // belongs to no image
inline constexpr uint8_t kLeader = 1;
inline constexpr uint8_t kTrailer = 2;
inline constexpr uint8_t kPayload = 3;
} // namespace packet_format

struct StreamHeader {
    uint16_t status = 0;
    uint16_t blockId = 0;
    uint8_t packetFormat = 0;
    uint32_t packetId = 0; // 24 bits on the wire
};

struct StreamLeader {
    StreamHeader header{0, 0, packet_format::kLeader, 0};
    uint16_t magic = kLeaderMagic;
    uint16_t payloadType = kFilePayloadType;
    uint64_t timestamp = 0;
    uint32_t payloadSizeHigh = 0; // not used: images are far below 4 GiB
    uint32_t imageLength = 0;     // payload size, low 32 bits
    std::string fileName;         // the image's sequence number + 1, in hexadecimal
};

struct StreamTrailer {
    StreamHeader header{0, 0, packet_format::kTrailer, 0};
    uint16_t payloadType = kFilePayloadType;
};

struct StreamPayload {
    StreamHeader header{0, 0, packet_format::kPayload, 0};
    std::span<const uint8_t> data; // points into the decoded packet
};

// The packet id that follows `packetId`, wrapping within its 24 bits.
uint32_t nextPacketId(uint32_t packetId);
// Consecutive images carry consecutive block ids, 1 to 0xFFFF and then 1 again (0 belongs to no
// image): how many images on from `from` the block id `to` is (0 when they are equal).
uint32_t blockIdSteps(uint16_t from, uint16_t to);
// Payload bytes one UDP payload packet of `packetSize` carries after its header.
std::size_t payloadBytesPerPacket(uint32_t packetSize);

// A file leader for one image; its file name encodes `sequenceNumber`.
StreamLeader makeFileLeader(uint16_t blockId, uint32_t packetId, uint32_t imageLength, uint32_t sequenceNumber,
                            uint64_t timestamp);
std::string fileNameForSequence(uint32_t sequenceNumber);
// The number in a file name: hexadecimal digits, optionally after "0x"; nullopt when there are
// none or the number needs more than 32 bits.
std::optional<uint32_t> parseFileNumber(std::string_view fileName);
// The image's sequence number: the file number minus one.
std::optional<uint32_t> sequenceNumberOf(const StreamLeader& leader);

// Writers for building packets in place (each sets the writer's failure flag when out of room)
// and encoders returning a new packet.
void writeStreamHeader(ByteWriter& out, const StreamHeader& header);
void writeStreamLeader(ByteWriter& out, const StreamLeader& leader);
void writeStreamTrailer(ByteWriter& out, const StreamTrailer& trailer);
void writeStreamPayload(ByteWriter& out, const StreamHeader& header, std::span<const uint8_t> data);
std::vector<uint8_t> encodeStreamLeader(const StreamLeader& leader);
std::vector<uint8_t> encodeStreamTrailer(const StreamTrailer& trailer);
std::vector<uint8_t> encodeStreamPayload(const StreamHeader& header, std::span<const uint8_t> data);

// Decoders check structure only (enough bytes); what the fields must hold is judged by the
// checks below, so a receiver can log what was wrong.
std::optional<StreamHeader> decodeStreamHeader(std::span<const uint8_t> packet);
// Needs kMinStreamLeaderSize bytes; reads at most kStreamLeaderSize.
std::optional<StreamLeader> decodeStreamLeader(std::span<const uint8_t> packet);
std::optional<StreamTrailer> decodeStreamTrailer(std::span<const uint8_t> packet);
std::optional<StreamPayload> decodeStreamPayload(std::span<const uint8_t> packet);

// A leader's checks in the order a receiver reports them; the first that fails is returned.
enum class LeaderCheck { Ok, WrongFormat, WrongMagic, WrongPayloadType, ImageTooLarge, BadFileName };
// The magic is checked only where the stream carries it (TCP).
LeaderCheck checkStreamLeader(const StreamLeader& leader, bool requireMagic);

// A trailer's faults, all of which a receiver reports.
namespace trailer_fault {
inline constexpr uint32_t kWrongFormat = 1;
inline constexpr uint32_t kBlockIdMismatch = 2;
inline constexpr uint32_t kPacketIdMismatch = 4;
inline constexpr uint32_t kWrongPayloadType = 8;
} // namespace trailer_fault
uint32_t checkStreamTrailer(const StreamTrailer& trailer, uint16_t blockId, uint32_t expectedPacketId);

// The test packet of a packet-size trial: a datagram that, with the IP and UDP headers, is
// exactly `packetSize` bytes (never less than its own header), so it only arrives when the path
// carries packets of that size. Its header has packet format kTest; its data is a byte ramp.
std::vector<uint8_t> encodeTestPacket(uint32_t packetSize);
// The packet size a test packet stands for, or nullopt when the datagram is not one.
std::optional<uint32_t> decodeTestPacket(std::span<const uint8_t> datagram);

std::string toString(LeaderCheck check);
std::string trailerFaultsText(uint32_t faults);
std::string toString(const StreamHeader& header);
std::string toString(const StreamLeader& leader);
std::string toString(const StreamTrailer& trailer);
std::string toString(const StreamPayload& payload);

} // namespace halvex::wire
