// The stream session: download settings into register writes with their refusals, the order of
// parser switches and register writes, the route of download buffers, and sessions without or
// with a TCP receiver.
#include <gtest/gtest.h>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/period_scale.h"
#include "log_capture.h"
#include "record_fields.h"
#include "stream/hx_stream_operations.h"
#include "stream/stream_receiver.h"
#include "stream_fixtures.h"

using namespace halvex::control;
using namespace halvex::stream;
using namespace halvex::wire;

using namespace stream_test;
using halvex::wire::RegisterPairs;
namespace ids = halvex::message_ids;

namespace {

using hx_test::setField;

HX_DOWNLOAD_SETTINGS settingsWithFlags()
{
    HX_DOWNLOAD_SETTINGS settings{};
    settings.ver_maj = HX_API_VERSION_MAJ;
    settings.ver_min = HX_API_VERSION_MIN;
    settings.flags = HX_FLAG_SET;
    settings.start_max = 100;
    settings.stop_max = 100;
    return settings;
}

class StreamSessionTest : public StreamTest {
protected:
    StreamSessionTest() : StreamTest(0.02) {}
    void release() override { session.reset(); }
    void connectUdp()
    {
        session->connectStream(true);
        ASSERT_TRUE(NegotiationEvents::instance().waitFor(cam, 1));
    }
    RegisterPairs apply(HX_DOWNLOAD_SETTINGS& settings)
    {
        RegisterPairs writes;
        session->setSettings(settings, writes);
        return writes;
    }
    static bool has(const RegisterPairs& writes, uint32_t reg) { return value(writes, reg) != ~0u; }
    static uint32_t value(const RegisterPairs& writes, uint32_t reg)
    {
        for (const auto& [address, written] : writes)
            if (address == reg)
                return written;
        return ~0u;
    }

    Collector serviceThread;
    std::unique_ptr<HxStreamOperations> session =
        std::make_unique<HxStreamOperations>(cam, controlChannelFor(cam), &serviceThread);
};

} // namespace

TEST_F(StreamSessionTest, DownloadSettingsBecomeRegisterWritesAndRefusalsAreMarked)
{
    connectUdp();
    const uint16_t port = HxComm::factory(cam)->ports().stream;

    HX_DOWNLOAD_SETTINGS settings = settingsWithFlags();
    setField(settings.turbo_delay, settings.turbo_delay_flags, 100);
    setField(settings.start, settings.start_flags, 5);
    setField(settings.stop, settings.stop_flags, 9);
    const RegisterPairs expected = {{0x0D18, 0x7F000001}, {0x0D00, port}, {0x0D04, 0x40002328},
                                    {0x0D08, 100},        {0xE924, 5},    {0xE928, 9},
                                    {0xE918, 5},          {0xE92C, 1},    {0xE930, 0}};
    EXPECT_EQ(apply(settings), expected);
    EXPECT_TRUE(session->settings().settingsApplied());

    HX_DOWNLOAD_SETTINGS untouched = settingsWithFlags();
    untouched.flags = 0;
    EXPECT_TRUE(apply(untouched).empty());

    for (const uint32_t length : {1499u, 9001u}) {
        HX_DOWNLOAD_SETTINGS refused = settingsWithFlags();
        setField(refused.turbo_packet_length, refused.turbo_packet_length_flags, length);
        EXPECT_FALSE(has(apply(refused), 0x0D04)) << length;
        EXPECT_EQ(refused.turbo_packet_length_flags, uint32_t(HX_FLAG_SET | HX_FLAG_ERR)) << length;
    }
    const std::pair<uint32_t, uint32_t> lengths[] = {{0, 0x40000000}, {1500, 0x400005DC}, {9000, 0x40002328}};
    for (const auto& [length, written] : lengths) {
        HX_DOWNLOAD_SETTINGS accepted = settingsWithFlags();
        setField(accepted.turbo_packet_length, accepted.turbo_packet_length_flags, length);
        EXPECT_EQ(value(apply(accepted), 0x0D04), written);
        EXPECT_EQ(session->settings().streamPacketLength(), length);
    }
    const std::pair<uint32_t, bool> delays[] = {{9, false}, {10, true}, {1000000, true}, {1000001, false}};
    for (const auto& [delay, accepted] : delays) {
        HX_DOWNLOAD_SETTINGS timing = settingsWithFlags();
        setField(timing.turbo_delay, timing.turbo_delay_flags, delay);
        EXPECT_EQ(has(apply(timing), 0x0D08), accepted) << delay;
        EXPECT_EQ((timing.turbo_delay_flags & HX_FLAG_ERR) != 0, !accepted) << delay;
    }
}

