// A camera's control channel's three sockets: control (commands and acknowledges), events and
// stream, bound to one of the fixed port sets or to ports the system picks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "control/udp_socket.h"

namespace halvex::control {

// Datagrams taken from one socket in one pass; the rest wait for the next pass, so a flooding
// peer can neither starve the message queue nor hold a reading caller for ever.
constexpr int MAX_DATAGRAMS_PER_PASS = 256;

// What one read of a socket brought.
enum class Take { Datagram, Skipped, Stop };

// One datagram from `socket` into `buffer`: Stop when nothing waits or the read failed, Skipped
// (and logged) when it did not fit and was dropped whole.
Take takeDatagram(UdpSocket& socket, const char* socketName, const std::string& cameraName, std::span<uint8_t> buffer,
                  ReceivedDatagram& received);

// Threads: opened and closed by the channel's owner; the control socket is written only under the
// exchange lock, the event socket read only under eventSocketLock().
class ChannelSockets {
public:
    ChannelSockets(uint32_t cameraAddress, const std::string& cameraName);

    // Binds the three sockets; false, logged, when one of them cannot be bound.
    bool open();
    // Tells the network path (and any filter on it) that the camera's events are expected here.
    void sendOpeningDatagram();
    // Sends to the camera's control port; false, logged, when it did not go out whole.
    bool sendToCamera(std::span<const uint8_t> datagram, const char* who, bool singleRead = false);
    // The ports the sockets are bound to; 0 for a socket not (yet) bound.
    ChannelPorts ports() const;
    // Datagrams sent to the camera's control port so far.
    uint64_t activityCount() const;
    UdpSocket* control() const;
    UdpSocket* events() const;
    UdpSocket* stream() const;
    // Held while the event socket is read (by the channel's thread or a caller catching up) and
    // while it closes.
    std::mutex& eventSocketLock();
    void close();

private:
    std::optional<ChannelPorts> bindControlPort();

    const uint32_t cameraAddress_;
    const std::string& cameraName_;
    std::atomic<uint64_t> activity_{0};
    std::unique_ptr<UdpSocket> hcp_;
    std::unique_ptr<UdpSocket> hmp_;
    std::mutex eventSocketLock_;
    std::unique_ptr<UdpSocket> stream_;
};

} // namespace halvex::control
