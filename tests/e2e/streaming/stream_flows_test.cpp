// Image streams end to end through the public C interface against stand-in cameras on loopback:
// downloads, live and playback over UDP (first family) and TCP (second family) with the frame
// numbers read back from the pixels, packed downloads, the download throttle, downloads that
// cannot start, and a camera that goes silent in the middle of one.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <set>
#include <utility>

#include <hx/hx.h>

#include "arrivals.h"
#include "camera/camera_services.h"
#include "discovery/discovery_seam.h"
#include "family/download_watchdog.h"
#include "log_capture.h"
#include "packing/hx_internal.h"
#include "record_fields.h"
#include "registers/register_map.h"
#include "sim/stream/stream_engine.h"
#include "stream_host.h"

using namespace halvex::camera;
using namespace halvex::family;
using namespace halvex::packing;

using namespace hxsim;
using namespace stream_test;
namespace regs = halvex::registers;

namespace {

using hx_test::setField;

constexpr uint32_t TARROW = 0x7F000002; // host order: 127.0.0.2
constexpr uint32_t MORVANE = 0x7F000003;
constexpr uint32_t SILENT = 0x7F000004; // its image packets never leave it
constexpr uint32_t LIVE = 0x7F000005;
constexpr uint32_t IDLE = 0x7F000006;     // never records
constexpr uint32_t FULL = 0x7F000007;     // records at its full sensor size
constexpr uint32_t STUBBORN = 0x7F000008; // refuses every write that stops its stream
constexpr uint32_t RECORD_LENGTH = 24;
// Room for a frame as TIFF (8-bit samples after a header) and for live images.
constexpr std::size_t BUFFER_SIZE = HX_STREAM_MIN_BUFFER_SIZE;

StreamHost streamHost;
// The images the camera at TARROW said it had sent, in order, from its stream thread.
hx_test::Arrivals<SentImage> sentImages;
// Negotiation trials, request age-out and the download watchdog run in a fifth of their time: the
// watchdog's 2 s still outlasts a host that holds its buffers for a moment under a sanitizer.
constexpr double PERIOD_SCALE = 0.2;
hx_test::LibraryClient& library = hx_test::LibraryClient::add(
    [] {
        std::vector<CameraConfig> configs{streamCamera(TARROW, "hxsim qT"),  streamCamera(MORVANE, "hxsim qM"),
                                          streamCamera(SILENT, "hxsim qT"),  streamCamera(LIVE, "hxsim qT"),
                                          streamCamera(IDLE, "hxsim qT"),    streamCamera(FULL, "hxsim qT"),
                                          streamCamera(STUBBORN, "hxsim qT")};
        configs[2].faults.stream.drop = 1.0;
        configs[6].faults.refusedWrite = std::pair<uint32_t, uint32_t>{regs::GIGE_REG_STREAM_CONTROL, 0};
        configs[0].onImageSent = [](const SentImage& image) { sentImages.add(image); };
        return configs;
    },
    {{&StreamHost::onEvent, &streamHost}}, PERIOD_SCALE);

HX_CLIENT_HANDLE client()
{
    return library.client();
}
StreamHost& host()
{
    return streamHost;
}
HX_CAMERA_HANDLE handleOf(uint32_t hostOrderAddress)
{
    return library.handleOf(hostOrderAddress);
}

// A register of a stand-in camera, as the camera itself holds it.
uint32_t cameraRegister(uint32_t hostOrderAddress, uint32_t address)
{
    return hx_test::registerOf(library.camera(hostOrderAddress - TARROW), address);
}

void configure(HX_CAMERA_HANDLE camera)
{
    stream_test::configure(client(), camera, RECORD_LENGTH);
}

void record(HX_CAMERA_HANDLE camera)
{
    stream_test::record(client(), camera, RECORD_LENGTH);
}

// ctest runs every test in a process of its own: a test that needs a recording makes one unless
// an earlier test of the same process did.
HX_CAMERA_HANDLE recorded(uint32_t hostOrderAddress)
{
    const HX_CAMERA_HANDLE camera = handleOf(hostOrderAddress);
    if (cameraState(client(), camera) != HX_CAMERA_STATE_REVIEW)
        record(camera);
    return camera;
}

// The throttle pauses the camera when `pauseCount` lent buffers are left and resumes it at one
// more. Packets 2 ms apart let the camera see a pause before it runs out of buffers.
HX_DOWNLOAD_SETTINGS setupDownload(HX_CAMERA_HANDLE camera, uint32_t start, uint32_t stop,
                                   uint32_t format = HX_FORMAT_TIFF, uint32_t pauseCount = 1,
                                   uint32_t packetDelay = 2000, uint32_t packetLength = 0)
{
    HX_DOWNLOAD_SETTINGS settings;
    HX_download_settings_init(&settings, sizeof(settings));
    EXPECT_EQ(HX_setup_download_syn(client(), camera, &settings, &settings), HX_STATUS_OK);
    settings.flags = HX_FLAG_SET;
    setField(settings.start, settings.start_flags, start);
    setField(settings.stop, settings.stop_flags, stop);
    setField(settings.format, settings.format_flags, format);
    settings.rate_control_flags = HX_FLAG_SET;
    settings.pause_count = pauseCount;
    settings.resume_count = pauseCount + 1;
    setField(settings.turbo_delay, settings.turbo_delay_flags, packetDelay);
    if (packetLength != 0)
        setField(settings.turbo_packet_length, settings.turbo_packet_length_flags, packetLength);
    EXPECT_EQ(HX_setup_download_syn(client(), camera, &settings, &settings), HX_STATUS_OK);
    return settings;
}

void lend(uint32_t streamKind, HX_CAMERA_HANDLE camera, HX_READ_STREAM* record)
{
    record->status = 0;
    const HX_STATUS status = streamKind == HX_DOWNLOAD_DATA ? HX_download(client(), camera, record)
                             : streamKind == HX_LIVE_DATA   ? HX_live(client(), camera, record)
                                                            : HX_play(client(), camera, record);
    ASSERT_EQ(status, HX_STATUS_OK);
}

std::vector<HX_READ_STREAM*> lendNew(uint32_t streamKind, HX_CAMERA_HANDLE camera, std::size_t count)
{
    std::vector<HX_READ_STREAM*> records;
    for (std::size_t i = 0; i < count; ++i) {
        records.push_back(host().buffer(BUFFER_SIZE));
        lend(streamKind, camera, records.back());
    }
    return records;
}

// The next buffer of this stream kind. Live buffers filled just before an earlier test switched
// live off may still be on their way to the host; other kinds are passed over.
std::optional<Returned> nextOf(uint32_t streamKind, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        std::optional<Returned> returned = host().next(std::max(left, std::chrono::milliseconds(0)));
        if (!returned || returned->event == streamKind)
            return returned;
    }
}

