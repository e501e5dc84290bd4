// The raw sink's coalesced twin: a plain socket that asks the system for the camera's datagrams
// several at a time (UDP_GRO) and reads them 64 KiB per call.
#pragma once

#include <memory>
#include <string>

#include "camera_sink.h"

namespace stream_bench {

// Each receive lands in host memory as it arrived, headers and all, and is cut into datagrams at
// the segment size the system reports with it: the least a coalescing host does per datagram.
class CoalescedSink : public CameraSink {
public:
    // Null, with the reason in `why`, when the system refuses coalesced receives.
    static std::unique_ptr<CoalescedSink> open(std::string& why);
    ~CoalescedSink() override;
    CoalescedSink(const CoalescedSink&) = delete;
    CoalescedSink& operator=(const CoalescedSink&) = delete;

    uint16_t port() const override { return port_; }
    bool take(std::chrono::milliseconds limit, HostMemory& memory) override;

private:
    CoalescedSink();

    int fd_ = -1;
    uint16_t port_ = 0;
};

} // namespace stream_bench
