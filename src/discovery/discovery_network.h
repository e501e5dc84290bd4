// The Discovery thread's network side: its broadcast socket, the wait on that socket and on the
// thread's message queue together (the queue's wake stands for the queue), and request ids.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/ipv4_endpoint.h"

namespace halvex::thread {
class Wake;
} // namespace halvex::thread

namespace halvex::discovery {

// Threads: the Discovery thread only (set up by its constructor).
class DiscoveryNetwork {
public:
    // What one wait found ready.
    struct Ready {
        bool queue = false;
        bool socket = false;
    };
    using ReplySink = std::function<void(std::span<const uint8_t> datagram, const platform::Ipv4Endpoint& source)>;

    DiscoveryNetwork();
    ~DiscoveryNetwork();

    // Opens the socket and the wait set beside `queueWake`; a failed set-up is logged and leaves
    // the network unusable, so the thread serves its queue alone and sends nothing.
    void open(const thread::Wake& queueWake);
    bool usable() const;
    // Waits for the queue or the socket without a time limit; raises a system error when the
    // wait fails.
    Ready wait();
    // Hands every full-size datagram waiting on the socket to `sink` (at most one pass's share).
    void readReplies(const ReplySink& sink);
    // One request to every adapter's broadcast address; raises a system error when one fails.
    void broadcast(uint16_t requestId);
    // One request to a single camera; a failure is logged and the others go on.
    void sendUnicast(uint32_t address, uint16_t requestId);
    // Request ids run from 1 to 65535 and wrap past 0.
    uint16_t takeRequestId();

private:
    struct Sockets;
    std::unique_ptr<Sockets> sockets_;
    uint16_t requestId_ = 1;
};

} // namespace halvex::discovery
