// When a late control request goes out again, learnt from the round trips of answered ones.
#include "control/resend_schedule.h"

#include <algorithm>
#include <cstdint>

namespace halvex::control {

ResendSchedule::ResendSchedule(std::chrono::microseconds tickPeriod) : tickPeriod_(tickPeriod) {}

// Four smoothed round trips, at least MIN_INTERVAL; one age-out tick before any answer has been
// timed.
std::chrono::microseconds ResendSchedule::firstInterval() const
{
    const std::chrono::microseconds guess =
        smoothedRoundTrip_ ? *smoothedRoundTrip_ * RTT_FACTOR : std::chrono::microseconds(tickPeriod_);
    return std::clamp<std::chrono::microseconds>(guess, MIN_INTERVAL, longestInterval());
}

// Ten age-out ticks (1 s): a request still gets several sendings within its age-out.
std::chrono::microseconds ResendSchedule::longestInterval() const
{
    return std::max<std::chrono::microseconds>(tickPeriod_ * 10, MIN_INTERVAL);
}

// Only a request answered at its first sending times the round trip: the answer to a repeat may
// be the first sending's, late.
void ResendSchedule::noteAnswer(uint32_t sends, std::chrono::steady_clock::time_point sentAt)
{
    if (sends != 1)
        return;
    const auto sample =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - sentAt);
    smoothedRoundTrip_ = smoothedRoundTrip_ ? *smoothedRoundTrip_ + (sample - *smoothedRoundTrip_) / 8 : sample;
}

} // namespace halvex::control
