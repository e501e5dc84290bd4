// Tarrow pollers: the heartbeat poller that keeps a camera's control channel busy enough for its
// heartbeat, and the progress poller that reads what the camera does not report by events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "hlv_thread/ticker.h"
#include "control/register_channel.h"

namespace TARROW_OPERATIONS {

// Watches the control channel's traffic count once per period. A period without any traffic
// makes it post a state query (an HX_COMMAND without "Set") to the camera's service thread, whose
// reading of the camera state is traffic the camera's heartbeat counts. The query is posted, never
// waited for, so whoever stops this poller may be the thread that answers it. It looks the
// service up each time and never creates one, so it cannot bring back a released camera.
//
// The channel belongs to the poller's owner, which outlives it.
// Threads: start/stop/pause from any thread; tick() on the poller's own thread.
class HeartBeatPoller : public HLV_THREAD::Ticker {
public:
    static constexpr uint32_t PERIOD_MICROSECONDS = 2500000;

    HeartBeatPoller(uint32_t cameraAddress, RegisterChannel& channel);
    ~HeartBeatPoller() override;

    void tick() override;
    // State queries posted so far.
    uint64_t queriesPosted() const { return queries_; }

    // While set, every tick also takes the camera's control privilege (again): a camera that
    // restarted, or dropped the privilege while it could not hear the host, is taken back, and
    // one held by another host is reported once.
    void setKeepControl(bool keep);
    bool keepsControl() const { return keepControl_; }

private:
    void postStateQuery();
    void takeControl(const std::string& name);

    const uint32_t cameraAddress_;
    RegisterChannel& channel_;
    uint64_t lastActivity_ = 0;
    std::atomic<uint64_t> queries_{0};
    std::atomic<bool> keepControl_{false};
    // The result of the last take (0: held), so that only changes are logged.
    uint32_t controlResult_ = 0;
};

// Reads a list of registers once per period while the camera records (or plays back) and posts
// their values, as a notification owned by the camera's service thread, to that thread, which
// handles them like the camera's own event reports. A failed read skips the round.
//
// The channel belongs to the poller's owner, which outlives it.
// Threads: start/setRegisters/setPeriod/stop from any thread; tick() on the poller's own thread.
class ProgressPoller : public HLV_THREAD::Ticker {
public:
    static constexpr uint32_t RECORDING_PERIOD_MICROSECONDS = 500000;
    static constexpr uint32_t PLAYBACK_PERIOD_MICROSECONDS = 100000;
    // How long start() waits for the thread to come up.
    static constexpr uint32_t START_WAIT_MILLISECONDS = 100;

    // `cameraState` is the camera state when the poller was made; it polls only while the camera
    // records, is busy or is in review.
    ProgressPoller(uint32_t cameraAddress, uint32_t cameraState, RegisterChannel& channel,
                   uint32_t periodMicroseconds);
    ~ProgressPoller() override;

    // Starts the thread and waits (at most START_WAIT_MILLISECONDS) until it runs.
    void start(Body body = {}) override;
    void run() override;
    void tick() override;

    void setRegisters(std::vector<uint32_t> registers);
    std::vector<uint32_t> registers() const;
    uint32_t cameraState() const { return cameraState_; }
    bool started() const { return started_; }
    // Notifications posted so far.
    uint64_t notificationsPosted() const { return posted_; }

private:
    const uint32_t cameraAddress_;
    const uint32_t cameraState_;
    RegisterChannel& channel_;
    mutable std::mutex registersLock_;
    std::vector<uint32_t> registers_;
    std::mutex upLock_;
    std::condition_variable upSignal_;
    bool up_ = false;
    std::atomic<bool> started_{false};
    std::atomic<uint64_t> posted_{0};
};

} // namespace TARROW_OPERATIONS
