// The Callback thread end to end: events to the right clients, stream buffers copied back, host code misbehaving.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <hx/hx.h>

#include "callback/callback.h"
#include "callback/callback_message_ids.h"
#include "callback/callback_messages.h"
#include "camera/camera_message_ids.h"
#include "log_capture.h"
#include "stand_in_service.h"

namespace {

using hx_test::CallbackRecorder;
using hx_test::Delivery;
using namespace std::chrono_literals;

void postOwned(uint32_t event, HX_CAMERA_HANDLE camera)
{
    auto request = std::make_unique<halvex::callback::CallbackRequest>(event, camera);
    request->attach(HX_CAPTURE_SETTINGS{});
    halvex::callback::Callback::postOwned(std::move(request));
}

struct Buffer {
    explicit Buffer(std::size_t size = HX_STREAM_MIN_BUFFER_SIZE) : memory(size)
    {
        HX_read_stream_init(&record, sizeof record);
        record.buffer = memory.data();
        record.buffer_size = memory.size();
    }
    std::vector<unsigned char> memory;
    HX_READ_STREAM record{};
};

class CallbackThread : public ::testing::Test {
protected:
    void SetUp() override
    {
        camera = hx_test::addCamera(2);
        otherCamera = hx_test::addCamera(3);
        operations = hx_test::installStandIns().operationsOf(static_cast<uint32_t>(camera));
        ASSERT_EQ(HX_register(&first, &CallbackRecorder::callback, &firstEvents), HX_STATUS_OK);
        ASSERT_EQ(HX_register(&second, &CallbackRecorder::callback, &secondEvents), HX_STATUS_OK);
    }
    // Events queued before the unregistration are still delivered; the recorders must outlive them.
    void TearDown() override
    {
        HX_unregister(first);
        HX_unregister(second);
        hx_test::drainCallbacks();
    }

