// The managed-host wrappers: traces under the wrapper bit, and the reshaped calls' copy-out rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <hx/hx.h>

#include "log_capture.h"
#include "stand_in_service.h"

namespace {

class Wrappers : public ::testing::Test {
protected:
    void TearDown() override { HX_trace(0); }
};

TEST_F(Wrappers, RegisterAndHandleLookupCopyOutOnlyOnSuccess)
{
    HX_CLIENT_HANDLE client = 0x5151;
    ASSERT_EQ(CS_HX_register(&client, nullptr, nullptr), HX_STATUS_OK);
    EXPECT_NE(client, 0x5151u);

    HX_CAMERA_HANDLE camera = 0x7777;
    EXPECT_EQ(CS_HX_get_handle_by_name(client, &camera, ""), HX_STATUS_ERROR);
    EXPECT_EQ(CS_HX_get_handle_by_name(client, &camera, "no such camera"), HX_STATUS_ERROR);
    EXPECT_EQ(camera, 0x7777u) << "a failed lookup leaves the caller's handle alone";
    EXPECT_EQ(CS_HX_unregister(client), HX_STATUS_OK);
    EXPECT_EQ(CS_HX_unregister(client), HX_STATUS_ERROR);
}

TEST_F(Wrappers, InitialisersPassTheStatusThroughAndTraceTheExpectedSize)
{
    HX_READ_STREAM read;
    HX_COMMAND command;
    {
        hx_test::LogCapture log;
        EXPECT_EQ(CS_HX_read_stream_init(&read, 48), HX_STATUS_ERROR);
        EXPECT_TRUE(log.lines().empty()) << "wrapper traces need the wrapper bit";
    }
    HX_trace(1);
    hx_test::LogCapture log;
    EXPECT_EQ(CS_HX_read_stream_init(&read, 48), HX_STATUS_ERROR);
    EXPECT_EQ(CS_HX_read_stream_init(&read, sizeof read), HX_STATUS_OK);
    EXPECT_EQ(CS_HX_command_init(&command, sizeof command), HX_STATUS_OK);
    EXPECT_EQ(CS_HX_command_init(nullptr, sizeof command), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("CS_HX_read_stream_init: s="), 2u);
    EXPECT_EQ(log.count(", size=48[56]"), 1u);
    EXPECT_EQ(log.count(", size=56[56]"), 1u);
    EXPECT_EQ(log.count("CS_HX_command_init: s="), 2u);
    EXPECT_EQ(log.count(", size=24"), 2u) << "no expected size for the command record";
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The log file gets every line while it is open, one file at a time; closing it lets another
// open. The managed wrapper does the same.
TEST_F(Wrappers, TheLogFileTakesEveryLineWhileItIsOpenAndOnlyOneOpens)
{
    const std::string first = testing::TempDir() + "hx_logger_first.log";
    const std::string second = testing::TempDir() + "hx_logger_second.log";
    std::remove(first.c_str());
    std::remove(second.c_str());
    EXPECT_EQ(HX_logger_file("/nonexistent-folder/hx.log"), HX_STATUS_ERROR);
    ASSERT_EQ(HX_logger_file(first.c_str()), HX_STATUS_OK);
    EXPECT_EQ(CS_HX_logger_file(second.c_str()), HX_STATUS_ERROR) << "a second file opened beside the first";
    EXPECT_EQ(HX_unregister(0x4141), HX_STATUS_ERROR); // logs why
    ASSERT_EQ(CS_HX_logger_file(nullptr), HX_STATUS_OK);
    EXPECT_EQ(HX_unregister(0x4242), HX_STATUS_ERROR);
    ASSERT_EQ(CS_HX_logger_file(second.c_str()), HX_STATUS_OK);
    EXPECT_EQ(HX_unregister(0x4343), HX_STATUS_ERROR);
    ASSERT_EQ(HX_logger_file(nullptr), HX_STATUS_OK);

    const std::string firstText = fileText(first);
    const std::string secondText = fileText(second);
    EXPECT_NE(firstText.find("4141"), std::string::npos) << firstText;
    EXPECT_EQ(firstText.find("4242"), std::string::npos) << "a line written after the file was closed";
    EXPECT_EQ(secondText.find("4242"), std::string::npos) << "a line written before the file was opened";
    EXPECT_NE(secondText.find("4343"), std::string::npos) << secondText;
    std::remove(first.c_str());
    std::remove(second.c_str());
}

TEST_F(Wrappers, AnalogGainIsSplitIntoAGetterAndASetter)
{
    const HX_CAMERA_HANDLE camera = hx_test::addCamera(5);
    auto operations = hx_test::installStandIns().operationsOf(static_cast<uint32_t>(camera));
    HX_CLIENT_HANDLE client = 0;
    ASSERT_EQ(CS_HX_register(&client, nullptr, nullptr), HX_STATUS_OK);
    HX_ANALOG_GAIN gain;
    HX_analog_gain_init(&gain, sizeof gain);
    operations->clearCalls();
    HX_trace(1);
    hx_test::LogCapture log;
    EXPECT_EQ(CS_HX_set_analog_gain(client, camera, &gain), HX_STATUS_OK);
    EXPECT_EQ(operations->calls(), std::vector<std::string>{"setAnalogGain"});
    EXPECT_EQ(CS_HX_get_analog_gain(client, camera, &gain), HX_STATUS_OK);
    EXPECT_EQ(operations->calls(), (std::vector<std::string>{"setAnalogGain", "getAnalogGain"}));
    EXPECT_EQ(log.count("CS_HX_set_analog_gain: cli_h="), 1u);
    EXPECT_EQ(log.count("CS_HX_get_analog_gain: cli_h="), 1u);
    EXPECT_EQ(CS_HX_unregister(client), HX_STATUS_OK);
}

} // namespace
