// The second family's JSON texts end to end through the public C interface, against stand-in
// cameras on loopback: lens status and information, lens settings, temperatures, the media
// text and camera saves, with texts a faulty camera might hold.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include <hx/hx.h>

#include "event_log.h"
#include "library_client.h"
#include "record_fields.h"
#include "registers/register_map.h"

using namespace hxsim;
using hx_test::standInCamera;
using namespace halvex::registers;

namespace {

using hx_test::setField;

constexpr uint32_t COLOUR_CAMERA = 0x7F000002; // 127.0.0.2, host order
constexpr uint32_t MONO_CAMERA = 0x7F000003;
constexpr uint32_t FIRST_FAMILY = 0x7F000004;

// Two cameras of the second family and one of the first, with one client for the whole program.
hx_test::LibraryClient& library = hx_test::LibraryClient::add([] {
    return std::vector<CameraConfig>{standInCamera(COLOUR_CAMERA, "lux19hs", "hxsim qM"),
                                     standInCamera(MONO_CAMERA, "lux19hs-mono", "hxsim qM"),
                                     standInCamera(FIRST_FAMILY, "lux19hs", "hxsim qT")};
});

HX_CAMERA_HANDLE handleOf(uint32_t hostOrderAddress)
{
    return library.handleOf(hostOrderAddress);
}

Camera& simCamera(uint32_t address)
{
    return library.camera((address & 0xFF) - 2);
}

void setDocument(uint32_t address, uint32_t reg, const std::string& text)
{
    simCamera(address).withCore([&](CameraCore& core, SimTime) { core.device().documents().setDocument(reg, text); });
}

std::string received(uint32_t address, uint32_t reg)
{
    std::string text;
    simCamera(address).withCore([&](CameraCore& core, SimTime) { text = core.device().documents().received(reg); });
    return text;
}

HX_LENS_STATUS lensStatus(HX_STATUS expected, uint32_t address = COLOUR_CAMERA)
{
    HX_LENS_STATUS record;
    HX_lens_status_init(&record, sizeof(record));
    EXPECT_EQ(HX_get_lens_status(library.client(), handleOf(address), &record), expected);
    return record;
}

const char* kLensStatus = R"({"connected":true,"powered":true,"talking":true,"f_number":2.8,"f_minimum":1.85,
    "f_maximum":16,"focus_pos":420,"focus_min":100,"focus_near":150,"focus_inf":900,"zoom_pos":3,"focal_len":50,
    "manual_focus":false})";

} // namespace

TEST(LensChannels, StatusAndInformationFillTheRecord)
{
    setDocument(COLOUR_CAMERA, GIGE_REG_LENS_STATUS_JSON, kLensStatus);
    setDocument(COLOUR_CAMERA, GIGE_REG_LENS_INFO_JSON,
                R"({"connected":true,"powered":true,"talking":true,"name":"EF 24-70","focal_len_tele":70,
                    "focal_len_wide":24,"zoom_divisions":8,"ez_enable":true})");
    const HX_LENS_STATUS record = lensStatus(HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    EXPECT_EQ(record.connected, 1u);
    EXPECT_EQ(record.f_number_num, 28u);
    EXPECT_EQ(record.f_number_den, 10u);
    EXPECT_EQ(record.f_minimum_num, 18u);
    EXPECT_EQ(record.f_maximum_num, 160u);
    EXPECT_EQ(record.focus_pos, 420u);
    EXPECT_EQ(record.focus_inf, 900u);
    EXPECT_EQ(record.focal_len, 50u);
    EXPECT_STREQ(record.name, "EF 24-70");
    EXPECT_EQ(record.focal_len_wide, 24u);
    EXPECT_EQ(record.zoom_divisions, 8u);
    EXPECT_EQ(record.ez_enable, 1u);

    setDocument(COLOUR_CAMERA, GIGE_REG_LENS_INFO_JSON,
                R"({"connected":true,"powered":false,"talking":true,"name":"x"})");
    EXPECT_STREQ(lensStatus(HX_STATUS_OK).name, "") << "an unpowered lens is not described";
}

