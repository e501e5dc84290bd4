// Progress poller: reads what the camera does not report by events while it records or plays.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "control/register_channel.h"
#include "hlv_thread/timer.h"

namespace halvex::family::pollers {

// Reads a list of registers once per period while the camera records (or plays back) and posts
// their values, as a notification owned by the camera's service thread, to that thread, which
// handles them like the camera's own event reports. A failed read skips the round.
//
// The channel belongs to the poller's owner, which outlives it.
// Threads: start/setRegisters/setPeriod/stop from any thread; tick() on the camera's service
// thread, between its messages (the read is one the service would otherwise make itself).
class ProgressPoller : public thread::Timer {
public:
    static constexpr uint32_t RECORDING_PERIOD_MICROSECONDS = 500000;
    static constexpr uint32_t PLAYBACK_PERIOD_MICROSECONDS = 100000;

    // `cameraState` is the camera state when the poller was made; it polls only while the camera
    // records, is busy or is in review.
    // `poll` numbers the values it posts (0: none), so that values read before the poller was
    // stopped can be told apart once they arrive.
    ProgressPoller(uint32_t cameraAddress, uint32_t cameraState, control::RegisterChannel& channel,
                   uint32_t periodMicroseconds, uint64_t poll = 0);
    ~ProgressPoller() override;

    void tick() override;

    void setRegisters(std::vector<uint32_t> registers);
    std::vector<uint32_t> registers() const;
    uint32_t cameraState() const { return cameraState_; }
    uint64_t poll() const { return poll_; }

private:
    const uint32_t cameraAddress_;
    const uint32_t cameraState_;
    const uint64_t poll_;
    control::RegisterChannel& channel_;
    mutable std::mutex registersLock_;
    std::vector<uint32_t> registers_;
};

} // namespace halvex::family::pollers
