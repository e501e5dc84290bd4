// A camera's control socket with BSD sockets: recvmsg with IP_PKTINFO for the destination, ppoll
// with nanosecond limits for the thread's wait.
#include "sim/net/control_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "sim/device/camera_config.h"
#include "wire/control_packet.h"

namespace hxsim {
namespace {

halvex::platform::UniqueFd bindUdp(uint32_t hostOrderAddress, bool wantPacketInfo)
{
    halvex::platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const auto fail = [&](const char* what) {
        const int err = errno;
        return std::runtime_error(fmt::format("cannot {} {}:{}: {}", what, dotted(hostOrderAddress),
                                              halvex::wire::kControlPort, halvex::platform::errnoText(err)));
    };
    if (!fd) {
        throw fail("open a socket for");
    }
    const int on = 1;
    // Every camera of a cluster shares port 3956: the own-address sockets beside the wildcard ones.
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
        (wantPacketInfo && ::setsockopt(fd.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)) {
        throw fail("set socket options for");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(halvex::wire::kControlPort);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw fail("bind");
    }
    return fd;
}

// The destination address of a datagram received with IP_PKTINFO, or 0 when it is missing.
uint32_t destinationOf(msghdr& message)
{
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(item), sizeof info);
            return ntohl(info.ipi_addr.s_addr);
        }
    }
    return 0;
}

} // namespace

ControlPort::ControlPort(uint32_t hostOrderAddress, bool withDestination)
    : socket_(bindUdp(hostOrderAddress, withDestination)), withDestination_(withDestination)
{
}

ControlPort::Received ControlPort::receive(std::span<uint8_t> buffer)
{
    Received result;
    for (;;) {
        sockaddr_in from{};
        iovec part{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[128];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(socket_.get(), &message, MSG_DONTWAIT | MSG_TRUNC);
        if (size < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.error = errno;
            result.kind = errno == EAGAIN || errno == EWOULDBLOCK ? Received::Kind::Drained : Received::Kind::Failed;
            return result;
        }
        result.source = Endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
        result.size = static_cast<std::size_t>(size);
        if (result.size > buffer.size()) {
            result.kind = Received::Kind::Oversized;
            return result;
        }
        result.kind = Received::Kind::Datagram;
        result.destination = withDestination_ ? destinationOf(message) : 0;
        return result;
    }
}

int ControlPort::send(std::span<const uint8_t> datagram, Endpoint to)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(to.port);
    target.sin_addr.s_addr = htonl(to.address);
    const ssize_t sent = ::sendto(socket_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent < 0 ? errno : 0;
}

int waitForDatagrams(const halvex::platform::EventFd& wake, const ControlPort& first, const ControlPort* second,
                     std::optional<std::chrono::nanoseconds> limit)
{
    timespec until{};
    timespec* untilPointer = nullptr;
    if (limit) {
        const auto nanos = std::max<std::chrono::nanoseconds::rep>(limit->count(), 0);
        until.tv_sec = static_cast<time_t>(nanos / 1000000000);
        until.tv_nsec = static_cast<long>(nanos % 1000000000);
        untilPointer = &until;
    }
    pollfd fds[3] = {{wake.fd(), POLLIN, 0},
                     {first.descriptor(), POLLIN, 0},
                     {second != nullptr ? second->descriptor() : -1, POLLIN, 0}};
    const nfds_t count = second != nullptr ? 3 : 2;
    if (::ppoll(fds, count, untilPointer, nullptr) < 0 && errno != EINTR) {
        return errno;
    }
    return 0;
}

void nameCameraThread()
{
    ::pthread_setname_np(::pthread_self(), "hxsim-camera");
}

} // namespace hxsim
