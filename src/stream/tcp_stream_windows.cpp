// A TCP stream receiver, Windows half: the connection from one of ten local ports, its wait beside
// the message event, and its non-blocking receives through Winsock.
#include "platform/win_sockets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "callback/callback.h"
#include "control/hx_comm.h"
#include "control/message_ids.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/ipv4_endpoint.h"
#include "platform/poll_wait.h"
#include "platform/socket_address.h"
#include "registers/register_map.h"
#include "stream/tcp_stream.h"

using HLV_THREAD::TRACE_STREAM;

namespace {

// A stream connection must absorb bursts of whole images while the host is busy.
constexpr int STREAM_RECEIVE_BUFFER = 128 * 1024 * 1024;

[[noreturn]] void raiseSystemError(const char* file, int line, const char* what, int error)
{
    HLV_THREAD::RuntimeError failure;
    failure.add(file, line, "%s", what);
    failure.add("%s", HX_PLATFORM::errnoIndicates(error).c_str());
    throw failure;
}

// Windows grants large receive buffers as asked and has no forcing option: one request.
void enlargeReceiveBuffer(SOCKET fd)
{
    const int wanted = STREAM_RECEIVE_BUFFER;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&wanted), sizeof(wanted)) != 0)
        HLV_LOG("Unable to set the stream socket receive buffer size which increased the potential for lost messages");
}

// Errors after which the connection is of no further use.
bool connectionBroken(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAETIMEDOUT || error == WSAENOTCONN ||
           error == WSAEHOSTUNREACH;
}

} // namespace

// Built and ended here, beside the poll set it owns, which the portable half never sees whole.
TcpStream::TcpStream(uint32_t cameraAddress, uint16_t port, uint16_t cameraPort)
    : StreamReceiver(cameraAddress, "TcpStream", "TCP Stream"), firstPort_(port), cameraPort_(cameraPort),
      scratch_(SCAN_WINDOW + KEPT_FOR_NEXT_SCAN)
{
}

TcpStream::~TcpStream()
{
    HLV_THREAD::closeThread(*this);
}

bool TcpStream::startUp()
{
    const char* who = "TcpStream::sockInit";
    HLV_TRACE(TRACE_STREAM, "%s(%s): port=%u", who, where(), firstPort_);
    try {
        if (!connectFromFreePort(firstPort_))
            return false;
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: Exception during TcpStream socket initialization: %s", who, error.str().c_str());
        shutDown();
        HLV_LOG("%s(%s): Unable to initialize our TcpStream socket!", who, where());
        return false;
    }
    pieceCount_ = 0;
    writeStartRegisters();
    announcePacketSize();
    setConnected(true);
    return true;
}

// Ten local ports, three apart; only a port that is taken (or not usable here) moves on.
bool TcpStream::connectFromFreePort(uint16_t firstPort)
{
    for (unsigned attempt = 0; attempt < PORT_ATTEMPTS; ++attempt) {
        const auto localPort = static_cast<uint16_t>(firstPort + attempt * PORT_STEP);
        int error = 0;
        if (connectOnce(localPort, error)) {
            port_ = localPort;
            setLocalPort(localPort);
            HLV_TRACE(TRACE_STREAM, "%s(%s): Connected successfully, port=%u", "TcpStream::sockInit", where(),
                      unsigned(port_));
            pollSet_ = std::make_unique<HX_PLATFORM::PollSet>();
            pollSet_->add(*postWake());
            pollSet_->add(socket_.get(), connectPending_);
            return true;
        }
        socket_.reset();
        if (error != WSAEADDRINUSE && error != WSAEADDRNOTAVAIL)
            raiseSystemError(__FILE__, __LINE__, "connect() failed!", error);
    }
    HLV_THROW(HLV_THREAD::RuntimeError, "Unable to locate an available port!");
}

// A connect still in progress counts as started; its outcome is read when the socket becomes
// writable.
bool TcpStream::connectOnce(uint16_t localPort, int& error)
{
    socket_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket_.valid())
        raiseSystemError(__FILE__, __LINE__, "Could not create socket", WSAGetLastError());
    const SOCKET s = static_cast<SOCKET>(socket_.get());
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    enlargeReceiveBuffer(s);
    // A port left waiting by this host's last connection may be bound again; a port another
    // socket holds still refuses (address in use), and a connection that would repeat one still
    // waiting fails to connect (address not available), so either moves on to the next port.
    const BOOL reuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    // The local address toward the camera, not the wildcard: a camera on this very host (a
    // stand-in on another loopback address) may use the same port number.
    const sockaddr_in local = HX_PLATFORM::toSockaddr({htonl(HxComm::localAddressToward(cameraAddress())), localPort});
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        error = WSAGetLastError();
        return false;
    }
    const sockaddr_in camera = HX_PLATFORM::toSockaddr({cameraAddress(), cameraPort_});
    if (connect(s, reinterpret_cast<const sockaddr*>(&camera), sizeof(camera)) == 0) {
        connectPending_ = false;
        return true;
    }
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        connectPending_ = true;
        return true;
    }
    return false;
}

void TcpStream::completeConnect()
{
    int error = 0;
    int size = sizeof(error);
    if (getsockopt(static_cast<SOCKET>(socket_.get()), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
        0)
        error = WSAGetLastError();
    if (error == 0) {
        connectPending_ = false;
        reconnecting_ = false;
        pollSet_->watchWrite(1, false);
        HLV_TRACE(TRACE_STREAM, "%s(%s): Connection established.", "TcpStream::completeConnect", where());
        return;
    }
    HLV_LOG("%s(%s): connect() failed!\n%s", "TcpStream::completeConnect", where(),
            HX_PLATFORM::errnoIndicates(error).c_str());
    connectionLost();
}

// Stream bytes already taken from the socket (kept back by the scan) wake nothing, so they are
// read before any wait: a pass cut short by a waiting message or its step limit may leave the
// end of an image there after the camera has sent its last byte.
void TcpStream::waitAndRead()
{
    if (holdForBuffer())
        return;
    if (!connectPending_ && keptBytesReadable()) {
        readStream();
        return;
    }
    if (pollSet_->wait(std::nullopt) == HX_PLATFORM::PollStatus::Failed)
        raiseSystemError(__FILE__, __LINE__, "Could not wait for the stream's events", pollSet_->error());
    if (pollSet_->events(0).any())
        postWake()->reset();
    const HX_PLATFORM::PollEvents socketEvents = pollSet_->events(1);
    if (connectPending_) {
        if (socketEvents.writable || socketEvents.closed)
            completeConnect();
        return;
    }
    if (socketEvents.readable || socketEvents.closed)
        readStream();
}

// Never blocks: the socket is non-blocking, and a broken connection reads as closed.
TcpStream::ReadResult TcpStream::receive(uint8_t* into, std::size_t want, std::size_t& got)
{
    got = 0;
    if (!socket_.valid())
        return ReadResult::Closed;
    const int count = recv(static_cast<SOCKET>(socket_.get()), reinterpret_cast<char*>(into),
                           static_cast<int>(std::min<std::size_t>(want, 1 << 30)), 0);
    if (count > 0) {
        got = static_cast<std::size_t>(count);
        return ReadResult::Data;
    }
    if (count == 0)
        return ReadResult::Closed;
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return ReadResult::Nothing;
    if (!connectionBroken(error))
        HLV_LOG("%s(%s): Could not recvfrom()\n%s", "TcpStream::receive", where(),
                HX_PLATFORM::errnoIndicates(error).c_str());
    return ReadResult::Closed;
}
