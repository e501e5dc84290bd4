// The library's socket calls on Windows: Winsock, whose sockets are made non-blocking with
// ioctlsocket and are never inherited by a child unless asked.
#include "platform/win_sockets.h"

#include <algorithm>

#include "platform/socket_address.h"
#include "platform/socket_calls.h"

namespace halvex::platform {

namespace {

SOCKET handle(Descriptor socket)
{
    return static_cast<SOCKET>(socket);
}

bool setOption(Descriptor socket, int name, int value)
{
    return ::setsockopt(handle(socket), SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

// Winsock counts in int: a larger request reads what fits.
int clampedLength(std::size_t length)
{
    return static_cast<int>(std::min<std::size_t>(length, 1 << 30));
}

} // namespace

int lastSocketError()
{
    return ::WSAGetLastError();
}

bool wouldBlock(int error)
{
    return error == WSAEWOULDBLOCK;
}

bool portUnavailable(int error)
{
    return error == WSAEADDRINUSE || error == WSAEADDRNOTAVAIL;
}

bool connectionBroken(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAETIMEDOUT || error == WSAENOTCONN ||
           error == WSAEHOSTUNREACH;
}

bool reportsEarlierSend(int error)
{
    return error == WSAECONNRESET || error == WSAENETRESET || error == WSAEHOSTUNREACH || error == WSAENETUNREACH;
}

UniqueFd openSocket(SocketType type)
{
    const bool datagram = type == SocketType::Datagram;
    UniqueFd socket(::socket(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, datagram ? IPPROTO_UDP : IPPROTO_TCP));
    u_long nonBlocking = 1;
    if (socket.valid() && ::ioctlsocket(handle(socket.get()), FIONBIO, &nonBlocking) != 0)
        socket.reset();
    return socket;
}

bool allowBroadcast(Descriptor socket)
{
    return setOption(socket, SO_BROADCAST, TRUE);
}

bool reuseAddress(Descriptor socket)
{
    return setOption(socket, SO_REUSEADDR, TRUE);
}

bool bindTo(Descriptor socket, const Ipv4Endpoint& local)
{
    const sockaddr_in address = toSockaddr(local);
    return ::bind(handle(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

Ipv4Endpoint localEndpoint(Descriptor socket)
{
    sockaddr_in bound{};
    int size = sizeof bound;
    if (::getsockname(handle(socket), reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return {};
    return fromSockaddr(bound);
}

ConnectStatus connectTo(Descriptor socket, const Ipv4Endpoint& peer, int& error)
{
    const sockaddr_in address = toSockaddr(peer);
    if (::connect(handle(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return ConnectStatus::Connected;
    error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK ? ConnectStatus::Pending : ConnectStatus::Failed;
}

int connectOutcome(Descriptor socket)
{
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return ::WSAGetLastError();
    return error;
}

// Windows grants large receive buffers as asked and has no forcing option: one request.
int requestReceiveBuffer(Descriptor socket, int wanted)
{
    if (!setOption(socket, SO_RCVBUF, wanted))
        return -1;
    return receiveBufferSize(socket);
}

int receiveBufferSize(Descriptor socket)
{
    int granted = 0;
    int size = sizeof granted;
    if (::getsockopt(handle(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &size) != 0)
        return 0;
    return granted;
}

// A datagram that does not fit fails with WSAEMSGSIZE (the rest of it is discarded).
ReceivedDatagram receiveDatagram(Descriptor socket, std::span<uint8_t> buffer)
{
    ReceivedDatagram result;
    sockaddr_in source{};
    int size = sizeof source;
    const int length = ::recvfrom(handle(socket), reinterpret_cast<char*>(buffer.data()), clampedLength(buffer.size()),
                                  0, reinterpret_cast<sockaddr*>(&source), &size);
    if (length < 0) {
        result.error = ::WSAGetLastError();
        if (result.error != WSAEMSGSIZE) {
            result.kind = wouldBlock(result.error) ? ReceivedDatagram::Kind::Nothing : ReceivedDatagram::Kind::Failed;
            return result;
        }
    }
    result.length = length < 0 ? buffer.size() + 1 : static_cast<std::size_t>(length);
    result.source = fromSockaddr(source);
    result.kind = result.length > buffer.size() ? ReceivedDatagram::Kind::Oversized : ReceivedDatagram::Kind::Datagram;
    return result;
}

long sendDatagram(Descriptor socket, std::span<const uint8_t> datagram, const Ipv4Endpoint& target)
{
    const sockaddr_in address = toSockaddr(target);
    return ::sendto(handle(socket), reinterpret_cast<const char*>(datagram.data()), clampedLength(datagram.size()), 0,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

long receiveStream(Descriptor socket, std::span<uint8_t> buffer)
{
    return ::recv(handle(socket), reinterpret_cast<char*>(buffer.data()), clampedLength(buffer.size()), 0);
}

} // namespace halvex::platform
