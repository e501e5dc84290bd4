// The diagnostic printers and HX_str_flags: expected texts typed from the printer formats.
#include <hx/hx.h>

#include "log_capture.h"
#include <hlv_thread/log.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "api/settings_printers.h"
#include "api/support_functions.h"

namespace {

using halvex::api::support::recordLines;

std::vector<std::string> texts(const halvex::api::support::PrintedLines& lines)
{
    std::vector<std::string> out;
    for (const auto& line : lines)
        out.push_back(line.text);
    return out;
}

std::string strFlags(int flags, unsigned size)
{
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    HX_str_flags(flags, buffer, size);
    return buffer;
}

TEST(StrFlags, RendersErrSetChgInThatOrder)
{
    EXPECT_EQ(strFlags(0xE, 16), "Err | Set | Chg");
    EXPECT_EQ(strFlags(0x0, 16), "--- | --- | ---");
    EXPECT_EQ(strFlags(0x4, 16), "Err | --- | ---");
    EXPECT_EQ(strFlags(0x2, 16), "--- | Set | ---");
    EXPECT_EQ(strFlags(0x8, 32), "--- | --- | Chg");
    // Bits other than 0x2, 0x4 and 0x8 are not shown.
    EXPECT_EQ(strFlags(0x7FFFFFF1, 16), "--- | --- | ---");
    EXPECT_EQ(strFlags(-1, 16), "Err | Set | Chg");
    EXPECT_EQ(halvex::api::support::flagsText(0xA), "--- | Set | Chg");
}

TEST(StrFlags, TruncatesToSmallBuffersAndIgnoresUnusableOnes)
{
    EXPECT_EQ(strFlags(0xE, 10), "Err | Set");
    EXPECT_EQ(strFlags(0xE, 15), "Err | Set | Ch");
    EXPECT_EQ(strFlags(0xE, 1), "");

    char untouched[4] = {'a', 'b', 'c', '\0'};
    HX_str_flags(0xE, untouched, 0);
    EXPECT_STREQ(untouched, "abc");
    HX_str_flags(0xE, nullptr, 16); // must simply return

    char exact[16];
    std::memset(exact, '#', sizeof exact);
    HX_str_flags(0xE, exact, sizeof exact);
    EXPECT_EQ(exact[15], '\0');
}

TEST(SettingsPrinters, CaptureSettingsFullDump)
{
    HX_CAPTURE_SETTINGS s;
    ASSERT_EQ(HX_capture_settings_init(&s, sizeof s), HX_STATUS_OK);
    s.flags = 0xA;
    s.sensor_group_flags = 0x2;
    s.bit_mode = 0x1, s.bit_mode_flags = 0x2, s.bit_mode_caps = 0x1FF;
    s.bns_mode = 0x20, s.bns_mode_flags = 0x0, s.bns_mode_caps = 0x3F;
    s.fpn_mode = 0x4, s.fpn_mode_flags = 0x4, s.fpn_mode_caps = 0x7;
    s.width = 1280, s.width_flags = 0x2, s.width_max = 2560, s.width_min = 32, s.width_constr = 4;
    s.height = 1024, s.height_flags = 0x8, s.height_max = 2048, s.height_min = 2, s.height_constr = 2;
    s.x_offset = 16, s.x_offset_max = 1280, s.x_offset_constr = 4;
    s.y_offset = 8, s.y_offset_max = 1024, s.y_offset_constr = 2;
    s.record_group_flags = 0x8;
    s.record_mode = 2, s.record_mode_flags = 0x2;
    s.length = 1000, s.length_flags = 0x8, s.length_max = 5000;
    s.trigger = 500, s.trigger_flags = 0x0;
    s.rate = 1000, s.rate_divisor = 3, s.rate_flags = 0x6, s.rate_max = 2000, s.rate_min = 24, s.rate_constr = 1;
    s.exposure = 990, s.exposure_flags = 0x2, s.exposure_max = 998, s.exposure_min = 2, s.exposure_constr = 1;
    s.low_light = 0, s.low_light_flags = 0x0, s.low_light_max = 41000, s.low_light_min = 7500;

    const std::vector<std::string> expected = {
        "Capture settings ver 2.12 (flags: 0x0000000A)  --- | Set | Chg [IN]",
        "  Sensor (flags 0x00000002):                  --- | Set | ---",
        "    Bit mode, current:   0x00000001",
        "    Bit mode, caps:      0x000001FF",
        "    Bit mode, flags:     0x00000002           --- | Set | ---",
        "    BNS mode, current:   0x00000020",
        "    BNS mode, caps:      0x0000003F",
        "    BNS mode, flags:     0x00000000           --- | --- | ---",
        "    FPN mode, current:   0x00000004",
        "    FPN mode, caps:      0x00000007",
        "    FPN mode, flags:     0x00000004           Err | --- | ---",
        "    Width, min:                  32",
        "    Width, current:            1280",
        "    Width, max:                2560",
        "    Width, constr.                4",
        "    Width, flags         0x00000002           --- | Set | ---",
        "    Height, min:                  2",
        "    Height, current:           1024",
        "    Height, max:               2048",
        "    Height, constr.               2",
        "    Height, flags        0x00000008           --- | --- | Chg",
        "    X-offset, min:                0",
        "    X-offset, current:           16",
        "    X-offset, max:             1280",
        "    X-offset, constr.             4",
        "    X-offset, flags      0x00000000           --- | --- | ---",
        "    Y-offset, min:                0",
        "    Y-offset, current:            8",
        "    Y-offset, max:             1024",
        "    Y-offset, constr.             2",
        "    Y-offset, flags      0x00000000           --- | --- | ---",
        "  Record (flags 0x00000008)                   --- | --- | Chg",
        "    Mode, current:                2",
        "    Mode, flags:         0x00000002           --- | Set | ---",
        "    Length, current:           1000",
        "    Length, max:               5000",
        "    Length, flags        0x00000008           --- | --- | Chg",
        "    Trigger, current:           500",
        "    Trigger, flags:      0x00000000           --- | --- | ---",
        "    Rate, min:                   24",
        "    Rate, current:             1000",
        "    Rate, max:                 2000",
        "    Rate, constr.                 1",
        "    Rate, flags          0x00000006           Err | Set | ---",
        "    Exposure, min:                2",
        "    Exposure, current:          990",
        "    Exposure, max:              998",
        "    Exposure, constr.             1",
        "    Exposure, flags      0x00000002           --- | Set | ---",
        "    Low Light, min:            7500",
        "    Low Light, current:           0",
        "    Low Light, max:           41000",
        "    Low Light, flags     0x00000000           --- | --- | ---",
    };
    EXPECT_EQ(texts(recordLines(s, "[IN]")), expected);
}

TEST(SettingsPrinters, CommandShowsStateNames)
{
    HX_COMMAND c;
    ASSERT_EQ(HX_command_init(&c, sizeof c), HX_STATUS_OK);
    c.flags = 0x8, c.code = 0x2, c.code_flags = 0x8, c.code_caps = 0x5, c.shutdown_request = 1;
    const std::vector<std::string> expected = {
        "Command/State ver 2.12 (flags: 0x00000008)     --- | --- | Chg [OUT]",
        "    Code/State, current: 0x00000002 (ARM)",
        "    Code, caps:          0x00000005",
        "    Code, flags:         0x00000008           --- | --- | Chg",
        "    Shutdown request:    1",
    };
    EXPECT_EQ(texts(recordLines(c, "[OUT]")), expected);

    const std::pair<uint32_t, const char*> states[] = {
        {0x1, "(IDLE)"}, {0x4, "(TRIGGER)"}, {0x8, "(REVIEW)"}, {0x40, "(unknown)"}, {0x0, "(unknown)"}};
    for (const auto& [state, shown] : states) {
        c.code = state;
        EXPECT_NE(recordLines(c, "").at(1).text.find(shown), std::string::npos) << shown;
    }
}

TEST(SettingsPrinters, AnalogGainDownloadAndStreamLines)
{
    HX_ANALOG_GAIN g;
    ASSERT_EQ(HX_analog_gain_init(&g, sizeof g), HX_STATUS_OK);
    g.gain = 0x4, g.gain_caps = 0x45;
    EXPECT_EQ(texts(recordLines(g, nullptr)), (std::vector<std::string>{
                                                  "Analog Gain settings ver 2.12 (flags: 0x00000000)  --- | --- | --- ",
                                                  "    Gain, current:       0x00000004",
                                                  "    Gain, caps:          0x00000045",
                                              }));

    HX_DOWNLOAD_SETTINGS d;
    ASSERT_EQ(HX_download_settings_init(&d, sizeof d), HX_STATUS_OK);
    d.turbo_packet_length = 9000, d.turbo_delay = 200, d.turbo_delay_flags = 0x4;
    d.format = 0x1, d.format_caps = 0x17;
    d.start = 3, d.start_max = 98, d.stop = 99, d.stop_max = 99;
    d.jpeg_quality = 80, d.jpeg_quality_min = 1, d.jpeg_quality_max = 100;
    d.pause_count = 2, d.resume_count = 10, d.rate_control_flags = 0x2;
    const std::vector<std::string> download = texts(recordLines(d, "[IN]"));
    ASSERT_EQ(download.size(), 21u);
    EXPECT_EQ(download[0], "Download settings ver 2.12 (flags: 0x00000000) --- | --- | --- [IN]");
    EXPECT_EQ(download[1], "    Turbo Pkt Len:       0x00002328");
    EXPECT_EQ(download[3], "    Turbo Delay (us):    0x000000C8");
    EXPECT_EQ(download[4], "    Turbo Delay flags:   0x00000004           Err | --- | ---");
    EXPECT_EQ(download[5], "    Format, current:     0x00000001");
    EXPECT_EQ(download[14], "    JPEG Qual, min:               1");
    EXPECT_EQ(download[15], "    JPEG Qual, current:          80");
    EXPECT_EQ(download[18], "    Pause Count:                  2");
    EXPECT_EQ(download[19], "    Resume Count:                10");
    EXPECT_EQ(download[20], "    Rate Control, flags  0x00000002           --- | Set | ---");

    HX_STREAM_SETTINGS st;
    ASSERT_EQ(HX_stream_settings_init(&st, sizeof st), HX_STATUS_OK);
    st.interpacket_delay = 200, st.jpeg_quality = 75, st.jpeg_quality_min = 1, st.jpeg_quality_max = 100;
    const std::vector<std::string> stream = texts(recordLines(st, "[OUT]"));
    ASSERT_EQ(stream.size(), 7u);
    EXPECT_EQ(stream[1], "    Interpacket Delay:          200 microsec.");
    EXPECT_EQ(stream[3], "    JPEG Qual, min:               1");
}

TEST(SettingsPrinters, IoGroupsAndNamedValues)
{
    HX_IO_SETTINGS io;
    ASSERT_EQ(HX_io_settings_init(&io, sizeof io), HX_STATUS_OK);
    io.trigger_in_group_flags = 0x2;
    io.trigger_in_edge = 1;
    io.trigger_out_pass_thru = 0, io.trigger_out_invert = 1;
    io.trigger_out_pulse_width = 2, io.trigger_out_pulse_width_min = 1, io.trigger_out_pulse_width_max = 8;
    io.sync_in_ppf = 0, io.sync_in_delay = 150;
    io.arm_out_group_flags = 0x8;
    io.fan_disable = 1, io.fan_disable_flags = 0x4;
    const std::vector<std::string> lines = texts(recordLines(io, "[IN]"));

    auto has = [&lines](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_EQ(lines.front(), "External IO settings ver 2.12 (flags: 0x00000000) --- | --- | --- [IN]");
    EXPECT_TRUE(has("  Trigger Input (flags 0x00000002):           --- | Set | ---"));
    EXPECT_TRUE(has("  Trigger Output (flags 0x00000000):          --- | --- | ---"));
    EXPECT_TRUE(has("  Sync Input (flags 0x00000000):              --- | --- | ---"));
    EXPECT_TRUE(has("  Sync Output (flags 0x00000000):             --- | --- | ---"));
    EXPECT_TRUE(has("  Arm Input (flags 0x00000000):               --- | --- | ---"));
    EXPECT_TRUE(has("  Arm Output (flags 0x00000008):              --- | --- | Chg"));
    EXPECT_TRUE(has("    Edge, current:       0x00000001 (Rising)"));
    EXPECT_TRUE(has("    Pass thru, current:  0x00000000 (Disabled)"));
    EXPECT_TRUE(has("    Invert, current:     0x00000001 (Enabled)"));
    EXPECT_TRUE(has("    Pulse, current:      2 ms"));
    EXPECT_TRUE(has("    PPF, current:        0x00000000 (per Second)"));
    EXPECT_TRUE(has("    Delay, current:      150 usec"));
    EXPECT_EQ(lines[lines.size() - 2], "    Fan disable:         0x00000001");
    EXPECT_EQ(lines.back(), "    Fan disable flags:   0x00000004           Err | --- | ---");

    io.trigger_in_edge = 0, io.sync_in_ppf = 7;
    const std::vector<std::string> changed = texts(recordLines(io, "[IN]"));
    EXPECT_NE(std::find(changed.begin(), changed.end(), "    Edge, current:       0x00000000 (Falling)"),
              changed.end());
    EXPECT_NE(std::find(changed.begin(), changed.end(), "    PPF, current:        0x00000007 (per Frame)"),
              changed.end());
}

TEST(SettingsPrinters, LensFNumberAndPlaybackModePicture)
{
    HX_LENS_SETTINGS lens;
    ASSERT_EQ(HX_lens_settings_init(&lens, sizeof lens), HX_STATUS_OK);
    lens.power = 1, lens.power_flags = 0x2, lens.f_number_num = 28, lens.f_number_den = 10;
    std::vector<std::string> lines = texts(recordLines(lens, "[IN]"));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "Lens settings ver 2.12 (flags: 0x00000000) --- | --- | --- [IN]");
    EXPECT_EQ(lines[1], "    power:              0x00000001");
    EXPECT_EQ(lines[3], "    f_number:           2.8");
    lens.f_number_num = 5, lens.f_number_den = 0; // the numerator alone
    EXPECT_EQ(recordLines(lens, "").at(3).text, "    f_number:           5.0");

    EXPECT_EQ(halvex::api::support::playbackModePicture(0x5), "-  ||  >");
    EXPECT_EQ(halvex::api::support::playbackModePicture(0x2), "<  --  -");
    EXPECT_EQ(halvex::api::support::playbackModePicture(0x0), "-  --  -");
    EXPECT_EQ(halvex::api::support::playbackModePicture(0x7), "<  ||  >");

    HX_PLAYBACK_SETTINGS pb;
    ASSERT_EQ(HX_playback_settings_init(&pb, sizeof pb), HX_STATUS_OK);
    pb.mode = 0x1, pb.mode_caps = 0x7, pb.trigger = 42;
    lines = texts(recordLines(pb, "[OUT]"));
    EXPECT_EQ(lines[0], "Playback settings ver 2.12 (flags: 0x00000000) --- | --- | --- [OUT]");
    EXPECT_EQ(lines[1], "    Mode, current:       0x00000001 [-  --  >]");
    EXPECT_EQ(lines[2], "    Mode, caps:          0x00000007 [<  ||  >]");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "    Trigger:                     42"), lines.end());
}

