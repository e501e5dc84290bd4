// The UDP receiver against a scripted camera: packet-size negotiation and its time-outs, images
// over packets and buffers, the status bits of faulty images, the throttle and shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <tuple>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/period_scale.h"
#include "hlv_thread/sync_message.h"
#include "log_capture.h"
#include "stream/stream_pace.h"
#include "stream/udp_negotiation.h"
#include "stream/udp_stream.h"
#include "stream_fixtures.h"

using namespace halvex::callback;
using namespace halvex::control;
using namespace halvex::stream;

using namespace stream_test;
namespace ids = halvex::message_ids;

namespace {

constexpr uint32_t kPacketSize = 0x0D04;
constexpr uint32_t kFaulty = HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE | HX_STREAM_STATUS_ERROR;

// A camera names frame N's file by N + 1 in hexadecimal.
std::string fileNameOf(uint32_t frame)
{
    char name[16];
    std::snprintf(name, sizeof(name), "%X", frame + 1);
    return name;
}

class UdpStreamTest : public StreamTest {
protected:
    UdpStreamTest() : StreamTest(0.02) {} // one-second trials run in 20 ms
    void release() override { receiver.reset(); }

    void start()
    {
        receiver = std::make_unique<UdpStream>(cam, HxComm::factory(cam), controlChannelFor(cam));
        receiver->countSilentEnds(silentEnds);
        ASSERT_TRUE(receiver->startAndWait());
        hostPort = receiver->localPort();
    }
    // Starts a negotiation and waits for the size the host is told.
    int32_t negotiate()
    {
        const std::size_t before = NegotiationEvents::instance().sizes(cam).size();
        control(StreamControlRequest::TEST_PACKET, 1);
        if (!NegotiationEvents::instance().waitFor(cam, before + 1))
            return 0;
        return NegotiationEvents::instance().sizes(cam).back();
    }
    void control(uint32_t command, uint8_t flag, uint32_t protocol = ids::INTERNAL_START)
    {
        StreamControl<halvex::thread::SyncMessage> message(command, flag, protocol);
        message.send(receiver.get());
    }
    void give(uint32_t kind, HostBuffer& buffer) { receiver->post(collector.buffer(kind, buffer)); }
    void send(const std::vector<Bytes>& datagrams) { camera.sendDatagrams(datagrams, hostPort); }

    // Waits until the receiver has judged `count` downloads silent before their last frame.
    bool silentEndsReach(uint64_t count, std::chrono::milliseconds timeout = kDeadline) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (silentEnds->load() < count) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::yield();
        }
        return true;
    }

    std::unique_ptr<UdpStream> receiver;
    uint16_t hostPort = 0;
    StreamReceiver::DataCounter silentEnds = std::make_shared<std::atomic<uint64_t>>(0);
};

} // namespace

TEST_F(UdpStreamTest, NegotiationSettlesOnJumboPacketsWhenTheyArrive)
{
    start();
    ASSERT_EQ(negotiate(), 9000);
    EXPECT_EQ(receiver->negotiatedPacketSize(), 9000u);
    halvex::wire::RegisterPairs channel;
    for (const auto& write : camera.writes())
        if (write.address == 0x0D18 || write.address == 0x0D00 || write.address == 0x0D08 ||
            write.address == kPacketSize)
            channel.push_back(write);
    EXPECT_EQ(channel, (halvex::wire::RegisterPairs{{0x0D18, 0x7F000001},
                                                    {0x0D00, hostPort},
                                                    {0x0D08, 100},
                                                    {kPacketSize, 0xC0002328},
                                                    {kPacketSize, 0x40002328}}));
}

// On a link that loses datagrams the first test packet may not come: the size is asked for again
// before the stream is given small packets, which would lose far more of every frame.
TEST_F(UdpStreamTest, NegotiationAsksAgainWhenATestPacketIsLost)
{
    camera.loseTestPackets(1);
    start();
    ASSERT_EQ(negotiate(), 9000);
    EXPECT_EQ(camera.writesOf(kPacketSize), (std::vector<uint32_t>{0xC0002328, 0xC0002328, 0x40002328}));
}

