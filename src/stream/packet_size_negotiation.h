// Packet-size negotiation for a UDP stream: trials of a jumbo and then a standard packet, each
// asking the camera for a test packet and bounded by its own time limit; the size that arrived is
// kept for the streams and told to the host.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "registers/register_map.h"

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::stream {

// Runs on the receiver's thread; negotiatedSize() from any thread. The camera's registers are
// reached through the channel it is given; what belongs to the receiver (its port, its parser
// state, posting a trial's time-out to itself) through the hooks.
class PacketSizeNegotiation {
public:
    static constexpr uint32_t JUMBO_PACKET = registers::JUMBO_PACKET_SIZE;
    static constexpr uint32_t STANDARD_PACKET = registers::STANDARD_PACKET_SIZE;
    // Markers of the size under trial before and between the two trials.
    static constexpr uint32_t NOT_NEGOTIATED = 0xFFFFFFFF;
    static constexpr uint32_t BETWEEN_TRIALS = 0xFFFFFFFE;
    static constexpr uint32_t NEGOTIATION_PACKET_DELAY = 100;
    static constexpr uint32_t TRIAL_MICROSECONDS = 1000000;
    // Trials of one size before the next: a lost test packet (or trial write) is no proof that
    // the network cannot carry the size.
    static constexpr uint32_t TRIALS_PER_SIZE = 2;

    struct Hooks {
        // The receiver's local port, where the camera is to send the test packet.
        std::function<uint16_t()> localPort;
        // A trial asks for a test packet: the parser starts its count afresh.
        std::function<void()> trialStarts;
        // The negotiation ended: the parser takes up the state it was asked for meanwhile.
        std::function<void()> ended;
        // A trial of `packetSize` bytes is out of time: its time-out goes to the receiver's queue.
        std::function<void(uint32_t packetSize)> postTimeout;
    };

    // `where` names the receiver in log lines and outlives the negotiation.
    PacketSizeNegotiation(control::RegisterChannel& registers, uint32_t cameraAddress, const std::string& where,
                          Hooks hooks);

    // Starts again from the first trial.
    void begin();
    // The time-out of a trial of `packetSize` bytes arrived; `testing` while the receiver still
    // waits for a test packet.
    void timedOut(uint32_t packetSize, bool testing);
    // A datagram of `size` bytes arrived while the receiver waits for a test packet.
    void testPacket(std::size_t size);
    // The size settled on (also after a failure: the standard size); 0 while not finished.
    uint32_t negotiatedSize() const;
    // The wait's limit: until the running trial's end, none without a trial.
    std::optional<std::chrono::milliseconds> untilTrialEnds() const;
    // A trial whose time is up posts its time-out, as a timer would.
    void endTrialWhenDue();
    // No trial runs any more.
    void stop();

private:
    void handle(std::optional<uint32_t> timedOutSize, bool testing);
    void nextTrial();
    void startTrial(uint32_t length);
    bool writePacketSize(uint32_t value);
    void finish(bool success);

    control::RegisterChannel& registers_;
    const uint32_t cameraAddress_;
    const std::string& where_;
    const Hooks hooks_;
    std::atomic<uint32_t> packetLength_{NOT_NEGOTIATED};
    std::atomic<bool> negotiated_{false};
    // The running trial's time limit and the packet size it tries.
    std::optional<std::chrono::steady_clock::time_point> trialEnds_;
    uint32_t trialPacketSize_ = 0;
    uint32_t trialsOfSize_ = 0;
};

} // namespace halvex::stream
