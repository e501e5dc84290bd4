// The first family's commands, playback, subscriptions, notifications, pollers and settings
// against the stand-in camera's own request handler, through the camera's real service thread
// and the Callback thread. The camera's clock moves only when a test moves it.
#include <gtest/gtest.h>

#include "log_capture.h"
#include <hlv_thread/period_scale.h>
#include <hlv_thread/sync_message.h>

#include "api/camera_families.h"
#include "callback/callback.h"
#include "callback/callback_messages.h"
#include "camera/camera_operations.h"
#include "camera/camera_services.h"
#include "camera/command.h"
#include "camera/subscription.h"
#include "control/hx_notification.h"
#include "event_log.h"
#include "record_fields.h"
#include "registers/register_map.h"
#include "sim_channel.h"
#include "tarrow/tarrow_operations.h"

using namespace halvex::api;
using namespace halvex::camera;
using namespace halvex::tarrow;
using namespace halvex::wire;

using namespace halvex::registers;
using namespace std::chrono_literals;
using hx_test::EventLog;
using hx_test::SimChannel;

namespace {

using hx_test::setField;

constexpr uint32_t CAMERA = 0x0200007F; // 127.0.0.2
constexpr HX_CLIENT_HANDLE WATCHER = 0x5101;
constexpr HX_CLIENT_HANDLE BYSTANDER = 0x5102;
constexpr uint32_t RECORD_LENGTH = 50;
constexpr uint32_t TRIGGER_FRAMES = 10;
constexpr auto DEADLINE = 5s;

// The operations of one camera, for its service thread.
class OneCamera : public ServiceOperationsSource {
public:
    explicit OneCamera(std::shared_ptr<CameraOperations> operations) : operations_(std::move(operations)) {}
    std::shared_ptr<ServiceOperations> find(uint32_t address) override
    {
        std::lock_guard<std::mutex> lock(lock_);
        return address == CAMERA ? operations_ : nullptr;
    }
    bool exists(uint32_t address) override { return find(address) != nullptr; }
    void recycle(uint32_t) override { closeAll(); }
    void closeAll() override
    {
        std::lock_guard<std::mutex> lock(lock_);
        operations_.reset();
    }

private:
    std::mutex lock_;
    std::shared_ptr<CameraOperations> operations_;
};

template <class Message>
void postTo(halvex::thread::MsgThread* thread, Message* message)
{
    message->owner = thread;
    thread->post(message);
}

// Returns once everything queued on the thread before it has been handled.
void drain(halvex::thread::MsgThread* thread)
{
    halvex::thread::SyncMessage dump;
    dump.req = halvex::thread::DUMP;
    dump.send(thread);
}

hxsim::CameraConfig cameraConfig(uint32_t sensorType = 0x414C3543)
{
    hxsim::CameraConfig config;
    config.sensor = hxsim::SensorModel::fromCode(sensorType);
    return config;
}

bool marked(uint32_t flags, uint32_t bit)
{
    return (flags & bit) != 0;
}

class CameraAtWork : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        halvex::thread::setPeriodScale(0.01);
        halvex::callback::Callback* callback = halvex::callback::Callback::factory();
        postTo(callback, new halvex::callback::CallbackRegister(WATCHER, &EventLog::callback, &watcher()));
        postTo(callback, new halvex::callback::CallbackRegister(BYSTANDER, &EventLog::callback, &bystander()));
        postTo(callback, new halvex::callback::CallbackSubscribe(WATCHER, CAMERA, true));
    }

    static EventLog& watcher()
    {
        static EventLog log;
        return log;
    }
    static EventLog& bystander()
    {
        static EventLog log;
        return log;
    }

    void SetUp() override { start(cameraConfig()); }

    void start(const hxsim::CameraConfig& config)
    {
        camera_ = std::make_shared<SimChannel>(config);
        operations_ = recogniseCamera(CAMERA, camera_);
        ASSERT_TRUE(operations_);
        CameraServices::setOperationsSource(std::make_shared<OneCamera>(operations_));
        service_ = CameraServices::factory(CAMERA);
        ASSERT_TRUE(service_);
        // A short start-trigger recording: 10 frames kept before the trigger, 50 in all.
        ASSERT_EQ(camera_->writeMultiReg({{GIGE_REG_RECORD_MODE, 2},
                                          {GIGE_REG_BROC_LENGTH, RECORD_LENGTH},
                                          {GIGE_REG_TRIGGER_POSITION, (1u << 31) | TRIGGER_FRAMES}}),
                  0u);
    }

    void TearDown() override
    {
        service_.reset();
        CameraServices::recycle(CAMERA);
        operations_.reset();
        drain(halvex::callback::Callback::factory());
        watcher().clear();
        bystander().clear();
    }

    TarrowOperations& tarrow() { return dynamic_cast<TarrowOperations&>(*operations_); }

    // As HX_command_syn sends it.
    HX_COMMAND command(uint32_t code)
    {
        HX_COMMAND record;
        HX_command_init(&record, sizeof(record));
        record.flags = HX_FLAG_SET;
        setField(record.code, record.code_flags, code);
        Command message(service_, record);
        message.send(service_.get());
        return message.record();
    }

    bool subscribe(bool on)
    {
        SubscriptionMessage message(on, service_, WATCHER, CAMERA);
        message.send(service_.get());
        return message.status == halvex::thread::MESSAGE_DONE;
    }

    // What the camera sent to its message channel, handed to the service thread as the control
    // channel would, and handled there.
    void deliverCameraEvents()
    {
        const RegisterPairs events = camera_->takeEvents();
        if (!events.empty())
            postTo(service_.get(), new halvex::control::NotificationMessage(events));
        settle();
    }

    void notify(RegisterPairs pairs)
    {
        postTo(service_.get(), new halvex::control::NotificationMessage(std::move(pairs)));
        settle();
    }

    void settle()
    {
        drain(service_.get());
        drain(halvex::callback::Callback::factory());
    }

    uint32_t recordingFrameRate() { return camera_->cameraRegister(GIGE_REG_FRAME_RATE); }

    // Arms, records the pre-trigger frames, triggers and lets the recording finish.
    void recordToReview()
    {
        ASSERT_EQ(command(HX_CMD_ARM).code, 2u);
        camera_->advance(1s);
        ASSERT_EQ(command(HX_CMD_TRIGGER).code, 4u);
        camera_->advance(2s);
        deliverCameraEvents();
        HX_COMMAND state;
        tarrow().getCommand(&state);
        ASSERT_EQ(state.code, 8u);
    }

    HX_PLAYBACK_SETTINGS play(uint32_t mode, uint32_t frame)
    {
        HX_PLAYBACK_SETTINGS record;
        HX_playback_settings_init(&record, sizeof(record));
        record.flags = HX_FLAG_SET;
        setField(record.mode, record.mode_flags, mode);
        setField(record.current_frame, record.current_frame_flags, frame);
        record.cut_out = RECORD_LENGTH - 1;
        record.interval = 1;
        operations_->setPlaybackSettings(&record);
        return record;
    }

    std::shared_ptr<SimChannel> camera_;
    std::shared_ptr<CameraOperations> operations_;
    std::shared_ptr<CameraServices> service_;
};

} // namespace

