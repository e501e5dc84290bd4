// Camera events become notifications for the camera's service thread; stray replies go to discovery.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "arrivals.h"
#include "control/control_channel.h"
#include "control/hx_comm.h"
#include "control/hx_notification.h"
#include "log_capture.h"
#include "scripted_camera.h"

using namespace halvex::control;

using namespace hx_comm_test;
using namespace std::chrono_literals;

namespace {

// Stands in for the camera's service thread: keeps every notification that comes back to it.
class Receiver : public halvex::thread::MsgThread {
public:
    void messageHandle(halvex::thread::Message* message) override { message->reply(halvex::thread::MESSAGE_FAILED); }
    void ownerMessage(halvex::thread::Message* message) override
    {
        if (auto* notification = dynamic_cast<halvex::control::NotificationMessage*>(message))
            arrived_.add({notification->pairs, notification->eventsMissed, notification->known});
        MsgThread::ownerMessage(message);
    }
    // The registers of every notification so far, once `count` have come or 5 s have passed.
    std::vector<halvex::wire::RegisterPairs> waitFor(std::size_t count)
    {
        arrived_.waitFor(count, 5s);
        std::vector<halvex::wire::RegisterPairs> received;
        for (const Arrived& notification : arrived_.all())
            received.push_back(notification.pairs);
        return received;
    }
    std::vector<bool> missed() const
    {
        std::vector<bool> missed;
        for (const Arrived& notification : arrived_.all())
            missed.push_back(notification.missed);
        return missed;
    }
    std::vector<uint64_t> known() const
    {
        std::vector<uint64_t> known;
        for (const Arrived& notification : arrived_.all())
            known.push_back(notification.known);
        return known;
    }

private:
    struct Arrived {
        halvex::wire::RegisterPairs pairs;
        bool missed;
        uint64_t known;
    };
    hx_test::Arrivals<Arrived> arrived_;
};

// An event datagram typed from the table: command 0x00C2, length 20, data at offset 24.
Bytes event(uint16_t eventId, uint32_t value, uint16_t command = 0x00C2, uint16_t length = 20, uint16_t counter = 7)
{
    Bytes out = {0x42, 0x00};
    put16(out, command);
    put16(out, length);
    put16(out, counter); // request id: the camera's event counter
    put16(out, 0);       // reserved
    put16(out, eventId);
    put16(out, 0); // stream channel
    put16(out, 0); // block id
    put32(out, 0); // timestamp
    put32(out, 0x1234);
    put32(out, value);
    out.resize(8 + length, 0);
    return out;
}

class NotificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        receiver->start();
        halvex::control::setNotificationTarget([this](uint32_t address) {
            return address == cam ? receiver : std::shared_ptr<halvex::thread::MsgThread>();
        });
    }
    void TearDown() override
    {
        HxComm::recycle(cam);
        halvex::control::setNotificationTarget(nullptr);
        halvex::thread::closeThread(*receiver);
    }

    ScriptedCamera camera{"127.0.0.3"};
    const uint32_t cam = camera.address();
    std::shared_ptr<Receiver> receiver = std::make_shared<Receiver>();
};

} // namespace

TEST_F(NotificationTest, EachEventArrivesAsOnePairInOrder)
{
    const uint16_t port = HxComm::hmpPort(cam);
    camera.sendTo(event(17, 5), port);
    camera.sendTo(event(0xE854, 8), port);
    const auto received = receiver->waitFor(2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], (halvex::wire::RegisterPairs{{17, 5}}));
    EXPECT_EQ(received[1], (halvex::wire::RegisterPairs{{0xE854, 8}}));
}

// A gap in the camera's event counter says events were lost on the way; a repeated counter (a
// duplicate) and the wrap from 0xFFFF to 1 (the camera skips 0) do not.
TEST_F(NotificationTest, AGapInTheEventCounterIsMarkedOnTheNextNotification)
{
    hx_test::LogCapture log;
    const uint16_t port = HxComm::hmpPort(cam);
    for (const uint16_t counter : {uint16_t{1}, uint16_t{2}, uint16_t{2}, uint16_t{5}, uint16_t{0xFFFF}, uint16_t{1}})
        camera.sendTo(event(17, counter, 0x00C2, 20, counter), port);
    ASSERT_EQ(receiver->waitFor(6).size(), 6u);
    EXPECT_EQ(receiver->missed(), (std::vector<bool>{false, false, false, true, true, false}));
    EXPECT_EQ(log.count("Events were lost before event 5"), 1u);
}

// A read stamped while an event still waits on the socket (the channel's thread not yet at it) is
// newer than the event: the event is taken off the socket first, so it cannot take a cache back
// past the read's value.
TEST_F(NotificationTest, AnEventWaitingOnTheSocketIsOlderThanAReadStampedAfterIt)
{
    ControlChannel channel(cam);
    const uint16_t port = HxComm::hmpPort(cam);
    std::vector<uint64_t> reads;
    for (uint16_t counter = 1; counter <= 20; ++counter) {
        camera.sendTo(event(17, counter, 0x00C2, 20, counter), port);
        reads.push_back(channel.stampRead(cam));
    }
    ASSERT_EQ(receiver->waitFor(20).size(), 20u);
    const std::vector<uint64_t> known = receiver->known();
    for (std::size_t index = 0; index < known.size(); ++index)
        EXPECT_LT(known[index], reads[index]) << "event " << index + 1;
}

TEST_F(NotificationTest, MalformedEventsAreDroppedAndTheOpeningDatagramIgnoredQuietly)
{
    hx_test::LogCapture log;
    const uint16_t port = HxComm::hmpPort(cam);
    camera.sendTo(event(17, 5, 0x00C2, 24), port);
    camera.sendTo(event(17, 5, 0x00C4), port);
    camera.sendTo(Bytes(10, 0), port);
    const Bytes whole = event(17, 5);
    camera.sendTo(Bytes(whole.begin(), whole.begin() + 12), port);
    camera.sendTo(event(3, 4), port);
    const auto received = receiver->waitFor(1);
    EXPECT_EQ(received, (std::vector<halvex::wire::RegisterPairs>{{{3, 4}}}));
    EXPECT_EQ(log.count("Unexpected event length: 24"), 1u);
    EXPECT_EQ(log.count("Unexpected event command: 0xC4"), 1u);
    EXPECT_EQ(log.count("truncated event datagram of 12 bytes"), 1u);
    EXPECT_EQ(log.count("HxComm::handleHmpMsg"), 3u) << "the all-zero datagram logs nothing";
}

TEST_F(NotificationTest, DiscoveryRepliesOnTheControlSocketGoToDiscovery)
{
    hx_test::Arrivals<std::pair<uint32_t, std::size_t>> arrived;
    halvex::control::setDiscoveryReplySink([&](uint32_t address, std::span<const uint8_t> datagram) {
        arrived.add({address, datagram.size()});
    });
    Bytes reply = ack(0, 0x0003, 1, Bytes(248, 0));
    camera.sendTo(reply, HxComm::factory(cam)->ports().hcp);
    EXPECT_TRUE(arrived.waitFor(1, 5s));
    halvex::control::setDiscoveryReplySink(nullptr);
    const auto replies = arrived.all();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], std::make_pair(cam, std::size_t(256)));
}
