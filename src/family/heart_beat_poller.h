// Heart beat poller: keeps a camera's control channel busy enough for its heartbeat.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "control/register_channel.h"
#include "hlv_thread/timer.h"

namespace halvex::family::pollers {

// Watches the control channel's traffic count once per period. A period without any traffic
// makes it post a state query (an HX_COMMAND without "Set") to the camera's service thread, whose
// reading of the camera state is traffic the camera's heartbeat counts. The query is posted, never
// waited for, so whoever stops this poller may be the thread that answers it. It looks the
// service up each time and never creates one, so it cannot bring back a released camera.
//
// The channel belongs to the poller's owner, which outlives it.
// Threads: start/stop/pause from any thread; tick() on the camera's service thread, between its
// messages.
class HeartBeatPoller : public thread::Timer {
public:
    static constexpr uint32_t PERIOD_MICROSECONDS = 2500000;

    HeartBeatPoller(uint32_t cameraAddress, control::RegisterChannel& channel);
    ~HeartBeatPoller() override;

    void tick() override;

private:
    void postStateQuery();

    const uint32_t cameraAddress_;
    control::RegisterChannel& channel_;
    uint64_t lastActivity_ = 0;
};

} // namespace halvex::family::pollers