// Everything queued on the camera's service thread before this has been handled.
void barrier(HX_CAMERA_HANDLE camera)
{
    cameraState(client(), camera);
}

bool discoveryPaused()
{
    return halvex::discovery::seam::paused();
}

// A returned buffer's results, with the frame number its pixels held when it came back.
struct Received {
    HX_READ_STREAM record;
    std::optional<uint32_t> pixels;
};

Received receivedNow(const HX_READ_STREAM& record, bool tiff)
{
    return {record, tiff ? frameNumberInTiff(record) : std::optional<uint32_t>(frameNumberInPixels(record))};
}

// A buffer given back unfilled keeps the status bits it was lent with, plus these.
bool released(const HX_READ_STREAM& record)
{
    return (record.status & RELEASED) == RELEASED && record.received_length == 0 && record.image_length == 0;
}

// Collects a download up to the buffer marked last; every other buffer of the `lent` (those
// lent beyond the end frame) must then come back released.
std::vector<Received> receiveDownload(std::size_t lent, bool tiff = true)
{
    std::vector<Received> frames;
    while (frames.size() < lent) {
        const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA);
        if (!returned || returned->record == nullptr)
            break;
        frames.push_back(receivedNow(*returned->record, tiff));
        if ((returned->record->status & HX_STREAM_STATUS_LAST) != 0)
            break;
    }
    for (std::size_t i = frames.size(); i < lent; ++i) {
        const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA);
        if (!returned) {
            ADD_FAILURE() << lent - i << " buffers lent beyond the end frame were not given back";
            break;
        }
        EXPECT_TRUE(released(*returned->record)) << "status " << returned->record->status;
    }
    return frames;
}

void expectDownloadedFrames(const std::vector<Received>& frames, uint32_t first, uint32_t last)
{
    ASSERT_EQ(frames.size(), last - first + 1);
    for (uint32_t i = 0; i < frames.size(); ++i) {
        const HX_READ_STREAM& frame = frames[i].record;
        const uint32_t expected = first + i;
        EXPECT_EQ(frame.frame_id, expected);
        EXPECT_EQ(frame.received_length, frame.image_length) << "frame " << expected;
        EXPECT_EQ(frames[i].pixels, std::optional<uint32_t>(expected)) << "pixels of frame " << expected;
        const uint32_t status = expected == last ? WHOLE_IMAGE | HX_STREAM_STATUS_LAST : WHOLE_IMAGE;
        EXPECT_EQ(frame.status, status) << "frame " << expected;
    }
}

