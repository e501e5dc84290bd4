// The TCP receiver against a scripted camera: images into host buffers, broken leaders and
// trailers, buffers running out, the download throttle, reconnection and shutdown.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "common/message_id_ranges.h"
#include "control/hx_comm.h"
#include "control/register_channel.h"
#include "hlv_thread/sync_message.h"
#include "log_capture.h"
#include "stream/tcp_camera_presence.h"
#include "stream/tcp_stream.h"
#include "stream_fixtures.h"

using namespace halvex::callback;
using namespace halvex::control;
using namespace halvex::stream;

using namespace stream_test;
namespace ids = halvex::message_ids;

namespace {

constexpr uint32_t kStreamControl = 0xD314;

// A camera names an image by its sequence number plus one, in hexadecimal.
std::string fileNameFor(uint32_t frame)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", frame + 1);
    return text;
}

class TcpStreamTest : public StreamTest {
protected:
    void SetUp() override
    {
        StreamTest::SetUp();
        camera.listenTcp();
    }
    void release() override { receiver.reset(); }

    void start()
    {
        receiver = std::make_unique<TcpStream>(cam, controlChannelFor(cam), 3957);
        ASSERT_TRUE(receiver->startAndWait());
        ASSERT_TRUE(camera.acceptTcp());
    }
    void control(uint32_t command, uint8_t flag, uint32_t protocol = ids::INTERNAL_START)
    {
        StreamControl<halvex::thread::SyncMessage> message(command, flag, protocol);
        message.send(receiver.get());
        EXPECT_EQ(message.status, halvex::thread::MESSAGE_DONE);
    }
    void startLiveParser()
    {
        start();
        control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    }
    void give(uint32_t kind, HostBuffer& buffer) { receiver->post(collector.buffer(kind, buffer)); }

    std::unique_ptr<TcpStream> receiver;
};

} // namespace

TEST_F(TcpStreamTest, ImagesFillHostBuffersAfterTheCameraIsToldWhereToSend)
{
    start();
    EXPECT_EQ(camera.tcpPeerPort(), 3957);
    EXPECT_EQ(camera.writesOf(0x0D00), std::vector<uint32_t>{3957});
    EXPECT_EQ(camera.writesOf(0x0D04), std::vector<uint32_t>{0x40002328});
    ASSERT_TRUE(NegotiationEvents::instance().waitFor(cam, 1));
    EXPECT_EQ(NegotiationEvents::instance().sizes(cam), std::vector<int32_t>{9000});

    control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    HostBuffer first(4096), second(4096);
    give(ids::LIVE_STREAM_MSG, first);
    give(ids::LIVE_STREAM_MSG, second);
    const Bytes a = imageBytes(1000, 1), b = imageBytes(4096, 2);
    Bytes both = tcpImage(1, a, "1");
    const Bytes next = tcpImage(2, b, "1A");
    both.insert(both.end(), next.begin(), next.end());
    camera.sendTcp(both);

    ASSERT_TRUE(collector.waitFor(2));
    const std::vector<Returned> got = collector.returned();
    EXPECT_EQ(got[0].kind, ids::LIVE_STREAM_MSG);
    EXPECT_EQ(got[0].record.status, 3u);
    EXPECT_EQ(got[0].record.image_length, 1000u);
    EXPECT_EQ(got[0].record.received_length, 1000u);
    EXPECT_EQ(got[0].record.frame_id, 0u); // file name "1"
    EXPECT_EQ(got[1].record.status, 3u);
    EXPECT_EQ(got[1].record.frame_id, 25u); // file name "1A"
    EXPECT_EQ(got[1].record.received_length, 4096u);
    EXPECT_EQ(first.contents(1000), a);
    EXPECT_EQ(second.contents(4096), b);
    EXPECT_TRUE(first.guardIntact() && second.guardIntact());
}

