// The Discovery thread's network side: its broadcast socket, and the wait on that socket and on
// its message queue together.
#include "discovery/discovery_network.h"

#include <vector>

#include "discovery/discovery_db.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/netutils.h"
#include "platform/poll_wait.h"
#include "platform/socket_calls.h"
#include "platform/socket_library.h"
#include "platform/unique_fd.h"
#include "wire/discovery_packet.h"

namespace halvex::discovery {

using platform::raiseSystemError;

namespace {

// Datagrams taken per wake-up at most, so a flood cannot starve the message queue; the rest
// wait for the next pass.
constexpr int MAX_DATAGRAMS_PER_PASS = 1024;

} // namespace

// The socket and its wait set (the queue's wake beside the socket). The socket is invalid after a
// failed set-up.
struct DiscoveryNetwork::Sockets {
    std::unique_ptr<platform::SocketLibrary> library;
    platform::UniqueFd socket;
    platform::PollSet waitSet;

    bool send(const std::vector<uint8_t>& datagram, uint32_t address) const
    {
        const long sent =
            platform::sendDatagram(socket.get(), datagram, {address, platform::net_utils::DISCOVERY_PORT});
        return sent == static_cast<long>(datagram.size());
    }
};

DiscoveryNetwork::DiscoveryNetwork() : sockets_(std::make_unique<Sockets>()) {}

DiscoveryNetwork::~DiscoveryNetwork() = default;

// The set-up opens the socket last, after the wake has proved valid.
void DiscoveryNetwork::open(const thread::Wake& queueWake)
{
    sockets_ = std::make_unique<Sockets>();
    try {
        sockets_->library = std::make_unique<platform::SocketLibrary>();
        if (!sockets_->library->started())
            raiseSystemError(__FILE__, __LINE__, "Could not initialize WinSockets", sockets_->library->error());
        if (!queueWake.valid())
            raiseSystemError(__FILE__, __LINE__, "Could not create signal event", queueWake.error());
        sockets_->socket = platform::openSocket(platform::SocketType::Datagram);
        if (!sockets_->socket.valid())
            raiseSystemError(__FILE__, __LINE__, "Could not create socket", platform::lastSocketError());
        if (!platform::allowBroadcast(sockets_->socket.get()))
            raiseSystemError(__FILE__, __LINE__, "Could not set SO_BROADCAST", platform::lastSocketError());
        // Not bound: the system picks the local port at the first send and replies come back to it.
        sockets_->waitSet.add(queueWake);
        sockets_->waitSet.add(sockets_->socket.get());
    } catch (const thread::Exception& error) {
        HLV_LOG("%s: %s", "Discovery::config", error.str().c_str());
        sockets_ = std::make_unique<Sockets>();
    }
}

bool DiscoveryNetwork::usable() const
{
    return sockets_->socket.valid();
}

DiscoveryNetwork::Ready DiscoveryNetwork::wait()
{
    if (sockets_->waitSet.wait(std::nullopt) == platform::PollStatus::Failed)
        raiseSystemError(__FILE__, __LINE__, "Could not wait for the discovery events", sockets_->waitSet.error());
    const platform::PollEvents socketEvents = sockets_->waitSet.events(1);
    return {sockets_->waitSet.events(0).readable, socketEvents.readable || socketEvents.closed};
}

void DiscoveryNetwork::readReplies(const ReplySink& sink)
{
    Reply buffer{};
    for (int taken = 0; taken < MAX_DATAGRAMS_PER_PASS; ++taken) {
        using Kind = platform::ReceivedDatagram::Kind;
        const platform::ReceivedDatagram received = platform::receiveDatagram(sockets_->socket.get(), buffer);
        if (received.kind == Kind::Nothing)
            return;
        if (received.kind == Kind::Failed) {
            if (platform::reportsEarlierSend(received.error))
                continue;
            raiseSystemError(__FILE__, __LINE__, "Could not recvfrom(sock)", received.error);
        }
        if (received.kind == Kind::Oversized || received.length != buffer.size()) {
            HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Dropped a %zu-byte datagram from %s.", "Discovery::readResponse",
                      received.length, platform::ipv4ToText(received.source.address).c_str());
            continue;
        }
        sink(buffer, received.source);
    }
}

void DiscoveryNetwork::broadcast(uint16_t requestId)
{
    if (!usable())
        return;
    const std::vector<uint8_t> request = wire::encodeDiscoveryCmd(requestId);
    for (const uint32_t target : platform::net_utils::discoveryTargets(platform::net_utils::listAdapters())) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Request %u to %s", "Discovery::sendMsg", requestId,
                  platform::ipv4ToText(target).c_str());
        if (!sockets_->send(request, target))
            raiseSystemError(__FILE__, __LINE__, "Could not send discovery command", platform::lastSocketError());
    }
}

void DiscoveryNetwork::sendUnicast(uint32_t address, uint16_t requestId)
{
    if (!usable())
        return;
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Request %u to %s", "Discovery::sendUnicast", requestId,
              platform::ipv4ToText(address).c_str());
    // One camera out of reach must not cost the others their request: log and go on.
    if (!sockets_->send(wire::encodeDiscoveryCmd(requestId), address))
        HLV_LOG("%s: Could not send discovery command to %s. %s", "Discovery::sendUnicast",
                platform::ipv4ToText(address).c_str(), platform::errnoIndicates(platform::lastSocketError()).c_str());
}

uint16_t DiscoveryNetwork::takeRequestId()
{
    const uint16_t id = requestId_;
    requestId_ = static_cast<uint16_t>(requestId_ + 1);
    if (requestId_ == 0)
        requestId_ = 1;
    return id;
}

} // namespace halvex::discovery
