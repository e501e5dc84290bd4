// One non-blocking IPv4 UDP socket of a camera's channel, and the channel's port layout.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/socket_calls.h"
#include "platform/socket_library.h"
#include "platform/unique_fd.h"

namespace halvex::control {

// The local ports of one camera's channel: control (HCP) at P, stream at P + 1, events (HMP) at
// P + 2, with P = 5824 + 3k for the first slot k in 0..9 whose control port can be bound. Firewall
// rules are written for these ten; once all ten are taken, further channels take three ports the
// system picks (the camera is told where its events and stream go, so any three will do).
struct ChannelPorts {
    uint16_t hcp = 0;
    uint16_t stream = 0;
    uint16_t hmp = 0;

    static constexpr uint16_t FIRST_HCP_PORT = 5824;
    static constexpr uint16_t PORTS_PER_SLOT = 3;
    static constexpr unsigned SLOTS = 10;

    // Asks the system for a free port.
    static constexpr uint16_t ANY_PORT = 0;

    static constexpr ChannelPorts forSlot(unsigned slot)
    {
        const auto hcpPort = static_cast<uint16_t>(FIRST_HCP_PORT + PORTS_PER_SLOT * slot);
        return {hcpPort, static_cast<uint16_t>(hcpPort + 1), static_cast<uint16_t>(hcpPort + 2)};
    }
    static constexpr ChannelPorts fromSystem() { return {ANY_PORT, ANY_PORT, ANY_PORT}; }
};

// What one receive call found.
using ReceivedDatagram = platform::ReceivedDatagram;

// Errors never leave the object: they are logged and reported by return values, and the last
// socket error stays readable for the caller's own log line. The owning thread starts, receives
// and sends; lastError() and port() may be read from any thread.
class UdpSocket {
public:
    // Receive buffers asked for: control and event sockets hold a few datagrams at a time; a
    // stream socket must absorb bursts of whole images.
    static constexpr int CONTROL_RECEIVE_BUFFER = 4 * 1024 * 1024;
    static constexpr int STREAM_RECEIVE_BUFFER = 128 * 1024 * 1024;

    // Creates the socket (non-blocking, close-on-exec); on failure logs and stays invalid.
    explicit UdpSocket(int receiveBufferBytes = CONTROL_RECEIVE_BUFFER);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds to any local address at `port` and enlarges the receive buffer; true on success.
    bool start(uint16_t port);
    // Takes one datagram into `buffer`; a datagram that does not fit is consumed and reported
    // as Oversized, never cut short.
    ReceivedDatagram receive(std::span<uint8_t> buffer);
    // Sends one datagram to destination (network order):port. Returns the bytes sent, 0 without
    // sending when the destination address is 0, or -1 on error.
    long sendMsg(std::span<const uint8_t> datagram, uint32_t destination, uint16_t destinationPort);
    // Closes the socket; also run by the destructor.
    void quit();

    bool valid() const;
    platform::Descriptor fd() const;
    uint16_t port() const;
    uint32_t lastError() const;
    // The receive buffer the system granted, in bytes (0 before start).
    int receiveBuffer() const;

private:
    void enlargeReceiveBuffer();
    void rememberError(int error);

    const int wantedReceiveBuffer_;
    platform::SocketLibrary sockets_; // outlives the socket
    platform::UniqueFd fd_;
    std::atomic<uint16_t> port_{0};
    std::atomic<uint32_t> lastError_{0};
    int grantedReceiveBuffer_ = 0;
};

} // namespace halvex::control
