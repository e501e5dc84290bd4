// The control channel against a scripted camera: commands on the wire, answers good and bad,
// silence, reordering, a lost camera and a closed channel.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <future>
#include <set>

#include "control/hx_comm.h"
#include "hlv_thread/log.h"
#include "hlv_thread/period_scale.h"
#include "log_capture.h"
#include "scripted_camera.h"
#include "scripted_channel_test.h"

using namespace halvex::control;

using namespace hx_comm_test;
using namespace std::chrono_literals;

namespace {

// The fire-and-forget write that leaves the write gate closed: flags 0, id 0, one pair.
const Bytes kGateClose = {0x42, 0x00, 0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0, 0, 0xC5, 0x8C, 0, 0, 0, 0};

class ChannelTest : public ScriptedChannelTest {
protected:
    // Answers every command with `reply(command)` instead of the well-behaved answer.
    void answerWith(std::function<std::vector<Bytes>(const SentCommand&)> reply) { camera.setScript(std::move(reply)); }
    // A read left waiting on a camera gone silent, once the camera has seen its request.
    std::future<uint32_t> readLeftWaiting()
    {
        answerWith([](const SentCommand&) { return std::vector<Bytes>{}; });
        std::future<uint32_t> waiting = std::async(std::launch::async, [this] {
            uint32_t value = 0;
            return HxComm::readReg(cam, 0x0A00, value);
        });
        EXPECT_TRUE(camera.waitForCommands(1, 5s));
        return waiting;
    }
};

Bytes value32(uint32_t value)
{
    Bytes out;
    put32(out, value);
    return out;
}

} // namespace

TEST_F(ChannelTest, CommandsOnTheWireFollowTheProtocolTable)
{
    camera.withState([](CameraState& state) { state.registers[0x0A00] = 0x12345678; });
    uint32_t value = 0;
    ASSERT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    EXPECT_EQ(value, 0x12345678u);
    ASSERT_EQ(HxComm::writeReg(cam, 0x1234, 7), 0u);
    ASSERT_EQ(HxComm::writeReg(cam, 0x0D04, 9), 0u);
    halvex::wire::RegisterPairs pairs = {{0x0A00, 0}, {0x1234, 0}};
    ASSERT_EQ(HxComm::readMultiReg(cam, pairs), 0u);
    EXPECT_EQ(pairs, (halvex::wire::RegisterPairs{{0x0A00, 0x12345678}, {0x1234, 7}}));

    const std::vector<SentCommand> sent = camera.firstSendings();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].bytes, (Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00, 0x01, 0, 0, 0x0A, 0x00}));
    EXPECT_EQ(sent[1].bytes, (Bytes{0x42, 0x01, 0x00, 0x82, 0x00, 0x18, 0x00, 0x02, 0, 0, 0xC5, 0x8C, 0, 0, 0, 2,
                                    0,    0,    0x12, 0x34, 0,    0,    0,    7,    0, 0, 0xC5, 0x8C, 0, 0, 0, 0}));
    EXPECT_EQ(sent[2].bytes, (Bytes{0x42, 0x01, 0x00, 0x82, 0x00, 0x08, 0x00, 0x03, 0, 0, 0x0D, 0x04, 0, 0, 0, 9}));
    EXPECT_EQ(sent[3].bytes,
              (Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x08, 0x00, 0x04, 0, 0, 0x0A, 0x00, 0, 0, 0x12, 0x34}));
    EXPECT_EQ(HxComm::activityCount(cam), 4u);
}

TEST_F(ChannelTest, WritesThatNeedNoAcknowledgeReturnWithoutAnAnswer)
{
    answerWith([](const SentCommand&) { return std::vector<Bytes>{}; });
    EXPECT_EQ(HxComm::writeReg(cam, 0xE844, 5), 0u);
    EXPECT_EQ(HxComm::writeMultiReg(cam, {{0x0B00, 5826}, {0x0B10, 0x7F000001}}), 0u);
    ASSERT_TRUE(camera.waitForCommands(2, 5s));
    const std::vector<SentCommand> sent = camera.firstSendings();
    EXPECT_EQ(sent[0].flags, 0x00);
    EXPECT_EQ(sent[0].length, 24);
    EXPECT_EQ(sent[0].word(20), 5u);
    EXPECT_EQ(sent[1].flags, 0x00);
    EXPECT_EQ(sent[1].length, 32);
    EXPECT_EQ(sent[1].word(8), 0xC58Cu);
    EXPECT_EQ(sent[1].word(32), 0xC58Cu);
}

