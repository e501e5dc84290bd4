// The first family's stream channel: datagrams from the camera's own address to the host's
// stream port.
#pragma once

#include <cstdint>
#include <span>

#include "endpoint.h"
#include "platform/unique_fd.h"

namespace hxsim {

// A non-blocking UDP socket bound to the camera's address on a port the kernel picks (never the
// control port, so captures tell stream traffic from control traffic by port).
class UdpStreamLink {
public:
    enum class SendResult { Sent, Blocked, Failed };

    // Throws std::runtime_error naming the address and the system's reason when it cannot bind.
    explicit UdpStreamLink(uint32_t cameraAddress);

    SendResult send(std::span<const uint8_t> datagram, Endpoint to);
    int fd() const { return socket_.get(); }
    uint16_t port() const { return port_; }
    // The system's reason for the last failed send.
    int lastError() const { return lastError_; }

private:
    HX_PLATFORM::UniqueFd socket_;
    uint16_t port_ = 0;
    int lastError_ = 0;
};

}  // namespace hxsim
