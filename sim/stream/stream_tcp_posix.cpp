// TCP stream channel of a stand-in camera with BSD sockets.
#include "sim/stream/stream_tcp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/device/camera_config.h"
#include "wire/stream_packet.h"

namespace hxsim {
namespace {

// Connections a host may open before the camera has taken the previous ones.
constexpr int kBacklog = 4;
// Connections taken in one call; the newest wins.
constexpr int kAcceptsPerCall = 8;
// Reads of what a host sends (it should send nothing) before other work gets a turn.
constexpr int kReadsPerCall = 64;

} // namespace

TcpStreamLink::TcpStreamLink(uint32_t cameraAddress)
    : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
{
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(halvex::wire::kTcpStreamPort);
    address.sin_addr.s_addr = htonl(cameraAddress);
    if (!listener_ || ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), kBacklog) != 0) {
        throw std::runtime_error(fmt::format("cannot listen on {}:{}: {}", dotted(cameraAddress),
                                             halvex::wire::kTcpStreamPort, halvex::platform::errnoText(errno)));
    }
}

bool TcpStreamLink::acceptWaiting()
{
    bool replaced = false;
    for (int i = 0; i < kAcceptsPerCall; ++i) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const int fd =
            ::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&from), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            lastError_ = errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
            break;
        }
        connection_.reset(fd);
        peer_ = Endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
        replaced = true;
    }
    return replaced;
}

bool TcpStreamLink::drainIncoming()
{
    std::array<uint8_t, 512> scratch{};
    for (int reads = 0; reads < kReadsPerCall; ++reads) {
        const ssize_t got = ::recv(connection_.get(), scratch.data(), scratch.size(), MSG_DONTWAIT);
        if (got > 0) {
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        lastError_ = got == 0 ? 0 : errno;
        connection_.reset();
        return false;
    }
    return true;
}

// Header and image go out in one call: a write per packet would cost a system call per 9 KB.
TcpStreamLink::SendResult TcpStreamLink::send(std::span<const SendPiece> parts, std::size_t& sent)
{
    sent = 0;
    if (!connection_) {
        return SendResult::Broken;
    }
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(parts.data());
    message.msg_iovlen = parts.size();
    for (;;) {
        const ssize_t count = ::sendmsg(connection_.get(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (count >= 0) {
            sent = static_cast<std::size_t>(count);
            return SendResult::Progress;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return SendResult::Blocked;
        }
        lastError_ = errno;
        connection_.reset();
        return SendResult::Broken;
    }
}

// A zero linger time makes close() send a reset instead of an orderly end, and leaves nothing
// of the connection behind on the camera's side.
void TcpStreamLink::cut()
{
    if (connection_) {
        const linger abort{1, 0};
        ::setsockopt(connection_.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        connection_.reset();
    }
}

} // namespace hxsim