TEST(LensChannels, UnusableTextsFailTheCallWithTheErrorBit)
{
    for (const char* text : {"", R"({"connected":tru)", R"({"connected":"yes"})"}) {
        setDocument(COLOUR_CAMERA, GIGE_REG_LENS_STATUS_JSON, text);
        EXPECT_NE(lensStatus(HX_STATUS_ERROR).flags & HX_FLAG_ERR, 0u) << text;
    }
    setDocument(COLOUR_CAMERA, GIGE_REG_LENS_STATUS_JSON, std::string(2000, '{'));
    EXPECT_NE(lensStatus(HX_STATUS_ERROR).flags & HX_FLAG_ERR, 0u) << "a text longer than one read";
    lensStatus(HX_STATUS_ERROR, FIRST_FAMILY);
    setDocument(COLOUR_CAMERA, GIGE_REG_LENS_STATUS_JSON, kLensStatus);
}

TEST(LensChannels, FlaggedSettingsReachTheCameraAsOneLine)
{
    HX_LENS_SETTINGS settings;
    HX_lens_settings_init(&settings, sizeof(settings));
    setField(settings.power, settings.power_flags, 1);
    settings.f_number_num = 56;
    settings.f_number_den = 10;
    settings.f_number_flags = HX_FLAG_SET;
    settings.focus_pos = 77; // not flagged
    ASSERT_EQ(HX_setup_lens_syn(library.client(), handleOf(COLOUR_CAMERA), &settings), HX_STATUS_OK);
    EXPECT_EQ(received(COLOUR_CAMERA, GIGE_REG_LENS_SETTINGS_JSON), R"({"f_number":5.6,"power":1})");
}

TEST(Temperatures, ATextLongerThanOneReadIsReadWhole)
{
    std::string text = R"({"temp_a10_ext":41.5,"temp_a10_int":44,"temp_em2120":39.25,"temp_fan_external":28,)"
                       R"("temp_fan_internal":31,"temp_firefly":36.5,"temp_nvme":52,"temp_pcie":47.75,"pad":")";
    const std::string tail = R"(","temp_sensor":30.5})";
    text += std::string(700 - text.size() - tail.size(), 'p') + tail;
    ASSERT_EQ(text.size(), 700u);
    setDocument(COLOUR_CAMERA, GIGE_REG_TELEMETRY_JSON, text);
    HX_TEMPERATURE record;
    HX_temperature_init(&record, sizeof(record));
    ASSERT_EQ(HX_temperature_syn(library.client(), handleOf(COLOUR_CAMERA), &record), HX_STATUS_OK);
    EXPECT_FLOAT_EQ(record.temp_a10_ext, 41.5f);
    EXPECT_FLOAT_EQ(record.temp_pcie, 47.75f);
    EXPECT_FLOAT_EQ(record.temp_sensor, 30.5f) << "the member after the first 512 bytes";

    setDocument(COLOUR_CAMERA, GIGE_REG_TELEMETRY_JSON, text.substr(0, 600));
    EXPECT_EQ(HX_temperature_syn(library.client(), handleOf(COLOUR_CAMERA), &record), HX_STATUS_ERROR);
    EXPECT_NE(record.flags & HX_FLAG_ERR, 0u);
}

TEST(CameraSave, TheRequestCommentAndQualityReachTheCamera)
{
    const HX_CAMERA_HANDLE cam = handleOf(COLOUR_CAMERA);
    ASSERT_EQ(HX_camera_save(library.client(), cam,
                             R"({"format":1,"dst_info":2,"playback_rate":30,"frame_start":10,"frame_end":19,
                                 "dstpath":"/media/run1","jpeg_quality":75,"comment":"first run","shared_mem":true})"),
              HX_STATUS_OK);
    EXPECT_EQ(received(COLOUR_CAMERA, GIGE_REG_SAVE_REQUEST_JSON),
              R"({"dst_info":123393,"dstpath":"/media/run1","frame_count":10,"frame_end":19,"frame_start":10,)"
              R"("shared_mem":true})");
    EXPECT_EQ(received(COLOUR_CAMERA, GIGE_REG_SAVE_COMMENT), "first run");
    EXPECT_EQ(hx_test::registerOf(simCamera(COLOUR_CAMERA), GIGE_REG_DOWNLOAD_C0AC), 75u);
}

TEST(CameraSave, RefusedSettingsSendNothing)
{
    const HX_CAMERA_HANDLE mono = handleOf(MONO_CAMERA);
    for (const char* text :
         {R"({"format":8,"dst_info":1,"frame_start":0,"frame_end":1,"dstpath":"p","comment":"c"})", "{not json", ""}) {
        EXPECT_EQ(HX_camera_save(library.client(), mono, text), HX_STATUS_ERROR) << text;
    }
    EXPECT_EQ(received(MONO_CAMERA, GIGE_REG_SAVE_REQUEST_JSON), "");
    EXPECT_EQ(received(MONO_CAMERA, GIGE_REG_SAVE_COMMENT), "");
}

