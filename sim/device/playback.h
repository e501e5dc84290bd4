// In-camera playback of the recording in review: forward, reverse, and showing one frame.
#pragma once

#include <cstdint>

#include "sim/device/sim_time.h"

namespace hxsim {

struct PlaybackRequest {
    uint32_t current = 0; // frame to start from
    uint32_t first = 0;
    uint32_t last = 0;
    uint32_t interval = 1; // frames advanced per step
    bool reverse = false;
    uint32_t framesPerSecond = 25;
};

// Playback runs over [first, last] of a recording and wraps around at either end. Its position
// is a function of time, so nothing needs to tick while it plays.
class Playback {
public:
    static constexpr uint32_t kDefaultRate = 25;

    // Starts playing; the range and start frame are clamped into a recording of `length` frames.
    void play(const PlaybackRequest& request, uint32_t length, SimTime now);
    // Shows one frame (clamped to the recording) and stops.
    void show(uint32_t frame, uint32_t length);
    // Stops where the playback is at `now`.
    void stop(SimTime now);

    bool playing() const { return playing_; }
    bool reverse() const { return reverse_; }
    bool single() const { return single_; }
    uint32_t last() const { return last_; }
    uint32_t position(SimTime now) const;
    // The playback control word: bit 0 playing, bit 1 reverse, bits 16-27 the interval.
    uint32_t controlWord() const;

private:
    bool playing_ = false;
    bool single_ = false;
    bool reverse_ = false;
    uint32_t first_ = 0;
    uint32_t last_ = 0;
    uint32_t start_ = 0;
    uint32_t interval_ = 1;
    uint32_t rate_ = kDefaultRate;
    SimTime startedAt_{0};
    uint32_t stoppedAt_ = 0;
};

} // namespace hxsim