// The camera's address in host order.
uint32_t addressOf(HX_CAMERA_HANDLE camera)
{
    return ntohl(static_cast<uint32_t>(camera));
}

// The camera is stopped, and neither discovery nor the camera's heartbeat stay as a download set them.
// A download ends on the camera's service thread, which has finished that once the barrier returns.
void expectDownloadEnded(HX_CAMERA_HANDLE camera)
{
    barrier(camera);
    EXPECT_EQ(cameraRegister(addressOf(camera), regs::GIGE_REG_STREAM_CONTROL), 0u);
    EXPECT_EQ(cameraRegister(addressOf(camera), regs::GIGE_REG_HEARTBEAT_TIMEOUT), 10000u);
    EXPECT_FALSE(discoveryPaused());
}

// The stand-in camera logs each pause of its stream ("... (paused)").
std::size_t pausesOf(HX_CAMERA_HANDLE camera)
{
    return hx_test::standInLines().count(hx_test::cameraLine(camera, "(paused)"));
}

// Waits for a pause beyond the `before` the camera had logged; true when it came and the camera
// holds it.
bool pausedAfter(HX_CAMERA_HANDLE camera, std::size_t before)
{
    return hx_test::standInLines().waitFor(hx_test::cameraLine(camera, "(paused)"), hx_test::DEADLINE, before + 1) &&
           cameraRegister(addressOf(camera), regs::GIGE_REG_STREAM_CONTROL) == 16;
}

} // namespace

TEST(Download, DeliversTheRangeInOrderAndMarksTheEndFrameLast)
{
    const HX_CAMERA_HANDLE camera = recorded(TARROW);
    // Lent before the settings are applied, the buffers only wait (and the receiver negotiates
    // first, so the settings' packet pacing stands); the buffer-less call starts. Two more than
    // the range needs keep the throttle from pausing the camera near the end.
    lendNew(HX_DOWNLOAD_DATA, camera, 12);
    const HX_DOWNLOAD_SETTINGS settings = setupDownload(camera, 3, 12);
    EXPECT_EQ((settings.start_flags | settings.stop_flags) & HX_FLAG_ERR, 0u);
    ASSERT_EQ(HX_download(client(), camera, nullptr), HX_STATUS_OK);
    expectDownloadedFrames(receiveDownload(12), 3, 12);
    expectDownloadEnded(camera);
    ASSERT_FALSE(host().negotiations().empty());
    EXPECT_EQ(host().negotiations().front(), 9000);

    // One frame with the waiting call: it returns once the host's callback has seen the buffer.
    setupDownload(camera, 5, 5);
    HX_READ_STREAM* single = host().buffer(BUFFER_SIZE);
    ASSERT_EQ(HX_download_syn(client(), camera, single), HX_STATUS_OK);
    const std::optional<Returned> returned = host().next(std::chrono::milliseconds(0));
    ASSERT_TRUE(returned);
    EXPECT_EQ(returned->record, single);
    EXPECT_EQ(single->frame_id, 5u);
    EXPECT_EQ(single->status, WHOLE_IMAGE | HX_STREAM_STATUS_LAST);
    EXPECT_EQ(frameNumberInTiff(*single), std::optional<uint32_t>(5));
    expectDownloadEnded(camera);
}

// A benchmark in the camera's process times each image from the camera's word that its last
// packet has left: one word per image, with the frame number the host gets and a block of its own.
TEST(Download, TheCameraSaysOnceForEachImageThatItHasSentIt)
{
    const HX_CAMERA_HANDLE camera = recorded(TARROW);
    lendNew(HX_DOWNLOAD_DATA, camera, 8);
    setupDownload(camera, 2, 7);
    const std::size_t before = sentImages.count();
    ASSERT_EQ(HX_download(client(), camera, nullptr), HX_STATUS_OK);
    expectDownloadedFrames(receiveDownload(8), 2, 7);
    expectDownloadEnded(camera);
    // The host may have its last image before the camera's thread has got past the send.
    ASSERT_TRUE(sentImages.waitFor(before + 6, hx_test::DEADLINE));
    const std::vector<SentImage> all = sentImages.all();
    const std::vector<SentImage> sent(all.begin() + std::ptrdiff_t(before), all.end());
    ASSERT_EQ(sent.size(), 6u);
    std::set<uint16_t> blocks;
    for (uint32_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].camera, TARROW);
        EXPECT_EQ(sent[i].frame, 2 + i);
        blocks.insert(sent[i].blockId);
    }
    EXPECT_EQ(blocks.size(), sent.size());
}

