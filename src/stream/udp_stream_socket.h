// The UDP receiver's hold on the camera's stream socket: the socket, the control channel that
// lends it, and what the receiver's thread waits on (its wake and the socket).
#pragma once

#include <cstdint>
#include <memory>

namespace halvex::control {
class HxComm;
class UdpSocket;
} // namespace halvex::control

namespace halvex::platform {
class PollSet;
} // namespace halvex::platform

namespace halvex::thread {
class Wake;
} // namespace halvex::thread

namespace halvex::stream {

// The channel is kept alive while its socket is read. A camera given up and found again has a new
// channel with a stream socket of its own: the receiver takes that up, and the old channel goes,
// with its sockets and wake.
//
// Threads: construction and destruction on the receiver's owner; the rest on the receiver's thread
// (or before it starts).
class UdpStreamSocket {
public:
    explicit UdpStreamSocket(std::shared_ptr<control::HxComm> channel);
    ~UdpStreamSocket();
    UdpStreamSocket(const UdpStreamSocket&) = delete;
    UdpStreamSocket& operator=(const UdpStreamSocket&) = delete;

    // The socket read now; null when the channel had none.
    control::UdpSocket* get() const;
    // The socket's local port; 0 without one.
    uint16_t port() const;
    // From now on the receiver waits on `wake` (index 0 of the wait set) and the socket (index 1).
    void watch(const thread::Wake& wake);
    platform::PollSet& waitSet() const;
    // Reads the stream socket of `channel` from now on, waiting on `wake` with it, and lets the old
    // channel go; false, changing nothing, when the channel has no socket.
    bool takeUp(std::shared_ptr<control::HxComm> channel, const thread::Wake& wake);
    // Ends the waits (at the receiver's end); the channel stays until destruction.
    void stopWatching();

private:
    std::shared_ptr<control::HxComm> channel_;
    control::UdpSocket* socket_;
    std::unique_ptr<platform::PollSet> waitSet_;
};

} // namespace halvex::stream