TEST_F(UdpStreamTest, NegotiationFallsBackToStandardPacketsAndReportsFailureNegative)
{
    hx_test::LogCapture log;
    camera.carryPacketSizes({1500});
    start();
    ASSERT_EQ(negotiate(), 1500);
    // Each size is asked for twice: one lost test packet does not make the stream's packets small.
    EXPECT_EQ(camera.writesOf(kPacketSize), (std::vector<uint32_t>{0xC0002328, 0xC0002328, 0xC00005DC, 0x400005DC}));
    EXPECT_EQ(log.count("No test packet of 9000 bytes came; asking for one again."), 1u);

    camera.carryPacketSizes({});
    ASSERT_EQ(negotiate(), -1500);
    EXPECT_EQ(camera.lastWrite(kPacketSize), 0x400005DCu);
    EXPECT_EQ(log.count("All packet sizes attempted have failed"), 1u);

    // A refused jumbo write goes straight on to the standard size.
    camera.carryPacketSizes({9000, 1500});
    camera.refuseWrite(kPacketSize, 0xC0002328);
    ASSERT_EQ(negotiate(), 1500);

    // A time-out armed for a trial that is over changes nothing.
    const std::size_t writes = camera.writes().size();
    auto* late = new halvex::stream::udp::NegotiateMessage(true, 9000);
    late->owner = receiver.get();
    receiver->post(late);
    // Nor does a message that only borrows the negotiation's identifier: not from the timer, or
    // not the receiver's own.
    auto* untimed = new halvex::stream::udp::NegotiateMessage(false, 1500);
    untimed->owner = receiver.get();
    receiver->post(untimed);
    halvex::thread::SyncMessage stranger;
    stranger.req = halvex::stream::udp::NegotiateMessage::ID;
    stranger.send(receiver.get());
    EXPECT_EQ(stranger.status, halvex::thread::MESSAGE_FAILED);
    control(StreamControlRequest::PAUSE_STREAM, 1);
    EXPECT_EQ(camera.writes().size(), writes);
    EXPECT_EQ(receiver->negotiatedPacketSize(), 1500u);
    EXPECT_EQ(NegotiationEvents::instance().sizes(cam).size(), 3u);
}

TEST_F(UdpStreamTest, ACameraThatRefusesEveryPacketSizeLeavesTheStandardSize)
{
    hx_test::LogCapture log;
    camera.refuseWrite(kPacketSize, 0xC0002328);
    camera.refuseWrite(kPacketSize, 0xC00005DC);
    start();
    EXPECT_EQ(negotiate(), -1500) << "the host was not told the size in use, nor that it was not negotiated";
    EXPECT_EQ(log.count("Unable to write the packet size register!"), 1u);
    EXPECT_EQ(receiver->negotiatedPacketSize(), 1500u);
}