// The API guide's promise: until a host sets them, the throttle counts are 2 and 10 for every
// camera, of either family, and counts set through one camera hold for all of them. ctest runs this
// in a process of its own, so no earlier test has set them.
TEST(Download, ThrottleCountsAreTwoAndTenForEveryCameraUntilSet)
{
    const auto counts = [](uint32_t address) {
        HX_DOWNLOAD_SETTINGS settings;
        HX_download_settings_init(&settings, sizeof(settings));
        EXPECT_EQ(HX_setup_download_syn(client(), handleOf(address), &settings, &settings), HX_STATUS_OK);
        return std::pair{settings.pause_count, settings.resume_count};
    };
    for (const uint32_t address : {TARROW, MORVANE, IDLE})
        EXPECT_EQ(counts(address), (std::pair{2u, 10u})) << "camera 0x" << std::hex << address;

    HX_DOWNLOAD_SETTINGS throttle;
    HX_download_settings_init(&throttle, sizeof(throttle));
    throttle.flags = HX_FLAG_SET;
    throttle.rate_control_flags = HX_FLAG_SET;
    throttle.pause_count = 3;
    throttle.resume_count = 7;
    HX_setup_download_syn(client(), handleOf(IDLE), &throttle, &throttle);
    for (const uint32_t address : {TARROW, MORVANE, IDLE})
        EXPECT_EQ(counts(address), (std::pair{3u, 7u})) << "camera 0x" << std::hex << address;
}

TEST(Download, ThrottleHoldsTheCameraWhileTheHostKeepsItsBuffersAndLosesNothing)
{
    const HX_CAMERA_HANDLE camera = recorded(TARROW);
    // The host keeps what comes back. With two lent buffers left the camera pauses, and a frame
    // already on its way still finds one.
    const std::size_t lent = 4;
    lendNew(HX_DOWNLOAD_DATA, camera, lent);
    // The buffers lent later are made now: under a sanitizer, making them while the camera is paused
    // could take the watchdog's whole stall period.
    const std::size_t more = RECORD_LENGTH - 2;
    std::vector<HX_READ_STREAM*> fresh;
    for (std::size_t i = 0; i < more; ++i)
        fresh.push_back(host().buffer(BUFFER_SIZE));
    setupDownload(camera, 0, RECORD_LENGTH - 1, HX_FORMAT_TIFF, 2);
    const std::size_t pauses = pausesOf(camera);
    ASSERT_EQ(HX_download(client(), camera, nullptr), HX_STATUS_OK);
    std::vector<HX_READ_STREAM*> held;
    std::vector<Received> frames;
    while (held.size() < 2) {
        const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA);
        ASSERT_TRUE(returned) << "the download did not start";
        frames.push_back(receivedNow(*returned->record, true));
        held.push_back(returned->record);
    }
    ASSERT_TRUE(pausedAfter(camera, pauses)) << "the camera was not paused when the host ran short of buffers";
    EXPECT_TRUE(discoveryPaused());
    // Back with enough for the rest (two to spare), the camera resumes where it stopped. The new
    // buffers are ready before the first is lent, so all are lent long before the last frame.
    for (HX_READ_STREAM* record : held)
        lend(HX_DOWNLOAD_DATA, camera, record);
    for (HX_READ_STREAM* record : fresh)
        lend(HX_DOWNLOAD_DATA, camera, record);
    for (const Received& frame : receiveDownload(lent + more))
        frames.push_back(frame);
    expectDownloadedFrames(frames, 0, RECORD_LENGTH - 1);
    expectDownloadEnded(camera);
}

