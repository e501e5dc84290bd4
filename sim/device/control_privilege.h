// Control-channel privilege and the heartbeat that keeps it (and any running stream) alive.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/device/endpoint.h"
#include "sim/device/sim_time.h"

namespace hxsim {

// One host (address and port) may hold the privilege. While it is held, or while a stream
// runs, the camera expects a control datagram from the holder (from anyone when nobody holds
// it) at least once per heartbeat time-out; when none comes, the privilege is dropped and the
// camera stops its streams.
class ControlPrivilege {
public:
    static constexpr uint32_t kRelease = 0;
    static constexpr uint32_t kTake = 2;

    // A write of the privilege register: the camera status to answer with (0 on success, access
    // denied when another host holds it, invalid parameter for values other than 0 and 2).
    uint16_t write(uint32_t value, Endpoint from, SimTime now);
    uint32_t value() const { return holder_ ? kTake : kRelease; }
    const std::optional<Endpoint>& holder() const { return holder_; }

    // A control datagram arrived from `from`.
    void activity(Endpoint from, SimTime now);
    // A stream started: its heartbeat period starts now.
    void streamStarted(SimTime now) { lastBeat_ = now; }

    // When the heartbeat runs out, given whether a stream runs and the time-out register (ms).
    SimTime expiry(bool streaming, uint32_t timeoutMs) const;
    // Drops the privilege; called when the heartbeat ran out.
    void expire() { holder_.reset(); }

private:
    std::optional<Endpoint> holder_;
    SimTime lastBeat_{0};
};

} // namespace hxsim