TEST_F(TcpStreamTest, AnImageLargerThanItsBufferContinuesInTheNextAndNeverPastTheLast)
{
    startLiveParser();
    HostBuffer small(1000), rest(3000), only(1000);
    give(ids::LIVE_STREAM_MSG, small);
    give(ids::LIVE_STREAM_MSG, rest);
    const Bytes image = imageBytes(2500, 3);
    camera.sendTcp(tcpImage(1, image, "5"));
    ASSERT_TRUE(collector.waitFor(2));
    std::vector<Returned> got = collector.returned();
    EXPECT_EQ(got[0].record.status, uint32_t(HX_STREAM_STATUS_LEADER));
    EXPECT_EQ(got[0].record.image_length, 2500u);
    EXPECT_EQ(got[0].record.received_length, 1000u);
    EXPECT_EQ(got[1].record.status, uint32_t(HX_STREAM_STATUS_COMPLETE));
    EXPECT_EQ(got[1].record.received_length, 2500u);
    EXPECT_EQ(small.contents(1000), Bytes(image.begin(), image.begin() + 1000));
    EXPECT_EQ(rest.contents(1500), Bytes(image.begin() + 1000, image.end()));

    // One buffer for an image three times its size: the rest waits in the socket and goes on in
    // the buffer lent later.
    give(ids::LIVE_STREAM_MSG, only);
    const Bytes big = imageBytes(3000, 4);
    camera.sendTcp(tcpImage(2, big, "6"));
    ASSERT_TRUE(collector.waitFor(3));
    EXPECT_EQ(collector.returned()[2].record.received_length, 1000u);
    HostBuffer later(2000);
    give(ids::LIVE_STREAM_MSG, later);
    ASSERT_TRUE(collector.waitFor(4));
    got = collector.returned();
    EXPECT_EQ(got[3].record.status, uint32_t(HX_STREAM_STATUS_COMPLETE));
    EXPECT_EQ(got[3].record.received_length, 3000u);
    EXPECT_EQ(later.contents(2000), Bytes(big.begin() + 1000, big.end()));
    EXPECT_TRUE(small.guardIntact() && rest.guardIntact() && only.guardIntact() && later.guardIntact());
}

// Nothing is lost for want of a buffer: the camera is held back by the connection instead.
TEST_F(TcpStreamTest, AnImageWithoutABufferWaitsInTheSocketUntilOneIsLentOrTheStreamStops)
{
    hx_test::LogCapture log;
    startLiveParser();
    const Bytes first = imageBytes(3000, 1), second = imageBytes(3000, 2);
    Bytes both = tcpImage(1, first, "1");
    const Bytes next = tcpImage(2, second, "2");
    both.insert(both.end(), next.begin(), next.end());
    camera.sendTcp(both);
    ASSERT_TRUE(log.waitFor("Unable to acquire a buffer!", kDeadline));
    HostBuffer a(4096), b(4096);
    give(ids::LIVE_STREAM_MSG, a);
    give(ids::LIVE_STREAM_MSG, b);
    ASSERT_TRUE(collector.waitFor(2));
    std::vector<Returned> got = collector.returned();
    EXPECT_EQ(got[0].record.status, 3u);
    EXPECT_EQ(got[1].record.status, 3u);
    EXPECT_EQ(got[1].record.frame_id, 1u);
    EXPECT_EQ(a.contents(3000), first);
    EXPECT_EQ(b.contents(3000), second);

    // A stop gives up the image that waits; the stream after it arrives whole.
    // (The second image may have waited for its buffer too, if it came before the buffer.)
    const std::size_t waitedBefore = log.count("Unable to acquire a buffer!");
    camera.sendTcp(tcpImage(3, imageBytes(3000, 3), "3"));
    ASSERT_TRUE(log.waitFor("Unable to acquire a buffer!", kDeadline, waitedBefore + 1));
    receiver->post(collector.stopRequest(ids::LIVE_STREAM_MSG));
    ASSERT_TRUE(collector.waitFor(3));
    EXPECT_TRUE(collector.returned()[2].stop);
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::LIVE_STREAM_MSG);
    HostBuffer c(4096);
    give(ids::LIVE_STREAM_MSG, c);
    const Bytes fourth = imageBytes(3000, 4);
    camera.sendTcp(tcpImage(4, fourth, "4"));
    ASSERT_TRUE(collector.waitFor(4));
    got = collector.returned();
    EXPECT_EQ(got[3].record.status, 3u);
    EXPECT_EQ(got[3].record.frame_id, 3u);
    EXPECT_EQ(c.contents(3000), fourth);
    EXPECT_TRUE(a.guardIntact() && b.guardIntact() && c.guardIntact());
}

