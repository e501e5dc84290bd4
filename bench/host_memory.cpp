// Payload into host memory and images counted, as every raw sink does them.
#include "host_memory.h"

#include <algorithm>
#include <cstring>

#include "frame_latency.h"
#include "stream_camera.h"
#include "wire/stream_packet.h"

namespace stream_bench {

HostMemory::HostMemory(std::size_t bytes, uint32_t camera, FrameLatency& latency)
    : memory_(std::max(bytes, 2 * kLargestDatagram), 0x22), camera_(camera), latency_(latency)
{
    writtenByTheKernel(memory_);
}

std::span<uint8_t> HostMemory::nextPayload()
{
    return nextRegion(kLargestDatagram);
}

std::span<uint8_t> HostMemory::nextRegion(std::size_t bytes)
{
    bytes = std::min(bytes, memory_.size());
    if (offset_ + bytes > memory_.size())
        offset_ = 0;
    return {memory_.data() + offset_, bytes};
}

bool HostMemory::count(std::span<const uint8_t> header, std::size_t payloadLength)
{
    const std::optional<halvex::wire::StreamHeader> decoded = halvex::wire::decodeStreamHeader(header);
    if (!decoded)
        return false;
    if (decoded->packetFormat == halvex::wire::packet_format::kPayload) {
        bytes_ += payloadLength;
        return true;
    }
    if (decoded->packetFormat == halvex::wire::packet_format::kTrailer) {
        latency_.receivedBlock(camera_, decoded->blockId);
        ++images_;
    }
    return false;
}

void HostMemory::received(std::span<const uint8_t> header, std::size_t payloadLength)
{
    if (count(header, payloadLength))
        offset_ += payloadLength;
}

void HostMemory::copy(std::span<const uint8_t> datagram)
{
    const std::size_t header = std::min(datagram.size(), kHeaderBytes);
    const std::size_t payload = std::min(datagram.size() - header, kLargestDatagram);
    std::memcpy(nextPayload().data(), datagram.data() + header, payload);
    received(datagram.first(header), payload);
}

void HostMemory::landed(std::span<const uint8_t> datagram)
{
    const std::size_t header = std::min(datagram.size(), kHeaderBytes);
    count(datagram.first(header), datagram.size() - header);
    offset_ += datagram.size();
}

} // namespace stream_bench
