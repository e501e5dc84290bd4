// The callback database: who gets which event, subscriptions, stream copy-back and contained host exceptions.
#include <gtest/gtest.h>

#include <stdexcept>

#include "callback/callback_db.h"
#include "callback/callback_message_ids.h"
#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"
#include "log_capture.h"
#include "stand_in_service.h"

using namespace halvex::callback;

namespace {

using halvex::callback::CallbackDb;
using halvex::callback::CallbackRequest;
using hx_test::CallbackRecorder;
using hx_test::Delivery;
namespace ids = halvex::message_ids;

const HX_CAMERA_HANDLE CAMERA_A = hx_test::loopbackCamera(2);
const HX_CAMERA_HANDLE CAMERA_B = hx_test::loopbackCamera(3);

CallbackRequest eventFor(uint32_t event, HX_CAMERA_HANDLE camera)
{
    return CallbackRequest(event, camera);
}

void throwInteger(uint32_t, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE, void*, void*)
{
    throw 42;
}

void throwStandard(uint32_t, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE, void*, void*)
{
    throw std::runtime_error("host failure");
}

HX_READ_STREAM hostRecord(void* buffer, uint64_t size)
{
    HX_READ_STREAM record{};
    EXPECT_EQ(HX_read_stream_init(&record, sizeof record), HX_STATUS_OK);
    record.buffer = buffer;
    record.buffer_size = size;
    record.reserved_28 = 0x28282828;
    record.reserved_52 = 0x52525252;
    return record;
}

TEST(CallbackDatabase, BroadcastEventsReachEveryClientInHandleOrderAndChangeEventsOnlySubscribers)
{
    CallbackDb db;
    CallbackRecorder recorder;
    db.modifyRegistration(7, &CallbackRecorder::callback, &recorder);
    db.modifyRegistration(3, &CallbackRecorder::callback, &recorder);
    db.modifySubscription(3, CAMERA_A, true);

    HX_CAPTURE_SETTINGS capture{};
    capture.width = 640;
    CallbackRequest change = eventFor(HX_CAPTURE_CHANGE, CAMERA_A);
    change.attach(capture);
    db.executeCallback(change);
    db.executeCallback(eventFor(HX_STATE, CAMERA_B));
    ASSERT_EQ(recorder.count(), 1u) << "only client 3 follows camera A, and nobody camera B";
    const Delivery first = recorder.deliveries()[0];
    EXPECT_EQ(first.event, static_cast<uint32_t>(HX_CAPTURE_CHANGE));
    EXPECT_EQ(first.client, 3u);
    EXPECT_EQ(first.camera, CAMERA_A);
    EXPECT_EQ(first.data, change.data());
    EXPECT_EQ(static_cast<HX_CAPTURE_SETTINGS*>(first.data)->width, 640u);

    CallbackRequest found = eventFor(HX_DISCOVERY, CAMERA_B);
    found.attach(HX_CAMERA_INFORMATION{});
    db.executeCallback(found);
    CallbackRequest lost = eventFor(HX_END, CAMERA_B);
    lost.attach(HX_CAMERA_INFORMATION{});
    db.executeCallback(lost);
    CallbackRequest negotiated = eventFor(HX_STREAM_NEGOTIATION, CAMERA_B);
    negotiated.attach(uint32_t{8192});
    db.executeCallback(negotiated);
    db.executeCallback(eventFor(99, CAMERA_A));

    const std::vector<Delivery> all = recorder.deliveries();
    ASSERT_EQ(all.size(), 7u) << "three broadcasts to two clients, the unknown event to nobody";
    const uint32_t events[] = {HX_DISCOVERY, HX_DISCOVERY,          HX_END,
                               HX_END,       HX_STREAM_NEGOTIATION, HX_STREAM_NEGOTIATION};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(all[1 + i].event, events[i]);
        EXPECT_EQ(all[1 + i].client, i % 2 == 0 ? 3u : 7u) << "ascending client handles";
    }
    EXPECT_NE(all[1].data, nullptr);
    EXPECT_EQ(all[3].data, nullptr) << "a lost camera carries no record";
    EXPECT_EQ(*static_cast<uint32_t*>(all[5].data), 8192u);
}

TEST(CallbackDatabase, SubscriptionsAreUniqueSurviveReRegistrationAndNeedARegisteredClient)
{
    CallbackDb db;
    CallbackRecorder first;
    CallbackRecorder second;
    db.modifyRegistration(1, &CallbackRecorder::callback, &first);
    db.modifySubscription(1, CAMERA_A, true);
    db.modifySubscription(1, CAMERA_A, true);
    db.modifySubscription(1, CAMERA_B, true);
    EXPECT_EQ(db.subscriptions(1), (std::vector<HX_CAMERA_HANDLE>{CAMERA_A, CAMERA_B}));

    db.modifyRegistration(1, &CallbackRecorder::callback, &second);
    db.executeCallback(eventFor(HX_STATE, CAMERA_A));
    EXPECT_EQ(first.count(), 0u);
    ASSERT_EQ(second.count(), 1u) << "one call per event, with the new cookie";

    db.modifySubscription(1, CAMERA_A, false);
    db.modifySubscription(1, CAMERA_A, false);
    EXPECT_EQ(db.subscriptions(1), (std::vector<HX_CAMERA_HANDLE>{CAMERA_B}));

    db.modifyRegistration(1, nullptr, nullptr);
    EXPECT_FALSE(db.hasClient(1));
    try {
        db.modifySubscription(1, CAMERA_A, true);
        FAIL() << "subscribing without a callback must throw";
    } catch (const halvex::thread::RuntimeError& e) {
        EXPECT_NE(e.str().find("No callback registered for client; cannot subscribe camera"), std::string::npos);
    }
    try {
        db.modifySubscription(1, CAMERA_A, false);
        FAIL() << "unsubscribing without a callback must throw";
    } catch (const halvex::thread::RuntimeError& e) {
        EXPECT_NE(e.str().find("cannot unsubscribe camera"), std::string::npos);
    }
}

