// UDP stream channel of a stand-in camera with BSD sockets: datagrams in batches through sendmmsg.
#include "sim/stream/stream_udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/device/camera_config.h"

namespace hxsim {

UdpStreamLink::UdpStreamLink(uint32_t cameraAddress)
    : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
{
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

UdpStreamLink::SendResult UdpStreamLink::send(std::span<const uint8_t> datagram, Endpoint to)
{
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

UdpStreamLink::SendResult UdpStreamLink::sendMany(std::span<SendPiece> parts, std::span<const std::size_t> counts,
                                                  Endpoint to, std::size_t& sent)
{
    sent = 0;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(to.port);
    target.sin_addr.s_addr = htonl(to.address);
    headers_.assign(counts.size(), mmsghdr{});
    std::size_t first = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        msghdr& message = headers_[i].msg_hdr;
        message.msg_name = &target;
        message.msg_namelen = sizeof target;
        message.msg_iov = parts.data() + first;
        message.msg_iovlen = counts[i];
        first += counts[i];
    }
    while (sent < headers_.size()) {
        const auto left = static_cast<unsigned>(headers_.size() - sent);
        const int count = ::sendmmsg(socket_.get(), headers_.data() + sent, left, MSG_DONTWAIT);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        lastError_ = count < 0 ? errno : EIO;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
            return SendResult::Blocked;
        }
        ++sent; // the refused datagram is given up, as a lost one would be
        return SendResult::Failed;
    }
    return SendResult::Sent;
}

} // namespace hxsim
