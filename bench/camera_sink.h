// Raw sinks for one camera's UDP stream: the least a host must do with each datagram (its payload
// into host memory, an image counted at its trailer), by different ways of getting datagrams out
// of the kernel, so that the cost of each way shows beside the library's.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace stream_bench {

class HostMemory;

class CameraSink {
public:
    virtual ~CameraSink() = default;
    // The UDP port the camera is told to send to.
    virtual uint16_t port() const = 0;
    // Waits at most `limit` for datagrams, then takes all that are there into `memory`; false when
    // none came.
    virtual bool take(std::chrono::milliseconds limit, HostMemory& memory) = 0;
    // Datagrams the sink's own mechanism lost (a full ring), beyond the UDP receive-buffer drops.
    virtual uint64_t drops() { return 0; }
};

enum class SinkKind { Plain, Coalesced, PacketRing, Uring };

// The sink of `kind` for datagrams from `camera` (host-order address) to `host`; null, with the
// reason in `why`, when this system cannot have it.
std::unique_ptr<CameraSink> makeCameraSink(SinkKind kind, uint32_t camera, uint32_t host, std::string& why);

} // namespace stream_bench
