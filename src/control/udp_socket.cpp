// One non-blocking IPv4 UDP socket of a camera's channel. The system calls lie in
// platform/socket_calls.h, so one file serves every system.
#include "control/udp_socket.h"

#include <mutex>
#include <set>
#include <string>

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "platform/ipv4_endpoint.h"
#include "platform/socket_calls.h"

namespace halvex::control {

namespace {

// Logs "who: <what, located>" with the system's text for the error on a second line.
void logSocketError(const char* who, const char* file, int line, const std::string& what, int error)
{
    HLV_LOG("%s: %s", who, platform::systemError(file, line, what.c_str(), error).str().c_str());
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
            "UdpSocket::start", wanted, granted, wanted);
}

} // namespace

UdpSocket::UdpSocket(int receiveBufferBytes) : wantedReceiveBuffer_(receiveBufferBytes)
{
    if (!sockets_.started()) {
        rememberError(sockets_.error());
        HX_SOCKET_ERROR("UdpSocket::UdpSocket", "Could not initialize WinSockets", sockets_.error());
        return;
    }
    fd_ = platform::openSocket(platform::SocketType::Datagram);
    if (!fd_.valid()) {
        const int error = platform::lastSocketError();
        rememberError(error);
        HX_SOCKET_ERROR("UdpSocket::UdpSocket", "Could not create socket", error);
    }
}

UdpSocket::~UdpSocket()
{
    quit();
}

bool UdpSocket::start(uint16_t port)
{
    HLV_TRACE(thread::TRACE_SOCKET, "%s: port=%d", "UdpSocket::start", port);
    if (!fd_.valid()) {
        HLV_LOG("%s: The socket is invalid!", "UdpSocket::start");
        return false;
    }
    // Any local address (0.0.0.0).
    if (!platform::bindTo(fd_.get(), {0, port})) {
        rememberError(platform::lastSocketError());
        HLV_TRACE(thread::TRACE_SOCKET, "%s: bind() failed with error %u", "UdpSocket::start", lastError());
        return false;
    }
    port_ = platform::localEndpoint(fd_.get()).port;
    enlargeReceiveBuffer();
    return true;
}

// Asks for the wanted size (forced where the process may); when the system caps it, warns once.
void UdpSocket::enlargeReceiveBuffer()
{
    const int granted = platform::requestReceiveBuffer(fd_.get(), wantedReceiveBuffer_);
    if (granted < 0) {
        rememberError(platform::lastSocketError());
        HLV_LOG("Unable to set the stream socket receive buffer size which increased the potential for lost "
                "messages");
        return;
    }
    grantedReceiveBuffer_ = granted;
    if (granted < wantedReceiveBuffer_)
        warnReceiveBufferCapped(wantedReceiveBuffer_, granted);
}

ReceivedDatagram UdpSocket::receive(std::span<uint8_t> buffer)
{
    ReceivedDatagram result = platform::receiveDatagram(fd_.get(), buffer);
    if (result.kind != ReceivedDatagram::Kind::Failed)
        return result;
    // A report of an earlier send that found no listener says nothing of this socket.
    if (platform::reportsEarlierSend(result.error))
        return {};
    rememberError(result.error);
    HX_SOCKET_ERROR("UdpSocket::receive", "Could not recvfrom(sock)", result.error);
    return result;
}

long UdpSocket::sendMsg(std::span<const uint8_t> datagram, uint32_t destination, uint16_t destinationPort)
{
    if (destination == 0)
        return 0;
    // The dotted text is made only for a trace or an error: this is every command's path.
    HLV_TRACE(thread::TRACE_SOCKET, "%s: dest=%s", "UdpSocket::sendMsg", platform::ipv4ToText(destination).c_str());
    const long sent = platform::sendDatagram(fd_.get(), datagram, {destination, destinationPort});
    if (sent < 0) {
        const int error = platform::lastSocketError();
        rememberError(error);
        HX_SOCKET_ERROR("UdpSocket::sendMsg",
                        "Could not sendto() the camera(" + platform::ipv4ToText(destination) + ").", error);
        return -1;
    }
    return sent;
}

void UdpSocket::quit()
{
    fd_.reset();
}

bool UdpSocket::valid() const
{
    return fd_.valid();
}

platform::Descriptor UdpSocket::fd() const
{
    return fd_.get();
}

uint16_t UdpSocket::port() const
{
    return port_;
}

uint32_t UdpSocket::lastError() const
{
    return lastError_;
}

int UdpSocket::receiveBuffer() const
{
    return grantedReceiveBuffer_;
}

void UdpSocket::rememberError(int error)
{
    lastError_ = static_cast<uint32_t>(error);
}

} // namespace halvex::control