TEST_F(StreamSessionTest, FrameRangeChecksAndTheThrottle)
{
    hx_test::LogCapture log;
    HX_DOWNLOAD_SETTINGS equal = settingsWithFlags();
    equal.start = equal.stop = 7;
    equal.start_flags = equal.stop_flags = HX_FLAG_SET;
    RegisterPairs writes = apply(equal);
    EXPECT_EQ(value(writes, 0xE924), 7u);
    EXPECT_EQ(value(writes, 0xE918), 7u);
    EXPECT_FALSE(has(writes, 0x0D18)); // no UDP receiver: the stream channel is left alone

    HX_DOWNLOAD_SETTINGS reversed = settingsWithFlags();
    reversed.start = 8;
    reversed.stop = 7;
    reversed.start_flags = reversed.stop_flags = HX_FLAG_SET;
    writes = apply(reversed);
    EXPECT_FALSE(has(writes, 0xE924));
    EXPECT_FALSE(has(writes, 0xE918));
    EXPECT_EQ(value(writes, 0xE928), 7u);
    EXPECT_EQ(writes.back(), (halvex::wire::RegisterPair{0xE930, 0}));
    EXPECT_EQ(log.count("Settings exception:"), 1u);
    EXPECT_EQ(log.count("Starting frame number exceeds end frame (8 >= 7)"), 1u);

    HX_DOWNLOAD_SETTINGS beyond = settingsWithFlags();
    beyond.start = 101;
    beyond.stop = 102;
    beyond.start_flags = beyond.stop_flags = HX_FLAG_SET;
    writes = apply(beyond);
    EXPECT_NE(beyond.start_flags & HX_FLAG_ERR, 0u);
    EXPECT_NE(beyond.stop_flags & HX_FLAG_ERR, 0u);
    EXPECT_FALSE(has(writes, 0xE928));
    EXPECT_EQ(log.count("Ending frame number exceeds maximum (102 > 100)"), 1u);

    HX_DOWNLOAD_SETTINGS throttle = settingsWithFlags();
    throttle.rate_control_flags = HX_FLAG_SET;
    throttle.pause_count = 3;
    throttle.resume_count = 7;
    apply(throttle);
    uint32_t pause = 0, resume = 0;
    session->settings().getThrottleParams(pause, resume);
    EXPECT_EQ(pause, 3u);
    EXPECT_EQ(resume, 7u);
}

TEST_F(StreamSessionTest, ParserSwitchesRegisterWritesAndDownloadRoutes)
{
    RegisterPairs start;
    session->startDownload(start);
    EXPECT_EQ(start, (RegisterPairs{{0x0938, 1000000}, {0xD314, 3}}));
    EXPECT_FALSE(session->settings().settingsApplied());
    RegisterPairs stop;
    session->stopDownload(stop);
    EXPECT_EQ(stop, (RegisterPairs{{0xD314, 0}, {0x0938, 10000}}));

    EXPECT_EQ(session->settings().getPacketDelay({}), 200u);
    EXPECT_EQ(session->settings().getPacketLen({}), 0u);
    EXPECT_EQ(session->settings().getStart({{0xE924, 4}}), 4u);
    EXPECT_EQ(session->settings().getStop({{0xE928, 9}}), 9u);

    // Without a receiver: buffers come straight back, pauses have nowhere to go.
    hx_test::LogCapture log;
    HostBuffer early(20000);
    session->handleMessage(collector.buffer(ids::LIVE_STREAM_MSG, early));
    ASSERT_TRUE(collector.waitFor(1));
    EXPECT_EQ(collector.returned()[0].messageStatus, halvex::thread::MESSAGE_DONE);
    session->pauseStream(true);
    EXPECT_EQ(log.count("No stream thread available?!"), 1u);
    EXPECT_TRUE(session->streamPaused());
    EXPECT_EQ(session->getStreamPktLen(), 0u);

    // A filled download buffer visits the camera's service thread before the host.
    connectUdp();
    EXPECT_EQ(session->getStreamPktLen(), 9000u);
    RegisterPairs ignored;
    session->startDownload(ignored);
    HostBuffer buffer(20000);
    session->handleMessage(collector.buffer(ids::DOWNLOAD_STREAM_MSG, buffer));
    const Bytes data = imageBytes(5000, 1);
    camera.sendDatagrams(udpImage(1, data, "1"), HxComm::factory(cam)->ports().stream);
    ASSERT_TRUE(serviceThread.waitFor(1));
    EXPECT_EQ(serviceThread.returned()[0].record.status, 3u);
    EXPECT_EQ(buffer.contents(5000), data);
    EXPECT_EQ(collector.count(), 1u);
}

