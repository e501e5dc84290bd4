// The first family's record rules without a camera: camera state and commands, playback, progress,
// download and stream records. Expected values come from the register and record tables.
#include <gtest/gtest.h>

#include "log_capture.h"
#include <hlv_thread/note.h>

#include "family/commands.h"
#include "family/download_settings.h"
#include "family/notifications.h"
#include "registers/register_map.h"

using namespace halvex::thread;
using namespace halvex::wire;

using namespace halvex::registers;
using namespace halvex::family::commands;

namespace {

HX_PLAYBACK_SETTINGS playbackRecord()
{
    HX_PLAYBACK_SETTINGS record;
    HX_playback_settings_init(&record, sizeof(record));
    return record;
}

HX_PROGRESS progressRecord()
{
    HX_PROGRESS record{};
    record.ver_maj = HX_API_VERSION_MAJ;
    record.ver_min = HX_API_VERSION_MIN;
    return record;
}

RegisterCache reviewOf(uint32_t frames, uint32_t triggerFrame)
{
    return {{GIGE_REG_CAMERA_STATE, 8}, {GIGE_REG_PB_C140, frames}, {GIGE_REG_PROGRESS_C180, triggerFrame}};
}

} // namespace

TEST(CommandRecord, StateTableGivesStateAndCommandCapabilities)
{
    struct Row {
        uint32_t reg, state, caps;
    };
    for (const Row row : {Row{0, 1, 0x3}, Row{1, 1, 0x3}, Row{2, 2, 0x5}, Row{4, 4, 0}, Row{8, 8, 0x1},
                          Row{64, 64, 0x1}, Row{3, 1, 0x1}, Row{0x12345, 1, 0x1}}) {
        HX_COMMAND cached;
        HX_command_init(&cached, sizeof(cached));
        computeCommand(row.reg, cached);
        EXPECT_EQ(cached.code, row.state) << "register " << row.reg;
        EXPECT_EQ(cached.code_caps, row.caps) << "register " << row.reg;
    }
}

