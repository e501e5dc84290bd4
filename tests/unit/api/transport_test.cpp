// The command transport: HX_COMMAND records travel to a camera's service thread and back.
#include <gtest/gtest.h>

#include <hx/hx.h>

#include "camera/command.h"
#include "log_capture.h"
#include "stand_in_service.h"

using namespace halvex::camera;

namespace {

class CommandTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        camera = hx_test::addCamera(4);
        if (client == 0) {
            ASSERT_EQ(HX_register(&client, nullptr, nullptr), HX_STATUS_OK);
        }
        operations = hx_test::installStandIns().operationsOf(static_cast<uint32_t>(camera));
        operations->clearCalls();
        HX_command_init(&in, sizeof in);
        HX_command_init(&out, sizeof out);
    }
    void TearDown() override { HX_trace(0); }

    static HX_CLIENT_HANDLE client;
    HX_CAMERA_HANDLE camera = 0;
    std::shared_ptr<hx_test::StandInOperations> operations;
    HX_COMMAND in{};
    HX_COMMAND out{};
};

HX_CLIENT_HANDLE CommandTransport::client = 0;

TEST_F(CommandTransport, ASetCommandIsSentAndAChangedReplyIsMarked)
{
    operations->setCommandReply(HX_CAMERA_STATE_ARM, HX_CMD_TRIGGER);
    in.flags = HX_FLAG_SET;
    in.code = HX_CMD_ARM;
    in.code_flags = HX_FLAG_SET;
    ASSERT_EQ(HX_command_syn(client, camera, &in, &out), HX_STATUS_OK);

    EXPECT_EQ(operations->calls(), std::vector<std::string>{"sendCommand"});
    EXPECT_EQ(out.code, static_cast<uint32_t>(HX_CAMERA_STATE_ARM));
    EXPECT_EQ(out.code_caps, static_cast<uint32_t>(HX_CMD_TRIGGER));
    EXPECT_EQ(out.code_flags, static_cast<uint32_t>(HX_FLAG_SET | HX_FLAG_CHG));
    EXPECT_EQ(out.flags, static_cast<uint32_t>(HX_FLAG_SET | HX_FLAG_CHG));
    EXPECT_EQ(in.code, static_cast<uint32_t>(HX_CMD_ARM)) << "the input record is not touched";
}

TEST_F(CommandTransport, ARecordWithoutSetReadsTheStateAndAnUnchangedReplyIsNotMarked)
{
    ASSERT_EQ(HX_command_syn(client, camera, &in, &out), HX_STATUS_OK);
    EXPECT_EQ(operations->calls(), std::vector<std::string>{"getCommand"});

    EXPECT_EQ(out.code_flags, static_cast<uint32_t>(HX_FLAG_CHG)) << "the state came back different from 0";
    in = out;
    in.flags = 0;
    in.code_flags = 0;
    ASSERT_EQ(HX_command_syn(client, camera, &in, &in), HX_STATUS_OK) << "in place";
    EXPECT_EQ(in.code, out.code);
    EXPECT_EQ(in.code_flags & HX_FLAG_CHG, 0u);
    EXPECT_EQ(in.flags & HX_FLAG_CHG, 0u);
}

// A state that could not be read must not come back as the caller's own record unmarked.
TEST_F(CommandTransport, AStateThatCouldNotBeReadComesBackMarkedErr)
{
    operations->setOperationResult(false);
    in.code = HX_CAMERA_STATE_ARM;
    EXPECT_EQ(HX_command_syn(client, camera, &in, &out), HX_STATUS_OK);
    operations->setOperationResult(true);
    EXPECT_EQ(operations->calls(), std::vector<std::string>{"getCommand"});
    EXPECT_EQ(out.flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR}) << "an unread state looked like an answer";
}

TEST_F(CommandTransport, ARecordOfAnotherVersionIsRefusedAndNeverSent)
{
    hx_test::LogCapture log;
    in.ver_min = 11;
    in.flags = HX_FLAG_SET;
    EXPECT_EQ(HX_command_syn(client, camera, &in, &out), HX_STATUS_ERROR);
    EXPECT_FALSE(log.lines().empty()) << "the refusal was not logged";
    EXPECT_TRUE(operations->calls().empty());
    EXPECT_EQ(out.code, 0u);
}