TEST_F(UdpStreamTest, ImagesSpreadOverPacketsAndBuffers)
{
    start();
    ASSERT_EQ(negotiate(), 9000);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    HostBuffer first(20000), second(20000), third(20000);
    for (HostBuffer* buffer : {&first, &second, &third})
        give(ids::LIVE_STREAM_MSG, *buffer);
    const Bytes big = imageBytes(30000, 1), small = imageBytes(5000, 2);
    send(udpImage(1, big, "1"));
    send(udpImage(2, small, "2"));
    ASSERT_TRUE(collector.waitFor(3));
    const std::vector<Returned> got = collector.returned();
    // Two packets leave less room than one more packet needs: the buffer goes back.
    EXPECT_EQ(got[0].record.status, uint32_t(HX_STREAM_STATUS_LEADER));
    EXPECT_EQ(got[0].record.image_length, 30000u);
    EXPECT_EQ(got[0].record.received_length, 2u * 8964);
    EXPECT_EQ(got[1].record.status, uint32_t(HX_STREAM_STATUS_COMPLETE));
    EXPECT_EQ(got[1].record.received_length, 30000u);
    EXPECT_EQ(got[2].record.status, 3u);
    EXPECT_EQ(got[2].record.frame_id, 1u);
    EXPECT_EQ(first.contents(2 * 8964), Bytes(big.begin(), big.begin() + 2 * 8964));
    EXPECT_EQ(second.contents(30000 - 2 * 8964), Bytes(big.begin() + 2 * 8964, big.end()));
    EXPECT_EQ(third.contents(5000), small);

    // Buffers smaller than a packet: the packet is split over them, never written past one.
    HostBuffer a(5000), b(5000), c(5000);
    for (HostBuffer* buffer : {&a, &b, &c})
        give(ids::LIVE_STREAM_MSG, *buffer);
    const Bytes odd = imageBytes(9000, 3);
    send(udpImage(3, odd, "3"));
    ASSERT_TRUE(collector.waitFor(6));
    const std::vector<Returned> split = collector.returned();
    EXPECT_EQ(split[3].record.status, uint32_t(HX_STREAM_STATUS_LEADER));
    EXPECT_EQ(split[3].record.received_length, 5000u);
    EXPECT_EQ(split[4].record.status, 0u);
    EXPECT_EQ(split[4].record.received_length, 8964u);
    EXPECT_EQ(split[5].record.status, uint32_t(HX_STREAM_STATUS_COMPLETE));
    EXPECT_EQ(split[5].record.received_length, 9000u);
    EXPECT_EQ(a.contents(5000), Bytes(odd.begin(), odd.begin() + 5000));
    EXPECT_EQ(b.contents(3964), Bytes(odd.begin() + 5000, odd.begin() + 8964));
    EXPECT_EQ(c.contents(36), Bytes(odd.begin() + 8964, odd.end()));
    for (const HostBuffer* buffer : {&first, &second, &third, &a, &b, &c})
        EXPECT_TRUE(buffer->guardIntact());
}

TEST_F(UdpStreamTest, LostOrForeignPacketsReturnTheImageMarkedFaulty)
{
    start();
    ASSERT_EQ(negotiate(), 9000);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    const auto give1 = [&](std::size_t size) {
        buffers.push_back(std::make_unique<HostBuffer>(size));
        give(ids::LIVE_STREAM_MSG, *buffers.back());
    };
    const Bytes data = imageBytes(20000, 3);

    std::vector<Bytes> skipped = udpImage(1, data, "1"); // packet 2 of 3 lost
    skipped.erase(skipped.begin() + 2);
    std::vector<Bytes> headerOnly = udpImage(2, data, "2");
    headerOnly[2].resize(8);
    std::vector<Bytes> wrongTrailer = udpImage(3, data, "3");
    wrongTrailer.back() = trailer(99, 4);
    std::vector<Bytes> overlong = udpImage(4, imageBytes(1500, 4), "4");
    overlong[0] = leader(4, 0, 1000, "4"); // announces less than it sends
    std::vector<Bytes> endLost = udpImage(5, data, "5");
    endLost.pop_back();
    endLost.pop_back();
    std::vector<Bytes> previousBlock = udpImage(6, data, "6");
    previousBlock[2] = payload(5, 2, Bytes(100, 0));

    for (const auto* image : {&skipped, &headerOnly, &wrongTrailer, &previousBlock}) {
        give1(40000);
        send(*image);
    }
    give1(1000);
    send(overlong);
    give1(40000);
    send(endLost);
    give1(40000);
    send(udpImage(7, data, "7"));
    ASSERT_TRUE(collector.waitFor(7));

    const std::vector<Returned> got = collector.returned();
    const uint32_t expectedReceived[] = {8964, 8964, 20000, 8964, 1000, 2 * 8964};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(got[i].record.status, kFaulty) << "image " << i;
        EXPECT_EQ(got[i].record.received_length, expectedReceived[i]) << "image " << i;
    }
    EXPECT_EQ(got[6].record.status, 3u);
    EXPECT_EQ(got[6].record.frame_id, 6u);
    Bytes announced = imageBytes(1500, 4);
    announced.resize(1000);
    EXPECT_EQ(buffers[4]->contents(1000), announced);
    for (const auto& buffer : buffers)
        EXPECT_TRUE(buffer->guardIntact());
}