// A host that lends exactly one buffer per frame has nothing more to give: pausing the camera at
// the throttle's count would hold the last frames for ever. Full-size frames take long enough to
// send that the pause would reach the camera before its last frame, and on a loaded machine one
// frame may take longer than the watchdog's stall period to arrive.
TEST(Download, AsManyBuffersAsFramesAtFullSensorSizeNeverStalls)
{
    const HX_CAMERA_HANDLE camera = handleOf(FULL);
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof(capture));
    ASSERT_EQ(HX_setup_capture_syn(client(), camera, &capture, &capture), HX_STATUS_OK);
    const uint32_t width = capture.width_max;
    const uint32_t height = capture.height_max;
    ASSERT_GT(width * height, FRAME_WIDTH * FRAME_HEIGHT);
    constexpr uint32_t frames = 10;
    stream_test::record(client(), camera, frames, width, height);

    setupDownload(camera, 0, frames - 1, HX_FORMAT_TIFF, 2);
    for (uint32_t i = 0; i < frames; ++i)
        lend(HX_DOWNLOAD_DATA, camera, host().buffer(std::size_t{width} * height + 0x10000));
    expectDownloadedFrames(receiveDownload(frames), 0, frames - 1);
    EXPECT_EQ(cameraRegister(FULL, regs::GIGE_REG_STREAM_CONTROL), 0u);
    expectDownloadEnded(camera);
}

// The throttle pauses the camera while the host keeps its buffers: a slow host may hold them
// longer than the watchdog's stall period, and its download must wait for it, not end. A
// watchdog's stop meant for a download that has ended changes nothing either.
TEST(Download, AHostHoldingItsBuffersWhilePausedKeepsItsDownload)
{
    const HX_CAMERA_HANDLE camera = recorded(TARROW);
    std::vector<HX_READ_STREAM*> fresh;
    for (std::size_t i = 0; i < RECORD_LENGTH; ++i)
        fresh.push_back(host().buffer(BUFFER_SIZE));
    lendNew(HX_DOWNLOAD_DATA, camera, 4);
    setupDownload(camera, 0, RECORD_LENGTH - 1, HX_FORMAT_TIFF, 2);
    const std::size_t pauses = pausesOf(camera);
    ASSERT_EQ(HX_download(client(), camera, nullptr), HX_STATUS_OK);
    std::vector<Received> frames;
    std::vector<HX_READ_STREAM*> held;
    while (held.size() < 2) {
        const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA);
        ASSERT_TRUE(returned) << "the download did not start";
        ASSERT_EQ(returned->record->status & HX_STREAM_STATUS_ERROR, 0u);
        frames.push_back(receivedNow(*returned->record, true));
        held.push_back(returned->record);
    }
    ASSERT_TRUE(pausedAfter(camera, pauses));

    const auto address = static_cast<uint32_t>(camera);
    std::shared_ptr<CameraServices> service = CameraServices::find(address);
    ASSERT_TRUE(service);
    service->post(new WatchdogStop(service, address, 0));
    barrier(camera);
    EXPECT_EQ(cameraRegister(TARROW, regs::GIGE_REG_STREAM_CONTROL), 16u) << "a stale stop ended the download";

    // Twice the stall period with the buffers held: a frame already on its way when the camera
    // paused may still fill one of the other two, but none comes back unfilled.
    const auto stall = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::milliseconds(DownloadWatchdog::STALL_MILLISECONDS) * PERIOD_SCALE);
    while (const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA, 2 * stall)) {
        ASSERT_FALSE(released(*returned->record)) << "the download of a host holding its buffers was ended";
        frames.push_back(receivedNow(*returned->record, true));
        held.push_back(returned->record);
    }
    EXPECT_EQ(cameraRegister(TARROW, regs::GIGE_REG_STREAM_CONTROL), 16u) << "the paused download was stopped";

    for (HX_READ_STREAM* record : fresh)
        lend(HX_DOWNLOAD_DATA, camera, record);
    for (const Received& frame : receiveDownload(RECORD_LENGTH + 4 - held.size()))
        frames.push_back(frame);
    expectDownloadedFrames(frames, 0, RECORD_LENGTH - 1);
    expectDownloadEnded(camera);
}

