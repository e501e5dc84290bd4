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

using HX_PLATFORM::raiseSystemError;

namespace HLV_DISCOVERY {

namespace {

// Datagrams taken per wake-up at most, so a flood cannot starve the message queue; the rest
// wait for the next pass.
constexpr int MAX_DATAGRAMS_PER_PASS = 1024;

} // namespace

// The socket and its wait set (the queue's wake beside the socket). The socket is invalid after a
// failed set-up.
struct DiscoveryNetwork::Sockets {
    std::unique_ptr<HX_PLATFORM::SocketLibrary> library;
    HX_PLATFORM::UniqueFd socket;
    HX_PLATFORM::PollSet waitSet;

    bool send(const std::vector<uint8_t>& datagram, uint32_t address) const
    {
        const long sent = HX_PLATFORM::sendDatagram(socket.get(), datagram, {address, HX_NETUTILS::DISCOVERY_PORT});
        return sent == static_cast<long>(datagram.size());
    }
};

DiscoveryNetwork::DiscoveryNetwork() : sockets_(std::make_unique<Sockets>()) {}

DiscoveryNetwork::~DiscoveryNetwork() = default;

// The set-up opens the socket last, after the wake has proved valid.
void DiscoveryNetwork::open(const HLV_THREAD::Wake& queueWake)
{
    sockets_ = std::make_unique<Sockets>();
    try {
        sockets_->library = std::make_unique<HX_PLATFORM::SocketLibrary>();
        if (!sockets_->library->started())
            raiseSystemError(__FILE__, __LINE__, "Could not initialize WinSockets", sockets_->library->error());
        if (!queueWake.valid())
            raiseSystemError(__FILE__, __LINE__, "Could not create signal event", queueWake.error());
        sockets_->socket = HX_PLATFORM::openSocket(HX_PLATFORM::SocketType::Datagram);
        if (!sockets_->socket.valid())
            raiseSystemError(__FILE__, __LINE__, "Could not create socket", HX_PLATFORM::lastSocketError());
        if (!HX_PLATFORM::allowBroadcast(sockets_->socket.get()))
            raiseSystemError(__FILE__, __LINE__, "Could not set SO_BROADCAST", HX_PLATFORM::lastSocketError());
        // Not bound: the system picks the local port at the first send and replies come back to it.
        sockets_->waitSet.add(queueWake);
        sockets_->waitSet.add(sockets_->socket.get());
    } catch (const HLV_THREAD::Exception& error) {
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
    if (sockets_->waitSet.wait(std::nullopt) == HX_PLATFORM::PollStatus::Failed)
        raiseSystemError(__FILE__, __LINE__, "Could not wait for the discovery events", sockets_->waitSet.error());
    const HX_PLATFORM::PollEvents socketEvents = sockets_->waitSet.events(1);
    return {sockets_->waitSet.events(0).readable, socketEvents.readable || socketEvents.closed};
}

void DiscoveryNetwork::readReplies(const ReplySink& sink)
{
    Reply buffer{};
    for (int taken = 0; taken < MAX_DATAGRAMS_PER_PASS; ++taken) {
        using Kind = HX_PLATFORM::ReceivedDatagram::Kind;
        const HX_PLATFORM::ReceivedDatagram received = HX_PLATFORM::receiveDatagram(sockets_->socket.get(), buffer);
        if (received.kind == Kind::Nothing)
            return;
        if (received.kind == Kind::Failed) {
            if (HX_PLATFORM::reportsEarlierSend(received.error))
                continue;
            raiseSystemError(__FILE__, __LINE__, "Could not recvfrom(sock)", received.error);
        }
        if (received.kind == Kind::Oversized || received.length != buffer.size()) {
            HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Dropped a %zu-byte datagram from %s.",
                      "Discovery::readResponse", received.length,
                      HX_PLATFORM::ipv4ToText(received.source.address).c_str());
            continue;
        }
        sink(buffer, received.source);
    }
}

void DiscoveryNetwork::broadcast(uint16_t requestId)
{
    if (!usable())
        return;
    const std::vector<uint8_t> request = HX_WIRE::encodeDiscoveryCmd(requestId);
    for (const uint32_t target : HX_NETUTILS::discoveryTargets(HX_NETUTILS::listAdapters())) {
        HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Request %u to %s", "Discovery::sendMsg", requestId,
                  HX_PLATFORM::ipv4ToText(target).c_str());
        if (!sockets_->send(request, target))
            raiseSystemError(__FILE__, __LINE__, "Could not send discovery command", HX_PLATFORM::lastSocketError());
    }
}

void DiscoveryNetwork::sendUnicast(uint32_t address, uint16_t requestId)
{
    if (!usable())
        return;
    HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Request %u to %s", "Discovery::sendUnicast", requestId,
              HX_PLATFORM::ipv4ToText(address).c_str());
    // One camera out of reach must not cost the others their request: log and go on.
    if (!sockets_->send(HX_WIRE::encodeDiscoveryCmd(requestId), address))
        HLV_LOG("%s: Could not send discovery command to %s. %s", "Discovery::sendUnicast",
                HX_PLATFORM::ipv4ToText(address).c_str(),
                HX_PLATFORM::errnoIndicates(HX_PLATFORM::lastSocketError()).c_str());
}

uint16_t DiscoveryNetwork::takeRequestId()
{
    const uint16_t id = requestId_;
    requestId_ = static_cast<uint16_t>(requestId_ + 1);
    if (requestId_ == 0)
        requestId_ = 1;
    return id;
}

} // namespace HLV_DISCOVERY