TEST(CommandRecord, CommandsWriteTheirRegisterAndOthersAreNone)
{
    EXPECT_EQ(commandWrite(HX_CMD_ARM), (RegisterPair{0xD310, 2}));
    EXPECT_EQ(commandWrite(HX_CMD_TRIGGER), (RegisterPair{0xD310, 4}));
    EXPECT_EQ(commandWrite(HX_CMD_BUSY), (RegisterPair{0xD310, 64}));
    EXPECT_EQ(commandWrite(HX_CMD_KEY_A), (RegisterPair{0xC060, 0xAAAA}));
    EXPECT_EQ(commandWrite(HX_CMD_KEY_B), (RegisterPair{0xC060, 0x5555}));
    EXPECT_FALSE(commandWrite(HX_CMD_LIVE));
    EXPECT_TRUE(isCommand(HX_CMD_LIVE));
    for (uint32_t other : {0u, 0x8u, 0x6u, 0x80u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(commandWrite(other)) << other;
        EXPECT_FALSE(isCommand(other)) << other;
    }
}

TEST(CommandRecord, MergeMarksStateAndShutdownRequestSeparately)
{
    HX_COMMAND cached;
    HX_command_init(&cached, sizeof(cached));
    cached.code = 2;
    cached.code_caps = 0x5;
    HX_COMMAND caller = cached;
    mergeCommand(cached, caller);
    EXPECT_EQ(caller.flags, 0u);
    EXPECT_EQ(caller.code_flags, 0u);

    caller.code = HX_CMD_ARM | HX_CMD_TRIGGER; // what the caller sent differs from the state
    caller.shutdown_request = 1;
    mergeCommand(cached, caller);
    EXPECT_EQ(caller.code, 2u);
    EXPECT_EQ(caller.shutdown_request, 0u);
    EXPECT_EQ(caller.code_flags, uint32_t{HX_FLAG_CHG});
    EXPECT_EQ(caller.flags, uint32_t{HX_FLAG_CHG});

    HX_COMMAND onlyShutdown = cached;
    onlyShutdown.shutdown_request = 3;
    mergeCommand(cached, onlyShutdown);
    EXPECT_EQ(onlyShutdown.code_flags, 0u);
    EXPECT_EQ(onlyShutdown.flags, uint32_t{HX_FLAG_CHG});
}

TEST(PlaybackRecord, ControlWordDecodesModeAndInterval)
{
    EXPECT_EQ(playbackMode(0x0), uint32_t{HX_PLAY_PAUSE});
    EXPECT_EQ(playbackMode(0x2), uint32_t{HX_PLAY_PAUSE});
    EXPECT_EQ(playbackMode(0x3), uint32_t{HX_PLAY_REVERSE});
    EXPECT_EQ(playbackMode(0x1), uint32_t{HX_PLAY_FORWARD});
    EXPECT_EQ(playbackInterval(0x0ABC0001), 0xABCu);
    EXPECT_EQ(playbackInterval(0xF0010000), 1u); // bits 28 to 31 are not interval
}

TEST(PlaybackRecord, InReviewEveryFieldComesFromTheGroup)
{
    RegisterCache group = reviewOf(100, 40);
    group[GIGE_REG_PB_CONTROL] = (3u << 16) | 0x3;
    group[GIGE_REG_PB_STATUS] = 0x1;
    group[GIGE_REG_CSI_RVW_FRAME_NUM] = 57;
    group[GIGE_REG_ACTIVE_FRAME_NUM] = 12;
    group[GIGE_REG_PB_B814] = 5;
    group[GIGE_REG_PB_B818] = 90;
    HX_PLAYBACK_SETTINGS cached = playbackRecord();
    computePlayback(group, "10.0.0.2", cached);
    EXPECT_EQ(cached.mode, uint32_t{HX_PLAY_REVERSE});
    EXPECT_EQ(cached.mode_caps, 0x7u);
    EXPECT_EQ(cached.current_frame, 57u);
    EXPECT_EQ(cached.current_frame_max, 99u);
    EXPECT_EQ(cached.cut_in, 5u);
    EXPECT_EQ(cached.cut_in_max, 98u);
    EXPECT_EQ(cached.cut_out, 90u);
    EXPECT_EQ(cached.cut_out_max, 99u);
    EXPECT_EQ(cached.interval, 3u);
    EXPECT_EQ(cached.trigger, 40u);

    // Without the review frame's valid bit the active frame counts; beyond the last frame, the
    // trigger frame is shown.
    group[GIGE_REG_PB_STATUS] = 0x2;
    computePlayback(group, "10.0.0.2", cached);
    EXPECT_EQ(cached.current_frame, 12u);
    group[GIGE_REG_ACTIVE_FRAME_NUM] = 100;
    computePlayback(group, "10.0.0.2", cached);
    EXPECT_EQ(cached.current_frame, 40u);
}

// The second family tells its play mode by the playback status: busy, and single-frame stepping.
TEST(PlaybackRecord, TheSecondFamilyReadsItsModeFromThePlaybackStatus)
{
    RegisterCache group = reviewOf(100, 40);
    const std::pair<uint32_t, uint32_t> cases[] = {// status, control -> mode
                                                   {0x1, 0x3},
                                                   {0x1, 0x0},
                                                   {0x3, 0x1},
                                                   {0x0, 0x1},
                                                   {0x2, 0x3}};
    const uint32_t expected[] = {HX_PLAY_REVERSE, HX_PLAY_FORWARD, HX_PLAY_PAUSE, HX_PLAY_PAUSE, HX_PLAY_PAUSE};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        group[GIGE_REG_PB_STATUS] = cases[i].first;
        group[GIGE_REG_PB_CONTROL] = cases[i].second;
        HX_PLAYBACK_SETTINGS cached = playbackRecord();
        computePlayback(group, "10.0.0.3", cached, PlaybackModeSource::Status);
        EXPECT_EQ(cached.mode, expected[i])
            << "status 0x" << std::hex << cases[i].first << ", control 0x" << cases[i].second;
    }
}

TEST(PlaybackRecord, OutsideReviewOnlyModeCapsAndFrameChange)
{
    RegisterCache group = reviewOf(100, 40);
    group[GIGE_REG_PB_CONTROL] = 0x1;
    HX_PLAYBACK_SETTINGS cached = playbackRecord();
    computePlayback(group, "10.0.0.2", cached);
    group[GIGE_REG_CAMERA_STATE] = 1;
    computePlayback(group, "10.0.0.2", cached);
    EXPECT_EQ(cached.mode, uint32_t{HX_PLAY_PAUSE});
    EXPECT_EQ(cached.mode_caps, 0u);
    EXPECT_EQ(cached.current_frame, 0u);
    EXPECT_EQ(cached.cut_out_max, 99u); // kept from review

    // An empty review has no frames to go below 0.
    RegisterCache empty = reviewOf(0, 0);
    computePlayback(empty, "10.0.0.2", cached);
    EXPECT_EQ(cached.current_frame_max, 0u);
    EXPECT_EQ(cached.cut_in_max, 0u);
}

