// A download's pace: silence is judged against the longest gap seen in the pass, never before a
// gap is known, between frames only once a gap before a frame is known, and never across a pause.
#include <gtest/gtest.h>

#include "stream/stream_pace.h"

using namespace halvex::stream;

namespace {

using namespace std::chrono_literals;
using Clock = StreamPace::Clock;

const Clock::time_point t0 = Clock::time_point() + 1h;

TEST(StreamPace, NothingIsJudgedBeforeAGapOfThePassIsKnown)
{
    StreamPace pace;
    EXPECT_FALSE(pace.silentAt(true));
    // A camera slow to send its first frame after the start: its leader alone sets no pace.
    pace.arrived(t0 + 3s, true);
    EXPECT_FALSE(pace.silentAt(true));
    pace.arrived(t0 + 3s + 10us, false);
    ASSERT_TRUE(pace.silentAt(true));
    EXPECT_EQ(*pace.silentAt(true), t0 + 3s + 10us + StreamPace::FLOOR);
    // Between frames only once the gap before a frame is known.
    EXPECT_FALSE(pace.silentAt(false));
    pace.restart();
    EXPECT_FALSE(pace.silentAt(true));
}

TEST(StreamPace, ASlowSteadyStreamIsJudgedByItsOwnPace)
{
    StreamPace pace;
    Clock::time_point now = t0;
    // Packets 150 ms apart, frames of three packets with 400 ms between them: each next datagram
    // comes before the silence judged after the one before it.
    int judged = 0;
    for (int frame = 0; frame < 3; ++frame) {
        for (int packet = 0; packet < 3; ++packet) {
            pace.arrived(now, packet == 0);
            const bool frameEnds = packet == 2;
            const Clock::time_point next = now + (frameEnds ? 400ms : 150ms);
            if (const std::optional<Clock::time_point> at = pace.silentAt(!frameEnds)) {
                ++judged;
                EXPECT_GT(*at, next) << "frame " << frame << " packet " << packet;
            }
            now = next;
        }
    }
    EXPECT_GE(judged, 6);
    const Clock::time_point last = now - 400ms;
    ASSERT_TRUE(pace.silentAt(false));
    EXPECT_EQ(*pace.silentAt(false), last + StreamPace::FACTOR * 400ms);
}

// A camera resumed after the throttle held it is judged from the resume: it may have sent its last
// datagram before the pause, and then nothing more comes.
TEST(StreamPace, APauseIsNoGapAndSilenceCountsFromTheResume)
{
    StreamPace pace;
    pace.arrived(t0, true);
    pace.arrived(t0 + 1ms, false);
    pace.arrived(t0 + 2ms, true);
    ASSERT_TRUE(pace.silentAt(false));
    pace.hold();
    EXPECT_FALSE(pace.silentAt(false)) << "a paused camera was judged";
    EXPECT_FALSE(pace.silentAt(true));
    pace.resumed(t0 + 30s);
    ASSERT_TRUE(pace.silentAt(false));
    EXPECT_EQ(*pace.silentAt(false), t0 + 30s + StreamPace::FLOOR);
    // The camera's answer to the resume is not its pace, and neither is the pause.
    pace.arrived(t0 + 30s + 90ms, false);
    pace.arrived(t0 + 30s + 91ms, false);
    EXPECT_EQ(pace.longestGap(), 1ms);
    // Resumed before any pace was known, nothing is judged yet.
    StreamPace fresh;
    fresh.arrived(t0, true);
    fresh.hold();
    fresh.resumed(t0 + 1s);
    EXPECT_FALSE(fresh.silentAt(true));
}

} // namespace