// Only the images the service thread acts on visit it: the last of a download (which ends it
// there), and every one while it converts them. Locks the decision "A download's images before its
// last go straight back to the host".
TEST_F(StreamSessionTest, DownloadImagesBeforeTheLastGoStraightToTheHostUnlessConverted)
{
    connectUdp();
    const uint16_t port = HxComm::factory(cam)->ports().stream;
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    uint16_t block = 0;
    const auto download = [&](uint32_t frames, bool converted) {
        RegisterPairs writes;
        session->startDownload(writes, 0, frames - 1, converted);
        for (uint32_t frame = 0; frame < frames; ++frame) {
            buffers.push_back(std::make_unique<HostBuffer>(20000));
            session->handleMessage(collector.buffer(ids::DOWNLOAD_STREAM_MSG, *buffers.back()));
        }
        for (uint32_t frame = 0; frame < frames; ++frame) {
            ++block;
            camera.sendDatagrams(udpImage(block, imageBytes(5000, uint8_t(block)), std::to_string(frame + 1)), port);
        }
    };

    download(3, false);
    ASSERT_TRUE(collector.waitFor(2));
    ASSERT_TRUE(serviceThread.waitFor(1));
    EXPECT_EQ(collector.returned()[0].record.frame_id, 0u);
    EXPECT_EQ(collector.returned()[1].record.frame_id, 1u);
    EXPECT_EQ(serviceThread.returned()[0].record.frame_id, 2u);

    download(2, true);
    ASSERT_TRUE(serviceThread.waitFor(3));
    EXPECT_EQ(serviceThread.returned()[1].record.frame_id, 0u);
    EXPECT_EQ(serviceThread.returned()[2].record.frame_id, 1u);
    EXPECT_EQ(collector.count(), 2u);
}

TEST_F(StreamSessionTest, ATcpSessionReportsItsFixedPacketSizeAndStopsTheCameraOnClose)
{
    camera.listenTcp();
    session->connectStream(false);
    ASSERT_TRUE(camera.acceptTcp());
    EXPECT_EQ(session->getStreamPktLen(), 9000u);
    ASSERT_TRUE(NegotiationEvents::instance().waitFor(cam, 1));
    EXPECT_TRUE(session->receiverIdle());
    session->startLive();
    EXPECT_FALSE(session->receiverIdle());
    session->disconnectStream();
    EXPECT_EQ(camera.lastWrite(0x0D00), 0u);
    EXPECT_FALSE(session->hasReceiver());
}

// A camera that refuses the stream connection is asked again until it takes it; playback switched
// on meanwhile is parsed once it does.
TEST_F(StreamSessionTest, ARefusedReceiverKeepsTryingAndTakesUpAPlaybackSwitchedOnMeanwhile)
{
    session->connectStream(false); // nothing listens: the connection is refused, and tried again
    session->startPlayback();
    camera.listenTcp();
    ASSERT_TRUE(camera.acceptTcp(std::chrono::seconds(5)));
    EXPECT_TRUE(session->receiverRunning());
    HostBuffer buffer(8192);
    session->handleMessage(collector.buffer(ids::PLAYBACK_STREAM_MSG, buffer));
    const Bytes data = imageBytes(5000, 2);
    camera.sendTcp(tcpImage(1, data, "1"));
    ASSERT_TRUE(collector.waitFor(1));
    EXPECT_EQ(collector.returned()[0].record.status, 3u);
    EXPECT_EQ(buffer.contents(5000), data);
}
