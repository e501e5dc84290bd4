// The first family's stream channel: datagrams from the camera's own address to the host's
// stream port.
#pragma once

#if !defined(_WIN32)
#  include <sys/socket.h>
#endif

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/unique_fd.h"
#include "sim/device/endpoint.h"
#include "sim/stream/send_piece.h"

namespace hxsim {

// A non-blocking UDP socket bound to the camera's address on a port the kernel picks (never the
// control port, so captures tell stream traffic from control traffic by port).
class UdpStreamLink {
public:
    enum class SendResult { Sent, Blocked, Failed };

    // Throws std::runtime_error naming the address and the system's reason when it cannot bind.
    explicit UdpStreamLink(uint32_t cameraAddress);

    SendResult send(std::span<const uint8_t> datagram, Endpoint to);
    // Sends datagrams gathered from `parts`, the i-th from the next `counts[i]` of them, with as
    // few system calls as the system allows (one per batch with sendmmsg, one per datagram on
    // Windows); `sent` says how many datagrams left. A datagram the
    // system refuses outright counts as sent and makes the result Failed.
    SendResult sendMany(std::span<SendPiece> parts, std::span<const std::size_t> counts, Endpoint to,
                        std::size_t& sent);
    HX_PLATFORM::Descriptor fd() const { return socket_.get(); }
    uint16_t port() const { return port_; }
    // The system's reason for the last failed send.
    int lastError() const { return lastError_; }

private:
    HX_PLATFORM::UniqueFd socket_;
    uint16_t port_ = 0;
    int lastError_ = 0;
#if !defined(_WIN32)
    std::vector<mmsghdr> headers_; // reused from call to call
#endif
};

} // namespace hxsim
