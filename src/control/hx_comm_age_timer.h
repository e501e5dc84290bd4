// The ticker that ages a control channel's pending requests, so an unanswered one fails in time.
#pragma once

#include "hlv_thread/ticker.h"

class HxComm;

namespace HX_COMM {

// Posts an age-out tick to its channel every period (100 ms, scaled by the test hook). It holds
// no reference of its own: the channel stops and joins it before the channel goes, and a tick
// posted to a channel that has halted is refused and deleted there.
class MessageAgeTimer : public HLV_THREAD::Ticker {
public:
    explicit MessageAgeTimer(HxComm& channel);
    ~MessageAgeTimer() override;

    void tick() override;

private:
    HxComm& channel_;
};

} // namespace HX_COMM
