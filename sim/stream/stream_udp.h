// The first family's stream channel: datagrams from the camera's own address to the host's
// stream port.
#pragma once

#if !defined(_WIN32)
#  include <netinet/in.h>
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

#if defined(_WIN32)
inline constexpr bool kSegmentedSends = false;
#else
inline constexpr bool kSegmentedSends = true;
#endif

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
    // Whether sendMany() hands runs of equal-size datagrams to the system as one segmented send
    // (UDP_SEGMENT), as a camera whose datagrams reach the host coalesced. Off by default, and
    // always off on Windows; turned off for good when the system refuses a segmented send, which then
    // goes datagram by datagram.
    void segment(bool on) { segment_ = on && kSegmentedSends; }
    bool segmenting() const { return segment_; }
    // The system's reason for refusing a segmented send; 0 while it has not.
    int segmentationRefusal() const { return segmentationRefusal_; }
    halvex::platform::Descriptor fd() const { return socket_.get(); }
    uint16_t port() const { return port_; }
    // The system's reason for the last failed send.
    int lastError() const { return lastError_; }

private:
    halvex::platform::UniqueFd socket_;
    uint16_t port_ = 0;
    int lastError_ = 0;
    bool segment_ = false;
    int segmentationRefusal_ = 0;
#if !defined(_WIN32)
    // Room for one segmented send's control message: its segment size.
    struct SegmentControl {
        alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(uint16_t))];
    };

    SendResult sendEach(std::span<SendPiece> parts, std::span<const std::size_t> counts, sockaddr_in& target,
                        std::size_t& sent);
    SendResult sendSegmented(std::span<SendPiece> parts, std::span<const std::size_t> counts, sockaddr_in& target,
                             std::size_t& sent);

    std::vector<mmsghdr> headers_;   // reused from call to call
    std::vector<std::size_t> sizes_; // datagram sizes and runs of a segmented send
    std::vector<std::size_t> runs_;
    std::vector<std::size_t> firstParts_;
    std::vector<SegmentControl> controls_;
#endif
};

} // namespace hxsim
