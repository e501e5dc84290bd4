// Cuts one image into the stream packets that carry it: over UDP a leader, payload datagrams of
// the packet size and a trailer; over TCP a leader, the bare payload and a trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/frames/frame_source.h"

namespace hxsim {

struct StreamImage {
    uint32_t sequence = 0;  // frame number; the leader's file name is sequence + 1 in hexadecimal
    uint64_t timestamp = 0; // camera time in nanoseconds
    std::vector<uint8_t> bytes;
};

using Packets = std::vector<std::vector<uint8_t>>;

// One datagram (UDP) or one stretch of the connection (TCP) without a copy of the image: its own
// bytes (the stream header, or the whole packet once a fault has touched it), then `length`
// bytes of the image from `offset`.
struct PlannedPacket {
    std::vector<uint8_t> head;
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t size() const { return head.size() + length; }
};
using PacketPlan = std::vector<PlannedPacket>;

// What the leader tells of an image.
struct ImageInfo {
    uint32_t sequence = 0;
    uint64_t timestamp = 0;
    std::size_t size = 0;
};

// Block ids count images from 1 and skip 0 when they wrap.
uint16_t nextBlockId(uint16_t blockId);

// Leader (packet id 0), payload datagrams (ids 1..n, each at most `packetSize` bytes with the
// IP and UDP headers) and the trailer (id n + 1).
PacketPlan udpPlan(const ImageInfo& image, uint16_t blockId, uint32_t packetSize);
// Leader (packet id 0), the payload in pieces of at most `pieceBytes` without headers, and the
// trailer (id 1). The pieces only matter to faults: on the connection they follow back to back.
PacketPlan tcpPlan(const ImageInfo& image, uint16_t blockId, std::size_t pieceBytes);
// The packets of a plan with the image's bytes copied in.
Packets materialize(const PacketPlan& plan, const FrameImage& image);

// The same, for an image held in one buffer.
Packets udpPackets(const StreamImage& image, uint16_t blockId, uint32_t packetSize);
Packets tcpPieces(const StreamImage& image, uint16_t blockId, std::size_t pieceBytes);

} // namespace hxsim
