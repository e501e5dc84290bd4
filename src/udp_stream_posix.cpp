// The UDP image receiver, operating-system half: the wait on the stream socket and the message
// queue together, and the drain of the socket one datagram at a time.
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "platform/poll_wait.h"
#include "udp_socket.h"
#include "udp_stream.h"

using HLV_THREAD::TRACE_STREAM;

namespace {

// Datagrams taken in one pass before the queue and the socket are looked at again.
constexpr unsigned MAX_DATAGRAMS_PER_PASS = 1024;

} // namespace

uint16_t UdpStream::localPort() const
{
    return socket_ != nullptr ? socket_->port() : 0;
}

bool UdpStream::startUp()
{
    const char* who = "UdpStream::sockInit";
    HLV_TRACE(TRACE_STREAM, "%s: cam=%s", who, where());
    try {
        if (socket_ == nullptr || !socket_->valid())
            HLV_THROW(HLV_THREAD::RuntimeError, "UDP stream socket unexpectedly null!");
        setLocalPort(socket_->port());
        pollSet_ = std::make_unique<HX_PLATFORM::PollSet>();
        pollSet_->add(messageEventFd());
        pollSet_->add(socket_->fd());
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: Exception during UdpStream socket initialization: %s", who, error.str().c_str());
        HLV_LOG("%s(%s): Unable to initialize the UDP stream socket!", who, where());
        return false;
    }
    setConnected(true);
    return true;
}

void UdpStream::waitAndRead()
{
    if (pollSet_->wait(std::nullopt) == HX_PLATFORM::PollStatus::Failed) {
        HLV_THREAD::RuntimeError failure;
        failure.add(__FILE__, __LINE__, "%s", "Could not wait for the stream's events");
        failure.add("%s", HX_PLATFORM::errnoIndicates(pollSet_->error()).c_str());
        throw failure;
    }
    if (pollSet_->events(0).any())
        resetMessageEvent();
    if (pollSet_->events(1).any())
        readDatagrams();
}

// Only the camera's datagrams count; anything else reaching the port is dropped unread.
void UdpStream::readDatagrams()
{
    const std::span<uint8_t> bounce(bounce_.data(), MAX_DATAGRAM);
    for (unsigned taken = 0; taken < MAX_DATAGRAMS_PER_PASS && !messagesWaiting(); ++taken) {
        const ReceivedDatagram received = socket_->receive(bounce);
        switch (received.kind) {
        case ReceivedDatagram::Kind::Nothing:
            return;
        case ReceivedDatagram::Kind::Failed:
            HLV_LOG("%s(%s): failed to read the UDP stream socket.", "UdpStream::readDatagrams", where());
            return;
        case ReceivedDatagram::Kind::Oversized:
            HLV_TRACE(TRACE_STREAM, "%s(%s): dropped an oversized datagram of %zu bytes", "UdpStream::readDatagrams",
                      where(), received.length);
            continue;
        case ReceivedDatagram::Kind::Datagram:
            break;
        }
        if (received.sourceAddress != cameraAddress()) {
            HLV_TRACE(TRACE_STREAM, "%s(%s): dropped a datagram from another address", "UdpStream::readDatagrams", where());
            continue;
        }
        handleDatagram(bounce.first(received.length));
    }
}

void UdpStream::shutDown()
{
    stopTimer();
    pollSet_.reset();
}