TEST_F(TcpStreamTest, BadLeadersAndJunkAreScannedPastWithOneLogLinePerEpisode)
{
    hx_test::LogCapture log;
    startLiveParser();
    HostBuffer buffer(8192);
    give(ids::LIVE_STREAM_MSG, buffer);
    Bytes stream = leader(1, 0, 100, "1", 0x1234);
    const Bytes wrongMagicAgain = leader(1, 0, 100, "1", 0x1234);
    const Bytes tooLarge = leader(1, 0, 0x1410001, "1");
    const Bytes junk(10, 0xEE);
    const Bytes image = imageBytes(5000, 6);
    const Bytes good = tcpImage(4, image, "2");
    for (const Bytes* piece : {&wrongMagicAgain, &tooLarge, &junk, &good})
        stream.insert(stream.end(), piece->begin(), piece->end());
    camera.sendTcp(stream);

    ASSERT_TRUE(collector.waitFor(1));
    const Returned got = collector.returned()[0];
    EXPECT_EQ(got.record.status, 3u);
    EXPECT_EQ(got.record.frame_id, 1u);
    EXPECT_EQ(buffer.contents(5000), image);
    EXPECT_EQ(log.count("Wrong MAGIC ID = 0x1234"), 1u);
    EXPECT_EQ(log.count("Bad PAYLOAD size = 21037057/0x1410001"), 1u);

    // The largest image a leader may announce is accepted.
    HostBuffer large(0x1410000);
    give(ids::LIVE_STREAM_MSG, large);
    camera.sendTcp(tcpImage(5, imageBytes(0x1410000, 7), "3"));
    ASSERT_TRUE(collector.waitFor(2));
    EXPECT_EQ(collector.returned()[1].record.status, 3u);
    EXPECT_EQ(collector.returned()[1].record.received_length, 0x1410000u);
}

// The scan takes everything the socket holds; what follows the leader it finds is read from what
// it kept, even when a pass ends early (here: its step limit, with buffers of 8 bytes) and the
// camera has nothing more to send.
TEST_F(TcpStreamTest, AnImageFoundByTheScanIsReadToItsEndWithoutMoreFromTheCamera)
{
    startLiveParser();
    constexpr std::size_t kPieces = 7500, kPiece = 8;
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    for (std::size_t i = 0; i < kPieces; ++i) {
        buffers.push_back(std::make_unique<HostBuffer>(kPiece));
        give(ids::LIVE_STREAM_MSG, *buffers.back());
    }
    const Bytes image = imageBytes(kPieces * kPiece, 9);
    Bytes stream(10, 0xEE);
    const Bytes whole = tcpImage(2, image, "4");
    stream.insert(stream.end(), whole.begin(), whole.end());
    camera.sendTcp(stream);

    ASSERT_TRUE(collector.waitFor(kPieces)) << "the image's end stayed in the bytes the scan kept";
    EXPECT_EQ(collector.returned().back().record.status, uint32_t(HX_STREAM_STATUS_COMPLETE));
    Bytes received;
    for (const auto& buffer : buffers) {
        const Bytes piece = buffer->contents(kPiece);
        received.insert(received.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(received, image);
}

TEST_F(TcpStreamTest, AFailedTrailerKeepsTheBufferForTheNextImage)
{
    hx_test::LogCapture log;
    startLiveParser();
    HostBuffer buffer(4096);
    give(ids::LIVE_STREAM_MSG, buffer);

    Bytes stream = leader(9, 7, 500, "10");
    const Bytes data = imageBytes(500, 8);
    stream.insert(stream.end(), data.begin(), data.end());
    const Bytes sameId = trailer(9, 7); // must be the leader's id + 1
    const Bytes lonely = trailer(3, 1); // a trailer without a leader
    const Bytes image = imageBytes(700, 9);
    const Bytes good = tcpImage(10, image, "11");
    for (const Bytes* piece : {&sameId, &lonely, &good})
        stream.insert(stream.end(), piece->begin(), piece->end());
    camera.sendTcp(stream);

    ASSERT_TRUE(collector.waitFor(1));
    const std::vector<Returned> got = collector.returned();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].hostRecord, &buffer.record);
    EXPECT_EQ(got[0].record.status, 3u);
    EXPECT_EQ(got[0].record.frame_id, 0x10u);
    EXPECT_EQ(buffer.contents(700), image);
    EXPECT_EQ(log.count("Packet ID mismatch (7 != 7 + 1)"), 1u);
}

