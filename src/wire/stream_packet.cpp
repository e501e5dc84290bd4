// Image stream packets: the generic header, the file leader, payload and trailer that carry one
// image, and the test packet a camera fires while the host tries a packet size.
#include "wire/stream_packet.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "wire/byte_io.h"
#include "wire/wire_text.h"

namespace halvex::wire {

namespace {

StreamHeader readStreamHeader(ByteReader& in)
{
    StreamHeader header;
    header.status = in.u16();
    header.blockId = in.u16();
    header.packetFormat = in.u8();
    header.packetId = in.u24();
    return header;
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string headerText(const StreamHeader& header)
{
    return "block=" + std::to_string(header.blockId) + " packet=" + std::to_string(header.packetId) +
           " fmt=" + std::to_string(header.packetFormat) + " status=" + hexText(header.status, 4);
}

} // namespace

uint32_t nextPacketId(uint32_t packetId)
{
    return (packetId + 1) & kPacketIdMask;
}

uint32_t blockIdSteps(uint16_t from, uint16_t to)
{
    if (from == 0 || to == 0 || to >= from)
        return static_cast<uint16_t>(to - from);
    return 0xFFFFu - from + to;
}

std::size_t payloadBytesPerPacket(uint32_t packetSize)
{
    const std::size_t overhead = kIpUdpHeaderSize + kStreamHeaderSize;
    return packetSize > overhead ? packetSize - overhead : 1;
}

StreamLeader makeFileLeader(uint16_t blockId, uint32_t packetId, uint32_t imageLength, uint32_t sequenceNumber,
                            uint64_t timestamp)
{
    StreamLeader leader;
    leader.header.blockId = blockId;
    leader.header.packetId = packetId & kPacketIdMask;
    leader.timestamp = timestamp;
    leader.imageLength = imageLength;
    leader.fileName = fileNameForSequence(sequenceNumber);
    return leader;
}

std::string fileNameForSequence(uint32_t sequenceNumber)
{
    char text[12];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(sequenceNumber + 1u));
    return text;
}

std::optional<uint32_t> parseFileNumber(std::string_view fileName)
{
    if (fileName.size() >= 2 && fileName[0] == '0' && (fileName[1] == 'x' || fileName[1] == 'X')) {
        fileName.remove_prefix(2);
    }
    uint64_t value = 0;
    std::size_t digits = 0;
    for (char c : fileName) {
        const int digit = hexDigitValue(c);
        if (digit < 0) {
            break;
        }
        value = (value << 4) | static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        ++digits;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> sequenceNumberOf(const StreamLeader& leader)
{
    const std::optional<uint32_t> number = parseFileNumber(leader.fileName);
    if (!number) {
        return std::nullopt;
    }
    return *number - 1u;
}

void writeStreamHeader(ByteWriter& out, const StreamHeader& header)
{
    out.u16(header.status);
    out.u16(header.blockId);
    out.u8(header.packetFormat);
    out.u24(header.packetId & kPacketIdMask);
}

void writeStreamLeader(ByteWriter& out, const StreamLeader& leader)
{
    writeStreamHeader(out, leader.header);
    out.u16(leader.magic);
    out.u16(leader.payloadType);
    out.u64(leader.timestamp);
    out.u32(leader.payloadSizeHigh);
    out.u32(leader.imageLength);
    out.text(leader.fileName, kFileNameSize);
}

void writeStreamTrailer(ByteWriter& out, const StreamTrailer& trailer)
{
    writeStreamHeader(out, trailer.header);
    out.u16(0);
    out.u16(trailer.payloadType);
}

void writeStreamPayload(ByteWriter& out, const StreamHeader& header, std::span<const uint8_t> data)
{
    writeStreamHeader(out, header);
    out.bytes(data);
}

namespace {

// One packet of a known size, written by the given field writer.
template <class Fields>
std::vector<uint8_t> encodeSized(std::size_t size, void (*write)(ByteWriter&, const Fields&), const Fields& fields)
{
    std::vector<uint8_t> packet;
    packet.reserve(size);
    ByteWriter out(packet);
    write(out, fields);
    return packet;
}

} // namespace

std::vector<uint8_t> encodeStreamLeader(const StreamLeader& leader)
{
    return encodeSized(kStreamLeaderSize, &writeStreamLeader, leader);
}

std::vector<uint8_t> encodeStreamTrailer(const StreamTrailer& trailer)
{
    return encodeSized(kStreamTrailerSize, &writeStreamTrailer, trailer);
}

std::vector<uint8_t> encodeStreamPayload(const StreamHeader& header, std::span<const uint8_t> data)
{
    std::vector<uint8_t> packet;
    packet.reserve(kStreamHeaderSize + data.size());
    ByteWriter out(packet);
    writeStreamPayload(out, header, data);
    return packet;
}

std::optional<StreamHeader> decodeStreamHeader(std::span<const uint8_t> packet)
{
    ByteReader in(packet);
    const StreamHeader header = readStreamHeader(in);
    if (!in.ok()) {
        return std::nullopt;
    }
    return header;
}

std::optional<StreamLeader> decodeStreamLeader(std::span<const uint8_t> packet)
{
    if (packet.size() < kMinStreamLeaderSize) {
        return std::nullopt;
    }
    // A short leader is read as if the missing bytes were zero, so only bytes that arrived count.
    std::array<uint8_t, kStreamLeaderSize> padded{};
    const std::size_t used = std::min(packet.size(), padded.size());
    std::copy_n(packet.begin(), used, padded.begin());
    ByteReader in(padded);
    StreamLeader leader;
    leader.header = readStreamHeader(in);
    leader.magic = in.u16();
    leader.payloadType = in.u16();
    leader.timestamp = in.u64();
    leader.payloadSizeHigh = in.u32();
    leader.imageLength = in.u32();
    leader.fileName = in.text(kFileNameSize);
    return leader;
}

std::optional<StreamTrailer> decodeStreamTrailer(std::span<const uint8_t> packet)
{
    ByteReader in(packet);
    StreamTrailer trailer;
    trailer.header = readStreamHeader(in);
    in.skip(2);
    trailer.payloadType = in.u16();
    if (!in.ok()) {
        return std::nullopt;
    }
    return trailer;
}

std::optional<StreamPayload> decodeStreamPayload(std::span<const uint8_t> packet)
{
    ByteReader in(packet);
    StreamPayload payload;
    payload.header = readStreamHeader(in);
    if (!in.ok()) {
        return std::nullopt;
    }
    payload.data = in.rest();
    return payload;
}

LeaderCheck checkStreamLeader(const StreamLeader& leader, bool requireMagic)
{
    if (leader.header.packetFormat != packet_format::kLeader)
        return LeaderCheck::WrongFormat;
    if (requireMagic && leader.magic != kLeaderMagic)
        return LeaderCheck::WrongMagic;
    if (leader.payloadType != kFilePayloadType)
        return LeaderCheck::WrongPayloadType;
    if (leader.imageLength > kMaxImageLength)
        return LeaderCheck::ImageTooLarge;
    if (!parseFileNumber(leader.fileName))
        return LeaderCheck::BadFileName;
    return LeaderCheck::Ok;
}

uint32_t checkStreamTrailer(const StreamTrailer& trailer, uint16_t blockId, uint32_t expectedPacketId)
{
    uint32_t faults = 0;
    if (trailer.header.packetFormat != packet_format::kTrailer)
        faults |= trailer_fault::kWrongFormat;
    if (trailer.header.blockId != blockId)
        faults |= trailer_fault::kBlockIdMismatch;
    if (trailer.header.packetId != expectedPacketId)
        faults |= trailer_fault::kPacketIdMismatch;
    if (trailer.payloadType != kFilePayloadType)
        faults |= trailer_fault::kWrongPayloadType;
    return faults;
}

std::vector<uint8_t> encodeTestPacket(uint32_t packetSize)
{
    const std::size_t datagramSize =
        std::max<std::size_t>(packetSize > kIpUdpHeaderSize ? packetSize - kIpUdpHeaderSize : 0, kStreamHeaderSize);
    std::vector<uint8_t> datagram;
    datagram.reserve(datagramSize);
    ByteWriter out(datagram);
    writeStreamHeader(out, StreamHeader{0, 0, packet_format::kTest, 0});
    for (std::size_t i = kStreamHeaderSize; i < datagramSize; ++i) {
        out.u8(static_cast<uint8_t>(i));
    }
    return datagram;
}

std::optional<uint32_t> decodeTestPacket(std::span<const uint8_t> datagram)
{
    const std::optional<StreamHeader> header = decodeStreamHeader(datagram);
    if (!header || header->packetFormat != packet_format::kTest) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(datagram.size() + kIpUdpHeaderSize);
}

std::string toString(LeaderCheck check)
{
    switch (check) {
    case LeaderCheck::Ok: return "ok";
    case LeaderCheck::WrongFormat: return "wrong packet format";
    case LeaderCheck::WrongMagic: return "wrong magic id";
    case LeaderCheck::WrongPayloadType: return "wrong payload type";
    case LeaderCheck::ImageTooLarge: return "image too large";
    case LeaderCheck::BadFileName: return "file name is not a sequence number";
    }
    return "unknown check";
}

std::string trailerFaultsText(uint32_t faults)
{
    std::string text;
    const auto add = [&](uint32_t bit, const char* name) {
        if ((faults & bit) != 0)
            text += (text.empty() ? "" : ", ") + std::string(name);
    };
    add(trailer_fault::kWrongFormat, "wrong packet format");
    add(trailer_fault::kBlockIdMismatch, "block id mismatch");
    add(trailer_fault::kPacketIdMismatch, "packet id mismatch");
    add(trailer_fault::kWrongPayloadType, "wrong payload type");
    return text.empty() ? "none" : text;
}

std::string toString(const StreamHeader& header)
{
    return "STREAM " + headerText(header);
}

std::string toString(const StreamLeader& leader)
{
    return "LEADER " + headerText(leader.header) + " magic=" + hexText(leader.magic, 4) +
           " type=" + std::to_string(leader.payloadType) + " length=" + std::to_string(leader.imageLength) + " file='" +
           leader.fileName + "' timestamp=" + std::to_string(leader.timestamp);
}

std::string toString(const StreamTrailer& trailer)
{
    return "TRAILER " + headerText(trailer.header) + " type=" + std::to_string(trailer.payloadType);
}

std::string toString(const StreamPayload& payload)
{
    return "PAYLOAD " + headerText(payload.header) + " data=" + std::to_string(payload.data.size()) + " bytes";
}

} // namespace halvex::wire
