// Subscriptions, the heartbeat and the remaining settings end to end through the public C
// interface, against stand-in cameras on loopback: a client leaving while events flow, a locked
// camera that restarts or is taken by another host, a camera lost while it records, and each
// settings group's round trip and refusals. (The recording state machine with its events per
// client is the C host test's.)
#include <gtest/gtest.h>

#include "log_capture.h"
#include <hx/hx.h>

#include "event_log.h"
#include "library_client.h"
#include "record_fields.h"
#include "registers/register_map.h"

using namespace hxsim;
using namespace std::chrono_literals;
using hx_test::DEADLINE;
using hx_test::EventLog;
namespace regs = halvex::registers;

namespace {

using hx_test::setField;

constexpr uint32_t FIRST = 0x7F000002; // 127.0.0.2, host order
constexpr uint32_t SETTINGS = 0x7F000003;
constexpr uint32_t LOCKED = 0x7F000005; // started by its test
constexpr uint32_t LOST = 0x7F000006;   // started by its test
constexpr uint32_t RECORD_LENGTH = 60;
constexpr uint32_t RECORD_RATE = 100;

CameraConfig camera(uint32_t address, const char* sensor, double timeScale = 1.0)
{
    CameraConfig config = hx_test::standInCamera(address, sensor, "hxsim qT");
    config.timeScale = timeScale;
    return config;
}

// Two clients with their own event logs; the two cameras that run throughout.
EventLog firstLog;
EventLog secondLog;
hx_test::LibraryClient& library = hx_test::LibraryClient::add(
    [] {
        return std::vector<CameraConfig>{camera(FIRST, "lince"), camera(SETTINGS, "lupa")};
    },
    {{&EventLog::callback, &firstLog}, {&EventLog::callback, &secondLog}});

HX_CLIENT_HANDLE firstClient()
{
    return library.client(0);
}
HX_CLIENT_HANDLE secondClient()
{
    return library.client(1);
}
HX_CAMERA_HANDLE handleOf(uint32_t hostOrderAddress)
{
    return library.handleOf(hostOrderAddress);
}

HX_COMMAND command(HX_CAMERA_HANDLE camera, uint32_t code, HX_CLIENT_HANDLE client = firstClient())
{
    HX_COMMAND in;
    HX_command_init(&in, sizeof(in));
    if (code != 0) {
        in.flags = HX_FLAG_SET;
        setField(in.code, in.code_flags, code);
    }
    HX_COMMAND out = in;
    EXPECT_EQ(HX_command_syn(client, camera, &in, &out), HX_STATUS_OK);
    return out;
}

// A start-trigger recording of 60 frames at 100 frames per second: 0.6 s once triggered.
void shortRecording(HX_CAMERA_HANDLE camera)
{
    HX_CAPTURE_SETTINGS record = library.captureSettings(camera);
    record.record_group_flags = HX_FLAG_SET;
    setField(record.record_mode, record.record_mode_flags, HX_RECORD_MODE_LTR);
    setField(record.length, record.length_flags, RECORD_LENGTH);
    record.rate = RECORD_RATE;
    record.rate_divisor = 1;
    record.rate_flags = HX_FLAG_SET;
    ASSERT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    ASSERT_EQ(record.flags & HX_FLAG_ERR, 0u);
    ASSERT_EQ(record.length, RECORD_LENGTH);
}

// The camera states reported after the last report of the armed state, each once.
std::vector<uint32_t> statesSinceArmed(const EventLog::Events& events, HX_CAMERA_HANDLE camera)
{
    std::vector<uint32_t> states;
    for (const EventLog::Event& event : events) {
        if (event.camera != camera || event.code != HX_STATE)
            continue;
        // Each report of a state register makes a state event: a state may be reported twice.
        const uint32_t state = event.as<HX_COMMAND>().code;
        if (state == 2)
            states.clear();
        else if (states.empty() || states.back() != state)
            states.push_back(state);
    }
    return states;
}

} // namespace

