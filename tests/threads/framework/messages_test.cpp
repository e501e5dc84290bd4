// Tests of message routes, synchronous messages and the HALT protocol across message threads.
#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "hlv_thread/note.h"
#include "hlv_thread/sync_message.h"
#include "log_capture.h"
#include "test_threads.h"

namespace {

// Identifiers of a user of the framework, numbered from where the framework's own end.
enum : uint32_t {
    TEST_REQUEST = halvex::thread::FIRST_USER_MESSAGE,
    SETTINGS_REQUEST,
    SUBSCRIBE_REQUEST,
};

using framework_test::Recorder;
using framework_test::TracedMessage;
using halvex::thread::Message;
using halvex::thread::SyncMessage;

class TracedSync : public SyncMessage, public framework_test::VisitLog {};

// Tells when a HALT has been posted to it. The post is noted after it returns, so every thread
// that posts must be done before the recorder goes.
class HaltWatcher : public Recorder {
public:
    using Recorder::Recorder;
    void post(Message* message) override
    {
        const bool halt = message != nullptr && message->req == halvex::thread::HALT; // gone once queued
        Recorder::post(message);
        if (halt)
            signal.update([&] { haltPosted = true; });
    }
    bool haltPosted = false; // guarded by signal
};

std::string exceptionText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const halvex::thread::LogicError& error) {
        return error.str();
    }
    return "(nothing thrown)";
}

TEST(Routes, LastPushedIsVisitedFirstThenTheOwner)
{
    Recorder owner("A"), first("B"), second("C"), third("D");
    for (Recorder* thread : {&owner, &first, &second, &third})
        thread->start();

    auto* message = new TracedMessage;
    message->req = TEST_REQUEST;
    message->owner = &owner;
    message->pushRoute(&third);
    message->pushRoute(&second);
    message->pushRoute(&first);
    message->forward();

    ASSERT_TRUE(owner.signal.waitUntil([&] { return owner.returnedStatus.size() == 1; })) << "message never came back";
    owner.signal.read([&] {
        EXPECT_EQ(owner.returnedVisits[0], (std::vector<std::string>{"B", "C", "D"}));
        EXPECT_EQ(owner.returnedStatus[0], halvex::thread::MESSAGE_DONE);
        return 0;
    });
}

TEST(Routes, OnlyTheNextStopCanBeSkipped)
{
    Recorder owner("A"), first("B"), second("C");
    for (Recorder* thread : {&owner, &first, &second})
        thread->start();

    auto* message = new TracedMessage;
    message->owner = &owner;
    message->pushRoute(&second);
    message->pushRoute(&first);
    EXPECT_FALSE(message->skipNextStop(&second)) << "C is not the next stop";
    EXPECT_FALSE(message->skipNextStop(nullptr));
    EXPECT_TRUE(message->skipNextStop(&first));
    message->forward();

    ASSERT_TRUE(owner.signal.waitUntil([&] { return owner.returnedStatus.size() == 1; }));
    owner.signal.read([&] {
        EXPECT_EQ(owner.returnedVisits[0], std::vector<std::string>{"C"});
        return 0;
    });
}

TEST(Routes, FailedMessageSkipsTheRestOfItsRoute)
{
    Recorder owner("A"), failing("B"), skipped("C");
    failing.setAction([](Recorder&, Message* message) {
        message->reply(halvex::thread::MESSAGE_FAILED);
        return true;
    });
    for (Recorder* thread : {&owner, &failing, &skipped})
        thread->start();

    auto* message = new TracedMessage;
    message->owner = &owner;
    message->pushRoute(&skipped);
    message->pushRoute(&skipped);
    failing.post(message);

    ASSERT_TRUE(owner.signal.waitUntil([&] { return owner.returnedStatus.size() == 1; }));
    owner.signal.read([&] {
        EXPECT_EQ(owner.returnedStatus[0], halvex::thread::MESSAGE_FAILED);
        EXPECT_EQ(owner.returnedVisits[0], std::vector<std::string>{"B"});
        EXPECT_EQ(owner.returnedRouteLength[0], 2u) << "the route is left as it was";
        return 0;
    });
    closeThread(skipped);
    EXPECT_TRUE(skipped.signal.read([&] { return skipped.handled; }) == std::vector<uint32_t>{halvex::thread::HALT});
}

TEST(Routes, NowhereToGoIsALogicError)
{
    Message message;
    EXPECT_NE(exceptionText([&] { message.forward(); }).find("forward() with empty route and nullptr owner"),
              std::string::npos);

    SyncMessage neverSent;
    EXPECT_NE(exceptionText([&] { neverSent.forward(); }).find("Sync fault"), std::string::npos);
}

TEST(SyncMessages, SenderWaitsForTheWholeRouteWhateverTheStatus)
{
    Recorder first("B"), second("C");
    second.setAction([](Recorder&, Message* message) {
        message->reply(halvex::thread::MESSAGE_FAILED);
        return true;
    });
    first.start();
    second.start();

    TracedSync request;
    request.req = SETTINGS_REQUEST;
    request.pushRoute(&second);
    request.send(&first);
    EXPECT_FALSE(request.inFlight());
    EXPECT_EQ(request.status, halvex::thread::MESSAGE_FAILED);
    EXPECT_EQ(request.visits, (std::vector<std::string>{"B", "C"}));

    // A completed synchronous message can be sent again.
    request.visits.clear();
    request.send(&first);
    EXPECT_EQ(request.visits, std::vector<std::string>{"B"});
}