TEST_F(TcpStreamTest, DownloadThrottlePausesTheCameraInsteadOfLosingImages)
{
    start();
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    std::vector<std::unique_ptr<HostBuffer>> buffers;
    const auto giveMore = [&](int count) {
        for (int i = 0; i < count; ++i) {
            buffers.push_back(std::make_unique<HostBuffer>(2048));
            give(ids::DOWNLOAD_STREAM_MSG, *buffers.back());
        }
    };
    const auto pausesAndResumes = [&] { return camera.writesOf(kStreamControl).size(); };
    giveMore(3);
    ASSERT_TRUE(camera.sendTcpWhenRunning(tcpImage(1, imageBytes(2000, 0), "1")));
    // Two buffers left: the camera is paused; asking again while paused writes nothing.
    ASSERT_TRUE(camera.waitForWrite(kStreamControl, 16));
    control(StreamControlRequest::PAUSE_STREAM, 0);
    EXPECT_EQ(pausesAndResumes(), 1u);

    // A host that keeps giving buffers back gets every image, in order.
    for (uint32_t frame = 1; frame < 12; ++frame) {
        if (camera.lastWrite(kStreamControl) == 16) {
            const std::size_t before = pausesAndResumes();
            giveMore(8);
            ASSERT_TRUE(camera.waitForWriteCount(kStreamControl, before + 1)) << "no resume";
        }
        ASSERT_TRUE(camera.sendTcpWhenRunning(
            tcpImage(uint16_t(frame + 1), imageBytes(2000, uint8_t(frame)), fileNameFor(frame))));
        ASSERT_TRUE(collector.waitFor(frame + 1));
        // Two buffers left, or less room than a jumbo packet (four of 2048 bytes), pause the camera.
        const std::size_t queued = buffers.size() - (frame + 1);
        if (queued <= 2 || queued * 2048 < 9000) {
            ASSERT_TRUE(camera.waitForLastWrite(kStreamControl, 16)) << "no pause";
        }
    }
    const std::vector<Returned> got = collector.returned();
    for (uint32_t frame = 0; frame < 12; ++frame) {
        EXPECT_EQ(got[frame].record.frame_id, frame);
        EXPECT_EQ(got[frame].record.status, 3u);
    }
    EXPECT_EQ(camera.writesOf(kStreamControl), (std::vector<uint32_t>{16, 32, 16, 32}));
}

// A closed connection is re-opened at once; one the camera refuses is tried again, with delays,
// while the buffers lent meanwhile wait (a host lending each returned buffer again would spin). A
// camera that is away is not asked until it is back; then images flow again on their own.
TEST_F(TcpStreamTest, AClosedConnectionIsReopenedUntilTheCameraTakesItAgain)
{
    hx_test::LogCapture log;
    std::atomic<bool> present{true};
    std::mutex lossLock;
    std::vector<uint32_t> losses;
    // The hooks see this test's locals: they go with them, however the test ends.
    struct Hooks {
        ~Hooks()
        {
            TcpCameraPresence::set(nullptr);
            TcpCameraPresence::setLossReport(nullptr);
        }
    } hooks;
    TcpCameraPresence::set([&present](uint32_t) { return present.load(); });
    startLiveParser();
    HostBuffer first(4096), second(4096);
    give(ids::LIVE_STREAM_MSG, first);
    give(ids::LIVE_STREAM_MSG, second);

    // The camera stops in the middle of an image and drops the connection.
    const Bytes cut = tcpImage(1, imageBytes(3000, 1), "1");
    camera.sendTcp(Bytes(cut.begin(), cut.begin() + 1500));
    camera.closeTcp();
    ASSERT_TRUE(camera.acceptTcp());
    const Bytes image = imageBytes(3000, 2);
    camera.sendTcp(tcpImage(2, image, "2"));
    ASSERT_TRUE(collector.waitFor(1));
    EXPECT_EQ(collector.returned()[0].record.status, 3u);
    EXPECT_EQ(collector.returned()[0].record.frame_id, 1u);
    EXPECT_EQ(first.contents(3000), image);

    // Refused, again and again: said once, and nothing comes back meanwhile. A camera that keeps
    // refusing through the longest delay is reported lost once, and still asked while present.
    TcpCameraPresence::setLossReport([&](uint32_t address) {
        std::lock_guard<std::mutex> guard(lossLock);
        losses.push_back(address);
    });
    const auto lossesSoFar = [&] {
        std::lock_guard<std::mutex> guard(lossLock);
        return losses;
    };
    const char* refused = "Unable to re-open the TCP socket; trying again while the camera is present.";
    camera.stopListening();
    camera.closeTcp();
    ASSERT_TRUE(log.waitFor(refused, kDeadline));
    ASSERT_TRUE(log.waitFor("reported lost", kDeadline)) << "a camera refusing its stream was never reported lost";
    present = false;
    ASSERT_TRUE(log.waitFor("The camera is away", kDeadline));
    EXPECT_EQ(lossesSoFar(), std::vector<uint32_t>{cam}) << "reported after its log line, before the absence";
    EXPECT_EQ(log.count(refused), 1u);
    EXPECT_FALSE(receiver->halted());
    EXPECT_EQ(collector.returned().size(), 1u);

    camera.listenTcp();
    present = true;
    ASSERT_TRUE(camera.acceptTcp(std::chrono::seconds(5)));
    const Bytes later = imageBytes(3000, 3);
    camera.sendTcp(tcpImage(3, later, "3"));
    ASSERT_TRUE(collector.waitFor(2));
    EXPECT_EQ(collector.returned()[1].record.status, 3u);
    EXPECT_EQ(collector.returned()[1].record.frame_id, 2u);
    EXPECT_EQ(second.contents(3000), later);
    EXPECT_EQ(log.count("The TCP connection is open again."), 1u);
    EXPECT_EQ(lossesSoFar().size(), 1u) << "one outage, one loss";
    // Every connection opened tells the camera its port, before its images are read: a camera
    // that restarted has forgotten it and would send nothing.
    const std::vector<uint32_t> ports = camera.writesOf(0x0D00);
    EXPECT_EQ(ports.size(), 3u) << "the first connection and the two re-opened ones";
    EXPECT_EQ(ports.back(), receiver->port());
}