TEST(PlaybackRecord, WritesFollowTheModeInOrder)
{
    HX_PLAYBACK_SETTINGS record = playbackRecord();
    record.cut_in = 3;
    record.cut_out = 80;
    record.current_frame = 20;
    record.interval = 2;
    record.cut_out_flags = HX_FLAG_SET;
    const RegisterPairs reverse{{0xE930, 25}, {0xB808, 50}, {0xE924, 3},          {0xE928, 80}, {0xE918, 20},
                                {0xB818, 80}, {0xC294, 1},  {0xE92C, 0x80000002}, {0xD314, 2}};
    EXPECT_EQ(playWrites(record, true), reverse);
    RegisterPairs forward = reverse;
    forward[7].value = 2;
    EXPECT_EQ(playWrites(record, false), forward);
    const RegisterPairs step{{0xE930, 0},  {0xE924, 7}, {0xE928, 7}, {0xE918, 7},
                             {0xB818, 80}, {0xE92C, 2}, {0xC294, 1}, {0xD314, 4}};
    EXPECT_EQ(stepWrites(record, 7), step);
    EXPECT_EQ(stopWrites(record), (RegisterPairs{{0xB800, 2u << 16}, {0xD314, 0}}));
}

TEST(ProgressRecord, FollowsTheRecordingThroughItsStates)
{
    RegisterCache progress{{GIGE_REG_TRIGGER_POSITION, (1u << 31) | 30},
                           {GIGE_REG_PROGRESS_C08C, 50},
                           {GIGE_REG_PROGRESS_C090, 0},
                           {GIGE_REG_PROGRESS_C180, 0}};
    HX_PROGRESS record = progressRecord();
    // Entering a recording state only notes it.
    uint32_t state = halvex::family::events::computeProgress(progress, 2, 100, 1, record);
    EXPECT_EQ(state, 2u);
    EXPECT_EQ(record.total_frames, 0u);
    // Armed: frames so far, up to the pre-trigger frames.
    state = halvex::family::events::computeProgress(progress, 2, 100, state, record);
    EXPECT_EQ(record.total_frames, 100u);
    EXPECT_EQ(record.trigger_frames, 30u);
    EXPECT_EQ(record.recorded_frames, 30u);
    // Triggered: the pre-trigger frames plus those since the trigger.
    state = halvex::family::events::computeProgress(progress, 4, 100, state, record);
    progress[GIGE_REG_PROGRESS_C090] = 25;
    halvex::family::events::computeProgress(progress, 4, 100, state, record);
    EXPECT_EQ(record.recorded_frames, 55u);
    // Review is reported at once, with the camera's trigger frame, and never beyond the length.
    progress[GIGE_REG_PROGRESS_C090] = 95;
    progress[GIGE_REG_PROGRESS_C180] = 28;
    halvex::family::events::computeProgress(progress, 8, 100, 4, record);
    EXPECT_EQ(record.trigger_frames, 28u);
    EXPECT_EQ(record.recorded_frames, 100u);

    // A trigger position without bit 31 is a percentage of the length last reported.
    progress[GIGE_REG_TRIGGER_POSITION] = 25;
    halvex::family::events::computeProgress(progress, 2, 100, 2, record);
    EXPECT_EQ(record.trigger_frames, 25u);
    // Idle leaves the record as it was.
    const HX_PROGRESS before = record;
    halvex::family::events::computeProgress(progress, 1, 100, 1, record);
    EXPECT_EQ(record.recorded_frames, before.recorded_frames);
}

