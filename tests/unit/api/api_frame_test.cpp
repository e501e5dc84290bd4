// The API frame: registration, handle and argument checks, error texts and trace gating of the exported calls.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "hlv_thread/format.h"
#include "log_capture.h"
#include "stand_in_service.h"

using namespace halvex::thread;

namespace {

using hx_test::CallbackRecorder;

// The test's own client and camera, set up once per process.
struct World {
    CallbackRecorder recorder;
    HX_CLIENT_HANDLE client = 0;
    HX_CAMERA_HANDLE camera = 0;
};

World& world()
{
    static World* const instance = [] {
        auto* w = new World;
        w->camera = hx_test::addCamera(2);
        EXPECT_EQ(HX_register(&w->client, &CallbackRecorder::callback, &w->recorder), HX_STATUS_OK);
        return w;
    }();
    return *instance;
}

std::string pointerText(uintptr_t value)
{
    return fmtToString("%p", reinterpret_cast<void*>(value));
}

// The reason HX_last_error gives for this thread's last call.
std::string lastError()
{
    char text[256];
    std::memset(text, 'x', sizeof text);
    if (HX_last_error(text, sizeof text) != HX_STATUS_OK)
        return "(HX_last_error failed)";
    return text;
}

class ApiFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        HX_trace(0);
        client = world().client;
        camera = world().camera;
        operations = hx_test::installStandIns().operationsOf(static_cast<uint32_t>(camera));
        hx_test::drainService(camera);
        operations->clearCalls();
    }
    void TearDown() override { HX_trace(0); }

    HX_CLIENT_HANDLE client = 0;
    HX_CAMERA_HANDLE camera = 0;
    std::shared_ptr<hx_test::StandInOperations> operations;
};

