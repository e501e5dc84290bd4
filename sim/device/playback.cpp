// In-camera playback position and control word.
#include "sim/device/playback.h"

#include <algorithm>

namespace hxsim {
namespace {

constexpr uint32_t kIntervalMask = 0xFFF;

} // namespace

void Playback::play(const PlaybackRequest& request, uint32_t length, SimTime now)
{
    const uint32_t lastFrame = length == 0 ? 0 : length - 1;
    last_ = std::min(request.last, lastFrame);
    first_ = std::min(request.first, last_);
    start_ = std::clamp(request.current, first_, last_);
    interval_ = std::clamp(request.interval & kIntervalMask, 1u, kIntervalMask);
    reverse_ = request.reverse;
    rate_ = request.framesPerSecond == 0 ? kDefaultRate : request.framesPerSecond;
    startedAt_ = now;
    playing_ = true;
    single_ = false;
}

void Playback::show(uint32_t frame, uint32_t length)
{
    stoppedAt_ = length == 0 ? 0 : std::min(frame, length - 1);
    playing_ = false;
    single_ = true;
}

void Playback::stop(SimTime now)
{
    if (playing_) {
        stoppedAt_ = position(now);
    }
    playing_ = false;
    single_ = false;
}

uint32_t Playback::position(SimTime now) const
{
    if (!playing_) {
        return stoppedAt_;
    }
    const uint64_t span = uint64_t{last_} - first_ + 1;
    const uint64_t steps = framesIn(now - startedAt_, rate_) % span;
    const uint64_t moved = steps * interval_ % span;
    const uint64_t offset = start_ - first_;
    const uint64_t index = reverse_ ? (offset + span - moved) % span : (offset + moved) % span;
    return static_cast<uint32_t>(first_ + index);
}

uint32_t Playback::controlWord() const
{
    uint32_t word = interval_ << 16;
    if (playing_) {
        word |= 1u;
        if (reverse_) {
            word |= 2u;
        }
    }
    return word;
}

} // namespace hxsim