TEST_F(ChannelTest, MemoryTransfersAreCappedToOneDatagram)
{
    const std::vector<uint8_t> pattern = [] {
        std::vector<uint8_t> bytes(600);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 7);
        return bytes;
    }();
    ASSERT_EQ(HxComm::writeMem(cam, 0x10000, pattern), 0u);
    std::vector<uint8_t> readBack;
    ASSERT_EQ(HxComm::readMem(cam, 0x10000, readBack, 600), 0u);
    const std::vector<SentCommand> sent = camera.firstSendings();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].length, 540);
    EXPECT_EQ(sent[0].bytes.size(), 548u);
    EXPECT_EQ(sent[1].bytes, (Bytes{0x42, 0x01, 0x00, 0x84, 0x00, 0x08, 0x00, 0x02, 0, 1, 0, 0, 0, 0, 0x02, 0x18}));
    EXPECT_EQ(readBack, std::vector<uint8_t>(pattern.begin(), pattern.begin() + 536));
}

TEST_F(ChannelTest, CameraStatusesBecomeResultsAndFailedWritesCloseTheGate)
{
    const std::pair<uint16_t, uint32_t> table[] = {{0x0100, 7},  {0x8001, 8},  {0x8002, 9},  {0x8003, 10},
                                                   {0x8006, 11}, {0x8007, 12}, {0x8FFF, 13}, {0x8010, 13}};
    for (const auto& [status, result] : table) {
        answerWith([status = status](const SentCommand& command) {
            return command.flags ? std::vector<Bytes>{ack(status, 0x0083, command.id, {0, 0, 0, 3})}
                                 : std::vector<Bytes>{};
        });
        const std::size_t before = camera.firstSendings().size();
        EXPECT_EQ(HxComm::writeReg(cam, 0x1234, 1), result) << std::hex << status;
        ASSERT_TRUE(camera.waitForCommands(before + 2, 5s)) << "no gate close after status " << std::hex << status;
        EXPECT_EQ(camera.firstSendings()[before + 1].bytes, kGateClose);
    }
    // A read completes with its value whatever status came with it.
    answerWith(
        [](const SentCommand& command) { return std::vector<Bytes>{ack(0x8003, 0x0081, command.id, value32(42))}; });
    uint32_t value = 0;
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    EXPECT_EQ(value, 42u);
}

TEST_F(ChannelTest, MultiRegisterAnswersMustCoverTheRequest)
{
    // Two caller pairs and the two gate pairs: index 3 is one short.
    answerWith([](const SentCommand& command) { return std::vector<Bytes>{ack(0, 0x0083, command.id, {0, 0, 0, 3})}; });
    EXPECT_EQ(HxComm::writeMultiReg(cam, {{0x1000, 1}, {0x1004, 2}}), 13u);
    ASSERT_TRUE(camera.waitForCommands(2, 5s));
    EXPECT_EQ(camera.firstSendings()[1].bytes, kGateClose);

    // A camera that stops at an unknown register answers fewer values.
    answerWith(
        [](const SentCommand& command) { return std::vector<Bytes>{ack(0x8003, 0x0081, command.id, value32(1))}; });
    halvex::wire::RegisterPairs pairs = {{0x1000, 0}, {0x9999, 0}};
    EXPECT_EQ(HxComm::readMultiReg(cam, pairs), 10u);
    EXPECT_EQ(HxComm::writeMultiReg(cam, halvex::wire::RegisterPairs(66, {0x1000, 1})), 13u);
    EXPECT_EQ(camera.firstSendings().size(), 3u) << "an oversized write must not be sent";
}

TEST_F(ChannelTest, StrayAndMalformedDatagramsAreDroppedWithALogLine)
{
    halvex::thread::setTraceMask(halvex::thread::TRACE_COMM);
    hx_test::LogCapture log;
    ScriptedCamera strayPort{"127.0.0.2", 4000};
    answerWith([&](const SentCommand& command) {
        const Bytes genuine = ack(0, 0x0081, command.id, value32(77));
        strayPort.sendTo(ack(0, 0x0081, command.id, value32(666)), camera.hostPort());
        return std::vector<Bytes>{{0x00, 0x00, 0x00},
                                  Bytes(600, 0),
                                  ack(0, 0x0081, uint16_t(command.id + 100), value32(5)),
                                  genuine,
                                  genuine};
    });
    uint32_t value = 0;
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    EXPECT_EQ(value, 77u);
    EXPECT_TRUE(log.waitFor("not the camera's control port", 5s));
    EXPECT_TRUE(log.waitFor("Dropped a short datagram of 3 bytes", 5s));
    EXPECT_TRUE(log.waitFor("Dropped an oversized datagram of 600 bytes", 5s));
    EXPECT_TRUE(log.waitFor("This is probably OK.", 5s, 2)) << "the unknown id and the duplicate";
    camera.answerNormally();
}