// A leader whose file name was damaged into another frame's number still has block ids that hold
// together: only the frame number's place in the sequence shows it. Such an image goes back in
// error; the images after it are whole again, also across the block ids' wrap from 0xFFFF to 1.
TEST_F(UdpStreamTest, ALeaderNamingAnotherFrameIsNeverReportedWhole)
{
    start();
    ASSERT_EQ(negotiate(), 9000);
    receiver->setDownloadRange(0, 5, true);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    const auto image = [&](uint16_t blockId, const char* name) {
        buffers.push_back(std::make_unique<HostBuffer>(4000));
        give(ids::DOWNLOAD_STREAM_MSG, *buffers.back());
        send(udpImage(blockId, imageBytes(3000, uint8_t(blockId)), name));
    };
    image(0xFFFE, "1");
    image(0xFFFF, "4"); // frame 3 where frame 1 comes
    image(1, "3");      // frame 2, one block id on past the wrap
    image(2, "9");      // frame 8: beyond the range
    image(3, "5");
    ASSERT_TRUE(collector.waitFor(5));
    std::vector<Returned> got = collector.returned();
    const uint32_t expected[] = {3, kFaulty, 3, kFaulty, 3};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(got[i].record.status, expected[i]) << "download image " << i;

    // Live frames may skip numbers, but never fall behind their block ids.
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    HostBuffer first(4000), behind(4000), skipping(4000);
    for (auto [buffer, blockId, name] : {std::tuple{&first, 7, "A"}, {&behind, 8, "3"}, {&skipping, 9, "F"}}) {
        give(ids::LIVE_STREAM_MSG, *buffer);
        send(udpImage(uint16_t(blockId), imageBytes(3000, 1), name));
    }
    ASSERT_TRUE(collector.waitFor(8));
    got = collector.returned();
    EXPECT_EQ(got[5].record.status, 3u);
    EXPECT_EQ(got[6].record.status, kFaulty);
    EXPECT_EQ(got[7].record.status, 3u);

    // A download whose first leader was lost: its next image cannot be told from one whose leader
    // was damaged, but those after it follow that image and are whole.
    receiver->setDownloadRange(10, 13, true);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    image(5, "C");
    image(6, "D");
    image(7, "E");
    ASSERT_TRUE(collector.waitFor(11));
    got = collector.returned();
    EXPECT_EQ(got[8].record.status, kFaulty);
    EXPECT_EQ(got[9].record.status, 3u);
    EXPECT_EQ(got[10].record.status, 3u);
}

// Long images are received several packets at a time straight into the buffer; a packet lost
// or short in the middle of such a run still makes its image faulty, and the next one is whole.
TEST_F(UdpStreamTest, LongImagesArriveWholeAndAFaultInTheirMiddleIsCaught)
{
    start();
    ASSERT_EQ(negotiate(), 9000);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    HostBuffer clean(200000), gap(200000), shortened(200000), after(200000);
    for (HostBuffer* buffer : {&clean, &gap, &shortened, &after})
        give(ids::LIVE_STREAM_MSG, *buffer);
    const Bytes data = imageBytes(20 * 8964 + 100, 6); // 21 payload packets
    std::vector<Bytes> burst = udpImage(1, data, "1");
    std::vector<Bytes> lost = udpImage(2, data, "2");
    lost.erase(lost.begin() + 12); // packet 12
    std::vector<Bytes> shortOne = udpImage(3, data, "3");
    shortOne[9].resize(8 + 100);
    for (const auto* image : {&lost, &shortOne})
        burst.insert(burst.end(), image->begin(), image->end());
    const std::vector<Bytes> last = udpImage(4, data, "4");
    burst.insert(burst.end(), last.begin(), last.end());
    send(burst);
    ASSERT_TRUE(collector.waitFor(4));

    const std::vector<Returned> got = collector.returned();
    EXPECT_EQ(got[0].record.status, 3u);
    EXPECT_EQ(clean.contents(data.size()), data);
    EXPECT_EQ(got[1].record.status, kFaulty);
    EXPECT_EQ(got[1].record.received_length, 11u * 8964);
    EXPECT_EQ(gap.contents(11 * 8964), Bytes(data.begin(), data.begin() + 11 * 8964));
    EXPECT_EQ(got[2].record.status, kFaulty);
    EXPECT_EQ(got[2].record.received_length, data.size() - 8864);
    EXPECT_EQ(shortened.contents(8 * 8964 + 100), Bytes(data.begin(), data.begin() + 8 * 8964 + 100));
    EXPECT_EQ(got[3].record.status, 3u);
    EXPECT_EQ(got[3].record.frame_id, 3u);
    EXPECT_EQ(after.contents(data.size()), data);
    for (const HostBuffer* buffer : {&clean, &gap, &shortened, &after})
        EXPECT_TRUE(buffer->guardIntact());
}

