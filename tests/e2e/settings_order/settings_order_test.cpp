// A host's calls on one camera take effect in the order it made them: download buffers lent just
// before the download settings are all queued when the settings apply, so nothing starts before
// the host asks, and the download fills every buffer in the order it was lent.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include <hx/hx.h>

#include "library_client.h"
#include "registers/register_map.h"
#include "stream_host.h"

namespace {

using namespace std::chrono_literals;
using namespace stream_test;

constexpr uint32_t CAMERA = 0x7F000002; // host order: 127.0.0.2
constexpr uint32_t RECORDED_FRAMES = 12;
constexpr uint32_t FIRST = 3;
constexpr uint32_t LAST = 6;
constexpr std::size_t LENT = LAST - FIRST + 3; // two beyond the range come back unfilled
// 20 ms between packets: a download started early is still running when the host looks.
constexpr uint32_t PACKET_DELAY_MICROSECONDS = 20000;

StreamHost host;
hx_test::LibraryClient& library = hx_test::LibraryClient::add(
    [] { return std::vector<hxsim::CameraConfig>{streamCamera(CAMERA, "hxsim qT")}; }, {{&StreamHost::onEvent, &host}});

HX_CLIENT_HANDLE client()
{
    return library.client();
}
HX_CAMERA_HANDLE camera()
{
    static const HX_CAMERA_HANDLE handle = library.handleOf(CAMERA);
    return handle;
}

uint32_t cameraRegister(uint32_t address)
{
    return hx_test::registerOf(library.camera(0), address);
}

// 8-bit frames of 256 x 64 pixels, recorded from the trigger on, held in review.
void recordOnce()
{
    if (cameraState(client(), camera()) != HX_CAMERA_STATE_REVIEW)
        record(client(), camera(), RECORDED_FRAMES);
}

void applyDownloadSettings()
{
    HX_DOWNLOAD_SETTINGS settings;
    HX_download_settings_init(&settings, sizeof(settings));
    ASSERT_EQ(HX_setup_download_syn(client(), camera(), &settings, &settings), HX_STATUS_OK);
    settings.flags = settings.start_flags = settings.stop_flags = settings.format_flags = HX_FLAG_SET;
    settings.rate_control_flags = settings.turbo_delay_flags = HX_FLAG_SET;
    settings.start = FIRST;
    settings.stop = LAST;
    settings.format = HX_FORMAT_TIFF;
    settings.pause_count = 1;
    settings.resume_count = 2;
    settings.turbo_delay = PACKET_DELAY_MICROSECONDS;
    ASSERT_EQ(HX_setup_download_syn(client(), camera(), &settings, &settings), HX_STATUS_OK);
    ASSERT_EQ(settings.flags & HX_FLAG_ERR, 0u);
}

TEST(SettingsOrder, DownloadBuffersLentJustBeforeTheSettingsAreAllFilledInLendingOrder)
{
    ASSERT_NO_FATAL_FAILURE(recordOnce());
    std::vector<HX_READ_STREAM*> lent;
    for (std::size_t i = 0; i < LENT; ++i) {
        lent.push_back(host.buffer(HX_STREAM_MIN_BUFFER_SIZE));
        ASSERT_EQ(HX_download(client(), camera(), lent.back()), HX_STATUS_OK);
    }
    ASSERT_NO_FATAL_FAILURE(applyDownloadSettings());

    // The buffers only queued: the download waits for the host's start.
    cameraState(client(), camera());
    EXPECT_EQ(cameraRegister(halvex::registers::GIGE_REG_STREAM_CONTROL), 0u) << "the download started early";
    EXPECT_FALSE(host.next(0ms)) << "a buffer came back before the download was started";

    ASSERT_EQ(HX_download(client(), camera(), nullptr), HX_STATUS_OK);
    for (std::size_t i = 0; i < LENT; ++i) {
        const std::optional<Returned> back = host.next();
        ASSERT_TRUE(back) << "buffer " << i << " did not come back";
        const HX_READ_STREAM* returned = back->record;
        EXPECT_EQ(returned, lent[i]) << "buffer " << i << " came back out of order";
        const uint32_t frame = FIRST + static_cast<uint32_t>(i);
        if (frame <= LAST) {
            EXPECT_EQ(returned->frame_id, frame);
            EXPECT_EQ(returned->status, frame == LAST ? WHOLE_IMAGE | HX_STREAM_STATUS_LAST : WHOLE_IMAGE)
                << "frame " << frame;
            EXPECT_EQ(returned->received_length, returned->image_length) << "frame " << frame;
        } else {
            EXPECT_EQ(returned->status, RELEASED) << "a buffer beyond the range";
            EXPECT_EQ(returned->received_length, 0u);
        }
    }
}

} // namespace