TEST(Subscriptions, AClientLeavingWhileEventsFlowSeesNoMore)
{
    // The camera with the short recording; after the first test it holds one in review.
    const HX_CAMERA_HANDLE camera = handleOf(FIRST);
    shortRecording(camera);
    firstLog.clear();
    secondLog.clear();
    ASSERT_EQ(HX_subscribe(firstClient(), camera), HX_STATUS_OK);
    ASSERT_EQ(HX_subscribe(secondClient(), camera), HX_STATUS_OK);
    ASSERT_EQ(HX_subscribe(secondClient(), camera), HX_STATUS_OK); // twice: still one delivery each
    command(camera, HX_CMD_ARM);
    EXPECT_TRUE(firstLog.waitFor<HX_COMMAND>(
        HX_STATE, [](const HX_COMMAND& c) { return c.code == 2; }, DEADLINE));

    // Events keep coming while the first client leaves; whatever follows reaches the second only.
    EXPECT_EQ(HX_unsubscribe(firstClient(), camera), HX_STATUS_OK);
    EXPECT_EQ(HX_unsubscribe(firstClient(), camera), HX_STATUS_OK);
    command(camera, HX_CMD_TRIGGER);
    EXPECT_TRUE(secondLog.waitUntil(
        [&](const EventLog::Events& events) {
            return statesSinceArmed(events, camera) == std::vector<uint32_t>{4, 8};
        },
        DEADLINE));
    EXPECT_TRUE(statesSinceArmed(firstLog.events(), camera).empty());

    // A client that unregisters while a burst of events is on its way is simply no longer called.
    HX_CLIENT_HANDLE leaving = 0;
    // Events queued before the unregistration may still be delivered to it, so the log the
    // callback writes into outlives this test.
    static EventLog leavingLog;
    ASSERT_EQ(HX_register(&leaving, &EventLog::callback, &leavingLog), HX_STATUS_OK);
    ASSERT_EQ(HX_subscribe(leaving, camera), HX_STATUS_OK);
    EXPECT_EQ(HX_unregister(leaving), HX_STATUS_OK);
    EXPECT_EQ(HX_subscribe(leaving, camera), HX_STATUS_ERROR);
    EXPECT_EQ(HX_unsubscribe(secondClient(), camera), HX_STATUS_OK);
    HX_release_handle(firstClient(), camera);
}

TEST(Heartbeat, ALockIsOnlyWrittenAndAQuietHostLosesItToTheCameraHeartbeat)
{
    // Camera time runs 20 times faster: its 3 s heartbeat time-out passes in a fraction of a second.
    auto locked = std::make_unique<Camera>(camera(LOCKED, "lupa", 20.0), hx_test::standInLogger());
    const HX_CAMERA_HANDLE handle = handleOf(LOCKED);
    const uint32_t heartbeat = hx_test::registerOf(*locked, regs::GIGE_REG_HEARTBEAT_TIMEOUT);
    ASSERT_EQ(HX_lockCamera(firstClient(), handle), HX_STATUS_OK);
    EXPECT_EQ(hx_test::registerOf(*locked, regs::GIGE_REG_CCP), 2u);
    EXPECT_EQ(hx_test::registerOf(*locked, regs::GIGE_REG_HEARTBEAT_TIMEOUT), heartbeat);
    // Nothing keeps the lock for a host that says nothing: the camera drops it.
    EXPECT_TRUE(hx_test::standInLines().waitFor(hx_test::cameraLine(handle, "heartbeat expired"), DEADLINE));
    EXPECT_EQ(hx_test::registerOf(*locked, regs::GIGE_REG_CCP), 0u);
    hx_test::LogCapture log;

    // Once unlocked, the camera is free for another host; locking it then fails, and says so.
    ASSERT_EQ(HX_unlockCamera(firstClient(), handle), HX_STATUS_OK);
    EXPECT_EQ(hx_test::registerOf(*locked, regs::GIGE_REG_CCP), 0u);
    locked->withCore([](CameraCore& core, SimTime now) {
        core.device().write(regs::GIGE_REG_CCP, 2, Endpoint{0x7F000009, 40000}, now);
    });
    EXPECT_EQ(HX_lockCamera(firstClient(), handle), HX_STATUS_ERROR);
    EXPECT_EQ(log.count("There was an error writing the CCP register [0xb]"), 1u);
    HX_release_handle(firstClient(), handle);
}