TEST(SettingsPrinters, TextsAreBoundedByTheirRoom)
{
    HX_CAMERA_INFORMATION info;
    ASSERT_EQ(HX_camera_information_init(&info, sizeof info), HX_STATUS_OK);
    std::memset(info.user_name, 'u', sizeof info.user_name); // no terminating NUL
    std::memset(info.unused_297, 'z', sizeof info.unused_297);
    std::strcpy(info.model_name, "model-7");
    const std::vector<std::string> lines = texts(recordLines(info, "[OUT]"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "    Model:               model-7"), lines.end());
    EXPECT_EQ(lines.back(), "    User name:           " + std::string(17, 'u'));
}

TEST(SettingsPrinters, PrintRecordLogsEachLineWithItsLocation)
{
    HX_ANALOG_GAIN g;
    ASSERT_EQ(HX_analog_gain_init(&g, sizeof g), HX_STATUS_OK);
    hx_test::LogCapture capture;
    halvex::api::support::printRecord(static_cast<const HX_ANALOG_GAIN*>(nullptr), "[IN]");
    EXPECT_TRUE(capture.lines().empty());

    halvex::api::support::printRecord(&g, "[IN]");
    const std::vector<std::string> logged = capture.lines();
    ASSERT_EQ(logged.size(), 3u);
    const halvex::api::support::PrintedLines printed = recordLines(g, "[IN]");
    for (std::size_t i = 0; i < logged.size(); ++i) {
        const std::string location = std::string(printed[i].file) + ", " + std::to_string(printed[i].line) + ": ";
        EXPECT_NE(logged[i].find(location + printed[i].text), std::string::npos) << logged[i];
        EXPECT_NE(logged[i].find("settings_printers.cpp"), std::string::npos) << logged[i];
    }
}

} // namespace
