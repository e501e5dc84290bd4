// Cameras that drop and return: what a host had set up with a camera (its subscription, the
// camera's message channel, its caches, a live stream) is set up again when the camera answers
// again, whatever the host called while it was away and even when the camera restarted
// meanwhile; live buffers lent while it is away wait for it; another camera that takes the
// address over is never served as the one that was there.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "event_log.h"
#include "library_client.h"
#include "registers/register_map.h"
#include "stream_host.h"

using hx_test::DEADLINE;
using hx_test::standInCamera;
using stream_test::Clock;

namespace {

constexpr uint32_t SPARE = 0x7F000002;     // 127.0.0.2, host order: the cluster's only camera
constexpr uint32_t RETURNING = 0x7F000003; // started, stopped and started again by its test
constexpr uint32_t LIVE = 0x7F000004;      // restarts while the host streams live from it
constexpr uint32_t BRIEF = 0x7F000005;     // silent for less than discovery's age-out
constexpr uint32_t RESTARTED = 0x7F000006; // restarts within a request's time-out
constexpr uint32_t REPLACED = 0x7F000007;  // another camera takes its address over
constexpr uint32_t UNASKED = 0x7F000008;   // restarts while the host asks it nothing
constexpr uint32_t TCP_LIVE = 0x7F000009;  // the second family, given up while buffers are lent
// Room for a whole frame at the stand-in sensors' full size.
constexpr std::size_t FRAME_ROOM = std::size_t{8} << 20;

hx_test::EventLog events;
stream_test::StreamHost streams;
// Discovery ages a silent camera out in about 1.5 s, requests in 250 ms. The second client lends
// the stream buffers.
hx_test::LibraryClient& library = hx_test::LibraryClient::add(
    [] { return std::vector<hxsim::CameraConfig>{standInCamera(SPARE, "lupa", "hxsim qT")}; },
    {{&hx_test::EventLog::callback, &events}, {&stream_test::StreamHost::onEvent, &streams}});

// Changes the exposure to one the camera does not start with; returns the value it took.
uint32_t changeExposure(HX_CAMERA_HANDLE camera)
{
    const HX_CAPTURE_SETTINGS before = library.captureSettings(camera);
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    record.exposure = before.exposure == before.exposure_min ? before.exposure * 2 : before.exposure_min;
    record.exposure_group_flags = record.exposure_flags = HX_FLAG_SET;
    EXPECT_EQ(library.setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_NE(record.exposure, before.exposure);
    return record.exposure;
}

uint32_t cameraState(HX_CAMERA_HANDLE camera)
{
    HX_COMMAND command;
    HX_command_init(&command, sizeof(command));
    HX_command_syn(library.client(), camera, &command, &command);
    return command.code;
}

void lend(HX_CAMERA_HANDLE camera, HX_READ_STREAM* record)
{
    record->status = 0;
    ASSERT_EQ(HX_live(library.client(1), camera, record), HX_STATUS_OK);
}

// Feeds the live stream as a host does, lending every buffer again as it comes back, until
// `count` whole images have arrived; false when they do not arrive in time.
bool liveImages(HX_CAMERA_HANDLE camera, int count)
{
    const auto deadline = Clock::now() + DEADLINE;
    int whole = 0;
    while (whole < count && Clock::now() < deadline) {
        const std::optional<stream_test::Returned> returned = streams.next(std::chrono::milliseconds(100));
        if (!returned || returned->event != HX_LIVE_DATA || returned->record == nullptr)
            continue;
        whole += returned->record->status == stream_test::WHOLE_IMAGE ? 1 : 0;
        lend(camera, returned->record);
    }
    return whole >= count;
}

// Lends again every buffer given back so far; returns how many came back without an image.
std::size_t lendReturnedAgain(HX_CAMERA_HANDLE camera)
{
    std::size_t given = 0;
    while (const std::optional<stream_test::Returned> returned = streams.next(std::chrono::milliseconds(0))) {
        if (returned->record == nullptr)
            continue;
        given += returned->record->received_length == 0 ? 1 : 0;
        lend(camera, returned->record);
    }
    return given;
}

std::ptrdiff_t openDescriptors()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

// Starts live with three buffers and sees it run.
void startLive(HX_CAMERA_HANDLE camera)
{
    for (int i = 0; i < 3; ++i)
        lend(camera, streams.buffer(FRAME_ROOM));
    ASSERT_EQ(HX_live_enable(library.client(1), camera, 1), HX_STATUS_OK);
    ASSERT_TRUE(liveImages(camera, 3)) << "live did not run before the camera went away";
}

void stopLive(HX_CAMERA_HANDLE camera)
{
    EXPECT_EQ(HX_live_enable(library.client(1), camera, 0), HX_STATUS_OK);
}

// A line that matches the last of `steps` once lines matching each of the others went before it,
// in their order.
hx_test::CapturedLines::Match inOrder(std::vector<hx_test::CapturedLines::Match> steps)
{
    return [steps = std::move(steps), passed = std::size_t{0}](const std::string& line) mutable {
        if (passed + 1 < steps.size()) {
            passed += steps[passed](line) ? 1 : 0;
            return false;
        }
        return steps.back()(line);
    };
}

// A camera silent for less than discovery's age-out is not reported lost.
void expectNeverLost(HX_CAMERA_HANDLE camera)
{
    for (const uint32_t code : events.codes(camera))
        EXPECT_NE(code, static_cast<uint32_t>(HX_END)) << "a short silence was taken for a lost camera";
}

// Whether the camera has been told where its events go: its message channel is set and a change
// made on it reaches the subscriber.
void expectEventsReachTheSubscriber(hxsim::Camera& camera, HX_CAMERA_HANDLE handle, const char* which)
{
    EXPECT_NE(hx_test::registerOf(camera, halvex::registers::GIGE_REG_MCP), 0u)
        << "the " << which << " camera was not told where to send its events";
    const uint32_t exposure = changeExposure(handle);
    EXPECT_TRUE(events
                    .waitFor<HX_CAPTURE_SETTINGS>(
                        HX_CAPTURE_CHANGE,
                        [&](const HX_CAPTURE_SETTINGS& change) { return change.exposure == exposure; }, DEADLINE)
                    .has_value())
        << "the change on the " << which << " camera never reached its subscriber";
}

TEST(ReturningCamera, ARestartedCameraSendsItsEventsToSubscribersAgain)
{
    const hxsim::CameraConfig config = standInCamera(RETURNING, "lupa", "hxsim qT");
    auto camera = std::make_unique<hxsim::Camera>(config);
    const HX_CAMERA_HANDLE handle = library.handleOf(RETURNING);
    ASSERT_EQ(HX_subscribe(library.client(), handle), HX_STATUS_OK);
    ASSERT_TRUE(events.waitForEvent(HX_CAPTURE_CHANGE, handle, DEADLINE)) << "no state for a new subscriber";

    camera.reset();
    ASSERT_TRUE(events.waitForEvent(HX_END, handle, DEADLINE)) << "the silent camera was never reported lost";
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    EXPECT_EQ(library.setupCapture(handle, record), HX_STATUS_ERROR) << "a lost camera cannot answer";

    // The camera restarts: it has forgotten where its events went.
    events.clear();
    camera = std::make_unique<hxsim::Camera>(config);
    ASSERT_TRUE(events.waitForEvent(HX_DISCOVERY, handle, DEADLINE)) << "the camera was never found again";
    // The camera is told where to send its events before subscribers get its state.
    ASSERT_TRUE(events.waitForEvent(HX_CAPTURE_CHANGE, handle, DEADLINE))
        << "subscribers did not get the returned camera's state";
    expectEventsReachTheSubscriber(*camera, handle, "returned");
    HX_unsubscribe(library.client(), handle);
    EXPECT_EQ(HX_release_handle(library.client(), handle), HX_STATUS_OK);
}

TEST(ReturningCamera, LiveBuffersLentWhileItIsAwayWaitAndLiveRunsAgainWhenItRestarts)
{
    const hxsim::CameraConfig config = standInCamera(LIVE, "lupa-mono", "hxsim qT");
    auto camera = std::make_unique<hxsim::Camera>(config);
    const HX_CAMERA_HANDLE handle = library.handleOf(LIVE);
    startLive(handle);
    const std::ptrdiff_t streaming = openDescriptors();

    camera.reset();
    ASSERT_TRUE(events.waitForEvent(HX_END, handle, DEADLINE)) << "the silent camera was never reported lost";
    // A host lends on while the camera is away: its buffers wait instead of coming straight back
    // (a host that lends each returned buffer again would otherwise spin). A setup call runs
    // behind them on the camera's service thread, and the found event reaches the host after
    // anything given back before it.
    events.clear();
    for (int i = 0; i < 3; ++i)
        lend(handle, streams.buffer(FRAME_ROOM));
    HX_DOWNLOAD_SETTINGS download;
    HX_download_settings_init(&download, sizeof(download));
    HX_setup_download_syn(library.client(1), handle, &download, &download);
    camera = std::make_unique<hxsim::Camera>(config); // restarted: it has forgotten where live went
    ASSERT_TRUE(events.waitForEvent(HX_DISCOVERY, handle, DEADLINE)) << "the camera was never found again";
    EXPECT_EQ(lendReturnedAgain(handle), 0u) << "live buffers lent while the camera was away came back unfilled";

    // Nothing is called: the live stream the host had switched on runs again.
    EXPECT_TRUE(liveImages(handle, 3)) << "live did not run again after the camera returned";
    // The receiver reads the stream socket of the camera's new control channel, and let the old
    // channel's sockets go when it took that up, before the first of these images came through it.
    const std::ptrdiff_t returned = openDescriptors();
    EXPECT_LE(returned, streaming) << returned - streaming << " descriptors more than before";
    stopLive(handle);
}

TEST(ReturningCamera, ALiveStreamItsHeartbeatStoppedDuringAShortSilenceRunsAgain)
{
    // Camera time runs 40 times faster: the library's heartbeat time-out (10 s) runs out in a
    // quarter of the 2 s silence, in which several requests age out. The silence starts once live
    // runs, however long that took; discovery is paused before, so that the silence stays shorter
    // than discovery's age-out however slowly the test runs.
    hxsim::CameraConfig config = standInCamera(BRIEF, "lupa-mono", "hxsim qT");
    config.timeScale = 40;
    hxsim::Camera camera(config, hx_test::standInLogger());
    const HX_CAMERA_HANDLE handle = library.handleOf(BRIEF);
    events.clear();
    stream_test::configure(library.client(), handle, 24); // small images
    startLive(handle);
    ASSERT_EQ(HX_discover_pause(1), HX_STATUS_OK);
    camera.vanish(std::chrono::seconds(80));

    hx_test::CapturedLines& lines = hx_test::standInLines();
    const hx_test::CapturedLines::Match silenced = hx_test::cameraLine(handle, "vanished for");
    const hx_test::CapturedLines::Match expired = hx_test::cameraLine(handle, "heartbeat expired");
    ASSERT_TRUE(lines.waitFor(inOrder({silenced, expired}), DEADLINE + DEADLINE))
        << "the camera's heartbeat never ran out while it was silent";
    // The expiry stopped the stream; the camera logs live starting again once the library asks.
    const hx_test::CapturedLines::Match live = hx_test::cameraLine(handle, "stream: live at");
    EXPECT_TRUE(lines.waitFor(inOrder({silenced, expired, live}), DEADLINE))
        << "live was not switched on again after the silence";
    EXPECT_EQ(hx_test::registerOf(camera, halvex::registers::GIGE_REG_STREAM_CONTROL), 1u);
    lendReturnedAgain(handle); // images from before the silence
    EXPECT_TRUE(liveImages(handle, 3)) << "live did not run again after the silence";
    expectNeverLost(handle);
    stopLive(handle);
    HX_discover_pause(0);
}

// The camera restarts with its first exposure while `unanswered` requests go unanswered (one is
// enough: a camera may restart faster than three time-outs). Discovery is paused, so the gap stays
// shorter than its age-out however slowly the test runs.
void restartWithin(std::unique_ptr<hxsim::Camera>& camera, const hxsim::CameraConfig& config, HX_CAMERA_HANDLE handle,
                   int unanswered)
{
    const uint32_t initial = library.captureSettings(handle).exposure;
    ASSERT_NE(changeExposure(handle), initial);
    events.clear();
    ASSERT_EQ(HX_discover_pause(1), HX_STATUS_OK);
    camera.reset();
    for (int i = 0; i < unanswered; ++i)
        cameraState(handle);
    camera = std::make_unique<hxsim::Camera>(config);
    EXPECT_NE(cameraState(handle), 0u) << "the restarted camera did not answer";
    // Answering again, the camera is told where to send its events and its caches are read
    // again before subscribers get its state.
    EXPECT_TRUE(events
                    .waitFor<HX_CAPTURE_SETTINGS>(
                        HX_CAPTURE_CHANGE,
                        [&](const HX_CAPTURE_SETTINGS& change) { return change.exposure == initial; }, DEADLINE)
                    .has_value())
        << "subscribers did not get the restarted camera's state after " << unanswered << " unanswered";
    EXPECT_EQ(library.captureSettings(handle).exposure, initial)
        << "the cached settings were kept though the camera restarted, " << unanswered << " unanswered";
    EXPECT_NE(hx_test::registerOf(*camera, halvex::registers::GIGE_REG_MCP), 0u)
        << "the restarted camera was not told where to send its events, " << unanswered << " unanswered";
    expectNeverLost(handle);
    HX_discover_pause(0);
}

TEST(ReturningCamera, ACameraThatRestartsWithinATimeOutHasItsCachesReadAgain)
{
    const hxsim::CameraConfig config = standInCamera(RESTARTED, "lupa", "hxsim qT");
    auto camera = std::make_unique<hxsim::Camera>(config);
    const HX_CAMERA_HANDLE handle = library.handleOf(RESTARTED);
    ASSERT_EQ(HX_subscribe(library.client(), handle), HX_STATUS_OK);
    restartWithin(camera, config, handle, 3);
    restartWithin(camera, config, handle, 1);
    HX_unsubscribe(library.client(), handle);
}

// No request goes unanswered: the camera is back before anyone asks it anything, so only what it
// forgot can tell the library that it restarted.
TEST(ReturningCamera, ACameraThatRestartsWhileNobodyAsksIsSetUpAgain)
{
    const hxsim::CameraConfig config = standInCamera(UNASKED, "lupa-mono", "hxsim qT");
    auto camera = std::make_unique<hxsim::Camera>(config);
    const HX_CAMERA_HANDLE handle = library.handleOf(UNASKED);
    ASSERT_EQ(HX_subscribe(library.client(), handle), HX_STATUS_OK);
    stream_test::configure(library.client(), handle, 24); // small images
    startLive(handle);
    stopLive(handle);
    const uint32_t initial = library.captureSettings(handle).exposure;
    ASSERT_NE(changeExposure(handle), initial);
    ASSERT_EQ(HX_discover_pause(1), HX_STATUS_OK);
    events.clear();
    camera.reset();
    camera = std::make_unique<hxsim::Camera>(config);

    EXPECT_TRUE(events
                    .waitFor<HX_CAPTURE_SETTINGS>(
                        HX_CAPTURE_CHANGE,
                        [&](const HX_CAPTURE_SETTINGS& change) { return change.exposure == initial; }, DEADLINE)
                    .has_value())
        << "the restart went unnoticed: subscribers never got the restarted camera's state";
    expectEventsReachTheSubscriber(*camera, handle, "restarted");
    lendReturnedAgain(handle);
    ASSERT_EQ(HX_live_enable(library.client(1), handle, 1), HX_STATUS_OK);
    EXPECT_TRUE(liveImages(handle, 3)) << "live switched on after the restart sent nothing to the host";
    stopLive(handle);
    expectNeverLost(handle);
    HX_discover_pause(0);
    HX_unsubscribe(library.client(), handle);
}

// The TCP stream's buffers lent before the camera went away (live already switched off) are
// filled once live is switched on again on the returned camera.
TEST(ReturningCamera, TcpLiveBuffersLentBeforeTheCameraWentAwayAreFilledAfterItReturns)
{
    const hxsim::CameraConfig config = standInCamera(TCP_LIVE, "lux19hs-mono", "hxsim qM");
    auto camera = std::make_unique<hxsim::Camera>(config);
    const HX_CAMERA_HANDLE handle = library.handleOf(TCP_LIVE);
    stream_test::configure(library.client(), handle, 24); // small images
    startLive(handle);
    stopLive(handle);
    EXPECT_EQ(cameraState(handle), static_cast<uint32_t>(HX_CAMERA_STATE_IDLE));
    lendReturnedAgain(handle);

    events.clear();
    camera.reset();
    ASSERT_TRUE(events.waitForEvent(HX_END, handle, DEADLINE)) << "the silent camera was never reported lost";
    events.clear();
    camera = std::make_unique<hxsim::Camera>(config);
    ASSERT_TRUE(events.waitForEvent(HX_DISCOVERY, handle, DEADLINE)) << "the camera was never found again";
    stream_test::configure(library.client(), handle, 24);
    ASSERT_EQ(HX_live_enable(library.client(1), handle, 1), HX_STATUS_OK);
    EXPECT_TRUE(liveImages(handle, 3)) << "the buffers lent before the camera went away were never filled";
    stopLive(handle);
}

TEST(ReturningCamera, AnotherCameraAtTheAddressGetsAnObjectOfItsOwnAndTheSubscriptions)
{
    auto camera = std::make_unique<hxsim::Camera>(standInCamera(REPLACED, "lupa", "hxsim qT"));
    const HX_CAMERA_HANDLE handle = library.handleOf(REPLACED);
    ASSERT_EQ(HX_subscribe(library.client(), handle), HX_STATUS_OK);
    const uint32_t lupaWidth = library.captureSettings(handle).width_max;

    camera.reset();
    ASSERT_TRUE(events.waitForEvent(HX_END, handle, DEADLINE)) << "the silent camera was never reported lost";
    hxsim::CameraConfig other = standInCamera(REPLACED, "lince", "hxsim qT");
    other.serial = "OTHER7";
    other.mac[5] = 0x77;
    events.clear();
    camera = std::make_unique<hxsim::Camera>(other);
    ASSERT_TRUE(events.waitForEvent(HX_DISCOVERY, handle, DEADLINE)) << "the new camera was never found";
    const uint32_t linceWidth = library.captureSettings(handle).width_max;
    EXPECT_NE(linceWidth, lupaWidth) << "the new camera was served as the one that was there before";
    EXPECT_TRUE(events
                    .waitFor<HX_CAPTURE_SETTINGS>(
                        HX_CAPTURE_CHANGE,
                        [&](const HX_CAPTURE_SETTINGS& change) { return change.width_max == linceWidth; }, DEADLINE)
                    .has_value())
        << "the host's subscription did not pass to the new camera";
    EXPECT_NE(hx_test::registerOf(*camera, halvex::registers::GIGE_REG_MCP), 0u);
    HX_unsubscribe(library.client(), handle);
}

} // namespace