TEST_F(ChannelTest, AnswersWithoutAUsableResultFailTheRequest)
{
    const std::vector<std::function<Bytes(uint16_t)>> answers = {
        [](uint16_t id) { return ack(0, 0x0005, id); }, // result-less answer
        [](uint16_t id) {
            return ack(0, 0x0083, id, {0, 0, 0, 1});
        }, // answers another command
        [](uint16_t id) {
            Bytes lie = ack(0, 0x0081, id, value32(1));
            lie[5] = 8;
            return lie;
        },                                              // length lies
        [](uint16_t id) { return ack(0, 0x0081, id); }, // no value
    };
    for (const auto& make : answers) {
        answerWith([&](const SentCommand& command) { return std::vector<Bytes>{make(command.id)}; });
        uint32_t value = 0;
        EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 13u);
    }
    camera.answerNormally();
    hx_test::LogCapture log;
    answerWith(
        [](const SentCommand& command) { return std::vector<Bytes>{ack(0, 0x0085, command.id, value32(0x10))}; });
    std::vector<uint8_t> data;
    EXPECT_EQ(HxComm::readMem(cam, 0x10, data, 4), 13u);
    EXPECT_GE(log.count("Error reading reg_addr: 0x0010, length=4"), 1u);
}

TEST_F(ChannelTest, SilenceAgesOutAndALateAnswerIsIgnored)
{
    halvex::thread::setPeriodScale(0.01);
    halvex::thread::setTraceMask(halvex::thread::TRACE_COMM);
    hx_test::LogCapture log;
    answerWith([](const SentCommand&) { return std::vector<Bytes>{}; });
    const auto start = std::chrono::steady_clock::now();
    uint32_t value = 0;
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 12u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 49ms) << "50 ticks of 1 ms";
    EXPECT_GE(log.count("has aged out."), 1u);

    camera.sendTo(ack(0, 0x0081, camera.firstSendings().back().id, value32(1)), camera.hostPort());
    EXPECT_TRUE(log.waitFor("This is probably OK.", 5s));
    camera.answerNormally();
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
}

// One lost acknowledge is no absence; a camera that let three requests in a row age out is back
// (and set up again) with its next answer.
TEST_F(ChannelTest, OnlyASilenceMakesTheNextAnswerAReturn)
{
    halvex::thread::setPeriodScale(0.01);
    hx_test::LogCapture log;
    // Requests are lost whole: every sending of the next toDrop request ids goes unanswered, as a
    // read sent again with its id would otherwise get its answer.
    std::mutex lock;
    int toDrop = 1;
    std::set<uint16_t> dropped;
    answerWith([&](const SentCommand& command) {
        std::lock_guard<std::mutex> guard(lock);
        if (dropped.count(command.id) != 0)
            return std::vector<Bytes>{};
        if (toDrop > 0) {
            --toDrop;
            dropped.insert(command.id);
            return std::vector<Bytes>{};
        }
        return camera.answer(command);
    });
    uint32_t value = 0;
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 12u);
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    EXPECT_EQ(log.count("answers again after a time-out"), 0u) << "one lost acknowledge was taken for a return";
    {
        std::lock_guard<std::mutex> guard(lock);
        toDrop = 3;
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 12u);
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    EXPECT_EQ(log.count("answers again after a time-out"), 1u);
    camera.answerNormally();
}

// The channel's thread ticks only once a second while nothing waits for the camera; a request made
// then must bring the quick ticks back, or a silent camera would hold its caller far too long.
TEST_F(ChannelTest, RequestsAfterAQuietSpellStillAgeOut)
{
    halvex::thread::setPeriodScale(0.01);
    halvex::thread::setTraceMask(halvex::thread::TRACE_COMM);
    hx_test::LogCapture log;
    uint32_t value = 0;
    for (int round = 0; round < 2; ++round) {
        camera.answerNormally();
        ASSERT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u) << "round " << round;
        const std::shared_ptr<HxComm> channel = HxComm::factory(cam);
        ASSERT_TRUE(channel);
        // Nothing asks the camera now, so the channel goes quiet once and stays so. The line that
        // says so may come from a pass before the read (lines reach the log late on a slow run),
        // so each one found is checked against the channel's own state.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!channel->quiet() && std::chrono::steady_clock::now() < deadline) {
            log.clear();
            if (!channel->quiet())
                log.waitFor("ticking once a second", 1s);
        }
        ASSERT_TRUE(channel->quiet()) << "the channel kept ticking quickly";
        answerWith([](const SentCommand&) { return std::vector<Bytes>{}; });
        EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 12u) << "round " << round;
    }
    camera.answerNormally();
}