TEST(DownloadRecord, FormatsMapBothWaysAndRefuseWhatTheCameraCannot)
{
    using halvex::family::download_settings::formatFromRegister;
    using halvex::family::download_settings::formatToRegister;
    EXPECT_EQ(formatToRegister(HX_FORMAT_JPEG, false, false), 1u);
    EXPECT_EQ(formatToRegister(HX_FORMAT_TYPE3, false, false), 3u);
    EXPECT_EQ(formatToRegister(HX_FORMAT_TYPE2, false, false), 2u);
    EXPECT_EQ(formatToRegister(HX_FORMAT_DNG, true, false), 4u);
    EXPECT_EQ(formatToRegister(HX_FORMAT_TIFF, false, false), 0x80000003u);
    EXPECT_EQ(formatToRegister(HX_FORMAT_PACKED, false, true), 11u);
    EXPECT_EQ(formatToRegister(HX_FORMAT_PACKED, false, false), 0x80000003u);
    EXPECT_THROW(formatToRegister(HX_FORMAT_DNG, false, true), SettingsException);
    EXPECT_THROW(formatToRegister(HX_FORMAT_JPEG | HX_FORMAT_TIFF, true, true), SettingsException);
    EXPECT_THROW(formatToRegister(0, true, true), SettingsException);

    for (auto [code, format] : {std::pair{1u, HX_FORMAT_JPEG},
                                {3u, HX_FORMAT_TYPE3},
                                {2u, HX_FORMAT_TYPE2},
                                {4u, HX_FORMAT_DNG},
                                {0x80000003u, HX_FORMAT_TIFF},
                                {11u, HX_FORMAT_PACKED},
                                {7u, HX_FORMAT_JPEG}})
        EXPECT_EQ(formatFromRegister(code), uint32_t(format)) << code;

    EXPECT_THROW(halvex::family::download_settings::checkJpegQuality(0), SettingsException);
    EXPECT_THROW(halvex::family::download_settings::checkJpegQuality(101), SettingsException);
    EXPECT_NO_THROW(halvex::family::download_settings::checkJpegQuality(1));
    EXPECT_NO_THROW(halvex::family::download_settings::checkJpegQuality(100));
}

TEST(DownloadRecord, RangeExistsOnlyInReviewAndMergeHidesPacketFlags)
{
    RegisterCache group = reviewOf(50, 10);
    group[GIGE_REG_DOWNLOAD_C294] = 0x80000003;
    group[GIGE_REG_DOWNLOAD_C0AC] = 75;
    halvex::family::download_settings::SessionValues session;
    session.packetLength = 0x40001F40; // 8000 with do-not-fragment
    session.packetDelay = 200;
    session.start = 60;
    session.stop = 49;
    session.pauseCount = 2;
    session.resumeCount = 10;
    HX_DOWNLOAD_SETTINGS cached;
    HX_download_settings_init(&cached, sizeof(cached));
    halvex::family::download_settings::computeDownload(group, 0x17, session, cached);
    EXPECT_EQ(cached.format, uint32_t{HX_FORMAT_TIFF});
    EXPECT_EQ(cached.format_caps, 0x17u);
    EXPECT_EQ(cached.jpeg_quality, 75u);
    EXPECT_EQ(cached.start_max, 48u);
    EXPECT_EQ(cached.stop_max, 49u);
    EXPECT_EQ(cached.start, 48u); // lowered to its maximum
    EXPECT_EQ(cached.stop, 49u);

    HX_DOWNLOAD_SETTINGS caller;
    HX_download_settings_init(&caller, sizeof(caller));
    caller.pause_count = 2;
    caller.resume_count = 10;
    halvex::family::download_settings::mergeDownload(cached, caller);
    EXPECT_EQ(caller.turbo_packet_length, 8000u);
    EXPECT_EQ(caller.turbo_packet_length_flags, uint32_t{HX_FLAG_CHG});
    EXPECT_EQ(caller.start_flags, uint32_t{HX_FLAG_CHG});
    EXPECT_EQ(caller.flags, uint32_t{HX_FLAG_CHG});
    caller.resume_count = 9; // the throttle counts mark the record only
    caller.flags = 0;
    halvex::family::download_settings::mergeDownload(cached, caller);
    EXPECT_EQ(caller.resume_count, 10u);
    EXPECT_EQ(caller.flags, uint32_t{HX_FLAG_CHG});

    group[GIGE_REG_CAMERA_STATE] = 1;
    halvex::family::download_settings::computeDownload(group, 0x17, session, cached);
    EXPECT_EQ(cached.start + cached.stop + cached.start_max + cached.stop_max, 0u);
}
