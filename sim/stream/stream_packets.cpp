// Stream packets of one image, built with the shared stream codecs.
#include "sim/stream/stream_packets.h"

#include <algorithm>
#include <span>

#include "wire/stream_packet.h"

namespace hxsim {
namespace {

std::vector<uint8_t> leaderOf(const ImageInfo& image, uint16_t blockId)
{
    const auto leader =
        halvex::wire::makeFileLeader(blockId, 0, static_cast<uint32_t>(image.size), image.sequence, image.timestamp);
    return halvex::wire::encodeStreamLeader(leader);
}

std::vector<uint8_t> trailerOf(uint16_t blockId, uint32_t packetId)
{
    halvex::wire::StreamTrailer trailer;
    trailer.header.blockId = blockId;
    trailer.header.packetId = packetId & halvex::wire::kPacketIdMask;
    return halvex::wire::encodeStreamTrailer(trailer);
}

ImageInfo infoOf(const StreamImage& image)
{
    return ImageInfo{image.sequence, image.timestamp, image.bytes.size()};
}

} // namespace

uint16_t nextBlockId(uint16_t blockId)
{
    return static_cast<uint16_t>(blockId == 0xFFFF ? 1 : blockId + 1);
}

PacketPlan udpPlan(const ImageInfo& image, uint16_t blockId, uint32_t packetSize)
{
    const std::size_t step = std::max<std::size_t>(halvex::wire::payloadBytesPerPacket(packetSize), 1);
    PacketPlan plan;
    plan.reserve(image.size / step + 3);
    plan.push_back({leaderOf(image, blockId), 0, 0});
    uint32_t packetId = 0;
    for (std::size_t offset = 0; offset < image.size; offset += step) {
        packetId = halvex::wire::nextPacketId(packetId);
        const halvex::wire::StreamHeader header{0, blockId, halvex::wire::packet_format::kPayload, packetId};
        plan.push_back({halvex::wire::encodeStreamPayload(header, {}), offset, std::min(step, image.size - offset)});
    }
    plan.push_back({trailerOf(blockId, halvex::wire::nextPacketId(packetId)), 0, 0});
    return plan;
}

PacketPlan tcpPlan(const ImageInfo& image, uint16_t blockId, std::size_t pieceBytes)
{
    const std::size_t step = std::max<std::size_t>(pieceBytes, 1);
    PacketPlan plan;
    plan.reserve(image.size / step + 3);
    plan.push_back({leaderOf(image, blockId), 0, 0});
    for (std::size_t offset = 0; offset < image.size; offset += step) {
        plan.push_back({{}, offset, std::min(step, image.size - offset)});
    }
    plan.push_back({trailerOf(blockId, 1), 0, 0});
    return plan;
}

Packets materialize(const PacketPlan& plan, const FrameImage& image)
{
    Packets packets;
    packets.reserve(plan.size());
    for (const PlannedPacket& planned : plan) {
        std::vector<uint8_t> packet(planned.size());
        std::copy(planned.head.begin(), planned.head.end(), packet.begin());
        image.copy(planned.offset, std::span<uint8_t>(packet).subspan(planned.head.size()));
        packets.push_back(std::move(packet));
    }
    return packets;
}

Packets udpPackets(const StreamImage& image, uint16_t blockId, uint32_t packetSize)
{
    return materialize(udpPlan(infoOf(image), blockId, packetSize), FrameImage::owning(image.bytes));
}

Packets tcpPieces(const StreamImage& image, uint16_t blockId, std::size_t pieceBytes)
{
    return materialize(tcpPlan(infoOf(image), blockId, pieceBytes), FrameImage::owning(image.bytes));
}

} // namespace hxsim
