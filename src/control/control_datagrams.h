// What arrives on a camera's control socket: acknowledges for the pending requests, a discovery
// reply, strays from elsewhere.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace halvex::control {

class ChannelSockets;
class RequestExchange;
class RequestMessage;

// Threads: the caller holding the reading role, or the channel's thread on a tick while nobody
// reads.
class ControlDatagrams {
public:
    ControlDatagrams(uint32_t cameraAddress, const std::string& cameraName, ChannelSockets& sockets,
                     RequestExchange& exchange);

    // Reads the datagrams waiting on the control socket and handles each; stops early once
    // `awaited` (when given) has ended.
    void drain(const RequestMessage* awaited);
    // Only the camera's control port may answer; anything else is dropped.
    void handle(std::span<const uint8_t> datagram, uint32_t sourceAddress, uint16_t sourcePort);

private:
    const uint32_t cameraAddress_;
    const std::string& cameraName_;
    ChannelSockets& sockets_;
    RequestExchange& exchange_;
};

} // namespace halvex::control
