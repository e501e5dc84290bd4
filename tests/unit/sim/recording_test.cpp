// Recording state machine, progress registers, review and playback, events and heartbeat.
#include <gtest/gtest.h>

#include <algorithm>

#include "core_harness.h"
#include "sim/device/recorder.h"

using namespace hxsim;
using namespace hxsim_test;
using namespace halvex::registers;

namespace {

constexpr uint32_t kIdle = 1, kArmed = 2, kTriggered = 4, kReview = 8, kBusy = 64;

// A camera recording 100 frames at 100 frames per second (10 ms a frame), keeping 20 from
// before the trigger.
struct RecordingCamera : CoreHarness {
    RecordingCamera()
    {
        gatedWrite({{GIGE_REG_ROI_WIDTH, 256},
                    {GIGE_REG_ROI_HEIGHT, 64},
                    {GIGE_REG_FRAME_RATE, 100},
                    {GIGE_REG_BROC_LENGTH, 100},
                    {GIGE_REG_RECORD_MODE, 2},
                    {GIGE_REG_TRIGGER_POSITION, 0x80000014}});
    }
    void command(uint32_t value) { ASSERT_EQ(gatedWrite({{GIGE_REG_STATE_COMMAND, value}})->header.status, 0); }
    uint32_t state() { return reg(GIGE_REG_CAMERA_STATE); }
};

bool hasEvent(const CoreHarness& cam, uint32_t address, uint32_t value)
{
    auto pairs = cam.eventPairs();
    return std::find(pairs.begin(), pairs.end(), halvex::wire::RegisterPair{address, value}) != pairs.end();
}

} // namespace

TEST(SimStateMachine, TransitionTable)
{
    using S = CameraState;
    struct Row {
        S from;
        uint32_t command;
        std::optional<S> to;
    };
    const Row rows[] = {
        {S::Idle, 2, S::Armed},          {S::Idle, 4, std::nullopt},      {S::Idle, 64, S::Busy},
        {S::Idle, 1, S::Idle},           {S::Armed, 4, S::Triggered},     {S::Armed, 1, S::Idle},
        {S::Armed, 2, std::nullopt},     {S::Armed, 64, std::nullopt},    {S::Triggered, 1, S::Idle},
        {S::Triggered, 4, std::nullopt}, {S::Triggered, 2, std::nullopt}, {S::Review, 1, S::Idle},
        {S::Review, 2, S::Armed},        {S::Review, 4, std::nullopt},    {S::Review, 64, S::Busy},
        {S::Busy, 1, std::nullopt},      {S::Busy, 2, std::nullopt},      {S::Idle, 3, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Recorder::transition(row.from, row.command), row.to) << stateName(row.from) << " + " << row.command;
    }
}

TEST(SimStateMachine, ArmTriggerReviewWithProgress)
{
    RecordingCamera cam;
    EXPECT_EQ(cam.state(), kIdle);
    cam.command(4); // trigger while idle: acknowledged and ignored
    EXPECT_EQ(cam.state(), kIdle);
    cam.command(2);
    EXPECT_EQ(cam.state(), kArmed);
    EXPECT_EQ(cam.reg(GIGE_REG_PARTITION_STATE), 1u);
    cam.now += 500ms; // 50 frames since arm
    EXPECT_EQ(cam.reg(GIGE_REG_PROGRESS_C08C), 50u);
    cam.command(4);
    EXPECT_EQ(cam.state(), kTriggered);
    cam.now += 400ms;
    EXPECT_EQ(cam.reg(GIGE_REG_PROGRESS_C090), 40u);
    EXPECT_EQ(cam.reg(GIGE_REG_PROGRESS_C08C), 90u);
    cam.now += 400ms; // 80 post-trigger frames are due after 800 ms
    EXPECT_EQ(cam.state(), kReview);
    EXPECT_EQ(cam.reg(GIGE_REG_PB_C140), 100u);
    EXPECT_EQ(cam.reg(GIGE_REG_PROGRESS_C180), 20u);
    EXPECT_EQ(cam.reg(GIGE_REG_PARTITION_STATE), 3u);
    EXPECT_EQ(cam.reg(GIGE_REG_PROGRESS_C090), 80u); // length minus trigger position
    EXPECT_EQ(cam.reg(GIGE_REG_PROGRESS_C08C), 100u);
    cam.command(1);
    EXPECT_EQ(cam.state(), kIdle);
    EXPECT_NE(cam.reg(GIGE_REG_PARTITION_STATE), 3u);
    EXPECT_FALSE(cam.core.device().frames().recording());
}

