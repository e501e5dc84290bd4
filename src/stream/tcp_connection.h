// The TCP image receiver's connection to its camera: the local port it binds, connecting and
// re-opening the connection, the camera's stream channel registers, and the non-blocking reads
// the parser takes the stream through.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/unique_fd.h"

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::thread {
class Wake;
}
namespace halvex::platform {
class PollSet;
}

namespace halvex::stream {

class ReceiverLabel;

// The connection binds its local end to `firstPort` (or the next of ten ports, three apart, that
// is free) and connects to the camera's stream port; the camera learns the local port through its
// stream channel port register, written again whenever a connection is re-opened (a camera that
// restarted has forgotten it, and sends nothing until told). A connection the camera closes is
// re-opened at once; while the camera refuses, it is tried again after a delay that doubles up to
// RECONNECT_MAX_MICROSECONDS. While the camera is not present (TcpCameraPresence) nothing is
// tried, and the connection is re-opened once it answers again. Waits include the receiver's
// message wake, so a message ends any of them.
//
// Threads: open() on the thread that starts the receiver, before its thread runs; port() from any
// thread; everything else on the receiver's thread.
class TcpConnection {
public:
    static constexpr unsigned PORT_ATTEMPTS = 10;
    static constexpr uint16_t PORT_STEP = 3;
    // The packet size the camera is asked for: 9000 with do-not-fragment.
    static constexpr uint32_t PACKET_SIZE = 9000;
    // Delays between attempts to re-open a refused connection (scaled with the library's periods).
    static constexpr uint32_t RECONNECT_FIRST_MICROSECONDS = 50000;
    static constexpr uint32_t RECONNECT_MAX_MICROSECONDS = 1000000;

    enum class ReadResult { Data, Nothing, Closed };
    struct Hooks {
        // The local port the connection now uses.
        std::function<void(uint16_t port)> portChosen;
        // The connection was lost: what the parser read of it is void.
        std::function<void()> lost;
    };

    // `label`, `registers` and `wake` (the receiver's message wake) outlive the connection.
    TcpConnection(const ReceiverLabel& label, control::RegisterChannel& registers, thread::Wake& wake,
                  uint16_t firstPort, uint16_t cameraPort, Hooks hooks);
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects from the first free port and tells the camera the port; false (logged) when it
    // could not.
    bool open();
    void close();
    // The local port in use (0 before the first connection).
    uint16_t port() const;

    // A re-opening is scheduled: waitForReopen is what the receiver does next.
    bool reopenScheduled() const;
    // Waits for the next attempt to re-open the connection (or a message), and makes it when due.
    void waitForReopen();
    // A connect is in progress: the stream has nothing to read yet.
    bool connectPending() const;
    // Waits for the socket or a message; true when the stream has something to read (or closed).
    bool waitForStream();
    // Waits on the message wake alone, at most `limit` (no limit without one).
    void waitForWake(std::optional<std::chrono::milliseconds> limit);
    // Takes up to `want` bytes from the connection without blocking.
    ReadResult receive(uint8_t* into, std::size_t want, std::size_t& got);
    // The connection closed underneath the reader, or could not be made: it is re-opened later.
    void lose();

private:
    bool connectFromFreePort(uint16_t firstPort);
    bool connectOnce(uint16_t localPort, int& error);
    void completeConnect();
    bool retrySocket();
    void scheduleReconnect(bool refused);
    void tellCameraPort();

    const ReceiverLabel& label_;
    control::RegisterChannel& registers_;
    thread::Wake& wake_;
    const uint16_t firstPort_;
    const uint16_t cameraPort_;
    const Hooks hooks_;
    std::atomic<uint16_t> port_{0};
    platform::UniqueFd socket_;
    // The message wake and the socket, in that order.
    std::unique_ptr<platform::PollSet> pollSet_;
    // The message wake alone: what an image without a buffer, or a delayed re-opening, waits on.
    std::unique_ptr<platform::PollSet> wakeOnly_;
    bool connectPending_ = false;
    bool reconnecting_ = false;
    // When the connection is to be re-opened next, and the delay after that; none while connected.
    std::optional<std::chrono::steady_clock::time_point> reconnectAt_;
    std::chrono::microseconds reconnectDelay_{0};
    // The connection brought bytes (the first counts as good): a camera that accepts and closes
    // at once is retried with delays, as one that refuses.
    bool connectionDelivered_ = true;
    // The camera's refusals were logged; the next bytes say that the connection is back.
    bool outageReported_ = false;
    // This outage's refusals have been reported as the camera's loss (TcpCameraPresence).
    bool lossReported_ = false;
    // The camera's absence has been logged (until it is present again).
    bool awayReported_ = false;
};

} // namespace halvex::stream
