// Camera time: how long the stand-in camera has been powered, in its own (possibly scaled) clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace hxsim {

// Nanoseconds of camera time since power-on. Everything the camera decides by time (frames
// recorded, heartbeat expiry, busy periods, playback position, fault delays) runs on this clock,
// which the network side derives from steady_clock times the configured time scale.
using SimTime = std::chrono::nanoseconds;

inline constexpr SimTime kNever = SimTime::max();

// Whole frames that fit into `elapsed` at `framesPerSecond`, without overflow for any elapsed
// time a camera can reach.
inline uint64_t framesIn(SimTime elapsed, uint32_t framesPerSecond)
{
    if (elapsed.count() <= 0) {
        return 0;
    }
    constexpr uint64_t kNanosPerSecond = 1'000'000'000;
    const auto nanos = static_cast<uint64_t>(elapsed.count());
    return nanos / kNanosPerSecond * framesPerSecond + nanos % kNanosPerSecond * framesPerSecond / kNanosPerSecond;
}

// The camera time span that `frames` frames take at `framesPerSecond` (rounded up, so that
// framesIn(framesDuration(n)) == n).
inline SimTime framesDuration(uint64_t frames, uint32_t framesPerSecond)
{
    if (framesPerSecond == 0) {
        return kNever;
    }
    constexpr uint64_t kNanosPerSecond = 1'000'000'000;
    const uint64_t whole = frames / framesPerSecond;
    const uint64_t part = frames % framesPerSecond;
    const uint64_t nanos = whole * kNanosPerSecond + (part * kNanosPerSecond + framesPerSecond - 1) / framesPerSecond;
    return SimTime(static_cast<SimTime::rep>(nanos));
}

inline SimTime milliseconds(uint64_t ms)
{
    return std::chrono::duration_cast<SimTime>(std::chrono::milliseconds(ms));
}

} // namespace hxsim
