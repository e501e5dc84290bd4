// A download's pace as its datagrams arrive: tells a stream whose end was lost (its last packets,
// trailer or leader) from one that is only slow, long before the download watchdog's stall.
#pragma once

#include <chrono>
#include <optional>

namespace halvex::stream {

// The pace of one pass is the longest gap between two of its datagrams; the stream counts as
// silent once nothing has come for FACTOR times that, and never sooner than FLOOR. Nothing is
// judged before the pass has shown a gap, so a camera's slow first frame after a start is not
// taken for silence; and between frames only once a gap before a frame has been seen, so a camera
// that pauses between frames longer than between packets is judged by that pause. A pause of the
// camera (the throttle holding it for the host) is no gap: hold() stops the clock, and resumed()
// starts it again from the resume (a camera that had sent its last datagram before the pause
// sends nothing after it), without taking the wait for the first datagram after it as the pace.
//
// Threads: one owner (the receiver's thread); times are passed in, so tests drive the clock.
class StreamPace {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds FLOOR{100};
    static constexpr int FACTOR = 8;
    // A receiver whose wait for the camera ended this much past its limit was held up itself (a
    // starved thread, a paused virtual machine): it did not see the silence that ran out meanwhile,
    // and counts it again from its wake (resumed()).
    static constexpr std::chrono::milliseconds LATE_WAKE{50};

    // A new pass: nothing known.
    void restart();
    // The camera was paused: nothing is judged until it resumes.
    void hold();
    // The camera was resumed at `now`: silence counts from here, and the next gap is not its pace.
    void resumed(Clock::time_point now);
    // A datagram of the pass arrived; `frameStart` when it is the first of an image (its leader, or
    // what came in its place when the leader was lost).
    void arrived(Clock::time_point now, bool frameStart);
    // When silence would count, with or without an image in progress; none while the pace is
    // unknown or the clock is held.
    std::optional<Clock::time_point> silentAt(bool inFrame) const;
    // How long from `now` until silence counts (0 when it already does); none as for silentAt.
    std::optional<std::chrono::milliseconds> untilSilent(bool inFrame, Clock::time_point now) const;
    Clock::duration longestGap() const { return longest_; }

private:
    std::optional<Clock::time_point> last_;
    Clock::duration longest_{};
    bool gapSeen_ = false;
    bool frameGapSeen_ = false;
    bool skipGap_ = false;
};

} // namespace halvex::stream