// Images that find no buffer lent are lost, with one line for the run and one with its count.
TEST_F(UdpStreamTest, ForeignDatagramsAreIgnoredAndImagesWithoutABufferLost)
{
    hx_test::LogCapture log;
    start();
    ASSERT_EQ(negotiate(), 9000);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    const Bytes data = imageBytes(10000, 5);
    for (uint16_t block = 1; block <= 3; ++block)
        send(udpImage(block, data, std::to_string(block)));
    ASSERT_TRUE(log.waitFor("Unable to acquire a buffer!", kDeadline));
    HostBuffer buffer(20000);
    give(ids::LIVE_STREAM_MSG, buffer);
    const std::vector<Bytes> image = udpImage(4, data, "4");
    ScriptedStreamCamera stranger("127.0.0.3");
    send({image[0], image[1]});
    stranger.sendDatagram(payload(4, 2, Bytes(50, 0)), hostPort);
    send({image[2], image[3]});
    ASSERT_TRUE(collector.waitFor(1));
    EXPECT_EQ(collector.returned()[0].record.status, 3u);
    EXPECT_EQ(buffer.contents(10000), data);
    // The buffer takes the first image after it was lent (the receiver may not have read them all
    // before): the images before it were lost.
    const uint32_t frame = collector.returned()[0].record.frame_id;
    EXPECT_EQ(log.count("images lost while no buffer was lent: " + std::to_string(frame)), 1u);
    EXPECT_EQ(log.count("Malformed packet"), 0u); // the lost images' packets pass quietly
}

TEST_F(UdpStreamTest, AHostWithoutBuffersPausesTheDownloadAndLosesNothing)
{
    camera.carryPacketSizes({1500});
    start();
    ASSERT_EQ(negotiate(), 1500);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    for (int i = 0; i < 11; ++i)
        buffers.push_back(std::make_unique<HostBuffer>(12000));
    for (int i = 0; i < 3; ++i)
        give(ids::DOWNLOAD_STREAM_MSG, *buffers[std::size_t(i)]);
    send(udpImage(1, imageBytes(3000, 0), "1", 1464));
    ASSERT_TRUE(camera.waitForWrite(0xD314, 16));
    for (int i = 3; i < 11; ++i)
        give(ids::DOWNLOAD_STREAM_MSG, *buffers[std::size_t(i)]);
    ASSERT_TRUE(camera.waitForWrite(0xD314, 32));
    for (uint16_t frame = 1; frame < 4; ++frame)
        send(udpImage(uint16_t(frame + 1), imageBytes(3000, uint8_t(frame)), std::string(1, char('1' + frame)), 1464));
    ASSERT_TRUE(collector.waitFor(4));
    const std::vector<Returned> got = collector.returned();
    for (uint32_t frame = 0; frame < 4; ++frame) {
        EXPECT_EQ(got[frame].record.frame_id, frame);
        EXPECT_EQ(got[frame].record.status, 3u);
    }
    EXPECT_EQ(camera.writesOf(0xD314), (std::vector<uint32_t>{16, 32}));
}