TEST(SimStateMachine, PartitionStateTakesTheHostsZeroAndStillFollowsTheRecording)
{
    RecordingCamera cam;
    cam.command(2);
    cam.command(4);
    cam.tick(2s);
    ASSERT_EQ(cam.state(), kReview);
    // The single gated write a host sends before live: all three pairs applied, gate closed again.
    auto zero = cam.write(halvex::wire::planSingleWrite(GIGE_REG_PARTITION_STATE, 0).pairs);
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->header.status, halvex::wire::camera_status::kSuccess);
    EXPECT_EQ(zero->index, 3u);
    EXPECT_EQ(cam.reg(GIGE_REG_WRITE_GATE), 0u);
    EXPECT_EQ(cam.reg(GIGE_REG_PARTITION_STATE), 3u) << "the recording is still there to download";
    // Any other value would claim a recording the camera does not hold.
    cam.command(1);
    auto other = cam.gatedWrite({{GIGE_REG_PARTITION_STATE, 3}});
    EXPECT_EQ(other->header.status, halvex::wire::camera_status::kAccessDenied);
    EXPECT_EQ(other->index, 1u);
    EXPECT_EQ(cam.reg(GIGE_REG_PARTITION_STATE), 0u);
}

TEST(SimStateMachine, EarlyTriggerKeepsOnlyWhatWasRecorded)
{
    RecordingCamera cam;
    cam.command(2);
    cam.now += 50ms; // 5 frames, fewer than the 20 the trigger position keeps
    cam.command(4);
    cam.tick(800ms);
    EXPECT_EQ(cam.state(), kReview);
    EXPECT_EQ(cam.reg(GIGE_REG_PROGRESS_C180), 5u);
    EXPECT_EQ(cam.reg(GIGE_REG_PB_C140), 85u);
    EXPECT_EQ(cam.core.nextDeadline(), kNever);
}

TEST(SimStateMachine, BusyReturnsToIdleOnItsOwn)
{
    RecordingCamera cam;
    cam.command(64);
    EXPECT_EQ(cam.state(), kBusy);
    cam.command(2); // ignored while busy
    EXPECT_EQ(cam.state(), kBusy);
    EXPECT_EQ(cam.core.nextDeadline(), cam.now + Recorder::kBusyTime);
    cam.tick(Recorder::kBusyTime);
    EXPECT_EQ(cam.state(), kIdle);
}

TEST(SimStateMachine, ControlKeyChangesNothing)
{
    RecordingCamera cam;
    auto before = cam.core.device().registers().values();
    EXPECT_EQ(cam.gatedWrite({{GIGE_REG_CONTROL_KEY, 0xAAAA}})->header.status, 0);
    EXPECT_EQ(cam.core.device().registers().values(), before);
}

TEST(SimEvents, ChangedRegistersAndStateChangesReachTheMessageChannel)
{
    RecordingCamera cam;
    cam.gatedWrite({{GIGE_REG_EXPOSURE, 1234}});
    EXPECT_TRUE(cam.events.empty()) << "no events before the message channel is set";
    cam.gatedWrite({{GIGE_REG_MCP, 5826}, {GIGE_REG_MCDA, 0x7F000001}});
    cam.gatedWrite({{GIGE_REG_EXPOSURE, 1500}, {GIGE_REG_TRIGGER_IN_EDGE, 0}}); // edge unchanged
    EXPECT_EQ(cam.eventPairs(), (halvex::wire::RegisterPairs{{GIGE_REG_EXPOSURE, 1500}}));
    ASSERT_EQ(cam.events.size(), 1u);
    EXPECT_EQ(cam.events[0].to, (Endpoint{0x7F000001, 5826}));
    EXPECT_EQ(cam.events[0].bytes.size(), 28u);

    cam.command(2);
    cam.command(4);
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_CAMERA_STATE, kArmed));
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_CAMERA_STATE, kTriggered));
    cam.tick(2s); // review reached with no request in between
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_CAMERA_STATE, kReview));
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_PARTITION_STATE, 3));
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_PB_C140, 80)) << ::testing::PrintToString(cam.eventPairs());
    for (auto [address, value] : cam.eventPairs()) {
        EXPECT_NE(address, GIGE_REG_PROGRESS_C08C) << "progress counters are polled, not reported";
        EXPECT_NE(address, GIGE_REG_PROGRESS_C090);
    }
    cam.events.clear();
    // Hosts clear the channel with a gated write that asks no acknowledge.
    EXPECT_FALSE(cam.write(halvex::wire::planMultiWrite({{{GIGE_REG_MCDA, 0}, {GIGE_REG_MCP, 0}}}).pairs, false));
    cam.command(1);
    EXPECT_TRUE(cam.events.empty()) << "events stop once the channel is cleared";
}

