// A camera's control channel's sockets and their port layout. The system calls lie below, in
// platform/, so one file serves POSIX and Windows.
#include "control/channel_sockets.h"

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "wire/control_packet.h"
#include "wire/event_packet.h"

namespace halvex::control {

Take takeDatagram(UdpSocket& socket, const char* socketName, const std::string& cameraName, std::span<uint8_t> buffer,
                  ReceivedDatagram& received)
{
    const char* who = "HxComm::readPendingMsg";
    received = socket.receive(buffer);
    switch (received.kind) {
    case ReceivedDatagram::Kind::Nothing: return Take::Stop;
    case ReceivedDatagram::Kind::Failed:
        HLV_LOG("%s: failed to read the %s socket.", who, socketName);
        return Take::Stop;
    case ReceivedDatagram::Kind::Oversized:
        HLV_LOG("%s(%s): Dropped an oversized datagram of %zu bytes", who, cameraName.c_str(), received.length);
        return Take::Skipped;
    case ReceivedDatagram::Kind::Datagram: break;
    }
    return Take::Datagram;
}

ChannelSockets::ChannelSockets(uint32_t cameraAddress, const std::string& cameraName)
    : cameraAddress_(cameraAddress), cameraName_(cameraName)
{
}

bool ChannelSockets::open()
{
    const char* who = "HxComm::startComms";
    const char* camera = cameraName_.c_str();
    HLV_TRACE(thread::TRACE_COMM, "%s(%s)", who, camera);
    const std::optional<ChannelPorts> wanted = bindControlPort();
    if (!wanted)
        return false;
    HLV_TRACE(thread::TRACE_COMM, "%s: Found our HCP port [%s:%d]", who, camera, hcp_->port());

    hmp_ = std::make_unique<UdpSocket>(UdpSocket::CONTROL_RECEIVE_BUFFER);
    if (!hmp_->start(wanted->hmp)) {
        HLV_LOG("%s: Unable to bind the messaging port!", who);
        return false;
    }
    HLV_TRACE(thread::TRACE_COMM, "%s: Created our HMP socket [%s:%d]", who, camera, hmp_->port());

    stream_ = std::make_unique<UdpSocket>(UdpSocket::STREAM_RECEIVE_BUFFER);
    if (!stream_->start(wanted->stream)) {
        HLV_LOG("%s: Unable to bind the streaming port!", who);
        return false;
    }
    HLV_TRACE(thread::TRACE_COMM, "%s: Created our Streaming socket [%s:%d]", who, camera, stream_->port());
    return true;
}

// Only the control port of the ten fixed sets is searched: a busy stream or event port beside it
// fails the start. With all ten control ports taken (by other channels or other programs), the
// system picks all three ports. Returns the stream and event ports to bind next.
std::optional<ChannelPorts> ChannelSockets::bindControlPort()
{
    const char* who = "HxComm::startComms";
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): Looking for an available set of ports.", who, cameraName_.c_str());
    hcp_ = std::make_unique<UdpSocket>(UdpSocket::CONTROL_RECEIVE_BUFFER);
    for (unsigned slot = 0; slot < ChannelPorts::SLOTS; ++slot) {
        if (hcp_->start(ChannelPorts::forSlot(slot).hcp))
            return ChannelPorts::forSlot(slot);
    }
    HLV_TRACE(thread::TRACE_COMM, "%s(%s): Ports %d to %d are taken; the system picks this channel's ports.", who,
              cameraName_.c_str(), ChannelPorts::FIRST_HCP_PORT, ChannelPorts::forSlot(ChannelPorts::SLOTS - 1).hmp);
    if (hcp_->valid() && hcp_->start(ChannelPorts::ANY_PORT))
        return ChannelPorts::fromSystem();
    HLV_LOG("%s: Unable to find a usable port!", who);
    HLV_LOG("%s(%s): Ports %d to %d are taken and the system gave no free port either: %s", who, cameraName_.c_str(),
            ChannelPorts::FIRST_HCP_PORT, ChannelPorts::forSlot(ChannelPorts::SLOTS - 1).hmp,
            platform::errnoIndicates(static_cast<int>(hcp_->lastError())).c_str());
    hcp_.reset();
    return std::nullopt;
}

void ChannelSockets::sendOpeningDatagram()
{
    const std::vector<uint8_t> opening = wire::encodeEventOpening();
    if (hmp_->sendMsg(opening, cameraAddress_, hmp_->port()) != static_cast<long>(opening.size()))
        HLV_LOG("%s: Failed sendMsg(%s), err=%d", "HxComm::sendOpeningDatagram", cameraName_.c_str(),
                static_cast<int>(hmp_->lastError()));
}

// Every datagram that reaches the camera's control port counts as activity for the heartbeat.
// A failed single register read names the camera before the failure, every other send after it.
bool ChannelSockets::sendToCamera(std::span<const uint8_t> datagram, const char* who, bool singleRead)
{
    if (!hcp_) {
        HLV_LOG("%s: Unexpectedly null HCP object!", who);
        return false;
    }
    const long sent = hcp_->sendMsg(datagram, cameraAddress_, wire::kControlPort);
    if (sent != static_cast<long>(datagram.size())) {
        const int error = static_cast<int>(hcp_->lastError());
        if (singleRead)
            HLV_LOG("%s(%s): Failed sendMsg, err=%d", who, cameraName_.c_str(), error);
        else
            HLV_LOG("%s: Failed sendMsg(%s), err=%d", who, cameraName_.c_str(), error);
        return false;
    }
    ++activity_;
    return true;
}

ChannelPorts ChannelSockets::ports() const
{
    const auto portOf = [](const std::unique_ptr<UdpSocket>& socket) { return socket ? socket->port() : uint16_t{0}; };
    return {portOf(hcp_), portOf(stream_), portOf(hmp_)};
}

uint64_t ChannelSockets::activityCount() const
{
    return activity_;
}

UdpSocket* ChannelSockets::control() const
{
    return hcp_.get();
}

UdpSocket* ChannelSockets::events() const
{
    return hmp_.get();
}

UdpSocket* ChannelSockets::stream() const
{
    return stream_.get();
}

std::mutex& ChannelSockets::eventSocketLock()
{
    return eventSocketLock_;
}

void ChannelSockets::close()
{
    hcp_.reset();
    {
        std::lock_guard<std::mutex> noReader(eventSocketLock_);
        hmp_.reset();
    }
    stream_.reset();
}

} // namespace halvex::control