TEST(CallbackDatabase, StreamResultsReachTheHostRecordOnlyAtDelivery)
{
    CallbackDb db;
    CallbackRecorder recorder;
    db.modifyRegistration(5, &CallbackRecorder::callback, &recorder);
    std::vector<char> memory(64);
    HX_READ_STREAM host = hostRecord(memory.data(), 0x200000);

    HxStream<halvex::thread::Message> live(ids::LIVE_STREAM_MSG, &host, nullptr, 5, CAMERA_A);
    live.setResults(4096, 42, HX_STREAM_STATUS_LEADER | HX_STREAM_STATUS_COMPLETE, 4000);
    EXPECT_EQ(host.status, 0u) << "results travel in the copy until delivery";
    db.executeStreamCallback(live);

    EXPECT_EQ(live.status, halvex::thread::MESSAGE_DONE);
    EXPECT_EQ(host.status, 3u);
    EXPECT_EQ(host.received_length, 4000u);
    EXPECT_EQ(host.image_length, 4096u);
    EXPECT_EQ(host.frame_id, 42u);
    EXPECT_EQ(host.buffer, memory.data());
    EXPECT_EQ(host.buffer_size, 0x200000u);
    EXPECT_EQ(host.reserved_28, 0x28282828u) << "bytes streaming does not use are preserved";
    EXPECT_EQ(host.reserved_52, 0x52525252u);
    ASSERT_EQ(recorder.count(), 1u);
    EXPECT_EQ(recorder.deliveries()[0].event, static_cast<uint32_t>(HX_LIVE_DATA));
    EXPECT_EQ(recorder.deliveries()[0].data, &host);

    HxStream<halvex::thread::SyncMessage> playback(ids::PLAYBACK_STREAM_MSG, &host, nullptr, 5, CAMERA_A);
    db.executeStreamCallback(playback);
    HxStream<halvex::thread::Message> download(ids::DOWNLOAD_STREAM_MSG, &host, nullptr, 5, CAMERA_A);
    download.stop = true;
    download.setResults(1, 1, 1, 1);
    db.executeStreamCallback(download);
    ASSERT_EQ(recorder.count(), 3u);
    EXPECT_EQ(recorder.deliveries()[1].event, static_cast<uint32_t>(HX_PLAYBACK_DATA));
    EXPECT_EQ(recorder.deliveries()[2].event, static_cast<uint32_t>(HX_DOWNLOAD_DATA));
    EXPECT_EQ(recorder.deliveries()[2].data, nullptr) << "a cancelled stream carries no record";
    EXPECT_EQ(host.frame_id, 42u) << "a cancelled stream leaves the host record alone";

    HxStream<halvex::thread::Message> orphan(ids::LIVE_STREAM_MSG, &host, nullptr, 6, CAMERA_A);
    orphan.setResults(9, 9, 9, 9);
    db.executeStreamCallback(orphan);
    EXPECT_EQ(orphan.status, halvex::thread::MESSAGE_FAILED) << "the buffer's client is not registered";
    EXPECT_EQ(host.frame_id, 42u);
    EXPECT_EQ(recorder.count(), 3u);

    HxStream<halvex::thread::Message> unknown(ids::LIVE_STREAM_MSG, &host, nullptr, 5, CAMERA_A);
    unknown.req = ids::CALLBACK_EVENT_MSG;
    EXPECT_THROW(db.executeStreamCallback(unknown), halvex::thread::LogicError);
}

TEST(CallbackDatabase, ExceptionsFromHostCodeAreLoggedAndDoNotStopOtherDeliveries)
{
    CallbackDb db;
    CallbackRecorder recorder;
    db.modifyRegistration(1, &throwInteger, nullptr);
    db.modifyRegistration(2, &throwStandard, nullptr);
    db.modifyRegistration(3, &CallbackRecorder::callback, &recorder);
    hx_test::LogCapture log;

    db.executeCallback(eventFor(HX_DISCOVERY, CAMERA_A));
    EXPECT_EQ(recorder.count(), 1u) << "the clients before it threw, it was still called";

    HX_READ_STREAM host = hostRecord(nullptr, 0);
    HxStream<halvex::thread::Message> live(ids::LIVE_STREAM_MSG, &host, nullptr, 1, CAMERA_A);
    db.executeStreamCallback(live);
    EXPECT_EQ(live.status, halvex::thread::MESSAGE_FAILED);
    HxStream<halvex::thread::Message> next(ids::LIVE_STREAM_MSG, &host, nullptr, 3, CAMERA_A);
    db.executeStreamCallback(next);
    EXPECT_EQ(next.status, halvex::thread::MESSAGE_DONE);
    EXPECT_EQ(recorder.count(), 2u);

    EXPECT_EQ(log.count("User callback generated a non-standard exception (other than std::exception)"), 2u);
    EXPECT_EQ(log.count("User callback generated a std::exception:"), 1u);
    EXPECT_EQ(log.count("  host failure"), 1u);
}

} // namespace
