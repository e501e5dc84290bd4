// The stand-in camera's streaming parts without a network: TIFF files checked against the
// baseline TIFF tables, the packets of an image, the stream timetable, the fault decisions and
// the options that set them.
#include <gtest/gtest.h>

#include <numeric>

#include "sim/faults/stream_fault_injector.h"
#include "sim/frames/frame_source.h"
#include "sim/frames/tiff_frames.h"
#include "sim/program/options.h"
#include "sim/program/scenario.h"
#include "sim/stream/stream_packets.h"
#include "sim/stream/stream_schedule.h"
#include "wire/stream_packet.h"

using namespace hxsim;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes slice(const Bytes& bytes, std::size_t at, std::size_t count)
{
    return Bytes(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + count));
}

SimTime ms(int64_t count)
{
    return std::chrono::milliseconds(count);
}

StreamSettings recorded(uint32_t length)
{
    StreamSettings settings;
    settings.streamControl = 3;
    settings.recording = Recording{1, length, 0, 100, FrameGeometry{8, 2, 16, 16}};
    settings.liveFrameRate = 100;
    return settings;
}

std::vector<uint32_t> drain(StreamSchedule& schedule, SimTime at)
{
    std::vector<uint32_t> frames;
    for (int i = 0; i < 100; ++i) {
        auto order = schedule.take(at);
        if (!order) {
            break;
        }
        frames.push_back(order->frame);
    }
    return frames;
}

Packets numbered(std::size_t count)
{
    Packets packets;
    for (std::size_t i = 0; i < count; ++i) {
        packets.push_back(Bytes(10, static_cast<uint8_t>(i)));
    }
    return packets;
}

} // namespace

