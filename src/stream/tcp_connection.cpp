// The TCP image receiver's connection to its camera: the local port it binds, connecting and
// re-opening the connection, the camera's stream channel registers, and the non-blocking reads
// the parser takes the stream through. The system calls lie in platform/socket_calls.h.
#include "stream/tcp_connection.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "common/message_id_ranges.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/poll_wait.h"
#include "platform/socket_calls.h"
#include "registers/register_map.h"
#include "stream/receiver_label.h"
#include "stream/tcp_camera_presence.h"

namespace halvex::stream {

using control::HxComm;
using control::RegisterChannel;

using platform::raiseSystemError;
using thread::TRACE_STREAM;

namespace {

// A stream connection must absorb bursts of whole images while the host is busy.
constexpr int STREAM_RECEIVE_BUFFER = 128 * 1024 * 1024;

// Asks for a large receive buffer (forced where the process may), and otherwise says once what
// the system granted and which setting a user would raise.
void enlargeReceiveBuffer(platform::Descriptor fd)
{
    const int granted = platform::requestReceiveBuffer(fd, STREAM_RECEIVE_BUFFER);
    if (granted < 0) {
        HLV_LOG("Unable to set the stream socket receive buffer size which increased the potential for lost messages");
        return;
    }
    if (granted >= STREAM_RECEIVE_BUFFER)
        return;
    static std::once_flag warned;
    std::call_once(warned, [granted] {
        HLV_LOG("%s: asked for a receive buffer of %d bytes and got %d; raise net.core.rmem_max (sysctl -w "
                "net.core.rmem_max=%d) to avoid stalling the camera",
                "TcpStream::sockInit", STREAM_RECEIVE_BUFFER, granted, STREAM_RECEIVE_BUFFER);
    });
}

std::chrono::microseconds scaled(uint32_t microseconds)
{
    return std::chrono::microseconds(thread::scaledMicroseconds(microseconds));
}

} // namespace

TcpConnection::TcpConnection(const ReceiverLabel& label, RegisterChannel& registers, thread::Wake& wake,
                             uint16_t firstPort, uint16_t cameraPort, Hooks hooks)
    : label_(label), registers_(registers), wake_(wake), firstPort_(firstPort), cameraPort_(cameraPort),
      hooks_(std::move(hooks))
{
}

// Ended here, beside the poll sets it owns, which the header never sees whole.
TcpConnection::~TcpConnection() = default;

bool TcpConnection::open()
{
    const char* who = "TcpStream::sockInit";
    HLV_TRACE(TRACE_STREAM, "%s(%s): port=%u", who, label_.where(), firstPort_);
    try {
        if (!connectFromFreePort(firstPort_))
            return false;
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: Exception during TcpStream socket initialization: %s", who, error.str().c_str());
        close();
        HLV_LOG("%s(%s): Unable to initialize our TcpStream socket!", who, label_.where());
        return false;
    }
    tellCameraPort();
    return true;
}

void TcpConnection::close()
{
    socket_.reset();
    pollSet_.reset();
}

uint16_t TcpConnection::port() const
{
    return port_;
}

// Ten local ports, three apart; only a port that is taken (or not usable here) moves on.
bool TcpConnection::connectFromFreePort(uint16_t firstPort)
{
    for (unsigned attempt = 0; attempt < PORT_ATTEMPTS; ++attempt) {
        const auto localPort = static_cast<uint16_t>(firstPort + attempt * PORT_STEP);
        int error = 0;
        if (connectOnce(localPort, error)) {
            port_ = localPort;
            if (hooks_.portChosen)
                hooks_.portChosen(localPort);
            HLV_TRACE(TRACE_STREAM, "%s(%s): Connected successfully, port=%u", "TcpStream::sockInit", label_.where(),
                      unsigned(port_));
            pollSet_ = std::make_unique<platform::PollSet>();
            pollSet_->add(wake_);
            pollSet_->add(socket_.get(), connectPending_);
            return true;
        }
        socket_.reset();
        if (!platform::portUnavailable(error))
            raiseSystemError(__FILE__, __LINE__, "connect() failed!", error);
    }
    HLV_THROW(thread::RuntimeError, "Unable to locate an available port!");
}

// A connect still in progress counts as started; its outcome is read when the socket becomes
// writable.
bool TcpConnection::connectOnce(uint16_t localPort, int& error)
{
    socket_ = platform::openSocket(platform::SocketType::Stream);
    if (!socket_.valid())
        raiseSystemError(__FILE__, __LINE__, "Could not create socket", platform::lastSocketError());
    enlargeReceiveBuffer(socket_.get());
    // A port left waiting by this host's last connection may be bound again; a port another
    // socket holds still refuses (address in use), and a connection that would repeat one still
    // waiting fails to connect (address not available), so either moves on to the next port.
    platform::reuseAddress(socket_.get());
    // The local address toward the camera, not the wildcard: a camera on this very host (a
    // stand-in on another loopback address) may use the same port number.
    const uint32_t camera = label_.cameraAddress();
    const uint32_t local = platform::hostToNetwork(HxComm::localAddressToward(camera));
    if (!platform::bindTo(socket_.get(), {local, localPort})) {
        error = platform::lastSocketError();
        return false;
    }
    const platform::ConnectStatus status = platform::connectTo(socket_.get(), {camera, cameraPort_}, error);
    connectPending_ = status == platform::ConnectStatus::Pending;
    return status != platform::ConnectStatus::Failed;
}

void TcpConnection::completeConnect()
{
    const int error = platform::connectOutcome(socket_.get());
    if (error == 0) {
        const bool reopened = reconnecting_;
        connectPending_ = false;
        reconnecting_ = false;
        pollSet_->watchWrite(1, false);
        HLV_TRACE(TRACE_STREAM, "%s(%s): Connection established.", "TcpStream::completeConnect", label_.where());
        if (reopened)
            tellCameraPort();
        return;
    }
    // A camera that keeps refusing is reported once per outage, not at every attempt.
    if (!outageReported_)
        HLV_LOG("%s(%s): connect() failed!\n%s", "TcpStream::completeConnect", label_.where(),
                platform::errnoIndicates(error).c_str());
    lose();
}

// A lost connection is re-opened at once. One the camera refuses, or that ends again before it
// brought anything, is tried again after a delay that doubles each time, up to its limit; the
// host's buffers wait meanwhile. A camera that is not present is not asked at all until it is.
void TcpConnection::lose()
{
    const bool reopenFailed = reconnecting_;
    if (!reopenFailed)
        HLV_TRACE(TRACE_STREAM, "%s(%s): Socket got closed underneath us!", "TcpStream::processLoop", label_.where());
    if (reopenFailed && !outageReported_)
        HLV_LOG("%s(%s): Unable to re-open the TCP socket; trying again while the camera is present.",
                "TcpStream::processLoop", label_.where());
    outageReported_ = outageReported_ || reopenFailed;
    if (reopenFailed && !lossReported_ && reconnectDelay_ >= scaled(RECONNECT_MAX_MICROSECONDS)) {
        // Refused through the longest delay: the host hears the camera is lost, and is told again
        // when discovery finds it; meanwhile the connection is still asked for while it is present.
        lossReported_ = true;
        HLV_LOG("%s(%s): The camera keeps refusing the TCP connection; reported lost.", "TcpStream::processLoop",
                label_.where());
        TcpCameraPresence::reportLoss(label_.cameraAddress());
    }
    reconnecting_ = false;
    connectPending_ = false;
    socket_.reset();
    if (hooks_.lost)
        hooks_.lost();
    scheduleReconnect(reopenFailed || !connectionDelivered_);
}

void TcpConnection::scheduleReconnect(bool refused)
{
    if (!refused)
        reconnectDelay_ = std::chrono::microseconds(0);
    else
        reconnectDelay_ =
            std::clamp(2 * reconnectDelay_, scaled(RECONNECT_FIRST_MICROSECONDS), scaled(RECONNECT_MAX_MICROSECONDS));
    reconnectAt_ = std::chrono::steady_clock::now() + reconnectDelay_;
}

bool TcpConnection::reopenScheduled() const
{
    return reconnectAt_.has_value();
}

void TcpConnection::waitForReopen()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < *reconnectAt_) {
        waitForWake(std::chrono::ceil<std::chrono::milliseconds>(*reconnectAt_ - now));
        return;
    }
    reconnectAt_.reset();
    if (!TcpCameraPresence::present(label_.cameraAddress())) {
        // Said once per absence, however long the camera refused before it went.
        if (!awayReported_)
            HLV_LOG("%s(%s): The camera is away; the TCP connection is re-opened when it answers again.",
                    "TcpStream::processLoop", label_.where());
        awayReported_ = true;
        reconnectDelay_ = scaled(RECONNECT_MAX_MICROSECONDS);
        reconnectAt_ = std::chrono::steady_clock::now() + reconnectDelay_;
        return;
    }
    awayReported_ = false;
    if (!retrySocket()) {
        reconnecting_ = true; // refused at once: counts as a failed re-opening
        lose();
    }
}

