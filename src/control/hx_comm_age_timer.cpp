// The ticker that ages a control channel's pending requests, so an unanswered one fails in time.
#include "control/hx_comm_age_timer.h"

#include "control/hx_comm.h"
#include "hlv_thread/period_scale.h"

namespace HX_COMM {

MessageAgeTimer::MessageAgeTimer(HxComm& channel)
    : Ticker(HLV_THREAD::scaledMicroseconds(HxComm::AGE_TICK_MICROSECONDS)), channel_(channel)
{
}

MessageAgeTimer::~MessageAgeTimer()
{
    stopAndJoin();
}

void MessageAgeTimer::tick()
{
    auto* tick = new AgeOutTick;
    tick->owner = &channel_;
    channel_.post(tick);
}

} // namespace HX_COMM