TEST_F(CameraAtWork, RecordingFromArmToReviewWithStateAndProgressEvents)
{
    ASSERT_TRUE(subscribe(true));
    // Subscribing hands the camera's current state to the subscriber, in a fixed order.
    ASSERT_TRUE(watcher().waitUntil([](const EventLog::Events& events) { return events.size() >= 8; }, DEADLINE));
    EXPECT_EQ(watcher().codes(),
              (std::vector<uint32_t>{HX_CAPTURE_CHANGE, HX_DOWNLOAD_CHANGE, HX_IO_CHANGE, HX_LENS_CHANGE,
                                     HX_PLAYBACK_CHANGE, HX_STREAM_CHANGE, HX_STATE, HX_PROGRESS_UPDATE}));
    EXPECT_EQ(watcher().records<HX_COMMAND>(HX_STATE).front().code, 1u);

    const HX_COMMAND armed = command(HX_CMD_ARM);
    EXPECT_EQ(armed.code, 2u);
    EXPECT_EQ(armed.code_caps, 0x5u);
    EXPECT_TRUE(marked(armed.code_flags, HX_FLAG_CHG));
    EXPECT_FALSE(marked(armed.flags, HX_FLAG_ERR));
    EXPECT_EQ(tarrow().pollers().progressPeriod(), halvex::thread::scaledMicroseconds(500000));
    deliverCameraEvents();
    EXPECT_TRUE(watcher().waitFor<HX_COMMAND>(
        HX_STATE, [](const HX_COMMAND& c) { return c.code == 2; }, DEADLINE));

    // The poller reads the counters the camera does not report: the pre-trigger frames fill up.
    camera_->advance(1s);
    const auto filling = watcher().waitFor<HX_PROGRESS>(
        HX_PROGRESS_UPDATE, [](const HX_PROGRESS& p) { return p.recorded_frames == TRIGGER_FRAMES; }, DEADLINE);
    ASSERT_TRUE(filling);
    EXPECT_EQ(filling->total_frames, RECORD_LENGTH);
    EXPECT_EQ(filling->trigger_frames, TRIGGER_FRAMES);

    EXPECT_EQ(command(HX_CMD_TRIGGER).code, 4u);
    camera_->advance(std::chrono::milliseconds(1000 * 20 / recordingFrameRate() + 1));
    EXPECT_TRUE(watcher().waitFor<HX_PROGRESS>(
        HX_PROGRESS_UPDATE, [](const HX_PROGRESS& p) { return p.recorded_frames >= TRIGGER_FRAMES + 20; }, DEADLINE));

    // The camera finishes on its own and reports review; polling stops.
    camera_->advance(2s);
    deliverCameraEvents();
    EXPECT_TRUE(watcher().waitFor<HX_COMMAND>(
        HX_STATE, [](const HX_COMMAND& c) { return c.code == 8; }, DEADLINE));
    EXPECT_EQ(tarrow().pollers().progressPeriod(), 0u);
    EXPECT_TRUE(watcher().waitFor<HX_PROGRESS>(
        HX_PROGRESS_UPDATE, [](const HX_PROGRESS& p) { return p.recorded_frames == RECORD_LENGTH; }, DEADLINE));
    const auto review = watcher().waitFor<HX_PLAYBACK_SETTINGS>(
        HX_PLAYBACK_CHANGE, [](const HX_PLAYBACK_SETTINGS& p) { return p.mode_caps == 0x7; }, DEADLINE);
    ASSERT_TRUE(review);
    EXPECT_EQ(review->trigger, TRIGGER_FRAMES);
    EXPECT_EQ(review->current_frame_max, RECORD_LENGTH - 1);
    // A tick that read before its poller stopped, handled after the final progress, must not
    // take the recorded frames back.
    watcher().clear();
    auto* late = new halvex::control::NotificationMessage({{GIGE_REG_PROGRESS_C08C, TRIGGER_FRAMES}});
    late->poll = 1;
    postTo(service_.get(), late);
    settle();
    EXPECT_TRUE(watcher().events().empty());

    // Frame by frame: each step shows its frame and tells the subscriber.
    for (uint32_t frame : {0u, 1u, 2u, 49u}) {
        const HX_PLAYBACK_SETTINGS shown = play(HX_PLAY_PAUSE, frame);
        EXPECT_EQ(shown.current_frame, frame);
        EXPECT_FALSE(marked(shown.flags, HX_FLAG_ERR));
        EXPECT_TRUE(watcher().waitFor<HX_PLAYBACK_SETTINGS>(
            HX_PLAYBACK_CHANGE, [frame](const HX_PLAYBACK_SETTINGS& p) { return p.current_frame == frame; }, DEADLINE));
    }
    // Continuous playback runs on the camera's clock; a pause then stops it where it is.
    const HX_PLAYBACK_SETTINGS running = play(HX_PLAY_FORWARD, 5);
    EXPECT_EQ(running.mode, uint32_t{HX_PLAY_FORWARD});
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_STREAM_CONTROL), 2u);
    camera_->advance(200ms);
    deliverCameraEvents();
    // Nothing polls the shown frame for this family, subscribed or not.
    EXPECT_EQ(tarrow().pollers().progressPeriod(), 0u);
    const HX_PLAYBACK_SETTINGS paused = play(HX_PLAY_PAUSE, 0);
    EXPECT_EQ(paused.mode, uint32_t{HX_PLAY_PAUSE});
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_STREAM_CONTROL), 0u);
    EXPECT_GT(paused.current_frame, 5u); // stopped where it had got to, not stepped to frame 0

    settle();
    EXPECT_TRUE(bystander().events().empty());
}