// Small packets at the camera's longest packet delay: the one frame takes longer than the
// watchdog's stall period (and its checks) to fill its buffer, but its data keeps coming, so the
// download is not stuck.
TEST(Download, AFrameSlowerThanTheStallPeriodIsNotStoppedWhileItsDataFlows)
{
    const HX_CAMERA_HANDLE camera = handleOf(FULL);
    const uint32_t height = 3 * FRAME_HEIGHT;
    stream_test::record(client(), camera, 10, FRAME_WIDTH, height);
    HX_READ_STREAM* buffer = host().buffer(BUFFER_SIZE);
    lend(HX_DOWNLOAD_DATA, camera, buffer);
    const uint32_t packetDelay = hxsim::StreamEngine::kMaxPacketDelayMicros;
    const HX_DOWNLOAD_SETTINGS settings = setupDownload(camera, 1, 1, HX_FORMAT_TIFF, 1, packetDelay, 1500);
    ASSERT_EQ((settings.turbo_delay_flags | settings.turbo_packet_length_flags) & HX_FLAG_ERR, 0u);
    const auto frameTime = std::chrono::microseconds(packetDelay) * (FRAME_WIDTH * height / 1500);
    const auto stall = std::chrono::milliseconds(DownloadWatchdog::STALL_MILLISECONDS) * PERIOD_SCALE;
    ASSERT_GT(frameTime, stall * (1 + 1.0 / DownloadWatchdog::CHECKS_PER_STALL));
    ASSERT_EQ(HX_download(client(), camera, nullptr), HX_STATUS_OK);
    const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA, std::chrono::seconds(20));
    ASSERT_TRUE(returned) << "the slow frame did not come back";
    ASSERT_FALSE(released(*returned->record)) << "the watchdog stopped a download whose data was still coming";
    EXPECT_EQ(buffer->frame_id, 1u);
    EXPECT_EQ(buffer->status, WHOLE_IMAGE | HX_STREAM_STATUS_LAST);
    EXPECT_EQ(frameNumberInTiff(*buffer), std::optional<uint32_t>(1));
    expectDownloadEnded(camera);
}

TEST(Download, PackedFramesArriveInTheCamerasOwnLayoutWhenThePackingLibraryIsThere)
{
    ASSERT_NE(HxInternal::factory(), nullptr) << "libhlv_internal.so is not on this test's library path";
    const HX_CAMERA_HANDLE camera = recorded(TARROW);
    lendNew(HX_DOWNLOAD_DATA, camera, 4);
    const HX_DOWNLOAD_SETTINGS settings = setupDownload(camera, 7, 8, HX_FORMAT_PACKED);
    ASSERT_EQ(settings.format_flags & HX_FLAG_ERR, 0u);
    ASSERT_EQ(HX_download(client(), camera, nullptr), HX_STATUS_OK);
    const std::vector<Received> frames = receiveDownload(4, false);
    ASSERT_EQ(frames.size(), 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        // 8-bit rows of a width that is a multiple of four: the packed frame is the pixels alone.
        EXPECT_EQ(frames[i].record.received_length, FRAME_WIDTH * FRAME_HEIGHT);
        EXPECT_EQ(frames[i].record.image_length, FRAME_WIDTH * FRAME_HEIGHT);
        EXPECT_EQ(frames[i].pixels, std::optional<uint32_t>(7 + i));
    }
    EXPECT_NE(frames[1].record.status & HX_STREAM_STATUS_LAST, 0u);
}

TEST(Download, ThatCannotStartGivesTheBuffersBackAndRestoresDiscovery)
{
    // Frames beyond the recording are refused with the settings; nothing starts.
    const HX_CAMERA_HANDLE camera = recorded(TARROW);
    const HX_DOWNLOAD_SETTINGS beyond = setupDownload(camera, RECORD_LENGTH + 2, RECORD_LENGTH + 5);
    EXPECT_NE(beyond.start_flags & HX_FLAG_ERR, 0u) << "start " << beyond.start << " of at most " << beyond.start_max;
    // A camera whose range moved past its recording after the settings (another host wrote it)
    // is refused when the download would start.
    setupDownload(camera, 0, 3);
    library.camera(0).withCore([](CameraCore& core, SimTime now) {
        core.device().write(regs::GIGE_REG_DOWNLOAD_START, RECORD_LENGTH + 1, {}, now);
    });
    HX_READ_STREAM* beyondStarter = host().buffer(BUFFER_SIZE);
    lend(HX_DOWNLOAD_DATA, camera, beyondStarter);
    const std::optional<Returned> refused = nextOf(HX_DOWNLOAD_DATA);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->record, beyondStarter);
    EXPECT_EQ(beyondStarter->status, uint32_t{HX_STREAM_STATUS_ERROR});
    EXPECT_EQ(cameraRegister(TARROW, regs::GIGE_REG_STREAM_CONTROL), 0u);

    // A camera without a recording: the buffer that would start the download comes back faulty,
    // the ones lent before it come back released.
    const HX_CAMERA_HANDLE idle = handleOf(IDLE);
    lendNew(HX_DOWNLOAD_DATA, idle, 2);
    setupDownload(idle, 0, 0);
    HX_READ_STREAM* starter = host().buffer(BUFFER_SIZE);
    lend(HX_DOWNLOAD_DATA, idle, starter);
    std::multiset<uint32_t> statuses;
    for (int i = 0; i < 3; ++i) {
        const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA);
        ASSERT_TRUE(returned) << "buffer " << i << " did not come back";
        statuses.insert(returned->record == starter ? 1000 + returned->record->status : returned->record->status);
        EXPECT_EQ(returned->record->received_length, 0u);
    }
    EXPECT_EQ(statuses, (std::multiset<uint32_t>{RELEASED, RELEASED, 1000 + HX_STREAM_STATUS_ERROR}));
    EXPECT_FALSE(discoveryPaused());
    EXPECT_EQ(cameraRegister(IDLE, regs::GIGE_REG_STREAM_CONTROL), 0u);
}

