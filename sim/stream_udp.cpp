// UDP stream channel of a stand-in camera.
#include "stream_udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <stdexcept>

#include <fmt/format.h>

#include "camera_config.h"
#include "platform/errno_text.h"

namespace hxsim {

UdpStreamLink::UdpStreamLink(uint32_t cameraAddress)
    : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(cameraAddress);
    socklen_t size = sizeof address;
    if (!socket_ || ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error(fmt::format("cannot open the stream socket on {}: {}", dotted(cameraAddress),
                                             HX_PLATFORM::errnoText(errno)));
    }
    port_ = ntohs(address.sin_port);
}

UdpStreamLink::SendResult UdpStreamLink::send(std::span<const uint8_t> datagram, Endpoint to) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(to.port);
    target.sin_addr.s_addr = htonl(to.address);
    for (;;) {
        const ssize_t sent = ::sendto(socket_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT,
                                      reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (sent >= 0) {
            return SendResult::Sent;
        }
        if (errno == EINTR) {
            continue;
        }
        lastError_ = errno;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? SendResult::Blocked : SendResult::Failed;
    }
}

}  // namespace hxsim