TEST_F(CameraAtWork, OnlyUnknownCommandsAndFailedWritesAreRefused)
{
    hx_test::LogCapture log;
    // A command the camera has not followed (yet) comes back with the state read after it.
    const HX_COMMAND early = command(HX_CMD_TRIGGER);
    EXPECT_FALSE(marked(early.code_flags, HX_FLAG_ERR));
    EXPECT_FALSE(marked(early.flags, HX_FLAG_ERR));
    EXPECT_TRUE(marked(early.code_flags, HX_FLAG_CHG));
    EXPECT_EQ(early.code, 1u);

    EXPECT_EQ(command(HX_CMD_ARM).code, 2u);
    const HX_COMMAND again = command(HX_CMD_ARM);
    EXPECT_EQ(again.code, 2u);
    EXPECT_FALSE(marked(again.code_flags, HX_FLAG_ERR));
    EXPECT_FALSE(marked(again.flags, HX_FLAG_ERR));

    const std::size_t writes = camera_->multiWrites().size();
    for (uint32_t code : {0x8u, uint32_t{HX_CMD_ARM | HX_CMD_TRIGGER}}) {
        const HX_COMMAND refused = command(code);
        EXPECT_TRUE(marked(refused.code_flags, HX_FLAG_ERR)) << code;
        EXPECT_EQ(refused.code, code); // nothing came back from the camera
    }
    EXPECT_EQ(camera_->multiWrites().size(), writes);
    EXPECT_EQ(log.count("Format is not one of HX_CMD_*"), 2u);

    // The key commands write their key; the camera keeps nothing of it.
    EXPECT_FALSE(marked(command(HX_CMD_KEY_A).code_flags, HX_FLAG_ERR));
    EXPECT_EQ(camera_->multiWrites().back(), (RegisterPairs{{GIGE_REG_CONTROL_KEY, 0xAAAA}}));

    // Unsubscribed, the camera reports no state: the poller itself finds the recording's end.
    EXPECT_EQ(command(HX_CMD_TRIGGER).code, 4u);
    camera_->advance(2s);
    const auto deadline = std::chrono::steady_clock::now() + DEADLINE;
    while (tarrow().pollers().progressPeriod() != 0 && std::chrono::steady_clock::now() < deadline)
        settle();
    EXPECT_EQ(tarrow().pollers().progressPeriod(), 0u);

    // The live command leaves the recording: the camera goes back to idle and streams live.
    command(HX_CMD_LIVE);
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_CAMERA_STATE), 1u);
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_STREAM_CONTROL), 1u);

    // A camera that stops answering: the command fails and the caller is told, live included.
    camera_->failWith(12);
    EXPECT_TRUE(marked(command(HX_CMD_TRIGGER).flags, HX_FLAG_ERR));
    const HX_COMMAND live = command(HX_CMD_LIVE);
    EXPECT_TRUE(marked(live.flags, HX_FLAG_ERR)) << "a live start the camera never took looked applied";
    EXPECT_TRUE(marked(live.code_flags, HX_FLAG_ERR));
}

