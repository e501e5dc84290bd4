// Tarrow restart watch: the timer that asks the camera, once per heartbeat period, whether it
// still holds what the host set up.
#include "tarrow/tarrow_restart_watch.h"

#include <utility>

#include <hlv_thread/period_scale.h>

#include "tarrow/tarrow_pollers.h"

namespace TARROW_OPERATIONS {

RestartWatch::RestartWatch(std::function<void()> check)
    : Timer(HLV_THREAD::scaledMicroseconds(HeartBeatPoller::PERIOD_MICROSECONDS)), check_(std::move(check))
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

} // namespace TARROW_OPERATIONS