TEST(Download, FromACameraThatFallsSilentEndsWithEveryBufferReleased)
{
    const HX_CAMERA_HANDLE camera = handleOf(SILENT);
    record(camera);
    // Applied before the camera has a receiver: the receiver's packet-size trials that follow
    // must leave the packet delay asked for here.
    setupDownload(camera, 0, RECORD_LENGTH - 1);
    const std::vector<HX_READ_STREAM*> lent = lendNew(HX_DOWNLOAD_DATA, camera, 3);
    for (std::size_t i = 0; i < lent.size(); ++i) {
        const std::optional<Returned> returned = nextOf(HX_DOWNLOAD_DATA, std::chrono::seconds(20));
        ASSERT_TRUE(returned) << "buffer " << i << " was not given back";
        EXPECT_TRUE(released(*returned->record)) << "status " << returned->record->status;
    }
    expectDownloadEnded(camera);
    EXPECT_EQ(cameraRegister(SILENT, regs::GIGE_REG_SCPD0), 2000u);
}

TEST(Live, FramesCarryTheirNumbersAndSwitchingOffStopsTheCamera)
{
    const HX_CAMERA_HANDLE camera = handleOf(LIVE);
    configure(camera);
    lendNew(HX_LIVE_DATA, camera, 3);
    ASSERT_EQ(HX_live_enable(client(), camera, 1), HX_STATUS_OK);
    std::optional<uint32_t> previous;
    for (int i = 0; i < 6; ++i) {
        const std::optional<Returned> returned = nextOf(HX_LIVE_DATA);
        ASSERT_TRUE(returned) << "live frame " << i << " did not arrive";
        const HX_READ_STREAM& frame = *returned->record;
        EXPECT_EQ(frame.status, WHOLE_IMAGE);
        EXPECT_EQ(frame.received_length, frame.image_length);
        EXPECT_EQ(frameNumberInPixels(frame), frame.frame_id);
        if (previous) {
            EXPECT_GT(frame.frame_id, *previous);
        }
        previous = frame.frame_id;
        lend(HX_LIVE_DATA, camera, returned->record);
    }
    EXPECT_EQ(cameraRegister(LIVE, regs::GIGE_REG_STREAM_CONTROL), 1u);

    // A narrower region while live runs: live stops around the write and carries on in the new size.
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof(capture));
    capture.sensor_group_flags = HX_FLAG_SET;
    setField(capture.width, capture.width_flags, FRAME_WIDTH / 2);
    ASSERT_EQ(HX_setup_capture_syn(client(), camera, &capture, &capture), HX_STATUS_OK);
    bool newSize = false;
    for (const auto deadline = Clock::now() + hx_test::DEADLINE; !newSize && Clock::now() < deadline;) {
        const std::optional<Returned> returned = nextOf(HX_LIVE_DATA);
        if (!returned)
            break;
        const HX_READ_STREAM frame = *returned->record;
        lend(HX_LIVE_DATA, camera, returned->record);
        newSize = frame.image_length == FRAME_WIDTH / 2 * FRAME_HEIGHT && frame.status == WHOLE_IMAGE;
    }
    EXPECT_TRUE(newSize) << "no live image of the new size";
    EXPECT_EQ(cameraRegister(LIVE, regs::GIGE_REG_STREAM_CONTROL), 1u);
    ASSERT_EQ(HX_live_enable(client(), camera, 0), HX_STATUS_OK);
    barrier(camera);
    EXPECT_EQ(cameraRegister(LIVE, regs::GIGE_REG_STREAM_CONTROL), 0u);
}

