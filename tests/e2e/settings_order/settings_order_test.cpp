// A host's calls on one camera take effect in the order it made them: download buffers lent just
// before the download settings are all queued when the settings apply, so nothing starts before
// the host asks, and the download fills every buffer in the order it was lent.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <hlv_thread/period_scale.h>
#include <hx/hx.h>

#include "cluster.h"
#include "register_map.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t CAMERA = 0x7F000002; // host order: 127.0.0.2
constexpr uint32_t RECORDED_FRAMES = 12;
constexpr uint32_t FIRST = 3;
constexpr uint32_t LAST = 6;
constexpr std::size_t LENT = LAST - FIRST + 3; // two beyond the range come back unfilled
// 20 ms between packets: a download started early is still running when the host looks.
constexpr uint32_t PACKET_DELAY_MICROSECONDS = 20000;

// The host: its callback queues the download buffers the library gives back.
struct Host {
    static void onEvent(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE, void* data, void* cookie)
    {
        auto* host = static_cast<Host*>(cookie);
        if (event != HX_DOWNLOAD_DATA)
            return;
        std::lock_guard<std::mutex> guard(host->lock);
        host->returned.push_back(static_cast<HX_READ_STREAM*>(data));
        host->changed.notify_all();
    }

    HX_READ_STREAM* next(std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock<std::mutex> guard(lock);
        if (!changed.wait_for(guard, timeout, [this] { return !returned.empty(); }))
            return nullptr;
        HX_READ_STREAM* first = returned.front();
        returned.pop_front();
        return first;
    }

    std::mutex lock;
    std::condition_variable changed;
    std::deque<HX_READ_STREAM*> returned;
};

// Buffers of one frame's TIFF each, never freed: the library may hold them until it shuts down.
struct Buffer {
    HX_READ_STREAM record{};
    std::vector<uint8_t> bytes = std::vector<uint8_t>(HX_STREAM_MIN_BUFFER_SIZE);
};

class Library : public ::testing::Environment {
public:
    void SetUp() override
    {
        HLV_THREAD::setPeriodScale(0.05);
        hxsim::CameraConfig config;
        config.address = CAMERA;
        config.sensor = *hxsim::SensorModel::fromName("lupa-mono");
        config.memoryBytes = uint64_t{1} << 30;
        config.timeScale = 20;
        cluster = std::make_unique<hxsim::Cluster>(std::vector<hxsim::CameraConfig>{config});
        ASSERT_EQ(HX_register(&client, &Host::onEvent, &host), HX_STATUS_OK);
        in_addr address{htonl(CAMERA)};
        ASSERT_EQ(HX_get_handle_by_name(client, &camera, inet_ntoa(address)), HX_STATUS_OK);
    }
    void TearDown() override
    {
        HX_unregister(client);
        EXPECT_EQ(HX_shutdown(), HX_STATUS_OK);
        cluster.reset();
    }

    static inline HX_CLIENT_HANDLE client = 0;
    static inline HX_CAMERA_HANDLE camera = 0;
    static inline Host host;
    static inline std::unique_ptr<hxsim::Cluster> cluster;
    static inline std::deque<Buffer> buffers;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new Library);

uint32_t cameraRegister(uint32_t address)
{
    uint32_t value = 0xFFFFFFFF;
    (*Library::cluster)[0].withCore([&](hxsim::CameraCore& core, hxsim::SimTime) {
        value = core.device().registers().read(address).value_or(0xFFFFFFFF);
    });
    return value;
}

// Sends a command (or, with code 0, reads the state) and returns the camera state.
uint32_t command(uint32_t code = 0)
{
    HX_COMMAND record;
    HX_command_init(&record, sizeof(record));
    if (code != 0) {
        record.flags = record.code_flags = HX_FLAG_SET;
        record.code = code;
    }
    EXPECT_EQ(HX_command_syn(Library::client, Library::camera, &record, &record), HX_STATUS_OK);
    return record.code;
}

