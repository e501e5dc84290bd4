// The socket a stand-in camera's control traffic uses, and the wait of its thread: the one part of
// a camera that differs between systems (control_port_posix.cpp: BSD sockets and ppoll;
// control_port_windows.cpp: Winsock, waited on with the library's PollSet).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/event_fd.h"
#include "platform/unique_fd.h"
#include "sim/device/endpoint.h"

namespace hxsim {

// A non-blocking UDP socket bound to port 3956 of one address. Owned and used by one camera's
// thread; only construction and destruction happen on another.
class ControlPort {
public:
    // What one receive found.
    struct Received {
        enum class Kind {
            Datagram,  // `size` bytes from `source`, sent to `destination` (0 when not asked for)
            Oversized, // a datagram longer than the buffer was discarded (`size`: its length, when known)
            Drained,   // nothing waits
            Failed,    // `error` says why
        };
        Kind kind = Kind::Drained;
        std::size_t size = 0;
        Endpoint source;
        uint32_t destination = 0;
        int error = 0;
    };

    // Binds `hostOrderAddress`, port 3956, shared with the other cameras of a cluster. With
    // `withDestination` every datagram reports the address it was sent to (for the wildcard
    // address, which hears broadcasts and every camera's unicast alike). Throws
    // std::runtime_error naming the address and the system's reason when it cannot.
    ControlPort(uint32_t hostOrderAddress, bool withDestination);

    Received receive(std::span<uint8_t> buffer);
    // Sends one datagram without waiting; 0, or the system's error code.
    int send(std::span<const uint8_t> datagram, Endpoint to);
    halvex::platform::Descriptor descriptor() const { return socket_.get(); }

private:
    halvex::platform::UniqueFd socket_;
    bool withDestination_ = false;
};

// Waits until `wake` is set or a port has a datagram, or `limit` has passed (no limit when
// nullopt); 0, or the system's error code when the wait failed. `second` may be null.
int waitForDatagrams(const halvex::platform::EventFd& wake, const ControlPort& first, const ControlPort* second,
                     std::optional<std::chrono::nanoseconds> limit);

// Names the calling thread where the system keeps names, so that benchmarks can tell the
// camera's CPU time from the host's.
void nameCameraThread();

} // namespace hxsim