TEST(CameraMedia, TheTextIsReadOnceAndCutToTheBuffer)
{
    const std::string media = R"({"media":[{"slot":1,"free_mb":)" + std::string(600, '9') + "}]}";
    setDocument(COLOUR_CAMERA, GIGE_REG_MEDIA_INFO_JSON, media);
    const HX_CAMERA_HANDLE cam = handleOf(COLOUR_CAMERA);
    std::vector<char> buffer(1024, 'x');
    uint32_t length = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(HX_get_camera_media_syn(library.client(), cam, buffer.data(), &length), HX_STATUS_OK);
    EXPECT_EQ(std::string(buffer.data()), media);
    EXPECT_EQ(length, media.size());
    length = 0;
    ASSERT_EQ(HX_get_camera_media_syn(library.client(), cam, nullptr, &length), HX_STATUS_OK) << "measuring";
    EXPECT_EQ(length, media.size());

    setDocument(COLOUR_CAMERA, GIGE_REG_MEDIA_INFO_JSON, "{}");
    char small[8];
    length = sizeof(small);
    ASSERT_EQ(HX_get_camera_media_syn(library.client(), cam, small, &length), HX_STATUS_OK);
    EXPECT_EQ(std::string(small), media.substr(0, 7)) << "the cached text, cut to the buffer";
    EXPECT_EQ(length, media.size());
}

namespace {

// A client that keeps the progress events of the camera it subscribed to.
class ProgressWatcher {
public:
    explicit ProgressWatcher(HX_CAMERA_HANDLE camera) : camera_(camera)
    {
        EXPECT_EQ(HX_register(&client_, &hx_test::EventLog::callback, &log_), HX_STATUS_OK);
        EXPECT_EQ(HX_subscribe(client_, camera_), HX_STATUS_OK);
    }
    ~ProgressWatcher()
    {
        HX_unsubscribe(client_, camera_);
        HX_unregister(client_);
    }

    HX_STATUS startSave(const char* json) { return HX_camera_save(library.client(), camera_, json); }

    // The first progress event that `done` accepts, or nothing by the deadline.
    std::optional<HX_PROGRESS> waitFor(const std::function<bool(const HX_PROGRESS&)>& done)
    {
        return log_.waitFor<HX_PROGRESS>(HX_PROGRESS_UPDATE, done, std::chrono::seconds(20));
    }

private:
    HX_CAMERA_HANDLE camera_;
    HX_CLIENT_HANDLE client_ = 0;
    hx_test::EventLog log_;
};

} // namespace

TEST(CameraSave, ProgressEventsFollowTheSaveToItsEnd)
{
    ProgressWatcher watcher(handleOf(MONO_CAMERA));
    ASSERT_EQ(watcher.startSave(R"({"format":2,"dst_info":1,"frame_start":0,"frame_end":1999,"dstpath":"/media/a"})"),
              HX_STATUS_OK);
    const auto done = watcher.waitFor([](const HX_PROGRESS& p) { return p.percent == 100; });
    ASSERT_TRUE(done) << "no progress event reported the save as done";
    EXPECT_EQ(done->error, 0u);
    EXPECT_EQ(done->total_frames, 2000u);
    EXPECT_EQ(done->camera_progress, 2000u);
    EXPECT_TRUE(watcher.waitFor([](const HX_PROGRESS& p) { return p.percent < 100; }))
        << "no event while the save was running";
}

TEST(CameraSave, ACameraErrorIsReportedAndCleared)
{
    ProgressWatcher watcher(handleOf(MONO_CAMERA));
    ASSERT_EQ(watcher.startSave(R"({"format":2,"dst_info":1,"frame_start":0,"frame_end":9,"dstpath":"/missing/a"})"),
              HX_STATUS_OK);
    const auto failed = watcher.waitFor([](const HX_PROGRESS& p) { return p.error != 0; });
    ASSERT_TRUE(failed) << "no progress event reported the camera's error";
    EXPECT_EQ(failed->error, 2u);
    EXPECT_EQ(failed->total_frames, 10u);
    EXPECT_EQ(hx_test::registerOf(simCamera(MONO_CAMERA), GIGE_REG_SAVE_STATE), 0x80000000u)
        << "the error was not cleared";
}