TEST(TiffFrame, EightBitFrameFollowsTheBaselineLayout)
{
    const Bytes file = TiffFrame::encode(5, 1, FrameGeometry{8, 2, 16, 16});
    ASSERT_EQ(file.size(), 256u + 16);
    // Header: "II", 42, first directory at 8; then ten entries.
    EXPECT_EQ(slice(file, 0, 10), (Bytes{0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x0A, 0x00}));
    // ImageWidth (256) LONG 1 = 8; BitsPerSample (258) SHORT 1 = 8; StripOffsets (273) LONG 1 = 256;
    // StripByteCounts (279) LONG 1 = 16.
    EXPECT_EQ(slice(file, 10, 12), (Bytes{0x00, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}));
    EXPECT_EQ(slice(file, 34, 12), (Bytes{0x02, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00}));
    EXPECT_EQ(slice(file, 70, 12), (Bytes{0x11, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(slice(file, 106, 12), (Bytes{0x17, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00}));
    EXPECT_EQ(slice(file, 130, 4), (Bytes{0, 0, 0, 0})) << "one directory only";
    // Samples: frame 5 and serial 1, then (column + row + 15) mod 256.
    EXPECT_EQ(slice(file, 256, 16), (Bytes{5, 0, 0, 0, 1, 0, 0, 0, 16, 17, 18, 19, 20, 21, 22, 23}));
    EXPECT_TRUE(SyntheticImage::matches(5, 1, FrameGeometry{8, 2, 16, 16}, slice(file, 256, 16)));

    // Ten-bit pixels: 16-bit samples; frame 300 (0x12C) gives its low byte, then its next one.
    const Bytes wide = TiffFrame::encode(300, 2, FrameGeometry{4, 3, 32, 12});
    EXPECT_EQ(slice(wide, 34, 12), (Bytes{0x02, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00}));
    ASSERT_EQ(wide.size(), 256u + 4 * 3 * 2);
    EXPECT_EQ(slice(wide, 256, 4), (Bytes{0x2C, 0x00, 0x01, 0x00}));
}

// Frames drawn once per size are byte for byte the frames drawn one by one, for frame numbers
// that wrap the pattern, 8- and 16-bit TIFF samples, odd row lengths and the sizes drawn per frame.
TEST(FrameDrawer, FramesAreThoseDrawnOneByOne)
{
    FrameDrawer drawer;
    const std::vector<FrameGeometry> geometries{{64, 8, 16, 512},      {640, 480, 16, 640 * 480},
                                                {100, 7, 32, 136 * 7}, {6, 3, 48, 48},
                                                {3, 1, 16, 5},         {40000, 1, 16, 40000}};
    for (const FrameGeometry& geometry : geometries) {
        for (uint32_t frame : {0u, 1u, 85u, 86u, 300u, 0x01020304u}) {
            Bytes expected(geometry.bytes);
            SyntheticImage::render(frame, 7, geometry, expected);
            EXPECT_EQ(drawer.raw(frame, 7, geometry).bytes(), expected) << geometry.width << "x" << geometry.height;
            EXPECT_EQ(drawer.tiff(frame, 7, geometry).bytes(), TiffFrame::encode(frame, 7, geometry))
                << geometry.width << "x" << geometry.height << " format " << geometry.pixelFormat;
        }
    }
    // A frame keeps its strip alive after the drawer has moved on to other sizes.
    const FrameImage kept = drawer.raw(9, 1, FrameGeometry{64, 8, 16, 512});
    for (uint32_t width = 128; width < 1024; width += 128) {
        drawer.raw(0, 0, FrameGeometry{width, 8, 16, width * 8});
    }
    Bytes expected(512);
    SyntheticImage::render(9, 1, FrameGeometry{64, 8, 16, 512}, expected);
    EXPECT_EQ(kept.bytes(), expected);
    Bytes middle(100);
    kept.copy(3, middle);
    EXPECT_EQ(middle, slice(expected, 3, 100));
}

// A scene frame is its phase's picture with the number band written per frame: drawn from the
// cycle or per frame (frames too large for the cycle), the bytes are the same, the first words
// still carry frame and serial, and frames a whole turn apart differ only in the band.
TEST(FrameDrawer, SceneFramesCarryTheirNumberAndRepeatTheirPictureEachTurn)
{
    FrameDrawer scene(true);
    const FrameGeometry geometry{640, 480, 16, 640 * 480};
    const Bytes first = scene.raw(5, 3, geometry).bytes();
    ASSERT_EQ(first.size(), geometry.bytes);
    EXPECT_EQ(SyntheticImage::frameNumberOf(first), 5u);
    EXPECT_EQ(slice(first, 4, 4), (Bytes{3, 0, 0, 0}));
    const Bytes turn = scene.raw(5 + 24, 3, geometry).bytes();
    const std::size_t band = 45 * 640; // 9 rows of 5-sample font dots
    EXPECT_NE(slice(first, 0, band), slice(turn, 0, band));
    EXPECT_EQ(slice(first, band, first.size() - band), slice(turn, band, turn.size() - band));
    EXPECT_NE(scene.raw(6, 3, geometry).bytes(), first) << "the disc moves with the frame number";
    // 16-bit TIFF samples (a 10-bit format): the prefix, then each value followed by a zero byte.
    const FrameGeometry wide{640, 480, 32, 640 * 480};
    const Bytes tiff = scene.tiff(5, 3, wide).bytes();
    const std::size_t prefix = TiffFrame::directory(wide).size();
    ASSERT_EQ(tiff.size(), prefix + 2 * wide.bytes);
    for (std::size_t i = 0; i < wide.bytes; i += 997)
        EXPECT_EQ((Bytes{tiff[prefix + 2 * i], tiff[prefix + 2 * i + 1]}), (Bytes{first[i], 0})) << "sample " << i;
    // A frame too large for a cycle of pictures is drawn on its own.
    const FrameGeometry large{8192, 4096, 16, 8192ull * 4096};
    const Bytes alone = scene.raw(7, 0, large).bytes();
    EXPECT_EQ(alone.size(), large.bytes);
    EXPECT_EQ(SyntheticImage::frameNumberOf(alone), 7u);
}

TEST(StreamPackets, UdpImageIsALeaderPayloadsOfThePacketSizeAndATrailer)
{
    StreamImage image{0x19, 77, Bytes(3000)};
    std::iota(image.bytes.begin(), image.bytes.end(), uint8_t{0});
    const Packets packets = udpPackets(image, 7, 1500);
    ASSERT_EQ(packets.size(), 5u); // 1464 + 1464 + 72 payload bytes
    // Leader: status 0, block 7, format 1, packet 0, "HX", type 3, time stamp 77, size 3000, "1A".
    EXPECT_EQ(slice(packets[0], 0, 12), (Bytes{0, 0, 0, 7, 1, 0, 0, 0, 0x48, 0x58, 0, 3}));
    EXPECT_EQ(slice(packets[0], 12, 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 77}));
    EXPECT_EQ(slice(packets[0], 20, 10), (Bytes{0, 0, 0, 0, 0, 0, 0x0B, 0xB8, '1', 'A'}));
    EXPECT_EQ(packets[0].size(), 48u);
    Bytes payload;
    for (uint32_t id = 1; id <= 3; ++id) {
        EXPECT_EQ(slice(packets[id], 0, 8), (Bytes{0, 0, 0, 7, 3, 0, 0, static_cast<uint8_t>(id)}));
        EXPECT_LE(packets[id].size() + 28, 1500u);
        payload.insert(payload.end(), packets[id].begin() + 8, packets[id].end());
    }
    EXPECT_EQ(payload, image.bytes);
    EXPECT_EQ(packets[4], (Bytes{0, 0, 0, 7, 2, 0, 0, 4, 0, 0, 0, 3})) << "trailer: the last payload id + 1";

    EXPECT_EQ(tcpPieces(image, 9, 1000).back(), (Bytes{0, 0, 0, 9, 2, 0, 0, 1, 0, 0, 0, 3}))
        << "TCP trailer: the leader's id + 1";
    EXPECT_EQ(nextBlockId(0xFFFF), 1) << "block 0 is never used";
}

TEST(StreamSchedule, LiveFramesAreNumberedByTimeAndSkippedWhenLate)
{
    StreamSchedule schedule(ms(5));
    StreamSettings settings = recorded(10);
    settings.liveFrameRate = 100; // a frame every 10 ms
    schedule.control(1, settings, ms(1000));
    EXPECT_EQ(schedule.take(ms(1000))->frame, 0u);
    EXPECT_FALSE(schedule.take(ms(1004))) << "frame 1 is not due yet";
    EXPECT_EQ(schedule.nextDue(), ms(1010));
    EXPECT_EQ(schedule.take(ms(1035))->frame, 3u) << "frames 1 and 2 were missed";
    EXPECT_FALSE(schedule.take(ms(1039)));
    // At 50 frames per second from 1040 ms: frames keep growing from where they were.
    settings.liveFrameRate = 50;
    schedule.follow(settings, ms(1040));
    EXPECT_EQ(schedule.take(ms(1040))->frame, 4u);
    EXPECT_EQ(schedule.take(ms(1061))->frame, 5u);
    // The minimum gap holds back even frames that are due.
    StreamSchedule gapped(ms(100));
    gapped.control(1, settings, ms(0));
    EXPECT_EQ(gapped.take(ms(0))->frame, 0u);
    EXPECT_FALSE(gapped.take(ms(60)));
    EXPECT_EQ(gapped.take(ms(100))->frame, 5u);
    // Outside review the camera ignores play and show and keeps its live stream.
    settings.recording.reset();
    gapped.control(2, settings, ms(200));
    gapped.control(4, settings, ms(200));
    EXPECT_EQ(gapped.kind(), StreamKind::Live);
}

TEST(StreamSchedule, DownloadSendsItsRangeOnceWithPauseRetryAndStops)
{
    StreamSchedule schedule(ms(1));
    StreamSettings settings = recorded(6);
    settings.firstFrame = 3;
    settings.lastFrame = 9; // beyond the recording: it ends at frame 5
    schedule.control(3, settings, ms(0));
    EXPECT_EQ(schedule.take(ms(0))->frame, 3u);
    schedule.control(16, settings, ms(0));
    EXPECT_FALSE(schedule.take(ms(0))) << "paused";
    EXPECT_EQ(schedule.nextDue(), kNever);
    schedule.control(32, settings, ms(0));
    EXPECT_EQ(drain(schedule, ms(0)), (std::vector<uint32_t>{4, 5}));
    schedule.retry(FrameOrder{StreamKind::Download, 5});
    EXPECT_EQ(drain(schedule, ms(0)), std::vector<uint32_t>{5}) << "a frame cut off goes again";
    EXPECT_EQ(schedule.nextDue(), kNever);

    settings.firstFrame = 7;
    schedule.control(3, settings, ms(0));
    EXPECT_TRUE(drain(schedule, ms(0)).empty()) << "a range outside the recording sends nothing";

    // The camera stopping on its own (heartbeat) or discarding the recording ends the stream.
    settings.firstFrame = 0;
    schedule.control(3, settings, ms(0));
    StreamSettings discarded = settings;
    discarded.recording.reset();
    schedule.follow(discarded, ms(0));
    EXPECT_EQ(schedule.kind(), StreamKind::None);
    schedule.control(1, settings, ms(0));
    settings.streamControl = 0;
    schedule.follow(settings, ms(0));
    EXPECT_EQ(schedule.kind(), StreamKind::None);
}

TEST(StreamFaultInjector, FaultsAreSeededAndDoWhatTheySay)
{
    const StreamFaults mixed{.drop = 0.2, .reorder = 0.2, .truncate = 0.2, .corrupt = 0.2, .cut = 0.5};
    StreamFaultInjector first(mixed, 42), second(mixed, 42), other(mixed, 43);
    Packets a = numbered(50), b = numbered(50), c = numbered(50);
    first.apply(a);
    second.apply(b);
    other.apply(c);
    EXPECT_EQ(a, b) << "the same seed gives the same faults";
    EXPECT_NE(a, c);
    EXPECT_EQ(first.cutPoint(100), second.cutPoint(100));

    Packets dropped = numbered(4);
    StreamFaultInjector(StreamFaults{.drop = 1}, 1).apply(dropped);
    EXPECT_TRUE(dropped.empty());

    Packets swapped = numbered(5);
    StreamFaultInjector(StreamFaults{.reorder = 1}, 1).apply(swapped);
    ASSERT_EQ(swapped.size(), 5u);
    EXPECT_EQ((std::vector<uint8_t>{swapped[0][0], swapped[1][0], swapped[2][0], swapped[3][0], swapped[4][0]}),
              (std::vector<uint8_t>{1, 0, 3, 2, 4}));

    StreamFaultInjector cutter(StreamFaults{.cut = 1}, 1);
    for (int i = 0; i < 20; ++i) {
        const auto at = cutter.cutPoint(48);
        ASSERT_TRUE(at);
        EXPECT_TRUE(*at >= 1 && *at < 48) << "a cut falls inside the image";
    }
}

TEST(StreamOptions, StreamFaultsAndThePathsPacketLimitComeFromOptionsAndScenarios)
{
    const std::vector<std::string> args{"--fault",      "stream.drop=0.25", "--fault",
                                        "stream.cut=1", "--max-packet",     "1500"};
    const ParsedOptions parsed = parseOptions(args);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.cameras[0].faults.stream.drop, 0.25);
    EXPECT_EQ(parsed.options.cameras[0].faults.stream.cut, 1.0);
    EXPECT_EQ(parsed.options.cameras[0].maxStreamPacket, 1500u);
    for (const char* bad : {"stream.drop=2", "stream.delay=0.1"}) {
        EXPECT_NE(parseOptions(std::vector<std::string>{"--fault", bad}).error, "") << bad;
    }
    EXPECT_NE(parseOptions(std::vector<std::string>{"--max-packet", "9001"}).error, "");
    std::vector<CameraConfig> cameras;
    ASSERT_EQ(parseScenario(R"({"cameras": [{"max_packet": 1400, "faults": {"stream": {"truncate": 0.5}}}]})",
                            CameraConfig{}, cameras),
              "");
    EXPECT_EQ(cameras[0].faults.stream.truncate, 0.5);
    EXPECT_EQ(cameras[0].maxStreamPacket, 1400u);
}
