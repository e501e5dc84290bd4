// Family pollers: when a camera's heartbeat and progress pollers run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <hlv_thread/log_label.h>

#include "control/register_channel.h"
#include "family/heart_beat_poller.h"
#include "family/progress_poller.h"

namespace halvex::family::pollers {

// Starts, re-times and stops one camera's heartbeat and progress pollers. It knows nothing of
// its owner: what it decides on comes in as arguments, and the pollers run on, and post what
// they find to, the camera's service thread; without one they do not run.
//
// The channel belongs to the owner, which outlives this object.
// Threads: any; the pollers are stopped outside the lock, as their last tick may still run.
class PollerControl {
    HLV_LOG_CLASS(PollerControl);

public:
    // The camera's heartbeat time-out while the heartbeat poller keeps it: four quiet periods.
    static constexpr uint32_t HEARTBEAT_TIMEOUT_MS = 10000;

    PollerControl(uint32_t cameraAddress, control::RegisterChannel& channel);
    ~PollerControl();
    PollerControl(const PollerControl&) = delete;
    PollerControl& operator=(const PollerControl&) = delete;

    // Starts the heartbeat poller (setting the camera's heartbeat time-out first), or resumes a
    // paused one; then tells the owner's observer (see onHeartBeatStarted).
    void startHeartBeat();
    // Called after every startHeartBeat, on the caller's thread. Set once, before the pollers are
    // used from another thread.
    void onHeartBeatStarted(std::function<void()> started);
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
    void startOrResumeHeartBeat();

    const uint32_t cameraAddress_;
    const std::string name_;
    control::RegisterChannel& channel_;
    mutable std::mutex lock_;
    std::unique_ptr<HeartBeatPoller> heartBeat_;
    std::unique_ptr<ProgressPoller> progress_;
    uint64_t polls_ = 0; // progress pollers made
    std::function<void()> heartBeatStarted_;
};

} // namespace halvex::family::pollers
