// What arrives on a camera's control socket. Acknowledges complete their pending requests (on
// whichever thread read them); a discovery reply goes to discovery.
#include "control/control_datagrams.h"

#include <array>

#include "control/channel_sockets.h"
#include "control/hx_notification.h"
#include "control/request_exchange.h"
#include "hlv_thread/log.h"
#include "platform/ipv4_endpoint.h"

namespace halvex::control {

namespace code = wire::control_code;

ControlDatagrams::ControlDatagrams(uint32_t cameraAddress, const std::string& cameraName, ChannelSockets& sockets,
                                   RequestExchange& exchange)
    : cameraAddress_(cameraAddress), cameraName_(cameraName), sockets_(sockets), exchange_(exchange)
{
}

// A caller reading for its own request stops as soon as that request has ended, so its answer
// costs it no further reads; whatever is left goes to the next reader or the channel's next tick.
void ControlDatagrams::drain(const RequestMessage* awaited)
{
    std::array<uint8_t, wire::kMaxControlDatagram> buffer{};
    for (int taken = 0; taken < MAX_DATAGRAMS_PER_PASS; ++taken) {
        ReceivedDatagram received;
        const Take take = takeDatagram(*sockets_.control(), "HCP", cameraName_, buffer, received);
        if (take == Take::Stop)
            return;
        if (take == Take::Skipped)
            continue;
        handle(std::span<const uint8_t>(buffer.data(), received.length), received.source.address, received.source.port);
        if (awaited != nullptr && exchange_.isCompleted(*awaited))
            return;
    }
}

void ControlDatagrams::handle(std::span<const uint8_t> datagram, uint32_t sourceAddress, uint16_t sourcePort)
{
    const char* who = "HxComm::handleHcpMsg";
    if (sourceAddress != cameraAddress_ || sourcePort != wire::kControlPort) {
        HLV_LOG("%s(%s): Dropped a datagram from %s:%u, not the camera's control port", who, cameraName_.c_str(),
                platform::ipv4ToText(sourceAddress).c_str(), sourcePort);
        return;
    }
    if (datagram.size() < wire::kControlHeaderSize) {
        HLV_LOG("%s(%s): Dropped a short datagram of %zu bytes", who, cameraName_.c_str(), datagram.size());
        return;
    }
    const uint16_t answer = rawAckHeader(datagram).answer;
    switch (answer) {
    case code::kDiscoveryAck: deliverDiscoveryReply(cameraAddress_, datagram); break;
    case code::kResultlessAck:
    case code::kReadRegAck:
    case code::kWriteRegAck:
    case code::kReadMemAck:
    case code::kWriteMemAck: exchange_.processAck(datagram); break;
    default: HLV_LOG("%s: Unexpected receive command: 0x%X", who, answer); break;
    }
}

} // namespace halvex::control
