// A camera's control socket with Winsock: WSARecvMsg with IP_PKTINFO where the destination is
// wanted, recvfrom otherwise, and the library's PollSet for the thread's wait (whole
// milliseconds, rounded up, which the control side's heartbeat and reply delays tolerate).
#include "sim/net/control_port.h"

// clang-format off
#include "platform/win_sockets.h"
#include <mswsock.h>
// clang-format on

#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "platform/errno_text.h"
#include "platform/poll_wait.h"
#include "sim/device/camera_config.h"
#include "sim/net/win_socket_address.h"
#include "wire/control_packet.h"

namespace hxsim {
namespace {

using winsock::handle;
using winsock::toSockaddr;

halvex::platform::UniqueFd bindUdp(uint32_t hostOrderAddress, bool wantPacketInfo)
{
    halvex::platform::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const auto fail = [&](const char* what) {
        const int err = ::WSAGetLastError();
        return std::runtime_error(fmt::format("cannot {} {}:{}: {}", what, dotted(hostOrderAddress),
                                              halvex::wire::kControlPort, halvex::platform::errnoText(err)));
    };
    if (!fd) {
        throw fail("open a socket for");
    }
    u_long nonBlocking = 1;
    const BOOL on = TRUE;
    // A host that went away makes Windows report its port-unreachable answer on the camera's next
    // receive, as if the camera's socket had failed; the camera only cares for what arrives.
    BOOL reportResets = FALSE;
    DWORD unused = 0;
    // Every camera of a cluster shares port 3956: the own-address sockets beside the wildcard ones.
    if (::ioctlsocket(handle(fd.get()), FIONBIO, &nonBlocking) != 0 ||
        ::setsockopt(handle(fd.get()), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
        ::WSAIoctl(handle(fd.get()), SIO_UDP_CONNRESET, &reportResets, sizeof reportResets, nullptr, 0, &unused,
                   nullptr, nullptr) != 0 ||
        (wantPacketInfo &&
         ::setsockopt(handle(fd.get()), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on) != 0)) {
        throw fail("set socket options for");
    }
    const sockaddr_in address = toSockaddr(hostOrderAddress, halvex::wire::kControlPort);
    if (::bind(handle(fd.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw fail("bind");
    }
    return fd;
}

// WSARecvMsg is an extension Winsock hands out per socket provider.
LPFN_WSARECVMSG receiveMessageFunction(SOCKET socket)
{
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD size = 0;
    if (::WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function, &size,
                   nullptr, nullptr) != 0) {
        return nullptr;
    }
    return function;
}

// The destination address of a datagram received with IP_PKTINFO, or 0 when it is missing.
uint32_t destinationOf(WSAMSG& message)
{
    for (WSACMSGHDR* item = WSA_CMSG_FIRSTHDR(&message); item != nullptr; item = WSA_CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info{};
            std::memcpy(&info, WSA_CMSG_DATA(item), sizeof info);
            return ntohl(info.ipi_addr.s_addr);
        }
    }
    return 0;
}

int clamped(std::size_t size)
{
    return static_cast<int>(std::min<std::size_t>(size, 0x7FFFFFFF));
}

} // namespace

ControlPort::ControlPort(uint32_t hostOrderAddress, bool withDestination)
    : socket_(bindUdp(hostOrderAddress, withDestination)), withDestination_(withDestination)
{
}

ControlPort::Received ControlPort::receive(std::span<uint8_t> buffer)
{
    Received result;
    sockaddr_in from{};
    int length = -1;
    if (withDestination_) {
        static const LPFN_WSARECVMSG receiveMessage = receiveMessageFunction(handle(socket_.get()));
        if (receiveMessage == nullptr) {
            result.kind = Received::Kind::Failed;
            result.error = WSAEOPNOTSUPP;
            return result;
        }
        WSABUF part{static_cast<ULONG>(clamped(buffer.size())), reinterpret_cast<char*>(buffer.data())};
        alignas(WSACMSGHDR) char control[128];
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&from);
        message.namelen = sizeof from;
        message.lpBuffers = &part;
        message.dwBufferCount = 1;
        message.Control = WSABUF{sizeof control, control};
        DWORD received = 0;
        if (receiveMessage(handle(socket_.get()), &message, &received, nullptr, nullptr) == 0) {
            length = static_cast<int>(received);
            result.destination = destinationOf(message);
        }
    } else {
        int size = sizeof from;
        length = ::recvfrom(handle(socket_.get()), reinterpret_cast<char*>(buffer.data()), clamped(buffer.size()), 0,
                            reinterpret_cast<sockaddr*>(&from), &size);
    }
    result.source = Endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    if (length >= 0) {
        result.kind = Received::Kind::Datagram;
        result.size = static_cast<std::size_t>(length);
        return result;
    }
    result.error = ::WSAGetLastError();
    switch (result.error) {
    case WSAEMSGSIZE: // the rest of it is gone; its length is not told
        result.kind = Received::Kind::Oversized;
        result.size = 0;
        break;
    case WSAEWOULDBLOCK: result.kind = Received::Kind::Drained; break;
    default: result.kind = Received::Kind::Failed; break;
    }
    return result;
}

int ControlPort::send(std::span<const uint8_t> datagram, Endpoint to)
{
    const sockaddr_in target = toSockaddr(to.address, to.port);
    const int sent = ::sendto(handle(socket_.get()), reinterpret_cast<const char*>(datagram.data()),
                              clamped(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent < 0 ? ::WSAGetLastError() : 0;
}

int waitForDatagrams(const halvex::platform::EventFd& wake, const ControlPort& first, const ControlPort* second,
                     std::optional<std::chrono::nanoseconds> limit)
{
    halvex::platform::PollSet set;
    set.add(wake);
    set.add(first.descriptor());
    if (second != nullptr) {
        set.add(second->descriptor());
    }
    std::optional<std::chrono::milliseconds> wait;
    if (limit) {
        wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(*limit, std::chrono::nanoseconds(0)));
    }
    return set.wait(wait) == halvex::platform::PollStatus::Failed ? set.error() : 0;
}

// Thread names are for Linux benchmarks; Windows tools do not need them.
void nameCameraThread() {}

} // namespace hxsim