TEST(Live, ACameraThatWillNotStopIsSaidAndItsImagesStillReachTheHost)
{
    hx_test::LogCapture log;
    const HX_CAMERA_HANDLE camera = handleOf(STUBBORN);
    configure(camera);
    lendNew(HX_LIVE_DATA, camera, 3);
    ASSERT_EQ(HX_live_enable(client(), camera, 1), HX_STATUS_OK);
    std::optional<Returned> returned = nextOf(HX_LIVE_DATA);
    ASSERT_TRUE(returned) << "live did not start";
    lend(HX_LIVE_DATA, camera, returned->record);

    ASSERT_EQ(HX_live_enable(client(), camera, 0), HX_STATUS_OK);
    EXPECT_TRUE(
        log.waitFor("FamilyLiveStream::stopLiveStream: HxComm::writeMultiReg was not successful [", hx_test::DEADLINE));
    barrier(camera);
    EXPECT_EQ(cameraRegister(STUBBORN, regs::GIGE_REG_STREAM_CONTROL), 1u);
    // The stop ended there: the receiver still takes the live images the camera goes on sending.
    for (int i = 0; i < 3; ++i) {
        returned = nextOf(HX_LIVE_DATA);
        ASSERT_TRUE(returned) << "live image " << i << " after the refused stop did not arrive";
        EXPECT_EQ(returned->record->status, WHOLE_IMAGE);
        lend(HX_LIVE_DATA, camera, returned->record);
    }
}

TEST(Playback, ForwardPlaybackDeliversFramesOfTheChosenRange)
{
    const HX_CAMERA_HANDLE camera = recorded(TARROW);
    lendNew(HX_PLAYBACK_DATA, camera, 3);
    HX_PLAYBACK_SETTINGS playback;
    HX_playback_settings_init(&playback, sizeof(playback));
    playback.flags = HX_FLAG_SET;
    setField(playback.mode, playback.mode_flags, HX_PLAY_FORWARD);
    setField(playback.cut_in, playback.cut_in_flags, 4);
    setField(playback.cut_out, playback.cut_out_flags, 9);
    setField(playback.current_frame, playback.current_frame_flags, 4);
    ASSERT_EQ(HX_setup_playback_syn(client(), camera, &playback, &playback), HX_STATUS_OK);
    for (int i = 0; i < 8; ++i) {
        const std::optional<Returned> returned = nextOf(HX_PLAYBACK_DATA);
        ASSERT_TRUE(returned) << "playback frame " << i << " did not arrive";
        const HX_READ_STREAM& frame = *returned->record;
        EXPECT_EQ(frame.status, WHOLE_IMAGE);
        EXPECT_GE(frame.frame_id, 4u);
        EXPECT_LE(frame.frame_id, 9u);
        EXPECT_EQ(frameNumberInPixels(frame), frame.frame_id);
        lend(HX_PLAYBACK_DATA, camera, returned->record);
    }
    setField(playback.mode, playback.mode_flags, HX_PLAY_PAUSE);
    ASSERT_EQ(HX_setup_playback_syn(client(), camera, &playback, &playback), HX_STATUS_OK);
    // The pause is written to the camera before the call returns.
    EXPECT_EQ(cameraRegister(TARROW, regs::GIGE_REG_STREAM_CONTROL), 0u);
}

TEST(SecondFamily, DownloadsAndStreamsLiveOverTcp)
{
    const HX_CAMERA_HANDLE camera = handleOf(MORVANE);
    record(camera);
    lendNew(HX_DOWNLOAD_DATA, camera, 8);
    setupDownload(camera, 0, 5);
    ASSERT_EQ(HX_download(client(), camera, nullptr), HX_STATUS_OK);
    expectDownloadedFrames(receiveDownload(8), 0, 5);
    expectDownloadEnded(camera);

    lendNew(HX_LIVE_DATA, camera, 2);
    ASSERT_EQ(HX_live_enable(client(), camera, 1), HX_STATUS_OK);
    for (int i = 0; i < 3; ++i) {
        const std::optional<Returned> returned = nextOf(HX_LIVE_DATA);
        ASSERT_TRUE(returned) << "live frame " << i << " did not arrive";
        EXPECT_EQ(returned->record->status, WHOLE_IMAGE);
        EXPECT_EQ(frameNumberInPixels(*returned->record), returned->record->frame_id);
        lend(HX_LIVE_DATA, camera, returned->record);
    }
    ASSERT_EQ(HX_live_enable(client(), camera, 0), HX_STATUS_OK);
    barrier(camera);
    EXPECT_EQ(cameraRegister(MORVANE, regs::GIGE_REG_STREAM_CONTROL), 0u);
}
