// Restart watch: notices that the camera behind an address restarted while nothing the
// host asked went unanswered, by what the restart made the camera forget.
#pragma once

#include <cstdint>
#include <functional>

#include "hlv_thread/timer.h"

namespace halvex::family::pollers {

// Runs its check once per heartbeat period. A camera killed and started again within a request's
// time-out answers every request as if nothing happened; only the set-up it lost (the message
// channel a subscription wrote, the heartbeat time-out a stream wrote) tells. The check decides
// what to read, and whether to read at all.
//
// Threads: start/stop from any thread; the check runs on the camera's service thread, between its
// messages. The owner stops it before anything the check uses goes.
class RestartWatch : public thread::Timer {
public:
    explicit RestartWatch(std::function<void()> check);
    ~RestartWatch() override;

    void tick() override;

private:
    const std::function<void()> check_;
};

} // namespace halvex::family::pollers