TEST_F(ChannelTest, AnswersOutOfOrderFindTheirRequests)
{
    std::mutex lock;
    std::vector<SentCommand> held;
    camera.withState([](CameraState& state) { state.registers = {{0x100, 1}, {0x200, 2}}; });
    answerWith([&](const SentCommand& command) {
        std::lock_guard<std::mutex> guard(lock);
        // A read sent again while it waits is the same request.
        if (held.empty() || held.back().id != command.id)
            held.push_back(command);
        if (held.size() < 2)
            return std::vector<Bytes>{};
        return std::vector<Bytes>{camera.answer(held[1]).front(), camera.answer(held[0]).front()};
    });
    auto first = std::async(std::launch::async, [&] {
        uint32_t v = 0;
        return HxComm::readReg(cam, 0x100, v) ? 0 : v;
    });
    ASSERT_TRUE(camera.waitForCommands(1, 5s));
    auto second = std::async(std::launch::async, [&] {
        uint32_t v = 0;
        return HxComm::readReg(cam, 0x200, v) ? 0 : v;
    });
    EXPECT_EQ(first.get(), 1u);
    EXPECT_EQ(second.get(), 2u);
    camera.answerNormally();
}

TEST_F(ChannelTest, ALostCameraFailsWaitingAndLaterRequests)
{
    std::future<uint32_t> waiting = readLeftWaiting();
    HxComm::setFault(cam);
    EXPECT_EQ(waiting.get(), 6u) << "purged at once, not aged out";
    uint32_t value = 0;
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 6u);
    EXPECT_TRUE(HxComm::isFaulted(cam));
    EXPECT_EQ(camera.firstSendings().size(), 1u);

    HxComm::recycle(cam);
    camera.answerNormally();
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u) << "a fresh channel after recycling";
    EXPECT_FALSE(HxComm::isFaulted(cam));
}

TEST_F(ChannelTest, ClosingFailsWaitersAndReleasesTheCamera)
{
    std::future<uint32_t> waiting = readLeftWaiting();
    HxComm::close(cam);
    EXPECT_EQ(waiting.get(), 6u);
    ASSERT_TRUE(camera.waitForCommands(3, 5s));
    const std::vector<SentCommand> sent = camera.firstSendings();
    EXPECT_EQ(sent[1].bytes, kGateClose);
    EXPECT_EQ(sent[2].bytes, (Bytes{0x42, 0x00, 0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0, 0, 0x0A, 0x00, 0, 0, 0, 0}));
    uint32_t value = 0;
    EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 6u);
    EXPECT_FALSE(HxComm::isKnown(cam));
    EXPECT_EQ(camera.firstSendings().size(), 3u) << "nothing sent after the close";
}

TEST_F(ChannelTest, ACommandThatCannotBeSentFailsAtOnceWithALogLine)
{
    // Nothing routes there inside the test's private namespace, so the send itself fails.
    const uint32_t unreachable = htonl(0x0A090909);
    hx_test::LogCapture log;
    uint32_t value = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HxComm::readReg(unreachable, 0x0A00, value), 13u);
    EXPECT_EQ(HxComm::writeReg(unreachable, 0x1234, 1), 13u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "failed locally, not aged out";
    EXPECT_EQ(log.count("HxComm::handleRequest(10.9.9.9): Failed sendMsg, err="), 1u);
    EXPECT_EQ(log.count("HxComm::handleRequest: Failed sendMsg(10.9.9.9), err="), 1u);
    EXPECT_EQ(HxComm::activityCount(unreachable), 0u);
    HxComm::recycle(unreachable);
}

TEST_F(ChannelTest, RequestIdsWrapAfter65535)
{
    // Mostly writes that need no answer; every 128th request is a read, so the camera keeps up.
    uint32_t value = 0;
    for (int id = 1; id <= 65535; ++id) {
        const uint32_t result = id % 128 == 0 ? HxComm::readReg(cam, 0x0A00, value) : HxComm::writeReg(cam, 0xE844, 1);
        ASSERT_EQ(result, 0u) << "request " << id;
    }
    ASSERT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    ASSERT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    const std::vector<SentCommand> sent = camera.firstSendings();
    EXPECT_EQ(sent[sent.size() - 2].id, 0);
    EXPECT_EQ(sent.back().id, 1);
}
