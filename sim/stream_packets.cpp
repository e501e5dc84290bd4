// Stream packets of one image, built with the shared stream codecs.
#include "stream_packets.h"

#include <algorithm>
#include <span>

#include "wire/stream_packet.h"

namespace hxsim {
namespace {

std::vector<uint8_t> leaderOf(const StreamImage& image, uint16_t blockId) {
    const auto leader = HX_WIRE::makeFileLeader(blockId, 0, static_cast<uint32_t>(image.bytes.size()),
                                                image.sequence, image.timestamp);
    return HX_WIRE::encodeStreamLeader(leader);
}

std::vector<uint8_t> trailerOf(uint16_t blockId, uint32_t packetId) {
    HX_WIRE::StreamTrailer trailer;
    trailer.header.blockId = blockId;
    trailer.header.packetId = packetId & HX_WIRE::kPacketIdMask;
    return HX_WIRE::encodeStreamTrailer(trailer);
}

// The payload in consecutive slices of at most `size` bytes (at least one byte each).
std::vector<std::span<const uint8_t>> slices(const std::vector<uint8_t>& bytes, std::size_t size) {
    std::vector<std::span<const uint8_t>> out;
    const std::span<const uint8_t> all(bytes);
    const std::size_t step = std::max<std::size_t>(size, 1);
    for (std::size_t offset = 0; offset < all.size(); offset += step) {
        out.push_back(all.subspan(offset, std::min(step, all.size() - offset)));
    }
    return out;
}

}  // namespace

uint16_t nextBlockId(uint16_t blockId) { return static_cast<uint16_t>(blockId == 0xFFFF ? 1 : blockId + 1); }

Packets udpPackets(const StreamImage& image, uint16_t blockId, uint32_t packetSize) {
    Packets packets;
    packets.push_back(leaderOf(image, blockId));
    uint32_t packetId = 0;
    for (std::span<const uint8_t> slice : slices(image.bytes, HX_WIRE::payloadBytesPerPacket(packetSize))) {
        packetId = HX_WIRE::nextPacketId(packetId);
        const HX_WIRE::StreamHeader header{0, blockId, HX_WIRE::PacketFormat::kPayload, packetId};
        packets.push_back(HX_WIRE::encodeStreamPayload(header, slice));
    }
    packets.push_back(trailerOf(blockId, HX_WIRE::nextPacketId(packetId)));
    return packets;
}

Packets tcpPieces(const StreamImage& image, uint16_t blockId, std::size_t pieceBytes) {
    Packets pieces;
    pieces.push_back(leaderOf(image, blockId));
    for (std::span<const uint8_t> slice : slices(image.bytes, pieceBytes)) {
        pieces.emplace_back(slice.begin(), slice.end());
    }
    pieces.push_back(trailerOf(blockId, 1));
    return pieces;
}

}  // namespace hxsim
