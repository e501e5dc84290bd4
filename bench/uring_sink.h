// A raw sink on io_uring: one multishot receive, armed once, completes once per datagram into
// buffers the sink provides, so a batch of datagrams costs one system call, or none while the
// completion queue has some.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera_sink.h"

struct io_uring;
struct io_uring_buf_ring;

namespace stream_bench {

class UringSink : public CameraSink {
public:
    static constexpr unsigned kBuffers = 1024; // a power of two, as the buffer ring needs

    // Null, with the reason in `why`, when the ring or the multishot receive cannot be had.
    static std::unique_ptr<UringSink> open(std::string& why);
    ~UringSink() override;
    UringSink(const UringSink&) = delete;
    UringSink& operator=(const UringSink&) = delete;

    uint16_t port() const override { return port_; }
    bool take(std::chrono::milliseconds limit, HostMemory& memory) override;

private:
    UringSink();
    bool setUp(std::string& why);
    bool arm();
    // Takes the completions there are; false when one says the receive failed.
    bool reap(HostMemory& memory, unsigned& taken);

    int fd_ = -1;
    uint16_t port_ = 0;
    std::unique_ptr<io_uring> ring_;
    bool ringReady_ = false;
    io_uring_buf_ring* buffers_ = nullptr;
    std::size_t buffersBytes_ = 0;
    std::vector<uint8_t> memory_;
    bool armed_ = false;
};

} // namespace stream_bench