// Exactly one buffer per frame of the range: the camera must never be paused, since the host has
// nothing more to lend and nothing would resume it. Short of that, the throttle still pauses, and
// buffers that then cover the rest resume the camera before the resume count is reached.
TEST_F(UdpStreamTest, BuffersCoveringTheRestOfTheDownloadNeverPauseIt)
{
    camera.carryPacketSizes({1500});
    start();
    ASSERT_EQ(negotiate(), 1500);
    receiver->setDownloadRange(0, 3, true);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    for (int i = 0; i < 6; ++i) {
        buffers.push_back(std::make_unique<HostBuffer>(12000));
        if (i < 4)
            give(ids::DOWNLOAD_STREAM_MSG, *buffers.back());
    }
    for (uint16_t frame = 0; frame < 4; ++frame)
        send(udpImage(uint16_t(frame + 1), imageBytes(3000, uint8_t(frame)), std::string(1, char('1' + frame)), 1464));
    ASSERT_TRUE(collector.waitFor(4));
    for (uint32_t frame = 0; frame < 4; ++frame)
        EXPECT_EQ(collector.returned()[frame].record.frame_id, frame);
    EXPECT_TRUE(camera.writesOf(0xD314).empty());

    receiver->setDownloadRange(10, 13, true);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    give(ids::DOWNLOAD_STREAM_MSG, *buffers[0]);
    give(ids::DOWNLOAD_STREAM_MSG, *buffers[1]);
    send(udpImage(11, imageBytes(3000, 10), "B", 1464));
    ASSERT_TRUE(camera.waitForWrite(0xD314, 16));
    for (std::size_t i = 2; i < 5; ++i)
        give(ids::DOWNLOAD_STREAM_MSG, *buffers[i]);
    EXPECT_TRUE(camera.waitForWrite(0xD314, 32));
    release(); // the receiver may still be filling a lent buffer, which must outlive it
}