TEST_F(CameraAtWork, PlaybackOutsideReviewOrBeyondTheRecordingIsRefused)
{
    hx_test::LogCapture log;
    const HX_PLAYBACK_SETTINGS idle = play(HX_PLAY_FORWARD, 0);
    EXPECT_TRUE(marked(idle.mode_flags, HX_FLAG_ERR));
    EXPECT_EQ(idle.mode_caps, 0u);
    EXPECT_EQ(log.count("Playback needs a recording in review"), 1u);

    recordToReview();
    const HX_PLAYBACK_SETTINGS unknown = play(0x8, 0);
    EXPECT_TRUE(marked(unknown.mode_flags, HX_FLAG_ERR));
    EXPECT_EQ(log.count("Command is not one of HX_PLAY_*"), 1u);
    const HX_PLAYBACK_SETTINGS beyond = play(HX_PLAY_PAUSE, RECORD_LENGTH);
    EXPECT_TRUE(marked(beyond.current_frame_flags, HX_FLAG_ERR));
    EXPECT_EQ(beyond.current_frame_max, RECORD_LENGTH - 1);
    EXPECT_TRUE(marked(beyond.flags, HX_FLAG_ERR));
}

TEST_F(CameraAtWork, SubscriptionsProgramTheMessageChannelOnlyAtFirstAndLast)
{
    const std::size_t before = camera_->multiWrites().size();
    EXPECT_TRUE(subscribe(false)); // nobody subscribed: nothing to undo
    EXPECT_EQ(camera_->multiWrites().size(), before);

    ASSERT_TRUE(subscribe(true));
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCDA), SimChannel::HOST_ADDRESS);
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCP), SimChannel::EVENT_PORT);
    const std::size_t programmed = camera_->multiWrites().size();
    ASSERT_TRUE(subscribe(true));
    EXPECT_EQ(camera_->multiWrites().size(), programmed);
    settle();
    EXPECT_EQ(watcher().codes().size(), 16u);

    ASSERT_TRUE(subscribe(false));
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCP), SimChannel::EVENT_PORT);
    ASSERT_TRUE(subscribe(false));
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCP), 0u);
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCDA), 0u);

    // Another host that has since pointed the camera's events at itself keeps them: a further
    // subscriber here leaves the message channel alone.
    constexpr uint32_t OTHER_HOST = 0x0900007F;
    constexpr uint32_t OTHER_PORT = 6000;
    ASSERT_TRUE(subscribe(true));
    ASSERT_EQ(camera_->writeMultiReg({{GIGE_REG_MCDA, OTHER_HOST}, {GIGE_REG_MCP, OTHER_PORT}}), 0u);
    ASSERT_TRUE(subscribe(true));
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCDA), OTHER_HOST);
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCP), OTHER_PORT);
    ASSERT_TRUE(subscribe(false));
    ASSERT_TRUE(subscribe(false));

    // Unsubscribed, notifications still update the caches but make no events.
    settle();
    watcher().clear();
    notify({{GIGE_REG_CAMERA_STATE, 2}});
    EXPECT_TRUE(watcher().events().empty());
    EXPECT_EQ(tarrow().groupSnapshot(RegisterGroup::State).at(GIGE_REG_CAMERA_STATE), 2u);
}

