// A raw sink on a packet socket's TPACKET_V3 receive ring: the kernel writes the camera's
// datagrams into memory shared with the sink, a block of them at a time, and the sink sleeps only
// when no block is ready.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "camera_sink.h"

namespace stream_bench {

// A block is handed over when it is full or when it has been open for the block timeout (1 ms,
// the least the kernel takes): an image's last packet waits in its block until then, so the block
// size sets the latency as much as the cost. Needs CAP_NET_RAW.
//
// The camera's datagrams also go to a UDP socket bound to the sink's port (without one the kernel
// would answer each with a port-unreachable message); a filter there drops them at once, so the
// kernel does not queue each one a second time.
class PacketRingSink : public CameraSink {
public:
    static constexpr unsigned kBlockTimeoutMillis = 1;

    // Null, with the reason in `why`, when the ring cannot be had.
    static std::unique_ptr<PacketRingSink> open(uint32_t camera, uint32_t host, std::size_t blockBytes,
                                                std::string& why);
    ~PacketRingSink() override;
    PacketRingSink(const PacketRingSink&) = delete;
    PacketRingSink& operator=(const PacketRingSink&) = delete;

    uint16_t port() const override { return port_; }
    bool take(std::chrono::milliseconds limit, HostMemory& memory) override;
    uint64_t drops() override;

private:
    PacketRingSink() = default;
    bool setUp(uint32_t camera, uint32_t host, std::size_t blockBytes, std::string& why);
    // The next block if the kernel has handed it over, else null.
    uint8_t* readyBlock();
    void takeBlock(uint8_t* block, HostMemory& memory);

    int udp_ = -1;
    int packets_ = -1;
    uint16_t port_ = 0;
    uint8_t* ring_ = nullptr;
    std::size_t ringBytes_ = 0;
    std::size_t blockBytes_ = 0;
    unsigned blocks_ = 0;
    unsigned next_ = 0;
    uint64_t drops_ = 0;
};

} // namespace stream_bench
