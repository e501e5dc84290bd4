// A UDP download through the coalesced receive (the camera's datagrams handed over several at a
// time) delivers the same frames as one through the plain receive, and as one from a camera that
// sends its datagrams one by one; the log says which receive each camera's stream runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <hx/hx.h>

#include "log_capture.h"
#include "record_fields.h"
#include "stream/coalesced_receive_switch.h"
#include "stream_host.h"

using namespace halvex::stream;

using namespace stream_test;

namespace {

using hx_test::setField;

constexpr uint32_t SEGMENTED = 0x7F000002;  // sends runs of datagrams as one segmented send each
constexpr uint32_t ONE_BY_ONE = 0x7F000003; // sends every datagram on its own
constexpr uint32_t TO_PLAIN = 0x7F000004;   // segmented, to a host that does not coalesce
// Frames of 30 jumbo packets each, and a host buffer for every frame: the camera runs at its line
// rate without a pause, so whole runs of packets reach the host together.
constexpr uint32_t FRAMES = 24;
constexpr uint32_t WIDTH = 1024;
constexpr uint32_t HEIGHT = 256;
// The stand-in camera's TIFF: one strip of 8-bit samples at this offset.
constexpr std::size_t STRIP = 256;
constexpr std::size_t BUFFER_SIZE = HX_STREAM_MIN_BUFFER_SIZE;

StreamHost streamHost;
hx_test::LibraryClient& library = hx_test::LibraryClient::add(
    [] {
        std::vector<hxsim::CameraConfig> configs;
        for (const uint32_t address : {SEGMENTED, ONE_BY_ONE, TO_PLAIN}) {
            configs.push_back(streamCamera(address, "hxsim qT"));
            configs.back().serial = "HXS7"; // the serial is drawn into the pixels: the same for all
        }
        configs[1].udpSegmentation = false;
        return configs;
    },
    {{&StreamHost::onEvent, &streamHost}}, 0.2);

// The download of every recorded frame, at the line rate, into a buffer per frame.
std::vector<std::vector<uint8_t>> download(uint32_t address)
{
    const HX_CLIENT_HANDLE client = library.client();
    const HX_CAMERA_HANDLE camera = library.handleOf(address);
    record(client, camera, FRAMES, WIDTH, HEIGHT);
    // Lent before the settings are applied, the buffers wait for the call that starts the download.
    for (uint32_t i = 0; i < FRAMES; ++i) {
        HX_READ_STREAM* buffer = streamHost.buffer(BUFFER_SIZE);
        buffer->status = 0;
        EXPECT_EQ(HX_download(client, camera, buffer), HX_STATUS_OK);
    }
    HX_DOWNLOAD_SETTINGS settings;
    HX_download_settings_init(&settings, sizeof(settings));
    EXPECT_EQ(HX_setup_download_syn(client, camera, &settings, &settings), HX_STATUS_OK);
    settings.flags = HX_FLAG_SET;
    setField(settings.start, settings.start_flags, 0);
    setField(settings.stop, settings.stop_flags, FRAMES - 1);
    setField(settings.format, settings.format_flags, HX_FORMAT_TIFF);
    settings.turbo_delay_flags = 0; // no delay beyond the line rate
    EXPECT_EQ(HX_setup_download_syn(client, camera, &settings, &settings), HX_STATUS_OK);
    EXPECT_EQ(HX_download(client, camera, nullptr), HX_STATUS_OK);
    std::vector<std::vector<uint8_t>> frames;
    while (frames.size() < FRAMES) {
        const std::optional<Returned> returned = streamHost.next();
        if (!returned || returned->record == nullptr) {
            ADD_FAILURE() << "camera " << (address & 0xFF) << ": " << frames.size() << " of " << FRAMES
                          << " frames came back";
            break;
        }
        const HX_READ_STREAM& frame = *returned->record;
        EXPECT_EQ(frame.frame_id, frames.size()) << "camera " << (address & 0xFF);
        EXPECT_EQ(frame.status & ~uint32_t{HX_STREAM_STATUS_LAST}, WHOLE_IMAGE) << "frame " << frame.frame_id;
        EXPECT_EQ(frame.received_length, frame.image_length) << "frame " << frame.frame_id;
        EXPECT_EQ(frameNumberInTiff(frame), std::optional<uint32_t>(frame.frame_id));
        const auto* bytes = static_cast<const uint8_t*>(frame.buffer);
        frames.emplace_back(bytes, bytes + frame.received_length);
    }
    return frames;
}

// Every sample past the frame number and serial is the camera's pattern: (x + y + 3 f) mod 256.
void expectPattern(const std::vector<std::vector<uint8_t>>& frames)
{
    for (uint32_t f = 0; f < frames.size(); ++f) {
        ASSERT_GE(frames[f].size(), STRIP + WIDTH * HEIGHT) << "frame " << f;
        std::size_t wrong = 0;
        for (std::size_t i = 8; i < WIDTH * HEIGHT; ++i)
            wrong += frames[f][STRIP + i] != uint8_t(i % WIDTH + i / WIDTH + 3 * f);
        EXPECT_EQ(wrong, 0u) << "samples off the pattern in frame " << f;
    }
}

// The receiver's line at its start, naming the camera's address (and the host's stream port).
hx_test::CapturedLines::Match receiveLine(uint32_t address, const std::string& receive)
{
    const std::string camera = "sockInit(127.0.0." + std::to_string(address & 0xFF) + ":";
    return [camera, receive](const std::string& line) {
        return line.find(camera) != std::string::npos && line.find("): " + receive) != std::string::npos;
    };
}

} // namespace

TEST(CoalescedReceive, DeliversTheFramesThePlainReceiveAndOneByOneSendingDeliver)
{
    hx_test::LogCapture log;
    CoalescedReceiveSwitch::allow(true);
    const std::vector<std::vector<uint8_t>> coalesced = download(SEGMENTED);
    const std::vector<std::vector<uint8_t>> oneByOne = download(ONE_BY_ONE);
    // The receiver chooses as it starts, with the camera's first stream.
    CoalescedReceiveSwitch::allow(false);
    const std::vector<std::vector<uint8_t>> plain = download(TO_PLAIN);
    CoalescedReceiveSwitch::allow(true);

    EXPECT_EQ(log.count(receiveLine(SEGMENTED, "coalesced receive on")), 1u);
    EXPECT_EQ(log.count(receiveLine(ONE_BY_ONE, "coalesced receive on")), 1u);
    EXPECT_EQ(log.count(receiveLine(TO_PLAIN, "plain receive")), 1u);
    ASSERT_EQ(coalesced.size(), FRAMES);
    expectPattern(coalesced);
    EXPECT_TRUE(coalesced == oneByOne) << "a camera sending one by one delivered other frames";
    EXPECT_TRUE(coalesced == plain) << "the plain receive delivered other frames";
}