TEST_F(CommandTransport, ZeroHandlesAndMissingRecordsSucceedWithoutSending)
{
    hx_test::LogCapture log;
    EXPECT_EQ(HX_command_syn(0, camera, &in, &out), HX_STATUS_OK);
    EXPECT_EQ(HX_command_syn(client, 0, &in, &out), HX_STATUS_OK);
    EXPECT_EQ(HX_command_syn(client, camera, nullptr, &out), HX_STATUS_OK);
    EXPECT_EQ(HX_command_syn(client, camera, &in, nullptr), HX_STATUS_OK);
    EXPECT_EQ(HX_command_syn(client, hx_test::loopbackCamera(98), nullptr, nullptr), HX_STATUS_ERROR)
        << "with records missing the handles are still checked";
    EXPECT_TRUE(operations->calls().empty());
    EXPECT_EQ(log.count("not valid"), 1u);
}

// A field marked alone would be ignored without a word; each call says which flag is missing.
TEST_F(CommandTransport, FieldsMarkedWithoutTheirSelectingFlagAreNamedOnceAndLeftAlone)
{
    hx_test::LogCapture log;
    in.code = HX_CMD_ARM;
    in.code_flags = HX_FLAG_SET;
    ASSERT_EQ(HX_command_syn(client, camera, &in, &out), HX_STATUS_OK);
    EXPECT_EQ(operations->calls(), std::vector<std::string>{"getCommand"}) << "still a state read";
    EXPECT_EQ(log.count("HX_command_syn: HX_FLAG_SET missing in flags (marked: code)"), 1u);

    in.flags = HX_FLAG_SET;
    in.code_flags = 0;
    ASSERT_EQ(HX_command_syn(client, camera, &in, &out), HX_STATUS_OK);
    EXPECT_EQ(log.count("HX_command_syn: HX_FLAG_SET missing in code_flags"), 1u);

    HX_DOWNLOAD_SETTINGS download;
    HX_download_settings_init(&download, sizeof download);
    download.start_flags = HX_FLAG_SET;
    download.stop_flags = HX_FLAG_SET;
    download.format_flags = HX_FLAG_SET; // written on its own flag
    ASSERT_EQ(HX_setup_download_syn(client, camera, &download, &download), HX_STATUS_OK);
    EXPECT_EQ(log.count("HX_setup_download_syn: HX_FLAG_SET missing in flags (marked: start, stop); those fields "
                        "are not written"),
              1u);

    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof capture);
    capture.rate_flags = HX_FLAG_SET;
    capture.exposure_flags = HX_FLAG_SET;
    capture.exposure_group_flags = HX_FLAG_SET;
    capture.width_flags = HX_FLAG_SET;
    ASSERT_EQ(HX_setup_capture_syn(client, camera, &capture, &capture), HX_STATUS_OK);
    EXPECT_EQ(log.count("HX_setup_capture_syn: HX_FLAG_SET missing in sensor_group_flags (marked: width); "
                        "record_group_flags (marked: rate)"),
              1u);

    const std::size_t before = log.lines().size();
    HX_PLAYBACK_SETTINGS playback;
    HX_playback_settings_init(&playback, sizeof playback);
    playback.flags = HX_FLAG_SET;
    playback.cut_in_flags = HX_FLAG_SET;
    ASSERT_EQ(HX_setup_playback_syn(client, camera, &playback, &playback), HX_STATUS_OK);
    EXPECT_EQ(log.count("HX_FLAG_SET missing"), 4u) << "a record selected as a whole adds no line";
    EXPECT_EQ(log.lines().size(), before);
}

TEST_F(CommandTransport, AServiceThatHasGoneLeavesTheRecordUnchanged)
{
    std::shared_ptr<CameraServices> gone = std::make_shared<CameraServices>(static_cast<uint32_t>(camera));
    Command command(gone, in);
    gone.reset();
    command.record().flags = HX_FLAG_SET;
    EXPECT_TRUE(command.isSet());
    EXPECT_FALSE(command.process()) << "nothing to apply the command to";
    EXPECT_TRUE(operations->calls().empty());
}

} // namespace