// A first subscriber whose caches cannot be read gets no events made of registers never read: the
// subscription fails, and the camera is not left sending events nobody takes.
TEST_F(CameraAtWork, ASubscriptionWhoseCachesCannotBeReadFailsAndSendsNothing)
{
    hx_test::LogCapture log;
    settle();
    watcher().clear();
    camera_->failReadsWith(12);
    EXPECT_FALSE(subscribe(true)) << "a subscription without the camera's state succeeded";
    camera_->failReadsWith(0);
    settle();
    EXPECT_TRUE(watcher().events().empty()) << "events made of registers that could not be read";
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_MCP), 0u) << "the camera still sends events to a failed subscription";

    ASSERT_TRUE(subscribe(true));
    settle();
    EXPECT_EQ(watcher().codes().size(), 8u);
    ASSERT_TRUE(subscribe(false));
}

TEST_F(CameraAtWork, NotificationsMarkEveryGroupHoldingTheRegister)
{
    ASSERT_TRUE(subscribe(true));
    settle();
    watcher().clear();
    // The camera state sits in the download, state and playback groups.
    notify({{GIGE_REG_CAMERA_STATE, 8}});
    const std::vector<uint32_t> codes = watcher().codes();
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(codes.begin(), codes.begin() + 3),
              (std::vector<uint32_t>{HX_DOWNLOAD_CHANGE, HX_STATE, HX_PLAYBACK_CHANGE}));
    const HX_COMMAND state = watcher().records<HX_COMMAND>(HX_STATE).back();
    EXPECT_EQ(state.code, 8u);
    EXPECT_TRUE(marked(state.code_flags, HX_FLAG_CHG));

    // Registers that no group holds (or that the camera reports for nobody) make no event.
    hx_test::LogCapture log;
    watcher().clear();
    notify({{0x1234, 7}, {GIGE_REG_MCP, 9}});
    EXPECT_TRUE(watcher().events().empty());
    EXPECT_EQ(tarrow().groupSnapshot(RegisterGroup::Capture).count(0x1234), 0u);

    // A sensor register marks the capture record, whose change is shown.
    notify({{GIGE_REG_ANALOG_GAIN, 200}});
    const auto capture = watcher().records<HX_CAPTURE_SETTINGS>(HX_CAPTURE_CHANGE);
    ASSERT_EQ(capture.size(), 1u);
}