// A download whose end was lost goes quiet: far beyond its pace the image in progress comes back
// with what arrived, in error, and when the last frame can no longer come the download's watcher is
// told, long before the stall period. A download whose last frame came back (even in error) is not
// reported. Frames of 3000 bytes in packets of 1464, sent back to back.
TEST_F(UdpStreamTest, ADownloadFallingSilentBeforeItsEndReturnsItsImageAndIsReported)
{
    camera.carryPacketSizes({1500});
    start();
    ASSERT_EQ(negotiate(), 1500);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    // Each pass lends one buffer per frame of its range, so the throttle never pauses the camera.
    const auto pass = [&](uint32_t first, uint32_t last, const std::function<void(std::vector<Bytes>&)>& cutEnd) {
        receiver->setDownloadRange(first, last, true);
        control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
        for (uint32_t frame = first; frame <= last; ++frame) {
            buffers.push_back(std::make_unique<HostBuffer>(12000));
            give(ids::DOWNLOAD_STREAM_MSG, *buffers.back());
        }
        std::vector<Bytes> datagrams;
        for (uint32_t frame = first; frame <= std::min(last, first + 2); ++frame) {
            std::vector<Bytes> image =
                udpImage(uint16_t(frame + 1), imageBytes(3000, uint8_t(frame)), fileNameOf(frame), 1464);
            if (frame == first + 2)
                cutEnd(image);
            datagrams.insert(datagrams.end(), image.begin(), image.end());
        }
        send(datagrams);
    };
    const Bytes noBytes;

    // The trailer of the last frame lost: it comes back in error with every byte, and nothing more
    // is to come.
    pass(0, 2, [](std::vector<Bytes>& image) { image.pop_back(); });
    ASSERT_TRUE(collector.waitFor(3));
    // The leader of the last frame lost: its packets pass quietly and the download is reported.
    pass(10, 12, [](std::vector<Bytes>& image) { image.erase(image.begin()); });
    ASSERT_TRUE(collector.waitFor(5));
    ASSERT_TRUE(silentEndsReach(1)) << "a download whose last leader was lost was not reported";
    // The camera stops in the middle of a frame before the last: the frame comes back with its first
    // two packets, and the download is reported.
    pass(20, 23, [](std::vector<Bytes>& image) { image.resize(3); });
    ASSERT_TRUE(collector.waitFor(8));
    ASSERT_TRUE(silentEndsReach(2)) << "a download that stopped in the middle of a frame was not reported";
    // Only the leader of the last frame came: it goes back empty, and the download is reported.
    pass(30, 32, [](std::vector<Bytes>& image) { image.resize(1); });
    ASSERT_TRUE(collector.waitFor(11));
    ASSERT_TRUE(silentEndsReach(3)) << "a download whose last frame came back empty was not reported";
    // The last frame's leader and a packet from its end: it goes back empty at once, and the
    // silence after it is reported.
    pass(40, 42, [](std::vector<Bytes>& image) { image.erase(image.begin() + 1, image.begin() + 3); });
    ASSERT_TRUE(collector.waitFor(14));
    ASSERT_TRUE(silentEndsReach(4)) << "a download whose last frame was lost after its leader was not reported";

    const std::vector<Returned> got = collector.returned();
    const uint32_t frames[] = {0, 1, 2, 10, 11, 20, 21, 22};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(got[i].record.frame_id, frames[i]) << "return " << i;
        const bool cut = i == 2 || i == 7;
        EXPECT_EQ(got[i].record.status, cut ? kFaulty : 3u) << "frame " << frames[i];
    }
    EXPECT_EQ(got[2].record.received_length, 3000u);
    EXPECT_EQ(got[7].record.received_length, 2 * 1464u);
    // A pass of two frames whose second loses its leader: the gap before its first packet is the
    // gap between frames.
    receiver->setDownloadRange(50, 51, true);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    for (int i = 0; i < 2; ++i) {
        buffers.push_back(std::make_unique<HostBuffer>(12000));
        give(ids::DOWNLOAD_STREAM_MSG, *buffers.back());
    }
    std::vector<Bytes> twoFrames = udpImage(51, imageBytes(3000, 50), fileNameOf(50), 1464);
    std::vector<Bytes> headless = udpImage(52, imageBytes(3000, 51), fileNameOf(51), 1464);
    twoFrames.insert(twoFrames.end(), headless.begin() + 1, headless.end());
    send(twoFrames);
    ASSERT_TRUE(collector.waitFor(15));
    ASSERT_TRUE(silentEndsReach(5)) << "a two-frame download whose last leader was lost was not reported";

    EXPECT_EQ(got[10].record.frame_id, 32u);
    EXPECT_EQ(got[10].record.status, kFaulty);
    EXPECT_EQ(got[10].record.received_length, 0u);
    EXPECT_EQ(silentEnds->load(), 5u) << "a download whose last frame came back was reported";
}

// The throttle pausing the camera for a host that holds its buffers is no silence, however long
// it lasts; once resumed, the download goes on and ends whole.
TEST_F(UdpStreamTest, ADownloadPausedForItsHostIsNeverJudgedSilent)
{
    camera.carryPacketSizes({1500});
    start();
    ASSERT_EQ(negotiate(), 1500);
    receiver->setDownloadRange(0, 5, true);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    for (int i = 0; i < 12; ++i)
        buffers.push_back(std::make_unique<HostBuffer>(12000));
    for (int i = 0; i < 4; ++i)
        give(ids::DOWNLOAD_STREAM_MSG, *buffers[std::size_t(i)]);
    std::vector<Bytes> twoFrames;
    for (uint16_t frame = 0; frame < 2; ++frame) {
        const std::vector<Bytes> image =
            udpImage(uint16_t(frame + 1), imageBytes(3000, uint8_t(frame)), fileNameOf(frame), 1464);
        twoFrames.insert(twoFrames.end(), image.begin(), image.end());
    }
    send(twoFrames);
    ASSERT_TRUE(camera.waitForWrite(0xD314, 16));
    ASSERT_TRUE(collector.waitFor(2));
    // Many times the floor of the pace rule: nothing may be judged while paused.
    EXPECT_FALSE(silentEndsReach(1, 20 * std::chrono::duration_cast<std::chrono::milliseconds>(StreamPace::FLOOR)));
    for (int i = 4; i < 12; ++i)
        give(ids::DOWNLOAD_STREAM_MSG, *buffers[std::size_t(i)]);
    ASSERT_TRUE(camera.waitForWrite(0xD314, 32));
    for (uint16_t frame = 2; frame < 6; ++frame)
        send(udpImage(uint16_t(frame + 1), imageBytes(3000, uint8_t(frame)), fileNameOf(frame), 1464));
    ASSERT_TRUE(collector.waitFor(6));
    for (const Returned& returned : collector.returned())
        EXPECT_EQ(returned.record.status, 3u) << "frame " << returned.record.frame_id;
    EXPECT_EQ(silentEnds->load(), 0u);
}