    HX_CAMERA_HANDLE camera = 0;
    HX_CAMERA_HANDLE otherCamera = 0;
    std::shared_ptr<hx_test::StandInOperations> operations;
    CallbackRecorder firstEvents;
    CallbackRecorder secondEvents;
    HX_CLIENT_HANDLE first = 0;
    HX_CLIENT_HANDLE second = 0;
};

TEST_F(CallbackThread, ChangeEventsReachSubscribersAndDiscoveryEventsEveryClient)
{
    ASSERT_EQ(HX_subscribe(first, camera), HX_STATUS_OK);
    ASSERT_EQ(HX_subscribe(second, otherCamera), HX_STATUS_OK);
    postOwned(HX_CAPTURE_CHANGE, camera);
    postOwned(HX_IO_CHANGE, otherCamera);
    postOwned(HX_DISCOVERY, camera);
    // Events are handled in order, so once the broadcast has arrived the change events have been too.
    ASSERT_TRUE(firstEvents.waitFor(2)) << "the first client's change and discovery events did not arrive";
    ASSERT_TRUE(secondEvents.waitFor(2)) << "the second client's change and discovery events did not arrive";

    const std::vector<Delivery> a = firstEvents.deliveries();
    const std::vector<Delivery> b = secondEvents.deliveries();
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(a[0].event, static_cast<uint32_t>(HX_CAPTURE_CHANGE));
    EXPECT_EQ(a[0].camera, camera);
    EXPECT_EQ(a[0].client, first);
    EXPECT_EQ(b[0].event, static_cast<uint32_t>(HX_IO_CHANGE));
    EXPECT_EQ(b[0].camera, otherCamera);
    EXPECT_EQ(a[1].event, static_cast<uint32_t>(HX_DISCOVERY));
    EXPECT_EQ(b[1].event, static_cast<uint32_t>(HX_DISCOVERY));

    ASSERT_EQ(HX_unsubscribe(first, camera), HX_STATUS_OK);
    postOwned(HX_CAPTURE_CHANGE, camera);
    postOwned(HX_END, camera);
    ASSERT_TRUE(firstEvents.waitFor(3));
    EXPECT_EQ(firstEvents.deliveries()[2].event, static_cast<uint32_t>(HX_END))
        << "no change event after unsubscribing";
}

TEST_F(CallbackThread, FilledBuffersAreCopiedBackIntoTheHostRecordOfTheirOwnClient)
{
    Buffer live;
    Buffer playback;
    Buffer download(64);
    ASSERT_EQ(HX_live(first, camera, &live.record), HX_STATUS_OK);
    ASSERT_EQ(HX_play(second, camera, &playback.record), HX_STATUS_OK);
    ASSERT_EQ(HX_download(first, camera, &download.record), HX_STATUS_OK);
    ASSERT_TRUE(firstEvents.waitFor(2)) << "the live and download buffers did not come back";
    ASSERT_TRUE(secondEvents.waitFor(1)) << "the playback buffer did not come back";

    const Delivery liveDelivery = firstEvents.deliveries()[0];
    EXPECT_EQ(liveDelivery.event, static_cast<uint32_t>(HX_LIVE_DATA));
    EXPECT_EQ(liveDelivery.data, &live.record) << "the host's own record";
    EXPECT_EQ(liveDelivery.stream.frame_id, live.record.frame_id);
    EXPECT_EQ(live.record.status, static_cast<uint32_t>(HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE));
    EXPECT_EQ(live.record.image_length, hx_test::StandInOperations::IMAGE_LENGTH);
    EXPECT_EQ(live.record.received_length, hx_test::StandInOperations::IMAGE_LENGTH);
    EXPECT_EQ(live.record.buffer, live.memory.data());
    EXPECT_EQ(live.record.buffer_size, HX_STREAM_MIN_BUFFER_SIZE);
    EXPECT_EQ(live.memory[0], static_cast<unsigned char>(live.record.frame_id & 0xFF)) << "the image is in the buffer";

    EXPECT_EQ(secondEvents.deliveries()[0].event, static_cast<uint32_t>(HX_PLAYBACK_DATA));
    EXPECT_EQ(secondEvents.deliveries()[0].data, &playback.record);
    EXPECT_EQ(firstEvents.deliveries()[1].event, static_cast<uint32_t>(HX_DOWNLOAD_DATA));
    EXPECT_EQ(download.record.received_length, 64u) << "a small download buffer is filled only as far as it goes";
}

TEST_F(CallbackThread, ASynchronousDownloadReturnsOnlyAfterItsCallbackHasRun)
{
    Buffer download;
    ASSERT_EQ(HX_download_syn(second, camera, &download.record), HX_STATUS_OK);
    ASSERT_EQ(secondEvents.count(), 1u) << "checked at once, without waiting";
    EXPECT_EQ(secondEvents.deliveries()[0].event, static_cast<uint32_t>(HX_DOWNLOAD_DATA));
    EXPECT_NE(download.record.status, 0u);
}

TEST_F(CallbackThread, BuffersGivenBackAtReleaseCarryTheReleaseMarks)
{
    const HX_CAMERA_HANDLE releasing = hx_test::addCamera(6);
    hx_test::installStandIns().operationsOf(static_cast<uint32_t>(releasing))->holdStreams(true);
    Buffer one;
    Buffer two;
    one.record.status = HX_STREAM_STATUS_LEADER;
    ASSERT_EQ(HX_live(first, releasing, &one.record), HX_STATUS_OK);
    ASSERT_EQ(HX_live(first, releasing, &two.record), HX_STATUS_OK);
    ASSERT_EQ(HX_release_handle(first, releasing), HX_STATUS_OK);
    ASSERT_TRUE(firstEvents.waitFor(2)) << "the held buffers were not given back";
    EXPECT_EQ(one.record.status, static_cast<uint32_t>(HX_STREAM_STATUS_LEADER) + 12u);
    EXPECT_EQ(two.record.status, 12u);
    EXPECT_EQ(one.record.image_length + one.record.received_length + one.record.frame_id, 0u);
}

// A host callback that misbehaves in every way a host can from inside the callback.
struct Misbehaving {
    HX_CLIENT_HANDLE self = 0;
    std::atomic<int> shutdownStatus{-1};
    std::atomic<int> downloadStatus{-1};
    std::atomic<int> unregisterStatus{-1};
    std::atomic<int> secondUnregisterStatus{-1};
    std::atomic<int> calls{0};
    HX_READ_STREAM buffer{};

