// The control channel on a link that loses datagrams: what is sent again (with its request id),
// what is sent once, and acknowledges that come twice or late.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>

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

class RetransmitTest : public ScriptedChannelTest {
protected:
    // Leaves the first `lost` sendings of every request id unanswered, as a link that loses them.
    void loseFirstSendings(int lost)
    {
        camera.setScript([this, lost](const SentCommand& command) {
            std::lock_guard<std::mutex> guard(lock);
            if (++sendings[command.id] <= lost)
                return std::vector<Bytes>{};
            return camera.answer(command);
        });
    }
    // The commands the camera saw with `id`, all of them.
    std::vector<SentCommand> sentWithId(uint16_t id) const
    {
        std::vector<SentCommand> found;
        for (const SentCommand& command : camera.commands()) {
            if (command.id == id)
                found.push_back(command);
        }
        return found;
    }

    std::mutex lock;
    std::map<uint16_t, int> sendings;
};

Bytes value32(uint32_t value)
{
    Bytes out;
    put32(out, value);
    return out;
}

} // namespace

// Reads and settings writes are asked again, byte for byte with the same id, until answered.
TEST_F(RetransmitTest, ReadsAndSettingsWritesAreSentAgainWithTheirId)
{
    camera.withState([](CameraState& state) {
        state.registers[0xE82C] = 1000;
        state.memory[0x00D8] = 'S';
    });
    loseFirstSendings(2);
    uint32_t value = 0;
    ASSERT_EQ(HxComm::readReg(cam, 0xE82C, value), 0u);
    EXPECT_EQ(value, 1000u);
    ASSERT_EQ(HxComm::writeReg(cam, 0xE82C, 2000), 0u) << "exposure is a setting";
    halvex::wire::RegisterPairs pairs = {{0xE82C, 0}, {0xE824, 0}};
    ASSERT_EQ(HxComm::readMultiReg(cam, pairs), 0u);
    EXPECT_EQ(pairs[0].value, 2000u);
    ASSERT_EQ(HxComm::writeMultiReg(cam, {{0xD300, 640}, {0xD304, 480}}), 0u) << "a region is a setting";
    std::vector<uint8_t> text;
    ASSERT_EQ(HxComm::readMem(cam, 0x00D8, text, 4), 0u);
    EXPECT_EQ(text.front(), 'S');
    ASSERT_EQ(HxComm::writeReg(cam, 0xD314, 32), 0u) << "a download's resume is a state, not an action";

    // Answered at its third sending; a host slower than the next interval may send a fourth.
    for (uint16_t id = 1; id <= 6; ++id) {
        const std::vector<SentCommand> copies = sentWithId(id);
        ASSERT_GE(copies.size(), 3u) << "request " << id;
        for (const SentCommand& copy : copies)
            EXPECT_EQ(copy.bytes, copies[0].bytes) << "request " << id;
    }
    EXPECT_TRUE(sentWithId(7).empty()) << "nothing but the six requests and their repeats";
}

// Writes that start something, memory writes and piecewise document reads go out once: a lost
// acknowledge costs the age-out, and the caller learns from the camera's state what happened.
TEST_F(RetransmitTest, ActionsAndDocumentsAreSentOnce)
{
    halvex::thread::setPeriodScale(0.01);
    loseFirstSendings(1000);
    const std::vector<uint8_t> document = {'{', '}'};
    std::vector<uint8_t> piece;
    EXPECT_EQ(HxComm::writeReg(cam, 0xD310, 2), 12u) << "arm";
    EXPECT_EQ(HxComm::writeReg(cam, 0xD314, 3), 12u) << "download start";
    EXPECT_EQ(HxComm::writeReg(cam, 0x0A00, 2), 12u) << "control privilege";
    EXPECT_EQ(HxComm::writeReg(cam, 0x0D04, 0x80000000 | 9000), 12u) << "packet-size trial";
    EXPECT_EQ(HxComm::writeMultiReg(cam, {{0xE82C, 5}, {0xD310, 4}}), 12u) << "a setting with a trigger";
    EXPECT_EQ(HxComm::writeMem(cam, 0xC0BC, document), 12u) << "a save request";
    EXPECT_EQ(HxComm::readMem(cam, 0xC0C0, piece, 0), 12u) << "the next piece of a document";
    for (uint16_t id = 1; id <= 7; ++id)
        EXPECT_EQ(sentWithId(id).size(), 1u) << "request " << id;
}

