// Cuts one image into the stream packets that carry it: over UDP a leader, payload datagrams of
// the packet size and a trailer; over TCP a leader, the bare payload and a trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hxsim {

struct StreamImage {
    uint32_t sequence = 0;   // frame number; the leader's file name is sequence + 1 in hexadecimal
    uint64_t timestamp = 0;  // camera time in nanoseconds
    std::vector<uint8_t> bytes;
};

using Packets = std::vector<std::vector<uint8_t>>;

// Block ids count images from 1 and skip 0 when they wrap.
uint16_t nextBlockId(uint16_t blockId);

// Leader (packet id 0), payload datagrams (ids 1..n, each at most `packetSize` bytes with the
// IP and UDP headers) and the trailer (id n + 1).
Packets udpPackets(const StreamImage& image, uint16_t blockId, uint32_t packetSize);
// Leader (packet id 0), the payload in pieces of at most `pieceBytes` without headers, and the
// trailer (id 1). The pieces only matter to faults: on the connection they follow back to back.
Packets tcpPieces(const StreamImage& image, uint16_t blockId, std::size_t pieceBytes);

}  // namespace hxsim