TEST_F(TcpStreamTest, ABusyLocalPortMovesThreePortsOn)
{
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ipv4("127.0.0.1");
    local.sin_port = htons(3957);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
    ASSERT_EQ(listen(blocker, 1), 0);
    start();
    EXPECT_EQ(camera.tcpPeerPort(), 3960);
    EXPECT_EQ(camera.writesOf(0x0D00), std::vector<uint32_t>{3960});
    EXPECT_EQ(receiver->port(), 3960);
    close(blocker);
}

TEST_F(TcpStreamTest, StopShutdownAndHaltGiveEveryBufferBack)
{
    startLiveParser();
    HostBuffer live1(4096), live2(4096), playback(4096), download(8192);
    HostBuffer nothing(4096);
    nothing.record.buffer = nullptr;
    give(ids::LIVE_STREAM_MSG, nothing);
    ASSERT_TRUE(collector.waitFor(1));
    EXPECT_EQ(collector.returned()[0].messageStatus, halvex::thread::MESSAGE_FAILED);

    give(ids::LIVE_STREAM_MSG, live1);
    give(ids::LIVE_STREAM_MSG, live2);
    give(ids::PLAYBACK_STREAM_MSG, playback);
    receiver->post(collector.stopRequest(ids::LIVE_STREAM_MSG));
    ASSERT_TRUE(collector.waitFor(4));
    std::vector<Returned> got = collector.returned();
    for (int i : {1, 2}) {
        EXPECT_EQ(got[i].record.status, 12u);
        EXPECT_TRUE(got[i].released);
    }
    EXPECT_TRUE(got[3].stop);
    EXPECT_TRUE(receiver->isRecovering());

    control(StreamControlRequest::SHUTDOWN, 1);
    ASSERT_TRUE(collector.waitFor(5));
    EXPECT_EQ(collector.returned()[4].hostRecord, &playback.record);
    EXPECT_EQ(collector.returned()[4].record.status, 12u);

    // Halted in the middle of a download image.
    control(StreamControlRequest::ENABLE_PARSER, 1, ids::DOWNLOAD_STREAM_MSG);
    give(ids::DOWNLOAD_STREAM_MSG, download);
    const Bytes image = tcpImage(1, imageBytes(6000, 3), "1");
    camera.sendTcp(Bytes(image.begin(), image.begin() + 3000));
    receiver.reset();
    ASSERT_TRUE(collector.waitFor(6));
    EXPECT_EQ(collector.returned()[5].record.status, 12u);
    EXPECT_EQ(collector.returned()[5].record.received_length, 0u);
    EXPECT_EQ(camera.lastWrite(0x0D00), 0u);
    EXPECT_TRUE(download.guardIntact());
}