// The first acknowledge completes the request; a duplicate, or the first sending's answer coming
// after the repeat's, finds nothing pending and changes no later result.
TEST_F(RetransmitTest, DuplicateAndLateAcknowledgesAreDropped)
{
    halvex::thread::setTraceMask(halvex::thread::TRACE_COMM);
    hx_test::LogCapture log;
    camera.withState([](CameraState& state) {
        state.registers[0x0A00] = 1;
        state.registers[0x0B00] = 2;
    });
    // Each answer comes twice.
    camera.setScript([this](const SentCommand& command) {
        const Bytes answer = camera.answer(command).front();
        return std::vector<Bytes>{answer, answer};
    });
    uint32_t value = 0;
    ASSERT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    ASSERT_EQ(HxComm::readReg(cam, 0x0B00, value), 0u);
    EXPECT_EQ(value, 2u) << "the first read's duplicate answered the second";

    // The first sending's answer is held back until the repeat has been answered.
    std::promise<SentCommand> firstSending;
    bool held = false;
    camera.setScript([&](const SentCommand& command) {
        if (!held) {
            held = true;
            firstSending.set_value(command);
            return std::vector<Bytes>{};
        }
        return camera.answer(command);
    });
    ASSERT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
    EXPECT_EQ(value, 1u);
    const SentCommand late = firstSending.get_future().get();
    log.clear();
    camera.sendTo(ack(0, 0x0081, late.id, value32(99)), camera.hostPort());
    EXPECT_TRUE(log.waitFor("This is probably OK.", 5s));
    camera.answerNormally();
    ASSERT_EQ(HxComm::readReg(cam, 0x0B00, value), 0u);
    EXPECT_EQ(value, 2u) << "the late answer was taken for a later request";
}

// A start (sent once) whose acknowledge is lost costs its caller a few round trips, not the age-out
// (5 s here): the request stays pending, so its acknowledge, when it comes late, is dropped and
// answers nothing else. Answered in time, it is the plain write, one datagram.
TEST_F(RetransmitTest, ABriefWriteGoesOnWithoutItsAcknowledgeAndDropsItWhenLate)
{
    halvex::thread::setTraceMask(halvex::thread::TRACE_COMM);
    hx_test::LogCapture log;
    camera.withState([](CameraState& state) { state.registers[0x0B00] = 2; });
    ASSERT_EQ(HxComm::writeBriefly(cam, {{0x0938, 60000}, {0xD314, 3}}), 0u);
    ASSERT_EQ(camera.commands().size(), 1u);

    std::promise<SentCommand> taken;
    bool held = false;
    camera.setScript([&](const SentCommand& command) {
        if (!held) {
            held = true;
            camera.answer(command); // the camera takes it; its acknowledge is lost
            taken.set_value(command);
            return std::vector<Bytes>{};
        }
        return camera.answer(command);
    });
    std::future<uint32_t> start = std::async(std::launch::async, [this] {
        return HxComm::writeBriefly(cam, {{0xD314, 1}});
    });
    ASSERT_EQ(start.wait_for(2s), std::future_status::ready) << "the caller waited for the age-out";
    EXPECT_EQ(start.get(), 12u) << "unanswered reads as aged out, never as done";
    const SentCommand late = taken.get_future().get();
    EXPECT_EQ(sentWithId(late.id).size(), 1u) << "an action is sent once";

    camera.answerNormally();
    camera.sendTo(ack(0, 0x0083, late.id, Bytes{0, 0, 0, 1}), camera.hostPort());
    EXPECT_TRUE(log.waitFor("whose caller went on; dropped", 5s));
    uint32_t value = 0;
    ASSERT_EQ(HxComm::readReg(cam, 0x0B00, value), 0u);
    EXPECT_EQ(value, 2u);
}

// Concurrent callers: each lost request is repeated while the others are answered, whoever reads
// the control socket.
TEST_F(RetransmitTest, RepeatsServeEveryWaitingCaller)
{
    camera.withState([](CameraState& state) {
        for (uint32_t reg = 0; reg < 8; ++reg)
            state.registers[0x100 + reg * 4] = reg + 1;
    });
    loseFirstSendings(1);
    std::vector<std::future<uint32_t>> reads;
    for (uint32_t reg = 0; reg < 8; ++reg) {
        reads.push_back(std::async(std::launch::async, [this, reg] {
            uint32_t value = 0;
            return HxComm::readReg(cam, 0x100 + reg * 4, value) == 0 ? value : 0;
        }));
    }
    for (uint32_t reg = 0; reg < 8; ++reg)
        EXPECT_EQ(reads[reg].get(), reg + 1);
}
