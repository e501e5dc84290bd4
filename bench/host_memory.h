// The host memory a raw sink fills, the same for every way of receiving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stream_bench {

class FrameLatency;

// The largest stream datagram a sink expects, and its header, which no host keeps.
inline constexpr std::size_t kLargestDatagram = 9216;
inline constexpr std::size_t kHeaderBytes = 8;

// The host memory a sink fills: payload placed one packet after another, contiguous, in a ring
// over it; each trailer counts an image and stamps its arrival for the latency figures.
class HostMemory {
public:
    HostMemory(std::size_t bytes, uint32_t camera, FrameLatency& latency);

    // Where the next datagram's bytes after its header go, for a sink that receives in place.
    std::span<uint8_t> nextPayload();
    // Where the next `bytes` (at most the whole memory) go, for a sink that receives several
    // datagrams, headers and all, in one piece.
    std::span<uint8_t> nextRegion(std::size_t bytes);
    // A datagram whose `header` was received apart and whose `payloadLength` bytes went to
    // nextPayload().
    void received(std::span<const uint8_t> header, std::size_t payloadLength);
    // A datagram received elsewhere (a kernel ring, a provided buffer): its payload is copied in.
    void copy(std::span<const uint8_t> datagram);
    // A whole datagram received in place into nextRegion(), one after the other; its header stays.
    void landed(std::span<const uint8_t> datagram);

    uint64_t bytes() const { return bytes_; }
    unsigned images() const { return images_; }

private:
    // Counts a datagram's payload bytes, or its image at a trailer; true for payload.
    bool count(std::span<const uint8_t> header, std::size_t payloadLength);

    std::vector<uint8_t> memory_;
    std::size_t offset_ = 0;
    uint64_t bytes_ = 0;
    unsigned images_ = 0;
    uint32_t camera_;
    FrameLatency& latency_;
};

} // namespace stream_bench
