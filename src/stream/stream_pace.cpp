// A download's pace as its datagrams arrive: tells a stream whose end was lost (its last packets,
// trailer or leader) from one that is only slow, long before the download watchdog's stall.
#include "stream/stream_pace.h"

#include <algorithm>
#include <utility>

namespace halvex::stream {

void StreamPace::restart()
{
    *this = StreamPace();
}

void StreamPace::hold()
{
    last_.reset();
}

void StreamPace::resumed(Clock::time_point now)
{
    if (!gapSeen_)
        return;
    last_ = now;
    skipGap_ = true;
}

void StreamPace::arrived(Clock::time_point now, bool frameStart)
{
    if (std::exchange(skipGap_, false)) {
        last_ = now;
        return;
    }
    if (last_ && now >= *last_) {
        longest_ = std::max(longest_, now - *last_);
        gapSeen_ = true;
        frameGapSeen_ = frameGapSeen_ || frameStart;
    }
    last_ = now;
}

std::optional<StreamPace::Clock::time_point> StreamPace::silentAt(bool inFrame) const
{
    if (!last_ || !gapSeen_ || (!inFrame && !frameGapSeen_))
        return std::nullopt;
    return *last_ + std::max<Clock::duration>(FLOOR, longest_ * FACTOR);
}

std::optional<std::chrono::milliseconds> StreamPace::untilSilent(bool inFrame, Clock::time_point now) const
{
    const std::optional<Clock::time_point> at = silentAt(inFrame);
    if (!at)
        return std::nullopt;
    return std::chrono::ceil<std::chrono::milliseconds>(std::max(*at - now, Clock::duration::zero()));
}

} // namespace halvex::stream