// Events reach the cache through the service thread's queue, maybe behind a later write and its
// read-back, and carry no checksum: neither a late event nor a damaged one may stand in the cache
// for what the camera holds.
TEST_F(CameraAtWork, EventsNeverTakeTheCacheToValuesTheCameraDoesNotHold)
{
    ASSERT_TRUE(subscribe(true));
    settle();
    const auto writeExposure = [this](uint32_t exposure) {
        HX_CAPTURE_SETTINGS record;
        HX_capture_settings_init(&record, sizeof(record));
        record.exposure_group_flags = HX_FLAG_SET;
        setField(record.exposure, record.exposure_flags, exposure);
        tarrow().setCaptureSettings(&record);
        EXPECT_EQ(record.exposure, exposure);
        camera_->takeEvents();
        // Its event arrives now, and waits.
        return new halvex::control::NotificationMessage({{GIGE_REG_EXPOSURE, exposure}});
    };
    auto* first = writeExposure(20);
    auto* second = writeExposure(30);
    watcher().clear();
    postTo(service_.get(), first);
    settle();
    HX_CAPTURE_SETTINGS record;
    tarrow().getCaptureSettings(&record);
    EXPECT_EQ(record.exposure, 30u);
    ASSERT_EQ(watcher().records<HX_CAPTURE_SETTINGS>(HX_CAPTURE_CHANGE).size(), 1u);
    EXPECT_EQ(watcher().records<HX_CAPTURE_SETTINGS>(HX_CAPTURE_CHANGE).back().exposure, 30u);
    postTo(service_.get(), second);
    notify({{GIGE_REG_EXPOSURE, 40}}); // newer than the read-back: taken
    EXPECT_EQ(tarrow().groupSnapshot(RegisterGroup::Capture).at(GIGE_REG_EXPOSURE), 40u);

    hx_test::LogCapture log;
    watcher().clear();
    const uint32_t width = camera_->cameraRegister(GIGE_REG_ROI_WIDTH);
    notify({{GIGE_REG_ROI_WIDTH, width | 1u << 31}});
    EXPECT_TRUE(watcher().records<HX_CAPTURE_SETTINGS>(HX_CAPTURE_CHANGE).empty());
    EXPECT_EQ(log.count("implausible value for HX_CAPTURE_CHANGE (width"), 1u);
    tarrow().getCaptureSettings(&record);
    EXPECT_EQ(record.width, width);
}