TEST(LostCamera, WhileRecordingItIsReportedAndIsUsedAgainWhenItReturns)
{
    auto lost = std::make_unique<Camera>(camera(LOST, "lince", 0.1));
    const HX_CAMERA_HANDLE handle = handleOf(LOST);
    firstLog.clear();
    ASSERT_EQ(HX_subscribe(firstClient(), handle), HX_STATUS_OK);
    EXPECT_EQ(command(handle, HX_CMD_ARM).code, 2u);
    EXPECT_EQ(command(handle, HX_CMD_TRIGGER).code, 4u);
    ASSERT_TRUE(firstLog.waitFor<HX_PROGRESS>(
        HX_PROGRESS_UPDATE, [](const HX_PROGRESS& p) { return p.recorded_frames > 0; }, DEADLINE));

    lost.reset();
    EXPECT_TRUE(firstLog.waitForEvent(HX_END, handle, DEADLINE)) << "the silent camera was never reported lost";
    // Asking a lost camera its state fails, or leaves the record as it was.
    HX_COMMAND in;
    HX_command_init(&in, sizeof(in));
    HX_COMMAND out = in;
    const HX_STATUS asked = HX_command_syn(firstClient(), handle, &in, &out);
    EXPECT_TRUE(asked == HX_STATUS_ERROR || out.code == 0);

    firstLog.clear();
    lost = std::make_unique<Camera>(camera(LOST, "lince", 0.1));
    EXPECT_EQ(handleOf(LOST), handle);
    ASSERT_TRUE(firstLog.waitForEvent(HX_DISCOVERY, handle, DEADLINE)) << "the returned camera was not found";
    EXPECT_EQ(command(handle, 0).code, 1u);
    // Subscribing again brings the returned camera's events back.
    firstLog.clear();
    ASSERT_EQ(HX_subscribe(firstClient(), handle), HX_STATUS_OK);
    EXPECT_EQ(command(handle, HX_CMD_ARM).code, 2u);
    EXPECT_TRUE(firstLog.waitFor<HX_COMMAND>(
        HX_STATE, [](const HX_COMMAND& c) { return c.code == 2; }, DEADLINE));
    HX_unsubscribe(firstClient(), handle);
    HX_release_handle(firstClient(), handle);
}

TEST(SettingsGroups, RoundTripsAndRefusalsThroughTheInterface)
{
    const HX_CAMERA_HANDLE camera = handleOf(SETTINGS);
    Camera& sim = library.camera(1);

    HX_IO_SETTINGS io;
    HX_io_settings_init(&io, sizeof(io));
    ASSERT_EQ(HX_setup_io_syn(firstClient(), camera, &io, &io), HX_STATUS_OK);
    io.sync_in_group_flags = HX_FLAG_SET;
    setField(io.sync_in_ppf, io.sync_in_ppf_flags, HX_SYNC_PER_FRAME);
    setField(io.sync_in_divisor, io.sync_in_divisor_flags, 3);
    setField(io.sync_in_master_rate, io.sync_in_master_rate_flags, 10); // below the minimum of 20
    ASSERT_EQ(HX_setup_io_syn(firstClient(), camera, &io, &io), HX_STATUS_OK);
    EXPECT_EQ(io.sync_in_ppf, uint32_t{HX_SYNC_PER_FRAME});
    EXPECT_EQ(io.sync_in_divisor, 3u);
    EXPECT_EQ(io.sync_in_master_rate_flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(io.flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(hx_test::registerOf(sim, regs::GIGE_REG_SYNC_IN) & 0xFF0, 0x210u);

    HX_STREAM_SETTINGS stream;
    HX_stream_settings_init(&stream, sizeof(stream));
    setField(stream.jpeg_quality, stream.jpeg_quality_flags, 100);
    ASSERT_EQ(HX_setup_stream_syn(firstClient(), camera, &stream, &stream), HX_STATUS_OK);
    EXPECT_EQ(stream.jpeg_quality, 100u);
    EXPECT_EQ(stream.flags & HX_FLAG_ERR, 0u);
    stream.jpeg_quality = 0;
    ASSERT_EQ(HX_setup_stream_syn(firstClient(), camera, &stream, &stream), HX_STATUS_OK);
    EXPECT_EQ(stream.jpeg_quality_flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(stream.jpeg_quality, 100u);

    HX_DOWNLOAD_SETTINGS download;
    HX_download_settings_init(&download, sizeof(download));
    setField(download.format, download.format_flags, HX_FORMAT_JPEG | HX_FORMAT_TIFF);
    setField(download.jpeg_quality, download.jpeg_quality_flags, 50);
    ASSERT_EQ(HX_setup_download_syn(firstClient(), camera, &download, &download), HX_STATUS_OK);
    EXPECT_EQ(download.format_flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(download.jpeg_quality, 50u);
    EXPECT_EQ(hx_test::registerOf(sim, regs::GIGE_REG_DOWNLOAD_C0AC), 50u);
    EXPECT_EQ(HX_setup_download_syn(firstClient(), camera, &download, nullptr), HX_STATUS_ERROR);

    // Lens settings are not offered by this family: the call fails and touches nothing.
    HX_LENS_SETTINGS lens;
    HX_lens_settings_init(&lens, sizeof(lens));
    EXPECT_EQ(HX_setup_lens_syn(firstClient(), camera, &lens), HX_STATUS_ERROR);

    HX_ANALOG_GAIN gain;
    HX_analog_gain_init(&gain, sizeof(gain));
    ASSERT_EQ(HX_analog_gain(firstClient(), camera, nullptr, &gain), HX_STATUS_OK);
    EXPECT_NE(gain.gain_caps, 0u);
    HX_release_handle(firstClient(), camera);
}
