// Shutting the library down while every kind of stream runs: a download the throttle holds, live
// over UDP and TCP, and playback. HX_shutdown returns, nothing reaches the host afterwards, and
// (under the sanitizers) no thread touches a buffer or message that has gone.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <hlv_thread/period_scale.h>
#include <hx/hx.h>

#include "arrivals.h"
#include "record_fields.h"
#include "registers/register_map.h"
#include "sim/net/cluster.h"
#include "stream_host.h"

using namespace hxsim;
using namespace stream_test;

namespace {

using hx_test::setField;

constexpr uint32_t DOWNLOADING = 0x7F000002; // host order: 127.0.0.2
constexpr uint32_t LIVE_UDP = 0x7F000003;
constexpr uint32_t LIVE_TCP = 0x7F000004;
constexpr uint32_t PLAYING = 0x7F000005;

// The host outlives the library: HX_shutdown is the last call that may touch its buffers.
struct Host {
    HX_CLIENT_HANDLE client = 0;
    StreamHost streams;
    static inline std::atomic<bool> shutDown{false};
    static inline std::atomic<int> callsAfterShutdown{0};
    static inline hx_test::Arrivals<HX_READ_STREAM*> downloadsReturned;

    static void onEvent(uint32_t event, HX_CLIENT_HANDLE from, HX_CAMERA_HANDLE camera, void* data, void* cookie)
    {
        if (shutDown)
            ++callsAfterShutdown;
        if (event == HX_DOWNLOAD_DATA) {
            // The host keeps download buffers, so the throttle holds the camera.
            downloadsReturned.add(static_cast<HX_READ_STREAM*>(data));
            return;
        }
        StreamHost::onEvent(event, from, camera, data, &static_cast<Host*>(cookie)->streams);
    }

    HX_READ_STREAM* buffer() { return streams.buffer(HX_STREAM_MIN_BUFFER_SIZE); }

    // Waits for a buffer of the kind and lends it again, so the stream keeps running.
    void keepFlowing(HX_CAMERA_HANDLE camera, uint32_t kind,
                     HX_STATUS (*lendCall)(HX_CLIENT_HANDLE, HX_CAMERA_HANDLE, HX_READ_STREAM*))
    {
        for (;;) {
            const std::optional<Returned> returned = streams.next();
            ASSERT_TRUE(returned) << "stream " << kind << " does not run";
            if (returned->event == kind) {
                lendCall(client, camera, returned->record);
                return;
            }
        }
    }
};

} // namespace

TEST(Shutdown, InTheMiddleOfEveryFlowReturnsAndCallsNobodyAfterwards)
{
    halvex::thread::setPeriodScale(0.05);
    Cluster cluster({streamCamera(DOWNLOADING, "hxsim qT"), streamCamera(LIVE_UDP, "hxsim qT"),
                     streamCamera(LIVE_TCP, "hxsim qM"), streamCamera(PLAYING, "hxsim qT")},
                    hx_test::standInLogger());
    static Host host;
    ASSERT_EQ(HX_register(&host.client, &Host::onEvent, &host), HX_STATUS_OK);
    const HX_CLIENT_HANDLE client = host.client;

    // A download that the throttle holds: the host keeps every buffer that comes back.
    const HX_CAMERA_HANDLE downloading = handleOf(client, DOWNLOADING);
    record(client, downloading, 30);
    HX_DOWNLOAD_SETTINGS download;
    HX_download_settings_init(&download, sizeof(download));
    HX_setup_download_syn(client, downloading, &download, &download);
    download.flags = HX_FLAG_SET;
    download.start_flags = HX_FLAG_SET;
    setField(download.stop, download.stop_flags, 29);
    ASSERT_EQ(HX_setup_download_syn(client, downloading, &download, &download), HX_STATUS_OK);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(HX_download(client, downloading, host.buffer()), HX_STATUS_OK);

    const HX_CAMERA_HANDLE liveUdp = handleOf(client, LIVE_UDP);
    const HX_CAMERA_HANDLE liveTcp = handleOf(client, LIVE_TCP);
    for (HX_CAMERA_HANDLE camera : {liveUdp, liveTcp}) {
        configure(client, camera, 30);
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(HX_live(client, camera, host.buffer()), HX_STATUS_OK);
        ASSERT_EQ(HX_live_enable(client, camera, 1), HX_STATUS_OK);
    }

    const HX_CAMERA_HANDLE playing = handleOf(client, PLAYING);
    record(client, playing, 30);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(HX_play(client, playing, host.buffer()), HX_STATUS_OK);
    cameraState(client, playing);
    HX_PLAYBACK_SETTINGS playback;
    HX_playback_settings_init(&playback, sizeof(playback));
    playback.flags = HX_FLAG_SET;
    setField(playback.mode, playback.mode_flags, HX_PLAY_FORWARD);
    ASSERT_EQ(HX_setup_playback_syn(client, playing, &playback, &playback), HX_STATUS_OK);

    host.keepFlowing(liveUdp, HX_LIVE_DATA, HX_live);
    host.keepFlowing(liveTcp, HX_LIVE_DATA, HX_live);
    host.keepFlowing(playing, HX_PLAYBACK_DATA, HX_play);
    ASSERT_TRUE(Host::downloadsReturned.waitFor(1, hx_test::DEADLINE)) << "the download did not start";

    auto shutdown = std::async(std::launch::async, [] {
        const HX_STATUS status = HX_shutdown();
        Host::shutDown = true;
        return status;
    });
    ASSERT_EQ(shutdown.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "HX_shutdown did not return";
    EXPECT_EQ(shutdown.get(), HX_STATUS_OK);
    EXPECT_EQ(Host::callsAfterShutdown.load(), 0) << "the host was called after HX_shutdown returned";
}
