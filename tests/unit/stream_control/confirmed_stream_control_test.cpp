// A stream start or stop whose acknowledge does not come: the camera's stream mode, read back,
// decides between done, sent once more, and failed; never success for a camera that is not
// streaming, never a second start for one that is.
#include <gtest/gtest.h>

#include "fake_camera.h"

#include "family/confirmed_stream_control.h"
#include "registers/register_map.h"

using namespace halvex::family;
using namespace halvex::wire;

using namespace halvex::registers;

namespace {

constexpr uint32_t STOPPED = 0;
constexpr uint32_t LIVE = 1;
constexpr uint32_t DOWNLOAD = 3;
constexpr uint32_t PAUSED = 16;
constexpr uint32_t TIMED_OUT = 12;
constexpr uint32_t ACCESS_DENIED = 11;

struct Start {
    std::shared_ptr<hx_test::FakeCamera> camera = hx_test::FakeCamera::lux19hs();

    Start() { camera->set(GIGE_REG_STREAM_CONTROL, STOPPED); }

    uint32_t send(uint32_t mode)
    {
        const RegisterPairs writes{{GIGE_REG_HEARTBEAT_TIMEOUT, 60000}, {GIGE_REG_STREAM_CONTROL, mode}};
        return writeStreamControlConfirmed(*camera, writes, mode, "camera");
    }
    std::size_t starts() const { return camera->multiWrites().size(); }
};

TEST(StreamControlConfirmation, AStartTheCameraTookIsDoneAndNotSentAgain)
{
    Start start;
    start.camera->loseNextWrites(1, true);
    EXPECT_EQ(start.send(LIVE), 0u);
    EXPECT_EQ(start.starts(), 1u);
    EXPECT_EQ(start.camera->get(GIGE_REG_STREAM_CONTROL), LIVE);

    // The receiver's throttle may have paused the download before the mode was read back.
    Start throttled;
    throttled.camera->setWriteRule([](uint32_t reg, uint32_t value) {
        return reg == GIGE_REG_STREAM_CONTROL && value == DOWNLOAD ? PAUSED : value;
    });
    throttled.camera->loseNextWrites(1, true);
    EXPECT_EQ(throttled.send(DOWNLOAD), 0u);
    EXPECT_EQ(throttled.starts(), 1u);
}

TEST(StreamControlConfirmation, AStartTheCameraNeverSawIsSentOnceMore)
{
    Start start;
    start.camera->loseNextWrites(1, false);
    EXPECT_EQ(start.send(DOWNLOAD), 0u);
    ASSERT_EQ(start.starts(), 2u);
    EXPECT_EQ(start.camera->multiWrites()[0], start.camera->multiWrites()[1]);
    EXPECT_EQ(start.camera->get(GIGE_REG_STREAM_CONTROL), DOWNLOAD);

    // The first request lost, the second one's acknowledge: taken, so done with no third start.
    Start again;
    int sent = 0;
    again.camera->setWriteHook([&] { again.camera->loseNextWrites(1, ++sent > 1); });
    EXPECT_EQ(again.send(LIVE), 0u);
    EXPECT_EQ(again.starts(), 2u);
    EXPECT_EQ(again.camera->get(GIGE_REG_STREAM_CONTROL), LIVE);
}

TEST(StreamControlConfirmation, NeverASuccessForACameraThatIsNotStreaming)
{
    Start lostTwice;
    lostTwice.camera->loseNextWrites(2, false);
    EXPECT_NE(lostTwice.send(LIVE), 0u);
    EXPECT_EQ(lostTwice.starts(), 2u);
    EXPECT_EQ(lostTwice.camera->get(GIGE_REG_STREAM_CONTROL), STOPPED);

    // The mode cannot be read back: the camera may or may not stream, so it is not a success.
    Start unreadable;
    unreadable.camera->loseNextWrites(1, true);
    unreadable.camera->failReads(TIMED_OUT);
    EXPECT_NE(unreadable.send(LIVE), 0u);
    EXPECT_EQ(unreadable.starts(), 1u);

    // A refusal the camera answered is final: nothing is read or sent again.
    Start refused;
    refused.camera->failWrites(ACCESS_DENIED);
    const std::size_t before = refused.camera->exchanges();
    EXPECT_EQ(refused.send(DOWNLOAD), ACCESS_DENIED);
    EXPECT_EQ(refused.camera->exchanges(), before + 1);
}

// A paused stream has not stopped: a stop whose request was lost goes out again.
TEST(StreamControlConfirmation, AStopIsConfirmedOnlyByAStoppedCamera)
{
    Start stop;
    stop.camera->set(GIGE_REG_STREAM_CONTROL, PAUSED);
    stop.camera->loseNextWrites(1, false);
    EXPECT_EQ(writeStreamControlConfirmed(*stop.camera, {{GIGE_REG_STREAM_CONTROL, STOPPED}}, STOPPED, "camera"), 0u);
    EXPECT_EQ(stop.camera->get(GIGE_REG_STREAM_CONTROL), STOPPED);

    Start lost;
    lost.camera->set(GIGE_REG_STREAM_CONTROL, PAUSED);
    lost.camera->loseNextWrites(2, false);
    EXPECT_NE(writeStreamControlConfirmed(*lost.camera, {{GIGE_REG_STREAM_CONTROL, STOPPED}}, STOPPED, "camera"), 0u);
    EXPECT_EQ(lost.camera->get(GIGE_REG_STREAM_CONTROL), PAUSED);
}

} // namespace
