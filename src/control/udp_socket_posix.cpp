// One non-blocking IPv4 UDP socket of a camera's channel: the POSIX socket calls.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

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

// Asking for more than the system allows gets a smaller buffer; say so once per size asked for,
// with the setting a user would raise, instead of on every socket.
void warnReceiveBufferCapped(int wanted, int granted)
{
    static auto* lock = new std::mutex;
    static auto* warned = new std::set<int>;
    std::lock_guard<std::mutex> guard(*lock);
    if (!warned->insert(wanted).second)
        return;
    HLV_LOG("%s: asked for a receive buffer of %d bytes and got %d; raise net.core.rmem_max (sysctl -w "
            "net.core.rmem_max=%d) to avoid lost datagrams",
            "UDPSocket::start", wanted, granted, wanted);
}

// Linux reports twice what was asked for (the other half is its bookkeeping).
int readReceiveBuffer(int fd)
{
    int reported = 0;
    socklen_t size = sizeof(reported);
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &reported, &size) != 0)
        return 0;
    return reported / 2;
}

} // namespace

UDPSocket::UDPSocket(int receiveBufferBytes) : wantedReceiveBuffer_(receiveBufferBytes)
{
    fd_.reset(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!fd_.valid()) {
        rememberError(errno);
        HX_SOCKET_ERROR("UDPSocket::UDPSocket", "Could not create socket", errno);
    }
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
    if (bind(fd_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        rememberError(errno);
        HLV_TRACE(HLV_THREAD::TRACE_SOCKET, "%s: bind() failed with error %u", "UDPSocket::start", lastError());
        return false;
    }
    sockaddr_in bound{};
    socklen_t size = sizeof(bound);
    getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&bound), &size);
    port_ = HX_PLATFORM::fromSockaddr(bound).port;
    enlargeReceiveBuffer();
    return true;
}

// Asks for the wanted size; when the system caps it, forces it if privileged, else warns once.
void UDPSocket::enlargeReceiveBuffer()
{
    const int wanted = wantedReceiveBuffer_;
    if (setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted)) != 0) {
        rememberError(errno);
        HLV_LOG("Unable to set the stream socket receive buffer size which increased the potential for lost "
                "messages");
        return;
    }
    grantedReceiveBuffer_ = readReceiveBuffer(fd_.get());
    if (grantedReceiveBuffer_ >= wanted)
        return;
    if (setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof(wanted)) == 0) {
        grantedReceiveBuffer_ = readReceiveBuffer(fd_.get());
        return;
    }
    warnReceiveBufferCapped(wanted, grantedReceiveBuffer_);
}

std::size_t UDPSocket::avail()
{
    int waiting = 0;
    if (!fd_.valid() || ioctl(fd_.get(), FIONREAD, &waiting) != 0) {
        rememberError(fd_.valid() ? errno : EBADF);
        HX_SOCKET_ERROR("UDPSocket::avail", "Could not ioctlsocket(FIONREAD)", static_cast<int>(lastError()));
        return 0;
    }
    return waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
}

// MSG_TRUNC makes recvfrom report a datagram's real length, so one that did not fit is seen
// and dropped whole instead of being read cut short.
ReceivedDatagram UDPSocket::receive(std::span<uint8_t> buffer)
{
    ReceivedDatagram result;
    sockaddr_in source{};
    socklen_t size = sizeof(source);
    ssize_t length = -1;
    do {
        length =
            recvfrom(fd_.get(), buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&source), &size);
    } while (length < 0 && errno == EINTR);
    if (length < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return result;
        rememberError(errno);
        HX_SOCKET_ERROR("UDPSocket::receive", "Could not recvfrom(sock)", errno);
        result.kind = ReceivedDatagram::Kind::Failed;
        return result;
    }
    result.length = static_cast<std::size_t>(length);
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
    ssize_t sent = -1;
    do {
        sent = sendto(fd_.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        const int error = errno;
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