// A connection from the port the last one used; a connect still in progress counts as made.
bool TcpConnection::retrySocket()
{
    connectionDelivered_ = false;
    try {
        if (!connectFromFreePort(port_ != 0 ? port_.load() : firstPort_))
            return false;
    } catch (const thread::Exception& error) {
        socket_.reset();
        if (!outageReported_)
            HLV_LOG("%s(%s): %s", "TcpStream::retrySocket", label_.where(), error.str().c_str());
        return false;
    }
    reconnecting_ = connectPending_;
    // A camera that restarted has forgotten the port; one that only lost the connection is told
    // the port it already has. Told once the connection is open, so a camera still starting up
    // is not asked for a register it cannot answer yet.
    if (!connectPending_)
        tellCameraPort();
    return true;
}

void TcpConnection::tellCameraPort()
{
    registers_.writeReg(registers::GIGE_REG_SCP0, port_);
    registers_.writeReg(registers::GIGE_REG_SCPS0, registers::SCPS0_DO_NOT_FRAGMENT | PACKET_SIZE);
}

bool TcpConnection::connectPending() const
{
    return connectPending_;
}

bool TcpConnection::waitForStream()
{
    if (pollSet_->wait(std::nullopt) == platform::PollStatus::Failed)
        raiseSystemError(__FILE__, __LINE__, "Could not wait for the stream's events", pollSet_->error());
    if (pollSet_->events(0).any())
        wake_.reset();
    const platform::PollEvents socketEvents = pollSet_->events(1);
    if (connectPending_) {
        if (socketEvents.writable || socketEvents.closed)
            completeConnect();
        return false;
    }
    return socketEvents.readable || socketEvents.closed;
}

