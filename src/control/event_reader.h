// A camera's event datagrams: taken off the channel's event socket in the camera's order and
// turned into notifications for the camera's service thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace halvex::control {

class ChannelSockets;
class ChannelThread;
class HmpMessage;

// Threads: readPending() on the channel's thread or a caller catching up (serialised by the event
// socket lock); handle() on the channel's thread only.
class EventReader {
public:
    EventReader(uint32_t cameraAddress, const std::string& cameraName, ChannelSockets& sockets, ChannelThread& thread);

    // Posts one message to the channel's thread per datagram waiting on the event socket.
    void readPending();
    // One event datagram becomes one notification for the camera's service thread.
    void handle(HmpMessage* message);

private:
    const uint32_t cameraAddress_;
    const std::string& cameraName_;
    ChannelSockets& sockets_;
    ChannelThread& thread_;
    // The counter of the last event datagram, on the channel's thread only; none before the first.
    std::optional<uint16_t> lastEventId_;
};

} // namespace halvex::control