    static void callback(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void*, void* cookie)
    {
        auto* self = static_cast<Misbehaving*>(cookie);
        if (self->calls++ > 0 || event != HX_LIVE_DATA)
            throw 7;
        self->shutdownStatus = HX_shutdown();
        self->downloadStatus = HX_download_syn(client, camera, &self->buffer);
        self->unregisterStatus = HX_unregister(client);
        self->secondUnregisterStatus = HX_unregister(client);
        throw 7;
    }
};

TEST_F(CallbackThread, HostCodeThatThrowsOrCallsBackIntoTheLibraryCannotStopIt)
{
    Misbehaving host;
    ASSERT_EQ(HX_register(&host.self, &Misbehaving::callback, &host), HX_STATUS_OK);
    hx_test::LogCapture log;
    Buffer mine;
    Buffer theirs;
    ASSERT_EQ(HX_live(host.self, camera, &mine.record), HX_STATUS_OK);
    ASSERT_EQ(HX_live(first, camera, &theirs.record), HX_STATUS_OK);
    ASSERT_TRUE(firstEvents.waitFor(1)) << "a throwing callback stopped later deliveries";

    EXPECT_EQ(host.shutdownStatus, HX_STATUS_ERROR) << "shutting down from a callback would wait for itself";
    EXPECT_EQ(host.downloadStatus, HX_STATUS_ERROR) << "a synchronous download from a callback would wait for itself";
    EXPECT_EQ(host.unregisterStatus, HX_STATUS_OK);
    EXPECT_EQ(host.secondUnregisterStatus, HX_STATUS_ERROR);
    EXPECT_EQ(log.count("HX_shutdown: not allowed from inside a client callback"), 1u);
    EXPECT_EQ(log.count("HX_download_syn: not allowed from inside a client callback"), 1u);
    EXPECT_EQ(log.count("User callback generated a non-standard exception"), 1u);

    postOwned(HX_DISCOVERY, camera);
    ASSERT_TRUE(firstEvents.waitFor(2));
    EXPECT_EQ(host.calls, 1) << "an unregistered client gets no more events";
    Buffer live;
    ASSERT_EQ(HX_live(first, camera, &live.record), HX_STATUS_OK);
    ASSERT_TRUE(firstEvents.waitFor(3)) << "the library still works after all that";
}

// Messages whose number promises a payload they do not carry are refused by a checked downcast,
// never read as that payload; each is logged and the thread goes on delivering.
TEST_F(CallbackThread, MessagesWithoutTheirPayloadOrOfUnknownKindsAreLoggedAndSkipped)
{
    ASSERT_EQ(HX_subscribe(first, camera), HX_STATUS_OK);
    halvex::callback::Callback* thread = halvex::callback::Callback::factory();
    ASSERT_NE(thread, nullptr);
    hx_test::LogCapture log;
    const uint32_t ids[] = {halvex::message_ids::LIVE_STREAM_MSG, halvex::message_ids::CALLBACK_EVENT_MSG,
                            halvex::message_ids::CALLBACK_SUBSCRIBE_MSG, 0x3FFFFu};
    for (uint32_t id : ids) {
        auto* hostile = new halvex::thread::Message;
        hostile->req = id;
        thread->post(hostile);
    }
    postOwned(99, camera);
    hx_test::drainCallbacks();
    EXPECT_EQ(log.count("Callback::handleStream: Unexpectedly null _HxStream message!"), 1u);
    EXPECT_EQ(log.count("Callback::handleCallback: Unexpectedly null CallbackRequest message!"), 1u);
    EXPECT_EQ(log.count("Callback::handleSubscription: Unexpectedly null message pointer."), 1u);
    EXPECT_EQ(log.count("Callback::messageHandle: Unrecognized message type: 0x3ffff"), 1u);
    EXPECT_EQ(log.count("CallbackDb::executeCallback: Unrecognized callback event: 99"), 1u);

    postOwned(HX_CAPTURE_CHANGE, camera);
    ASSERT_TRUE(firstEvents.waitFor(1)) << "a refused message stopped later deliveries";
    EXPECT_EQ(firstEvents.deliveries()[0].event, static_cast<uint32_t>(HX_CAPTURE_CHANGE));
}

TEST_F(CallbackThread, ManyHostThreadsRegisteringSubscribingAndStreamingAtOnce)
{
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 25;
    std::atomic<int> failures{0};
    std::vector<CallbackRecorder> recorders(THREADS);
    std::vector<std::thread> hosts;
    for (int t = 0; t < THREADS; ++t) {
        hosts.emplace_back([&, t] {
            for (int round = 0; round < ROUNDS; ++round) {
                HX_CLIENT_HANDLE client = 0;
                Buffer buffer;
                if (HX_register(&client, &CallbackRecorder::callback, &recorders[t]) != HX_STATUS_OK ||
                    HX_subscribe(client, camera) != HX_STATUS_OK ||
                    HX_download_syn(client, camera, &buffer.record) != HX_STATUS_OK ||
                    HX_unsubscribe(client, camera) != HX_STATUS_OK || HX_unregister(client) != HX_STATUS_OK)
                    ++failures;
            }
        });
    }
    for (std::thread& host : hosts)
        host.join();
    EXPECT_EQ(failures, 0);
    for (const CallbackRecorder& recorder : recorders)
        EXPECT_EQ(recorder.count(), static_cast<std::size_t>(ROUNDS))
            << "one download per round, delivered before it returned";
}

} // namespace
