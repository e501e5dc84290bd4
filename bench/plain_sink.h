// The plain raw sink: one receive call per datagram on an ordinary UDP socket.
#pragma once

#include "camera_sink.h"

namespace stream_bench {

// Woken by the socket, then drained until it has nothing more, as the library's receiver is.
class PlainSink : public CameraSink {
public:
    PlainSink();
    ~PlainSink() override;
    PlainSink(const PlainSink&) = delete;
    PlainSink& operator=(const PlainSink&) = delete;

    uint16_t port() const override { return port_; }
    bool take(std::chrono::milliseconds limit, HostMemory& memory) override;

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

} // namespace stream_bench