TEST_F(CameraAtWork, LockingTakesThePrivilegeAndNothingElse)
{
    const uint32_t heartbeat = camera_->cameraRegister(GIGE_REG_HEARTBEAT_TIMEOUT);
    ASSERT_TRUE(tarrow().lockCamera());
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_CCP), 2u);
    // No poller keeps the privilege or takes it back; the camera's heartbeat is left as it was.
    EXPECT_FALSE(tarrow().pollers().heartBeatRunning());
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_HEARTBEAT_TIMEOUT), heartbeat);
    EXPECT_TRUE(tarrow().unlockCamera());
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_CCP), 0u);

    // Another host holds the privilege: the camera refuses it to this one, and the caller is told.
    camera_->otherHostTakesControl();
    hx_test::LogCapture log;
    EXPECT_FALSE(tarrow().lockCamera());
    EXPECT_EQ(log.count("There was an error writing the CCP register"), 1u);
    EXPECT_FALSE(tarrow().pollers().heartBeatRunning());
    EXPECT_FALSE(tarrow().unlockCamera()); // the lock is the other host's
}

TEST_F(CameraAtWork, DownloadRangeFollowsTheRecordingAndMonochromeRefusesDng)
{
    recordToReview();
    HX_DOWNLOAD_SETTINGS download;
    HX_download_settings_init(&download, sizeof(download));
    download.flags = HX_FLAG_SET;
    setField(download.start, download.start_flags, 10);
    setField(download.stop, download.stop_flags, RECORD_LENGTH); // one beyond the last frame
    operations_->setDownloadSettings(&download);
    EXPECT_EQ(download.start_max, RECORD_LENGTH - 2);
    EXPECT_EQ(download.stop_max, RECORD_LENGTH - 1);
    EXPECT_TRUE(marked(download.stop_flags, HX_FLAG_ERR));
    EXPECT_FALSE(marked(download.start_flags, HX_FLAG_ERR));
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_DOWNLOAD_START), 10u);

    TearDown();
    start(cameraConfig(0x414C354D));
    hx_test::LogCapture log;
    HX_DOWNLOAD_SETTINGS mono;
    HX_download_settings_init(&mono, sizeof(mono));
    setField(mono.format, mono.format_flags, HX_FORMAT_DNG);
    operations_->setDownloadSettings(&mono);
    EXPECT_TRUE(marked(mono.format_flags, HX_FLAG_ERR));
    EXPECT_FALSE(marked(mono.format_caps, HX_FORMAT_DNG));
    EXPECT_EQ(log.count("DNG support for color sensors only"), 1u);
}

// A host that saw the camera reach review (the state read afresh) sets up the download at once,
// while the events that tell the subscribed caches of the new recording are still on their way.
TEST_F(CameraAtWork, ADownloadRangeIsJudgedByTheRecordingEvenBeforeItsEventsArrive)
{
    ASSERT_TRUE(subscribe(true));
    ASSERT_EQ(command(HX_CMD_ARM).code, 2u);
    camera_->advance(1s);
    ASSERT_EQ(command(HX_CMD_TRIGGER).code, 4u);
    camera_->advance(2s);
    HX_COMMAND state;
    tarrow().getCommand(&state);
    ASSERT_EQ(state.code, 8u);

    HX_DOWNLOAD_SETTINGS download;
    HX_download_settings_init(&download, sizeof(download));
    download.flags = HX_FLAG_SET;
    setField(download.start, download.start_flags, 0);
    setField(download.stop, download.stop_flags, RECORD_LENGTH - 1);
    operations_->setDownloadSettings(&download);
    EXPECT_FALSE(marked(download.stop_flags, HX_FLAG_ERR)) << "refused on the cache of the time before the recording";
    EXPECT_FALSE(marked(download.flags, HX_FLAG_ERR));
    EXPECT_EQ(download.stop_max, RECORD_LENGTH - 1);
    EXPECT_EQ(camera_->cameraRegister(GIGE_REG_DOWNLOAD_END), RECORD_LENGTH - 1);
    deliverCameraEvents();
    ASSERT_TRUE(subscribe(false));
}