void TcpConnection::waitForWake(std::optional<std::chrono::milliseconds> limit)
{
    if (!wakeOnly_) {
        wakeOnly_ = std::make_unique<platform::PollSet>();
        wakeOnly_->add(wake_);
    }
    if (wakeOnly_->wait(limit) == platform::PollStatus::Failed)
        raiseSystemError(__FILE__, __LINE__, "Could not wait for the stream's messages", wakeOnly_->error());
    if (wakeOnly_->events(0).any())
        wake_.reset();
}

// Never blocks: the socket is non-blocking, and a broken connection reads as closed.
TcpConnection::ReadResult TcpConnection::receive(uint8_t* into, std::size_t want, std::size_t& got)
{
    got = 0;
    if (!socket_.valid())
        return ReadResult::Closed;
    const long count = platform::receiveStream(socket_.get(), {into, want});
    if (count > 0) {
        got = static_cast<std::size_t>(count);
        if (outageReported_)
            HLV_LOG("%s(%s): The TCP connection is open again.", "TcpStream::receive", label_.where());
        outageReported_ = false;
        lossReported_ = false;
        connectionDelivered_ = true;
        return ReadResult::Data;
    }
    if (count == 0)
        return ReadResult::Closed;
    const int error = platform::lastSocketError();
    if (platform::wouldBlock(error))
        return ReadResult::Nothing;
    if (!platform::connectionBroken(error))
        HLV_LOG("%s(%s): Could not recvfrom()\n%s", "TcpStream::receive", label_.where(),
                platform::errnoIndicates(error).c_str());
    return ReadResult::Closed;
}

} // namespace halvex::stream
