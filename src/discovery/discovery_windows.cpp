// The Discovery thread on Windows: its broadcast socket, and the wait on that socket and on its
// message queue together (a Winsock event stands for the queue).
#include "platform/win_sockets.h"

#include "discovery/discovery.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "platform/errno_text.h"
#include "platform/event_fd.h"
#include "platform/ipv4_endpoint.h"
#include "platform/netutils.h"
#include "platform/poll_wait.h"
#include "platform/socket_address.h"
#include "platform/socket_library.h"
#include "platform/unique_fd.h"
#include "wire/discovery_packet.h"

namespace {

// Datagrams taken per wake-up at most, so a flood cannot starve the message queue; the rest
// wait for the next pass.
constexpr int MAX_DATAGRAMS_PER_PASS = 1024;

[[noreturn]] void raiseWithErrno(const char* file, int line, const char* what, int err)
{
    HLV_THREAD::RuntimeError error;
    error.add(file, line, "%s", what);
    error.add("%s", HX_PLATFORM::errnoIndicates(err).c_str());
    throw error;
}

// Errors a datagram socket reports for an earlier send (an unreachable camera); they say
// nothing about the socket itself.
bool reportsEarlierSend(int err)
{
    return err == WSAECONNRESET || err == WSAENETRESET || err == WSAEHOSTUNREACH || err == WSAENETUNREACH;
}

} // namespace

// The socket and the queue's wake-up event. Either may be invalid after a failed set-up; the
// thread then serves its queue alone and sends nothing.
struct Discovery::Network {
    std::unique_ptr<HX_PLATFORM::SocketLibrary> sockets;
    HX_PLATFORM::UniqueFd socket;
    std::unique_ptr<HX_PLATFORM::EventFd> signal;
    HX_PLATFORM::PollSet waitSet;

    bool usable() const { return socket.valid() && signal && signal->valid(); }
    bool send(const std::vector<uint8_t>& datagram, uint32_t address) const
    {
        const sockaddr_in target = HX_PLATFORM::toSockaddr({address, HX_NETUTILS::DISCOVERY_PORT});
        const int sent =
            ::sendto(static_cast<SOCKET>(socket.get()), reinterpret_cast<const char*>(datagram.data()),
                     static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        return sent == static_cast<int>(datagram.size());
    }
};

void Discovery::config()
{
    network_.reset(new Network);
    try {
        network_->sockets = std::make_unique<HX_PLATFORM::SocketLibrary>();
        if (!network_->sockets->started())
            raiseWithErrno(__FILE__, __LINE__, "Could not initialize WinSockets", network_->sockets->error());
        network_->signal = std::make_unique<HX_PLATFORM::EventFd>();
        if (!network_->signal->valid())
            raiseWithErrno(__FILE__, __LINE__, "Could not create signal event", network_->signal->error());
        network_->socket.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!network_->socket.valid())
            raiseWithErrno(__FILE__, __LINE__, "Could not create socket", ::WSAGetLastError());
        const BOOL enable = TRUE;
        if (::setsockopt(static_cast<SOCKET>(network_->socket.get()), SOL_SOCKET, SO_BROADCAST,
                         reinterpret_cast<const char*>(&enable), sizeof enable) != 0)
            raiseWithErrno(__FILE__, __LINE__, "Could not set SO_BROADCAST", ::WSAGetLastError());
        // Not bound: the system picks the local port at the first send and replies come back to it.
        network_->waitSet.add(*network_->signal);
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

void Discovery::wake()
{
    if (network_ && network_->signal && !network_->signal->set())
        HLV_LOG("%s: Could not set the signalling event. %s", "Discovery::post",
                HX_PLATFORM::errnoIndicates(network_->signal->error()).c_str());
}

void Discovery::processLoop()
{
    if (!network_->usable()) {
        // Without socket and event there is only the queue to serve: block on it.
        if (HLV_THREAD::Message* message = waitForMessage(0))
            dispatchGuarded(message);
        else
            finished_ = true;
        return;
    }
    try {
        if (network_->waitSet.wait(std::nullopt) == HX_PLATFORM::PollStatus::Failed)
            raiseWithErrno(__FILE__, __LINE__, "Could not wait for the discovery events", network_->waitSet.error());
        if (network_->waitSet.events(0).readable) {
            network_->signal->reset(); // before draining, so a post during the drain wakes us again
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
        sockaddr_in source{};
        int sourceLength = sizeof source;
        // A longer datagram fails with WSAEMSGSIZE (its start is read, the rest discarded): it is
        // recognised and dropped like any datagram of the wrong size.
        int size = ::recvfrom(static_cast<SOCKET>(network_->socket.get()), reinterpret_cast<char*>(buffer.data()),
                              static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr*>(&source), &sourceLength);
        if (size < 0) {
            const int err = ::WSAGetLastError();
            if (err == WSAEWOULDBLOCK)
                return;
            if (reportsEarlierSend(err))
                continue;
            if (err != WSAEMSGSIZE)
                raiseWithErrno(__FILE__, __LINE__, "Could not recvfrom(sock)", err);
            size = static_cast<int>(buffer.size()) + 1;
        }
        if (static_cast<std::size_t>(size) != buffer.size() || source.sin_family != AF_INET) {
            HLV_TRACE(HLV_THREAD::TRACE_DISCOVERY, "%s: Dropped a %d-byte datagram from %s.", "Discovery::readResponse",
                      size, HX_PLATFORM::ipv4ToText(source.sin_addr.s_addr).c_str());
            continue;
        }
        processDiscoveryAck(buffer, HX_PLATFORM::fromSockaddr(source));
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
            raiseWithErrno(__FILE__, __LINE__, "Could not send discovery command", ::WSAGetLastError());
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
                HX_PLATFORM::ipv4ToText(address).c_str(), HX_PLATFORM::errnoIndicates(::WSAGetLastError()).c_str());
}
