// Restart watch: the timer that asks the camera, once per heartbeat period, whether it
// still holds what the host set up.
#include "family/restart_watch.h"

#include <utility>

#include <hlv_thread/period_scale.h>

#include "family/heart_beat_poller.h"

namespace halvex::family::pollers {

RestartWatch::RestartWatch(std::function<void()> check)
    : Timer(thread::scaledMicroseconds(HeartBeatPoller::PERIOD_MICROSECONDS)), check_(std::move(check))
{
}

RestartWatch::~RestartWatch()
{
    stop();
}

void RestartWatch::tick()
{
    check_();
}

} // namespace halvex::family::pollers
