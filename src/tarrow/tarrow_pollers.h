// Tarrow pollers: the heartbeat poller that keeps a camera's control channel busy enough for its
// heartbeat, and the progress poller that reads what the camera does not report by events.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/register_channel.h"
#include "hlv_thread/timer.h"

namespace TARROW_OPERATIONS {

// Watches the control channel's traffic count once per period. A period without any traffic
// makes it post a state query (an HX_COMMAND without "Set") to the camera's service thread, whose
// reading of the camera state is traffic the camera's heartbeat counts. The query is posted, never
// waited for, so whoever stops this poller may be the thread that answers it. It looks the
// service up each time and never creates one, so it cannot bring back a released camera.
//
// The channel belongs to the poller's owner, which outlives it.
// Threads: start/stop/pause from any thread; tick() on the camera's service thread, between its
// messages.
class HeartBeatPoller : public HLV_THREAD::Timer {
public:
    static constexpr uint32_t PERIOD_MICROSECONDS = 2500000;

    HeartBeatPoller(uint32_t cameraAddress, RegisterChannel& channel);
    ~HeartBeatPoller() override;

    void tick() override;

private:
    void postStateQuery();

    const uint32_t cameraAddress_;
    RegisterChannel& channel_;
    uint64_t lastActivity_ = 0;
};

// Reads a list of registers once per period while the camera records (or plays back) and posts
// their values, as a notification owned by the camera's service thread, to that thread, which
// handles them like the camera's own event reports. A failed read skips the round.
//
// The channel belongs to the poller's owner, which outlives it.
// Threads: start/setRegisters/setPeriod/stop from any thread; tick() on the camera's service
// thread, between its messages (the read is one the service would otherwise make itself).
class ProgressPoller : public HLV_THREAD::Timer {
public:
    static constexpr uint32_t RECORDING_PERIOD_MICROSECONDS = 500000;
    static constexpr uint32_t PLAYBACK_PERIOD_MICROSECONDS = 100000;

    // `cameraState` is the camera state when the poller was made; it polls only while the camera
    // records, is busy or is in review.
    // `poll` numbers the values it posts (0: none), so that values read before the poller was
    // stopped can be told apart once they arrive.
    ProgressPoller(uint32_t cameraAddress, uint32_t cameraState, RegisterChannel& channel, uint32_t periodMicroseconds,
                   uint64_t poll = 0);
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
    RegisterChannel& channel_;
    mutable std::mutex registersLock_;
    std::vector<uint32_t> registers_;
};

// Starts, re-times and stops one camera's heartbeat and progress pollers. It knows nothing of
// its owner: what it decides on comes in as arguments, and the pollers run on, and post what
// they find to, the camera's service thread; without one they do not run.
//
// The channel belongs to the owner, which outlives this object.
// Threads: any; the pollers are stopped outside the lock, as their last tick may still run.
class PollerControl {
public:
    // The camera's heartbeat time-out while the heartbeat poller keeps it: four quiet periods.
    static constexpr uint32_t HEARTBEAT_TIMEOUT_MS = 10000;

    PollerControl(uint32_t cameraAddress, RegisterChannel& channel);
    ~PollerControl();
    PollerControl(const PollerControl&) = delete;
    PollerControl& operator=(const PollerControl&) = delete;

    // Starts the heartbeat poller (setting the camera's heartbeat time-out first), or resumes a
    // paused one.
    void startHeartBeat();
    void stopHeartBeat();
    bool heartBeatRunning() const;
    // Sets the camera's heartbeat time-out again while the heartbeat poller runs (a camera that
    // restarted went back to its default).
    void restoreHeartBeatTimeout();
    // Runs, re-times or stops the progress poller for the camera state and play mode (HX_PLAY_*).
    // True when it stopped a poller that ran before the camera reached review: the recording's
    // final progress is then due.
    bool checkProgress(uint32_t cameraState, uint32_t playMode);
    // The progress poller's period in microseconds, 0 when none runs.
    uint32_t progressPeriod() const;
    // Whether values numbered `poll` come from the progress poller that runs now. A tick may read
    // just before its poller is stopped (the camera reaching review) and post after the final
    // progress: such values are out of date.
    bool currentPoll(uint64_t poll) const;

private:
    const uint32_t cameraAddress_;
    const std::string name_;
    RegisterChannel& channel_;
    mutable std::mutex lock_;
    std::unique_ptr<HeartBeatPoller> heartBeat_;
    std::unique_ptr<ProgressPoller> progress_;
    uint64_t polls_ = 0; // progress pollers made
};

} // namespace TARROW_OPERATIONS
