// Seeded, reproducible faults on what a camera sends: drops, delays, duplicates, reordering,
// corruption, wrong write indexes, refused requests, and a camera that is mute or vanishes.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "sim/device/camera_config.h"
#include "sim/device/camera_core.h"
#include "sim/device/sim_time.h"

namespace hxsim {

// Small, portable generator: the same seed gives the same decisions with any compiler and
// standard library.
class FaultRandom {
public:
    explicit FaultRandom(uint64_t seed) : state_(seed) {}
    uint64_t next();
    double unit(); // in [0, 1)
    bool chance(double probability) { return probability > 0 && unit() < probability; }
    uint64_t below(uint64_t bound) { return bound == 0 ? 0 : next() % bound; }

private:
    uint64_t state_;
};

// Every channel draws from its own generator, seeded from the camera's seed and the channel,
// so the faults on one channel do not depend on the traffic on another: the same seed and the
// same requests give the same run.
class FaultInjector {
public:
    FaultInjector(const FaultConfig& faults, uint64_t seed);

    // True while the camera answers nothing (mute, or vanished at `now`).
    bool silent(SimTime now) const;
    // Goes silent from `at` for `length`, in place of any vanishing configured before.
    void vanish(SimTime at, SimTime length);
    // Whether to refuse this request (a command datagram) with an error status instead of
    // carrying it out.
    std::optional<uint16_t> refusal(std::span<const uint8_t> request);

    // Hands one outgoing datagram to the faults of its channel.
    void submit(Outgoing datagram, SimTime now);
    // The datagrams due by `now`, in the order to send them.
    std::vector<Outgoing> due(SimTime now);
    SimTime nextDue() const;

private:
    struct Pending {
        SimTime due;
        uint64_t order;
        Outgoing datagram;
    };
    struct Channel {
        FaultRandom random;
        std::optional<Outgoing> heldBack; // waiting for the next datagram to overtake it
        SimTime heldSince{0};
    };

    Channel& channel(FaultChannel which) { return channels_[static_cast<std::size_t>(which)]; }
    void schedule(Outgoing datagram, SimTime due);
    void corrupt(Outgoing& datagram, FaultRandom& random) const;
    void releaseHeld(Channel& channel, SimTime due);

    static constexpr SimTime kReorderHold = std::chrono::milliseconds(50);

    FaultConfig faults_;
    std::array<Channel, kFaultChannelCount> channels_;
    FaultRandom requestRandom_;
    std::vector<Pending> pending_;
    uint64_t order_ = 0;
};

} // namespace hxsim
