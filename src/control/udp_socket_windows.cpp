// One non-blocking IPv4 UDP socket of a camera's channel: the Winsock calls. Each socket holds
// a reference on Winsock for its life.
#include "platform/win_sockets.h"

#include <cstring>

#include "control/udp_socket.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "platform/ipv4_endpoint.h"
#include "platform/socket_address.h"

namespace {

// Logs "who: <what, located>" with the system's text for the error on a second line.
void logSocketError(const char* who, const char* file, int line, const std::string& what, int error)
{
    HLV_THREAD::RuntimeError note;
    note.add(file, line, "%s", what.c_str());
    note.add("%s", HX_PLATFORM::errnoIndicates(error).c_str());
    HLV_LOG("%s: %s", who, note.str().c_str());
}

#define HX_SOCKET_ERROR(who, what, error) logSocketError(who, __FILE__, __LINE__, what, error)

} // namespace

UDPSocket::UDPSocket(int receiveBufferBytes) : wantedReceiveBuffer_(receiveBufferBytes)
{
    if (!sockets_.started()) {
        rememberError(sockets_.error());
        HX_SOCKET_ERROR("UDPSocket::UDPSocket", "Could not initialize WinSockets", sockets_.error());
        return;
    }
    fd_.reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!fd_.valid()) {
        const int error = WSAGetLastError();
        rememberError(error);
        HX_SOCKET_ERROR("UDPSocket::UDPSocket", "Could not create socket", error);
        return;
    }
    // Non-blocking, as on every system: a receive never waits.
    u_long nonBlocking = 1;
    ioctlsocket(static_cast<SOCKET>(fd_.get()), FIONBIO, &nonBlocking);
}

UDPSocket::~UDPSocket()
{
    quit();
}

bool UDPSocket::start(uint16_t port)
{
    HLV_TRACE(HLV_THREAD::TRACE_SOCKET, "%s: port=%d", "UDPSocket::start", port);
    if (!fd_.valid()) {
        HLV_LOG("%s: The socket is invalid!", "UDPSocket::start");
        return false;
    }
    const sockaddr_in local = HX_PLATFORM::toSockaddr({htonl(INADDR_ANY), port});
    const SOCKET s = static_cast<SOCKET>(fd_.get());
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        rememberError(WSAGetLastError());
        HLV_TRACE(HLV_THREAD::TRACE_SOCKET, "%s: bind() failed with error %u", "UDPSocket::start", lastError());
        return false;
    }
    sockaddr_in bound{};
    int size = sizeof(bound);
    getsockname(s, reinterpret_cast<sockaddr*>(&bound), &size);
    port_ = HX_PLATFORM::fromSockaddr(bound).port;
    enlargeReceiveBuffer();
    return true;
}

// Windows grants large receive buffers as asked and has no forcing option: one request, then
// read back what was granted.
void UDPSocket::enlargeReceiveBuffer()
{
    const SOCKET s = static_cast<SOCKET>(fd_.get());
    const int wanted = wantedReceiveBuffer_;
    if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&wanted), sizeof(wanted)) != 0) {
        rememberError(WSAGetLastError());
        HLV_LOG("Unable to set the stream socket receive buffer size which increased the potential for lost "
                "messages");
        return;
    }
    int granted = 0;
    int size = sizeof(granted);
    if (getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &size) == 0)
        grantedReceiveBuffer_ = granted;
}

std::size_t UDPSocket::avail()
{
    u_long waiting = 0;
    if (!fd_.valid() || ioctlsocket(static_cast<SOCKET>(fd_.get()), FIONREAD, &waiting) != 0) {
        rememberError(fd_.valid() ? WSAGetLastError() : WSAENOTSOCK);
        HX_SOCKET_ERROR("UDPSocket::avail", "Could not ioctlsocket(FIONREAD)", static_cast<int>(lastError()));
        return 0;
    }
    return waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
}

// A datagram that does not fit fails with WSAEMSGSIZE (the rest of it is discarded), so it is
// seen and dropped whole instead of being read cut short.
ReceivedDatagram UDPSocket::receive(std::span<uint8_t> buffer)
{
    ReceivedDatagram result;
    sockaddr_in source{};
    int size = sizeof(source);
    const int length = recvfrom(static_cast<SOCKET>(fd_.get()), reinterpret_cast<char*>(buffer.data()),
                                static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr*>(&source), &size);
    bool oversized = false;
    if (length < 0) {
        const int error = WSAGetLastError();
        // A reset reports an earlier send that found no listener; it says nothing of this socket.
        if (error == WSAEWOULDBLOCK || error == WSAECONNRESET)
            return result;
        if (error != WSAEMSGSIZE) {
            rememberError(error);
            HX_SOCKET_ERROR("UDPSocket::receive", "Could not recvfrom(sock)", error);
            result.kind = ReceivedDatagram::Kind::Failed;
            return result;
        }
        oversized = true;
    }
    result.length = oversized ? buffer.size() + 1 : static_cast<std::size_t>(length);
    const HX_PLATFORM::Ipv4Endpoint from = HX_PLATFORM::fromSockaddr(source);
    result.sourceAddress = from.address;
    result.sourcePort = from.port;
    result.kind = result.length > buffer.size() ? ReceivedDatagram::Kind::Oversized : ReceivedDatagram::Kind::Datagram;
    return result;
}

long UDPSocket::sendMsg(std::span<const uint8_t> datagram, uint32_t destination, uint16_t destinationPort)
{
    if (destination == 0)
        return 0;
    // The dotted text is made only for a trace or an error: this is every command's path.
    HLV_TRACE(HLV_THREAD::TRACE_SOCKET, "%s: dest=%s", "UDPSocket::sendMsg",
              HX_PLATFORM::ipv4ToText(destination).c_str());
    const sockaddr_in target = HX_PLATFORM::toSockaddr({destination, destinationPort});
    const int sent =
        sendto(static_cast<SOCKET>(fd_.get()), reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    if (sent < 0) {
        const int error = WSAGetLastError();
        rememberError(error);
        HX_SOCKET_ERROR("UDPSocket::sendMsg",
                        "Could not sendto() the camera(" + HX_PLATFORM::ipv4ToText(destination) + ").", error);
        return -1;
    }
    return static_cast<long>(sent);
}

void UDPSocket::quit()
{
    fd_.reset();
}