TEST(SimPlayback, PlaysWithinTheRangeAndShowsSingleFrames)
{
    RecordingCamera cam;
    cam.gatedWrite({{GIGE_REG_MCP, 5826}, {GIGE_REG_MCDA, 0x7F000001}});
    cam.gatedWrite({{GIGE_REG_STREAM_CONTROL, 2}});
    EXPECT_EQ(cam.reg(GIGE_REG_STREAM_CONTROL), 0u) << "playback needs review";
    cam.command(2);
    cam.now += 1s;
    cam.command(4);
    cam.tick(1s);
    ASSERT_EQ(cam.state(), kReview);

    // Forward from 10 within 5..14 at 10 frames per second, one frame per step.
    cam.write({{GIGE_REG_DOWNLOAD_E918, 10},
               {GIGE_REG_DOWNLOAD_START, 5},
               {GIGE_REG_DOWNLOAD_END, 14},
               {GIGE_REG_DOWNLOAD_E92C, 1},
               {GIGE_REG_DOWNLOAD_E930, 10},
               {GIGE_REG_STREAM_CONTROL, 2}});
    EXPECT_EQ(cam.reg(GIGE_REG_PB_CONTROL), 0x10001u);
    EXPECT_EQ(cam.reg(GIGE_REG_PB_STATUS) & 1u, 1u);
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_PB_CONTROL, 0x10001u));
    cam.now += 300ms;
    EXPECT_EQ(cam.reg(GIGE_REG_CSI_RVW_FRAME_NUM), 13u);
    cam.now += 300ms;
    EXPECT_EQ(cam.reg(GIGE_REG_CSI_RVW_FRAME_NUM), 6u); // wrapped past 14 to 5

    // Reverse, two frames per step.
    cam.write({{GIGE_REG_STREAM_CONTROL, 0}});
    cam.write({{GIGE_REG_DOWNLOAD_E92C, 0x80000002}, {GIGE_REG_STREAM_CONTROL, 2}});
    EXPECT_EQ(cam.reg(GIGE_REG_PB_CONTROL), 0x20003u);
    cam.now += 100ms;
    EXPECT_EQ(cam.reg(GIGE_REG_CSI_RVW_FRAME_NUM), 8u);

    cam.write({{GIGE_REG_STREAM_CONTROL, 0}});
    EXPECT_EQ(cam.reg(GIGE_REG_PB_CONTROL) & 3u, 0u);
    cam.write({{GIGE_REG_DOWNLOAD_E918, 42}, {GIGE_REG_STREAM_CONTROL, 4}});
    EXPECT_EQ(cam.reg(GIGE_REG_PB_STATUS) & 1u, 0u);
    EXPECT_EQ(cam.reg(GIGE_REG_ACTIVE_FRAME_NUM), 42u);

    cam.command(1); // leaving review ends playback
    EXPECT_EQ(cam.reg(GIGE_REG_STREAM_CONTROL), 0u);
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_STREAM_CONTROL, 0));
}

TEST(SimHeartbeat, PrivilegeIsHeldByOneHostUntilItsHeartbeatStops)
{
    CoreHarness cam;
    EXPECT_EQ(cam.reg(GIGE_REG_HEARTBEAT_TIMEOUT), 3000u);
    EXPECT_EQ(cam.write({{GIGE_REG_CCP, 2}})->header.status, 0);
    EXPECT_EQ(cam.write({{GIGE_REG_CCP, 2}}, true, kOtherHost)->header.status,
              halvex::wire::camera_status::kAccessDenied);
    EXPECT_EQ(cam.write({{GIGE_REG_CCP, 0}}, true, kOtherHost)->header.status,
              halvex::wire::camera_status::kAccessDenied);
    EXPECT_EQ(cam.write({{GIGE_REG_CCP, 1}})->header.status, halvex::wire::camera_status::kInvalidParameter);
    // Ordinary writes do not need the privilege.
    EXPECT_EQ(cam.gatedWrite({{GIGE_REG_EXPOSURE, 900}}, kOtherHost)->header.status, 0);

    cam.gatedWrite({{GIGE_REG_MCP, 5826}, {GIGE_REG_MCDA, 0x7F000001}});
    cam.write({{GIGE_REG_STREAM_CONTROL, 1}});
    cam.now += 2900ms;
    cam.read({GIGE_REG_CAMERA_STATE}); // traffic from the holder restarts the timer
    cam.tick(2900ms);
    EXPECT_EQ(cam.core.device().privilege().value(), 2u);
    cam.tick(200ms);
    EXPECT_EQ(cam.core.device().privilege().value(), 0u);
    EXPECT_EQ(cam.reg(GIGE_REG_STREAM_CONTROL), 0u) << "expiry stops streams";
    EXPECT_TRUE(hasEvent(cam, GIGE_REG_STREAM_CONTROL, 0));
    EXPECT_EQ(cam.reg(GIGE_REG_MCP), 5826u) << "expiry keeps the message channel";
    EXPECT_EQ(cam.write({{GIGE_REG_CCP, 2}}, true, kOtherHost)->header.status, 0);
}