// 8-bit frames of 256 x 64 pixels, recorded from the trigger on, held in review.
void recordOnce()
{
    if (command() == HX_CAMERA_STATE_REVIEW)
        return;
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof(capture));
    capture.sensor_group_flags = capture.record_group_flags = HX_FLAG_SET;
    capture.bit_mode = HX_BIT_MODE_8A;
    capture.width = 256;
    capture.height = 64;
    capture.record_mode = HX_RECORD_MODE_LTR;
    capture.length = RECORDED_FRAMES;
    capture.bit_mode_flags = capture.width_flags = capture.height_flags = HX_FLAG_SET;
    capture.record_mode_flags = capture.length_flags = HX_FLAG_SET;
    ASSERT_EQ(HX_setup_capture_syn(Library::client, Library::camera, &capture, &capture), HX_STATUS_OK);
    command(HX_CMD_ARM);
    command(HX_CMD_TRIGGER);
    const auto deadline = Clock::now() + 10s;
    while (command() != HX_CAMERA_STATE_REVIEW)
        ASSERT_LT(Clock::now(), deadline) << "the camera did not finish its recording";
}

void applyDownloadSettings()
{
    HX_DOWNLOAD_SETTINGS settings;
    HX_download_settings_init(&settings, sizeof(settings));
    ASSERT_EQ(HX_setup_download_syn(Library::client, Library::camera, &settings, &settings), HX_STATUS_OK);
    settings.flags = settings.start_flags = settings.stop_flags = settings.format_flags = HX_FLAG_SET;
    settings.rate_control_flags = settings.turbo_delay_flags = HX_FLAG_SET;
    settings.start = FIRST;
    settings.stop = LAST;
    settings.format = HX_FORMAT_TIFF;
    settings.pause_count = 1;
    settings.resume_count = 2;
    settings.turbo_delay = PACKET_DELAY_MICROSECONDS;
    ASSERT_EQ(HX_setup_download_syn(Library::client, Library::camera, &settings, &settings), HX_STATUS_OK);
    ASSERT_EQ(settings.flags & HX_FLAG_ERR, 0u);
}

TEST(SettingsOrder, DownloadBuffersLentJustBeforeTheSettingsAreAllFilledInLendingOrder)
{
    ASSERT_NO_FATAL_FAILURE(recordOnce());
    std::vector<HX_READ_STREAM*> lent;
    for (std::size_t i = 0; i < LENT; ++i) {
        Buffer& buffer = Library::buffers.emplace_back();
        HX_read_stream_init(&buffer.record, sizeof(buffer.record));
        buffer.record.buffer = buffer.bytes.data();
        buffer.record.buffer_size = buffer.bytes.size();
        ASSERT_EQ(HX_download(Library::client, Library::camera, &buffer.record), HX_STATUS_OK);
        lent.push_back(&buffer.record);
    }
    ASSERT_NO_FATAL_FAILURE(applyDownloadSettings());

    // The buffers only queued: the download waits for the host's start.
    command();
    EXPECT_EQ(cameraRegister(HX_REGISTERS::GIGE_REG_STREAM_CONTROL), 0u) << "the download started early";
    EXPECT_EQ(Library::host.next(0ms), nullptr) << "a buffer came back before the download was started";

    ASSERT_EQ(HX_download(Library::client, Library::camera, nullptr), HX_STATUS_OK);
    for (std::size_t i = 0; i < LENT; ++i) {
        HX_READ_STREAM* returned = Library::host.next();
        ASSERT_NE(returned, nullptr) << "buffer " << i << " did not come back";
        EXPECT_EQ(returned, lent[i]) << "buffer " << i << " came back out of order";
        const uint32_t frame = FIRST + static_cast<uint32_t>(i);
        if (frame <= LAST) {
            EXPECT_EQ(returned->frame_id, frame);
            const uint32_t whole = HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE;
            EXPECT_EQ(returned->status, frame == LAST ? whole | HX_STREAM_STATUS_LAST : whole) << "frame " << frame;
            EXPECT_EQ(returned->received_length, returned->image_length) << "frame " << frame;
        } else {
            EXPECT_EQ(returned->status, HX_STREAM_STATUS_ERROR | HX_STREAM_STATUS_LAST) << "a buffer beyond the range";
            EXPECT_EQ(returned->received_length, 0u);
        }
    }
}

} // namespace
