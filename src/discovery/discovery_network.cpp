// The Discovery thread's network side: its broadcast socket, and the wait on that socket and on
// its message queue together (the queue's wake stands for the queue).
#include "discovery/discovery.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "hlv_thread/wake.h"
#include "platform/errno_text.h"
#include "platform/ipv4_endpoint.h"
#include "platform/netutils.h"
#include "platform/poll_wait.h"
#include "platform/socket_calls.h"
#include "platform/socket_library.h"
#include "platform/unique_fd.h"
#include "wire/discovery_packet.h"

using HX_PLATFORM::raiseSystemError;

namespace {

// Datagrams taken per wake-up at most, so a flood cannot starve the message queue; the rest
// wait for the next pass.
constexpr int MAX_DATAGRAMS_PER_PASS = 1024;

} // namespace

// The socket and its wait set (the queue's wake beside the socket). The socket is invalid after a
// failed set-up; the thread then serves its queue alone and sends nothing.
struct Discovery::Network {
    std::unique_ptr<HX_PLATFORM::SocketLibrary> sockets;
    HX_PLATFORM::UniqueFd socket;
    HX_PLATFORM::PollSet waitSet;

    // The set-up opens the socket last, after the wake has proved valid.
    bool usable() const { return socket.valid(); }
    bool send(const std::vector<uint8_t>& datagram, uint32_t address) const
    {
        const long sent = HX_PLATFORM::sendDatagram(socket.get(), datagram, {address, HX_NETUTILS::DISCOVERY_PORT});
        return sent == static_cast<long>(datagram.size());
    }
};

void Discovery::config()
{
    network_.reset(new Network);
    try {
        network_->sockets = std::make_unique<HX_PLATFORM::SocketLibrary>();
        if (!network_->sockets->started())
            raiseSystemError(__FILE__, __LINE__, "Could not initialize WinSockets", network_->sockets->error());
        if (!postWake()->valid())
            raiseSystemError(__FILE__, __LINE__, "Could not create signal event", postWake()->error());
        network_->socket = HX_PLATFORM::openSocket(HX_PLATFORM::SocketType::Datagram);
        if (!network_->socket.valid())
            raiseSystemError(__FILE__, __LINE__, "Could not create socket", HX_PLATFORM::lastSocketError());
        if (!HX_PLATFORM::allowBroadcast(network_->socket.get()))
            raiseSystemError(__FILE__, __LINE__, "Could not set SO_BROADCAST", HX_PLATFORM::lastSocketError());
        // Not bound: the system picks the local port at the first send and replies come back to it.
        network_->waitSet.add(*postWake());
        network_->waitSet.add(network_->socket.get());
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: %s", "Discovery::config", error.str().c_str());
        network_.reset(new Network);
    }
}

void Discovery::cleanup()
{
    network_.reset();
}

void Discovery::NetworkDeleter::operator()(Network* network) const
{
    delete network;
}

void Discovery::processLoop()
{
    if (!network_->usable()) {
        // Without a socket there is only the queue to serve: block on it.
        if (HLV_THREAD::Message* message = waitForMessage(0))
            dispatchGuarded(message);
        else
            finished_ = true;
        return;
    }
    try {
        if (network_->waitSet.wait(std::nullopt) == HX_PLATFORM::PollStatus::Failed)
            raiseSystemError(__FILE__, __LINE__, "Could not wait for the discovery events", network_->waitSet.error());
        if (network_->waitSet.events(0).readable) {
            postWake()->reset(); // before draining, so a post during the drain wakes us again
            drainQueue();
            return;
        }
        const HX_PLATFORM::PollEvents socketEvents = network_->waitSet.events(1);
        if ((socketEvents.readable || socketEvents.closed) && !halted())
            readResponse();
    } catch (const HLV_THREAD::Exception& error) {
        HLV_LOG("%s: Exception during Discovery; terminating: %s", "Discovery::processLoop", error.str().c_str());
    } catch (...) {
        HLV_LOG("%s: Unknown exception caught.", "Discovery::processLoop");
    }
}

void Discovery::readResponse()
{
    if (halted())
        return;
    HLV_DISCOVERY::Reply buffer{};
    for (int taken = 0; taken < MAX_DATAGRAMS_PER_PASS; ++taken) {
        using Kind = HX_PLATFORM::ReceivedDatagram::Kind;
        const HX_PLATFORM::ReceivedDatagram received = HX_PLATFORM::receiveDatagram(network_->socket.get(), buffer);
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
        processDiscoveryAck(buffer, received.source);
    }
}

void Discovery::sendMsg(uint16_t requestId)
{
    if (!network_->usable())
        return;
    const std::vector<uint8_t> request = HX_WIRE::encodeDiscoveryCmd(requestId);
    for (const uint32_t target : HX_NETUTILS::discoveryTargets(HX_NETUTILS::listAdapters())) {
        HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Request %u to %s", "Discovery::sendMsg", requestId,
                  HX_PLATFORM::ipv4ToText(target).c_str());
        if (!network_->send(request, target))
            raiseSystemError(__FILE__, __LINE__, "Could not send discovery command", HX_PLATFORM::lastSocketError());
    }
}

void Discovery::sendUnicast(uint32_t address, uint16_t requestId)
{
    if (!network_->usable())
        return;
    HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Request %u to %s", "Discovery::sendUnicast", requestId,
              HX_PLATFORM::ipv4ToText(address).c_str());
    // One camera out of reach must not cost the others their request: log and go on.
    if (!network_->send(HX_WIRE::encodeDiscoveryCmd(requestId), address))
        HLV_LOG("%s: Could not send discovery command to %s. %s", "Discovery::sendUnicast",
                HX_PLATFORM::ipv4ToText(address).c_str(),
                HX_PLATFORM::errnoIndicates(HX_PLATFORM::lastSocketError()).c_str());
}