TEST_F(ApiFrame, RegistrationHandsOutDistinctHandlesAndUnregistersEachOnce)
{
    hx_test::LogCapture log;
    EXPECT_EQ(HX_register(nullptr, nullptr, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("NULL pointer in API call"), 1u) << "written with tracing off";

    HX_CLIENT_HANDLE first = 0;
    HX_CLIENT_HANDLE second = 0;
    ASSERT_EQ(HX_register(&first, nullptr, nullptr), HX_STATUS_OK);
    ASSERT_EQ(HX_register_local(&second, nullptr, nullptr), HX_STATUS_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);

    EXPECT_EQ(HX_unregister(0), HX_STATUS_OK);
    EXPECT_EQ(HX_unregister(first), HX_STATUS_OK);
    EXPECT_EQ(HX_unregister(first), HX_STATUS_ERROR);
    EXPECT_EQ(HX_unregister(0xDEAD0), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Could not unregister client. Halvex exception: "), 2u);
    EXPECT_EQ(log.count("Client handle " + pointerText(0xDEAD0) + " not valid"), 1u);
    EXPECT_EQ(HX_lockCamera(first, camera), HX_STATUS_ERROR) << "an unregistered client is refused by every call";

    HX_CLIENT_HANDLE third = 0;
    ASSERT_EQ(HX_register(&third, nullptr, nullptr), HX_STATUS_OK);
    EXPECT_NE(third, first) << "handles are never reused";
    EXPECT_EQ(HX_unregister(second), HX_STATUS_OK);
    EXPECT_EQ(HX_unregister(third), HX_STATUS_OK);
}

// Every operation that names a client and a camera, with valid records where it needs them.
std::vector<std::pair<const char*, std::function<HX_STATUS(HX_CLIENT_HANDLE, HX_CAMERA_HANDLE)>>> everyOperation()
{
    static HX_CAPTURE_SETTINGS capture;
    static HX_DOWNLOAD_SETTINGS download;
    static HX_IO_SETTINGS io;
    static HX_LENS_SETTINGS lens;
    static HX_PLAYBACK_SETTINGS playback;
    static HX_STREAM_SETTINGS stream;
    static HX_ANALOG_GAIN gain;
    static HX_BATTERY_INFO battery;
    static HX_CAMERA_INFORMATION info;
    static HX_LENS_STATUS lensStatus;
    static HX_TEMPERATURE temperature;
    static HX_COMMAND command;
    // One host buffer per stream call: a buffer is not the host's to reuse until it came back.
    static HX_READ_STREAM reads[4];
    static std::vector<char> memory[4];
    static char json[8];
    static uint32_t jsonLength = sizeof json;
    HX_capture_settings_init(&capture, sizeof capture);
    HX_download_settings_init(&download, sizeof download);
    HX_io_settings_init(&io, sizeof io);
    HX_lens_settings_init(&lens, sizeof lens);
    HX_playback_settings_init(&playback, sizeof playback);
    HX_stream_settings_init(&stream, sizeof stream);
    HX_analog_gain_init(&gain, sizeof gain);
    HX_command_init(&command, sizeof command);
    for (int i = 0; i < 4; ++i) {
        memory[i].resize(HX_STREAM_MIN_BUFFER_SIZE);
        HX_read_stream_init(&reads[i], sizeof reads[i]);
        reads[i].buffer = memory[i].data();
        reads[i].buffer_size = memory[i].size();
    }
    using C = HX_CLIENT_HANDLE;
    using K = HX_CAMERA_HANDLE;
    return {
        {"setup_capture", [](C c, K k) { return HX_setup_capture_syn(c, k, &capture, &capture); }},
        {"setup_download", [](C c, K k) { return HX_setup_download_syn(c, k, &download, &download); }},
        {"setup_io", [](C c, K k) { return HX_setup_io_syn(c, k, &io, &io); }},
        {"setup_lens", [](C c, K k) { return HX_setup_lens_syn(c, k, &lens); }},
        {"setup_playback", [](C c, K k) { return HX_setup_playback_syn(c, k, &playback, &playback); }},
        {"setup_stream", [](C c, K k) { return HX_setup_stream_syn(c, k, &stream, &stream); }},
        {"analog_gain", [](C c, K k) { return HX_analog_gain(c, k, &gain, &gain); }},
        {"battery", [](C c, K k) { return HX_get_battery_info(c, k, &battery); }},
        {"information", [](C c, K k) { return HX_get_camera_information_syn(c, k, &info); }},
        {"media", [](C c, K k) { return HX_get_camera_media_syn(c, k, json, &jsonLength); }},
        {"lens_status", [](C c, K k) { return HX_get_lens_status(c, k, &lensStatus); }},
        {"temperature", [](C c, K k) { return HX_temperature_syn(c, k, &temperature); }},
        {"lock", [](C c, K k) { return HX_lockCamera(c, k); }},
        {"unlock", [](C c, K k) { return HX_unlockCamera(c, k); }},
        {"camera_save", [](C c, K k) { return HX_camera_save(c, k, "{\"tag\":1}"); }},
        {"command", [](C c, K k) { return HX_command_syn(c, k, &command, &command); }},
        {"subscribe", [](C c, K k) { return HX_subscribe(c, k); }},
        {"unsubscribe", [](C c, K k) { return HX_unsubscribe(c, k); }},
        {"live", [](C c, K k) { return HX_live(c, k, &reads[0]); }},
        {"live_enable", [](C c, K k) { return HX_live_enable(c, k, 1); }},
        {"play", [](C c, K k) { return HX_play(c, k, &reads[1]); }},
        {"download", [](C c, K k) { return HX_download(c, k, &reads[2]); }},
        {"download_syn", [](C c, K k) { return HX_download_syn(c, k, &reads[3]); }},
    };
}

TEST_F(ApiFrame, EveryOperationChecksTheClientThenTheCameraAndSucceedsWithBoth)
{
    const HX_CAMERA_HANDLE unknownCamera = hx_test::loopbackCamera(99);
    const HX_CLIENT_HANDLE unknownClient = 0xBAD0;
    const std::size_t delivered = world().recorder.count();
    for (const auto& [name, call] : everyOperation()) {
        hx_test::LogCapture log;
        EXPECT_EQ(call(unknownClient, camera), HX_STATUS_ERROR) << name;
        EXPECT_EQ(log.count("Client handle " + pointerText(unknownClient) + " not valid"), 1u) << name;
        EXPECT_NE(lastError().find("Client handle " + pointerText(unknownClient) + " not valid"), std::string::npos)
            << name << ": the reason a host shows is " << lastError();
        EXPECT_EQ(call(client, unknownCamera), HX_STATUS_ERROR) << name;
        EXPECT_EQ(log.count("Camera handle 127.0.0.99 not valid"), 1u) << name;
        EXPECT_NE(lastError().find("Camera handle 127.0.0.99 not valid"), std::string::npos) << name;
        EXPECT_EQ(call(client, camera), HX_STATUS_OK) << name;
        EXPECT_EQ(lastError(), "") << name << ": a call that succeeded leaves no reason behind";
        EXPECT_EQ(log.count("exception"), 2u) << name << ": only the two refusals are errors";
    }
    EXPECT_EQ(operations->callCount("setCaptureSettings"), 1u);
    EXPECT_EQ(operations->callCount("sendCommand") + operations->callCount("getCommand"), 1u);
    EXPECT_EQ(operations->callCount("startCameraSave"), 1u);
    EXPECT_EQ(operations->callCount("handleStreaming"), 5u);
    EXPECT_TRUE(world().recorder.waitFor(delivered + 5)) << "the four buffers and the live switch did not come back";
}

TEST_F(ApiFrame, LastErrorFitsTheHostsBufferAndRefusesNone)
{
    hx_test::LogCapture log;
    EXPECT_EQ(HX_unregister(0xDEAD0), HX_STATUS_ERROR);
    char small[6];
    std::memset(small, 'x', sizeof small);
    ASSERT_EQ(HX_last_error(small, sizeof small), HX_STATUS_OK);
    EXPECT_EQ(std::string(small), "Could") << "cut to the buffer and terminated";
    EXPECT_EQ(HX_last_error(nullptr, 10), HX_STATUS_ERROR);
    EXPECT_EQ(HX_last_error(small, 0), HX_STATUS_ERROR);
    EXPECT_EQ(CS_HX_last_error(small, sizeof small), HX_STATUS_OK);
}

TEST_F(ApiFrame, MissingOrUnusableArgumentsAreRefusedWithTheirOwnTexts)
{
    hx_test::LogCapture log;
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof capture);
    HX_DOWNLOAD_SETTINGS download;
    HX_download_settings_init(&download, sizeof download);
    EXPECT_EQ(HX_setup_capture_syn(client, camera, &capture, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Could not setup capture. Halvex exception: "), 1u);
    EXPECT_EQ(HX_setup_download_syn(client, camera, &download, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(HX_get_battery_info(client, camera, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("NULL pointer in API call"), 3u);
    EXPECT_EQ(log.count("Halvex exception: "), 3u);

    EXPECT_EQ(HX_camera_save(client, camera, ""), HX_STATUS_ERROR);
    EXPECT_EQ(HX_camera_save(client, camera, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Could not start the camera save. Halvex exception: "), 2u);
    EXPECT_EQ(log.count("HX_camera_save: The Json string was empty!"), 2u);

    HX_CAMERA_HANDLE found = 0;
    EXPECT_EQ(HX_get_handle_by_name(client, &found, ""), HX_STATUS_ERROR);
    EXPECT_EQ(HX_get_handle_by_name(client, nullptr, "cam"), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Could not get camera handle. Halvex exception: "), 2u);
    EXPECT_EQ(log.count("NULL pointer or zero-length string in API call"), 2u);

    std::vector<char> small(512 * 1024);
    HX_READ_STREAM read;
    HX_read_stream_init(&read, sizeof read);
    read.buffer = small.data();
    read.buffer_size = small.size();
    EXPECT_EQ(HX_live(client, camera, &read), HX_STATUS_ERROR);
    EXPECT_EQ(HX_play(client, camera, &read), HX_STATUS_ERROR);
    read.buffer = nullptr;
    EXPECT_EQ(HX_download(client, camera, &read), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Received data buffer not valid in API call (NULL pointer, or size too small)"), 3u);
    EXPECT_EQ(HX_download_syn(client, camera, nullptr), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Unexpectedly null HX_READ_STREAM pointer."), 1u);
    EXPECT_EQ(operations->callCount("handleStreaming"), 0u) << "nothing refused reached the camera";
}

TEST_F(ApiFrame, RecordsOfAnotherVersionAreRefusedBeforeTheCameraSeesThem)
{
    hx_test::LogCapture log;
    HX_CAPTURE_SETTINGS in;
    HX_capture_settings_init(&in, sizeof in);
    in.ver_min = 11;
    HX_CAPTURE_SETTINGS out{};
    EXPECT_EQ(HX_setup_capture_syn(client, camera, &in, &out), HX_STATUS_ERROR);
    EXPECT_EQ(out.ver_maj, 0u) << "no partial copy on failure";

    HX_READ_STREAM read;
    HX_read_stream_init(&read, sizeof read);
    std::vector<char> memory(HX_STREAM_MIN_BUFFER_SIZE);
    read.buffer = memory.data();
    read.buffer_size = memory.size();
    read.ver_maj = 3;
    EXPECT_EQ(HX_live(client, camera, &read), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Wrong API version"), 1u);
    EXPECT_EQ(operations->callCount("setCaptureSettings"), 0u);
    EXPECT_EQ(operations->callCount("handleStreaming"), 0u);
}

TEST_F(ApiFrame, EntryLinesAndRecordDumpsOnlyUnderTheirTraceBits)
{
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof capture);
    {
        hx_test::LogCapture log;
        ASSERT_EQ(HX_setup_capture_syn(client, camera, &capture, &capture), HX_STATUS_OK);
        EXPECT_EQ(log.lines().size(), 0u) << "nothing is written with tracing off";
    }
    EXPECT_EQ(HX_trace(1), 0x3FF1u);
    hx_test::LogCapture log;
    ASSERT_EQ(HX_setup_capture_syn(client, camera, &capture, &capture), HX_STATUS_OK);
    EXPECT_EQ(log.count("HX_setup_capture_syn: cli_h=" + pointerText(client) + ", cam=127.0.0.2"), 1u);
    EXPECT_EQ(log.count("Capture settings ver 2.12"), 2u);
    EXPECT_EQ(log.count("[IN]"), 1u);
    EXPECT_EQ(log.count("[OUT]"), 1u);
}

TEST_F(ApiFrame, SettingsRunOnTheCameraAndComeBackInPlaceOrInTheOutputRecord)
{
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof capture);
    ASSERT_EQ(HX_setup_capture_syn(client, camera, &capture, &capture), HX_STATUS_OK);
    EXPECT_EQ(capture.width, 1280u);
    EXPECT_EQ(capture.flags & HX_FLAG_CHG, static_cast<uint32_t>(HX_FLAG_CHG));

    HX_CAPTURE_SETTINGS in;
    HX_capture_settings_init(&in, sizeof in);
    HX_CAPTURE_SETTINGS out{};
    ASSERT_EQ(HX_setup_capture_syn(client, camera, &in, &out), HX_STATUS_OK);
    EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0) << "the whole applied record is copied out";

    EXPECT_EQ(HX_analog_gain(client, camera, nullptr, nullptr), HX_STATUS_OK);
    EXPECT_EQ(operations->callCount("setAnalogGain") + operations->callCount("getAnalogGain"), 0u);
    HX_ANALOG_GAIN gain;
    HX_analog_gain_init(&gain, sizeof gain);
    EXPECT_EQ(HX_analog_gain(client, camera, nullptr, &gain), HX_STATUS_OK);
    EXPECT_EQ(gain.gain, static_cast<uint32_t>(HX_ANALOG_GAIN_2_00));
    EXPECT_EQ(operations->callCount("setAnalogGain"), 0u);

    HX_TEMPERATURE temperature;
    HX_temperature_init(&temperature, sizeof temperature);
    EXPECT_EQ(HX_temperature_syn(client, camera, &temperature), HX_STATUS_OK);
    EXPECT_FLOAT_EQ(temperature.temp_sensor, 41.5f);
    operations->setOperationResult(false);
    EXPECT_EQ(HX_temperature_syn(client, camera, &temperature), HX_STATUS_ERROR) << "the operation's own result";
    EXPECT_EQ(HX_lockCamera(client, camera), HX_STATUS_ERROR);
    EXPECT_EQ(HX_unlockCamera(client, camera), HX_STATUS_ERROR);
    operations->setOperationResult(true);
}

TEST_F(ApiFrame, SubscriptionsNeedACallbackAndReachTheCameraService)
{
    hx_test::LogCapture log;
    HX_CLIENT_HANDLE silent = 0;
    ASSERT_EQ(HX_register(&silent, nullptr, nullptr), HX_STATUS_OK);
    EXPECT_EQ(HX_subscribe(silent, camera), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Cannot subscribe; client has no callback function registered"), 1u);
    EXPECT_EQ(HX_unregister(silent), HX_STATUS_OK);

    const int before = operations->subscribers();
    ASSERT_EQ(HX_subscribe(client, camera), HX_STATUS_OK);
    EXPECT_EQ(operations->subscribers(), before + 1);
    ASSERT_EQ(HX_unsubscribe(client, camera), HX_STATUS_OK);
    EXPECT_EQ(operations->subscribers(), before);
}

TEST_F(ApiFrame, ReleasingAHandleEndsItsServiceUntilTheCameraIsAddedAgain)
{
    const HX_CAMERA_HANDLE released = hx_test::addCamera(7);
    EXPECT_EQ(HX_lockCamera(client, released), HX_STATUS_OK);
    EXPECT_EQ(HX_release_handle(client, released), HX_STATUS_OK);
    EXPECT_EQ(HX_release_handle(client, released), HX_STATUS_OK) << "releasing twice is harmless";
    hx_test::LogCapture log;
    EXPECT_EQ(HX_lockCamera(client, released), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("Camera handle 127.0.0.7 not valid"), 1u);
    hx_test::addCamera(7);
    EXPECT_EQ(HX_lockCamera(client, released), HX_STATUS_OK);
}

} // namespace
