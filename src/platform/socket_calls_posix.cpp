// The library's socket calls on POSIX: BSD sockets, retried when a signal interrupts them.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/retried_call.h"
#include "platform/socket_address.h"
#include "platform/socket_calls.h"

namespace halvex::platform {

namespace {

bool setOption(Descriptor socket, int level, int name, int value)
{
    return ::setsockopt(socket, level, name, &value, sizeof value) == 0;
}

} // namespace

int lastSocketError()
{
    return errno;
}

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}

bool portUnavailable(int error)
{
    return error == EADDRINUSE || error == EADDRNOTAVAIL;
}

bool connectionBroken(int error)
{
    return error == ECONNRESET || error == EPIPE || error == ETIMEDOUT || error == ENOTCONN || error == EHOSTUNREACH;
}

bool reportsEarlierSend(int error)
{
    return error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH;
}

UniqueFd openSocket(SocketType type)
{
    const bool datagram = type == SocketType::Datagram;
    return UniqueFd(::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             datagram ? IPPROTO_UDP : IPPROTO_TCP));
}

bool allowBroadcast(Descriptor socket)
{
    return setOption(socket, SOL_SOCKET, SO_BROADCAST, 1);
}

bool reuseAddress(Descriptor socket)
{
    return setOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
}

bool bindTo(Descriptor socket, const Ipv4Endpoint& local)
{
    const sockaddr_in address = toSockaddr(local);
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

Ipv4Endpoint localEndpoint(Descriptor socket)
{
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return {};
    return fromSockaddr(bound);
}

ConnectStatus connectTo(Descriptor socket, const Ipv4Endpoint& peer, int& error)
{
    const sockaddr_in address = toSockaddr(peer);
    if (retried([&] { return ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address); }) == 0)
        return ConnectStatus::Connected;
    error = errno;
    return error == EINPROGRESS ? ConnectStatus::Pending : ConnectStatus::Failed;
}

int connectOutcome(Descriptor socket)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errno;
    return error;
}

// Linux reports twice what was granted (the other half is its bookkeeping); a privileged process
// may force a size past net.core.rmem_max.
int requestReceiveBuffer(Descriptor socket, int wanted)
{
    if (!setOption(socket, SOL_SOCKET, SO_RCVBUF, wanted))
        return -1;
    if (receiveBufferSize(socket) < wanted)
        setOption(socket, SOL_SOCKET, SO_RCVBUFFORCE, wanted);
    return receiveBufferSize(socket);
}

int receiveBufferSize(Descriptor socket)
{
    int reported = 0;
    socklen_t size = sizeof reported;
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &reported, &size) != 0)
        return 0;
    return reported / 2;
}

// MSG_TRUNC makes recvfrom report a datagram's real length, so one that did not fit is seen.
ReceivedDatagram receiveDatagram(Descriptor socket, std::span<uint8_t> buffer)
{
    ReceivedDatagram result;
    sockaddr_in source{};
    socklen_t size = sizeof source;
    const ssize_t length = retried([&] {
        return ::recvfrom(socket, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                          reinterpret_cast<sockaddr*>(&source), &size);
    });
    if (length < 0) {
        result.error = errno;
        if (!wouldBlock(result.error))
            result.kind = ReceivedDatagram::Kind::Failed;
        return result;
    }
    result.length = static_cast<std::size_t>(length);
    result.source = fromSockaddr(source);
    result.kind = result.length > buffer.size() ? ReceivedDatagram::Kind::Oversized : ReceivedDatagram::Kind::Datagram;
    return result;
}

long sendDatagram(Descriptor socket, std::span<const uint8_t> datagram, const Ipv4Endpoint& target)
{
    const sockaddr_in address = toSockaddr(target);
    return retried([&] {
        return ::sendto(socket, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    });
}

long receiveStream(Descriptor socket, std::span<uint8_t> buffer)
{
    return retried([&] { return ::recv(socket, buffer.data(), buffer.size(), MSG_DONTWAIT); });
}

} // namespace halvex::platform