// A camera that sent its last datagram before the throttle paused it sends nothing after the
// resume: its silence counts from the resume, not from the last datagram, and is judged.
TEST_F(UdpStreamTest, ADownloadSilentAfterItsResumeIsReported)
{
    camera.carryPacketSizes({1500});
    start();
    ASSERT_EQ(negotiate(), 1500);
    receiver->setDownloadRange(0, 5, true);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    for (int i = 0; i < 12; ++i)
        buffers.push_back(std::make_unique<HostBuffer>(12000));
    for (int i = 0; i < 4; ++i)
        give(ids::DOWNLOAD_STREAM_MSG, *buffers[std::size_t(i)]);
    std::vector<Bytes> frames;
    for (uint16_t frame = 0; frame < 3; ++frame) {
        const std::vector<Bytes> image =
            udpImage(uint16_t(frame + 1), imageBytes(3000, uint8_t(frame)), fileNameOf(frame), 1464);
        frames.insert(frames.end(), image.begin(), image.end());
    }
    frames.pop_back(); // the last frame the camera had to send loses its trailer
    send(frames);
    ASSERT_TRUE(camera.waitForWrite(0xD314, 16));
    ASSERT_TRUE(collector.waitFor(2));
    for (int i = 4; i < 12; ++i)
        give(ids::DOWNLOAD_STREAM_MSG, *buffers[std::size_t(i)]);
    ASSERT_TRUE(camera.waitForWrite(0xD314, 32));
    ASSERT_TRUE(silentEndsReach(1)) << "a camera silent after its resume was not judged";
    ASSERT_TRUE(collector.waitFor(3));
    EXPECT_EQ(collector.returned()[2].record.status, kFaulty);
}

TEST_F(UdpStreamTest, ShutdownDuringNegotiationOrAnImageReleasesEverything)
{
    camera.carryPacketSizes({});
    start();
    control(StreamControlRequest::TEST_PACKET, 1);
    receiver.reset(); // halted with a trial running

    camera.carryPacketSizes({9000});
    start();
    ASSERT_EQ(negotiate(), 9000);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::PLAYBACK_STREAM_MSG);
    HostBuffer filling(40000), waiting(40000);
    give(ids::PLAYBACK_STREAM_MSG, filling);
    give(ids::PLAYBACK_STREAM_MSG, waiting);
    const std::vector<Bytes> image = udpImage(1, imageBytes(30000, 1), "1");
    send({image[0], image[1]});
    UdpStream* halting = receiver.get();
    halvex::thread::closeThread(*halting);
    // The camera stops sending to a receiver that is gone.
    EXPECT_EQ(camera.lastWrite(0x0D00), 0u);
    ASSERT_TRUE(collector.waitFor(2));
    for (const Returned& got : collector.returned()) {
        EXPECT_EQ(got.record.status & 12u, 12u);
        EXPECT_TRUE(got.released);
    }
    HostBuffer late(40000);
    give(ids::PLAYBACK_STREAM_MSG, late);
    ASSERT_TRUE(collector.waitFor(3));
    EXPECT_EQ(collector.returned()[2].record.status, uint32_t(HX_STREAM_STATUS_ERROR));
}