TEST(SyncMessages, SendingOneInFlightIsASyncFault)
{
    Recorder holder("B");
    std::atomic<Message*> held{nullptr};
    holder.setAction([&](Recorder&, Message* message) {
        if (message->req == SUBSCRIBE_REQUEST) {
            held = message;
            return true;
        }
        if (message->req == halvex::thread::NOP)
            held.load()->reply(halvex::thread::MESSAGE_DONE);
        return false;
    });
    holder.start();

    SyncMessage request;
    request.req = SUBSCRIBE_REQUEST;
    std::thread sender([&] { request.send(&holder); });
    ASSERT_TRUE(holder.signal.waitUntil([&] { return holder.handled.size() == 1; }));
    EXPECT_NE(exceptionText([&] { request.send(&holder); }).find("Sync fault"), std::string::npos);

    Message* release = new Message;
    release->req = halvex::thread::NOP;
    holder.post(release);
    sender.join();
    EXPECT_EQ(request.status, halvex::thread::MESSAGE_DONE);
}

TEST(SyncMessages, AThreadCannotWaitForItself)
{
    Recorder self("B");
    std::string refusal;
    self.setAction([&](Recorder& thread, Message* message) {
        if (message->req != halvex::thread::NOP)
            return false;
        SyncMessage inner;
        refusal = exceptionText([&] { inner.send(&thread); });
        delete message;
        return true;
    });
    self.start();
    self.post(new Message);
    closeThread(self);
    EXPECT_NE(refusal.find("cannot wait for its own loop"), std::string::npos) << refusal;
}

// Three messages queued ahead of the HALT are handled first; everything posted after it is
// refused: sync senders are released with status 2, owned messages go back failed, ownerless
// ones are deleted (ASan's leak check covers that).
TEST(Halt, QueuedMessagesFirstLateOnesRefused)
{
    hx_test::LogCapture capture;
    Recorder owner("A");
    HaltWatcher target("B", /*gateClosed=*/true);
    owner.start();
    target.start();
    for (uint32_t id : {10u, 11u, 12u}) {
        auto* message = new Message;
        message->req = id;
        target.post(message);
    }
    std::thread closer([&] { halvex::thread::closeThread(target); });
    ASSERT_TRUE(target.signal.waitUntil([&] { return target.haltPosted; })) << "HALT was not posted";
    ASSERT_TRUE(target.halted());

    auto* owned = new Message;
    owned->owner = &owner;
    owned->pushRoute(&target);
    owned->forward();
    target.post(new Message);
    SyncMessage late;
    late.pushRoute(&owner);
    late.send(&target);
    EXPECT_EQ(late.status, halvex::thread::MESSAGE_FAILED);
    EXPECT_TRUE(late.routeEmpty());
    EXPECT_TRUE(capture.waitFor("Message received after HALT", framework_test::kDeadline, 3));

    target.openStartGate();
    closer.join();
    EXPECT_EQ(target.signal.read([&] { return target.handled; }),
              (std::vector<uint32_t>{10, 11, 12, halvex::thread::HALT}));
    ASSERT_TRUE(owner.signal.waitUntil([&] { return owner.returnedStatus.size() == 1; }));
    EXPECT_EQ(owner.signal.read([&] { return owner.returnedStatus[0]; }), halvex::thread::MESSAGE_FAILED);
    EXPECT_EQ(owner.signal.read([&] { return owner.handled.size(); }), 0u)
        << "the refused sync message must not travel on";
}

TEST(Halt, ClosingAThreadThatNeverRanReturnsItsQueue)
{
    Recorder owner("A");
    owner.start();
    {
        Recorder idle("B");
        auto* owned = new Message;
        owned->owner = &owner;
        idle.post(owned);
        idle.post(new Message);
        halvex::thread::closeThread(idle);
        halvex::thread::closeThread(idle);
        EXPECT_TRUE(idle.halted());
    }
    ASSERT_TRUE(owner.signal.waitUntil([&] { return owner.returnedStatus.size() == 1; }));
    EXPECT_EQ(owner.signal.read([&] { return owner.returnedStatus[0]; }), halvex::thread::MESSAGE_FAILED);
}

TEST(MsgThreadLoop, HandlerExceptionsAreLoggedAndTheLoopGoesOn)
{
    hx_test::LogCapture capture;
    Recorder thread("B");
    thread.setAction([](Recorder&, Message* message) {
        const uint32_t req = message->req;
        if (req < 20 || req > 22)
            return false;
        delete message;
        if (req == 20)
            HLV_THROW(halvex::thread::RuntimeError, "Camera %s not found", "10.1.2.3");
        if (req == 21)
            throw std::runtime_error("standard failure");
        throw 42;
    });
    thread.start();
    for (uint32_t id : {20u, 21u, 22u, 23u}) {
        auto* message = new Message;
        message->req = id;
        thread.post(message);
    }
    ASSERT_TRUE(thread.signal.waitUntil([&] { return thread.handled.size() == 4; })) << "the loop stopped";
    closeThread(thread);

    EXPECT_EQ(capture.count("Camera 10.1.2.3 not found"), 1u);
    EXPECT_EQ(capture.count("Unhandled Halvex exception reached root of MsgThread"), 1u);
    EXPECT_EQ(capture.count("standard failure"), 1u);
    EXPECT_EQ(capture.count("  Unhandled C++ exception reached root of MsgThread"), 1u);
    EXPECT_EQ(capture.count("Unhandled exception of unknown type reached root of MsgThread"), 1u);
}

} // namespace
