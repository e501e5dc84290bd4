// Seeded faults are reproducible, and each kind does what it says; synthetic frames carry
// their number.
#include <gtest/gtest.h>

#include "sim/faults/fault_injector.h"
#include "sim/frames/frame_store.h"
#include "wire/control_packet.h"

using namespace hxsim;
using namespace std::chrono_literals;

namespace {

Outgoing datagram(uint8_t tag, FaultChannel channel = FaultChannel::Control)
{
    return Outgoing{channel, Endpoint{0x7F000001, 5824}, {tag, 1, 2, 3}};
}

// Sends 200 tagged datagrams through an injector and returns what came out, in order.
std::vector<std::vector<uint8_t>> run(const FaultConfig& faults, uint64_t seed)
{
    FaultInjector injector(faults, seed);
    std::vector<std::vector<uint8_t>> sent;
    SimTime now{0};
    for (int i = 0; i < 200; ++i) {
        injector.submit(datagram(static_cast<uint8_t>(i)), now);
        now += 1ms;
        for (auto& item : injector.due(now)) {
            sent.push_back(item.bytes);
        }
    }
    for (auto& item : injector.due(now + 1h)) {
        sent.push_back(item.bytes);
    }
    return sent;
}

FaultConfig everyFault()
{
    FaultConfig faults;
    auto& control = faults.channel(FaultChannel::Control);
    control.drop = control.delay = control.duplicate = control.reorder = control.corrupt = 0.2;
    control.delayMin = 1ms;
    control.delayMax = 30ms;
    return faults;
}

} // namespace

TEST(SimFaults, SameSeedSameRunOtherSeedOtherRun)
{
    const FaultConfig faults = everyFault();
    const auto first = run(faults, 7);
    EXPECT_EQ(first, run(faults, 7));
    EXPECT_NE(first, run(faults, 8));
    EXPECT_NE(first.size(), 200u) << "with these odds something must have been dropped or duplicated";
}

TEST(SimFaults, EachKindOnItsOwn)
{
    FaultConfig faults;
    faults.channel(FaultChannel::Control).drop = 1;
    EXPECT_TRUE(run(faults, 1).empty());

    faults = FaultConfig{};
    faults.channel(FaultChannel::Control).duplicate = 1;
    EXPECT_EQ(run(faults, 1).size(), 400u);

    faults = FaultConfig{};
    faults.channel(FaultChannel::Control).corrupt = 1;
    const auto corrupted = run(faults, 1);
    ASSERT_EQ(corrupted.size(), 200u);
    for (std::size_t i = 0; i < corrupted.size(); ++i) {
        EXPECT_NE(corrupted[i], datagram(static_cast<uint8_t>(i)).bytes);
    }

    // Only the control channel is faulty: events pass untouched.
    faults = FaultConfig{};
    faults.channel(FaultChannel::Control).drop = 1;
    FaultInjector injector(faults, 1);
    injector.submit(datagram(1, FaultChannel::Events), SimTime{0});
    EXPECT_EQ(injector.due(SimTime{0}).size(), 1u);
}

TEST(SimFaults, DelayAndReorderChangeTimingAndOrder)
{
    FaultConfig faults;
    auto& control = faults.channel(FaultChannel::Control);
    control.delay = 1;
    control.delayMin = control.delayMax = 6s; // beyond a host's time-out
    FaultInjector delayed(faults, 3);
    delayed.submit(datagram(1), SimTime{0});
    EXPECT_TRUE(delayed.due(5s).empty());
    EXPECT_EQ(delayed.nextDue(), SimTime(6s));
    EXPECT_EQ(delayed.due(6s).size(), 1u);

    faults = FaultConfig{};
    faults.channel(FaultChannel::Control).reorder = 1;
    FaultInjector swapped(faults, 3);
    swapped.submit(datagram(1), SimTime{0});
    swapped.submit(datagram(2), SimTime{0});
    auto out = swapped.due(SimTime{0});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].bytes[0], 2);
    EXPECT_EQ(out[1].bytes[0], 1);
    swapped.submit(datagram(3), SimTime{0}); // nothing overtakes it: it goes out on its own
    EXPECT_TRUE(swapped.due(SimTime{0}).empty());
    EXPECT_EQ(swapped.due(1s).size(), 1u);
}

TEST(SimFaults, WrongIndexRefusalsAndSilence)
{
    FaultConfig faults;
    faults.channel(FaultChannel::Control).wrongIndex = 1;
    FaultInjector injector(faults, 5);
    injector.submit(Outgoing{FaultChannel::Control, {}, halvex::wire::encodeWriteRegAck(0, 9, 4)}, SimTime{0});
    auto out = injector.due(SimTime{0});
    EXPECT_EQ(halvex::wire::decodeWriteRegAck(out.at(0).bytes)->index, 3u);

    faults = FaultConfig{};
    faults.channel(FaultChannel::Control).errorStatus = 1;
    EXPECT_TRUE(FaultInjector(faults, 5).refusal({}).has_value());
    EXPECT_FALSE(FaultInjector(FaultConfig{}, 5).refusal({}).has_value());

    // One write refused every time: the pair anywhere in a write, never another value or a read.
    faults = FaultConfig{};
    faults.refusedWrite = std::pair<uint32_t, uint32_t>{0xD314, 0};
    FaultInjector refusing(faults, 5);
    const std::vector<halvex::wire::RegisterPair> stop{{0xD300, 7}, {0xD314, 0}};
    const std::vector<halvex::wire::RegisterPair> live{{0xD314, 1}};
    const std::vector<uint32_t> read{0xD314};
    EXPECT_EQ(refusing.refusal(halvex::wire::encodeWriteRegCmd(stop, true, 1)), halvex::wire::camera_status::kBusy);
    EXPECT_EQ(refusing.refusal(halvex::wire::encodeWriteRegCmd(stop, true, 2)), halvex::wire::camera_status::kBusy);
    EXPECT_FALSE(refusing.refusal(halvex::wire::encodeWriteRegCmd(live, true, 3)).has_value());
    EXPECT_FALSE(refusing.refusal(halvex::wire::encodeReadRegCmd(read, 4)).has_value());

    faults = FaultConfig{};
    faults.vanishAt = 10s;
    faults.vanishFor = 5s;
    FaultInjector vanishing(faults, 5);
    EXPECT_FALSE(vanishing.silent(9s));
    EXPECT_TRUE(vanishing.silent(10s));
    EXPECT_TRUE(vanishing.silent(14s));
    EXPECT_FALSE(vanishing.silent(15s));
    // Vanishing on demand replaces the configured silence.
    vanishing.vanish(20s, 3s);
    EXPECT_FALSE(vanishing.silent(12s));
    EXPECT_FALSE(vanishing.silent(19s));
    EXPECT_TRUE(vanishing.silent(20s));
    EXPECT_TRUE(vanishing.silent(22s));
    EXPECT_FALSE(vanishing.silent(23s));
    faults = FaultConfig{};
    faults.mute = true;
    EXPECT_TRUE(FaultInjector(faults, 5).silent(SimTime{0}));
}

TEST(SimFrames, PixelsCarryTheFrameNumberAndAMovingPattern)
{
    const FrameGeometry geometry{64, 4, 16, 64 * 4};
    FrameStore store;
    EXPECT_TRUE(store.frame(0).empty());
    store.store(Recording{3, 10, 2, 100, geometry});
    const auto frame7 = store.frame(7);
    ASSERT_EQ(frame7.size(), 256u);
    EXPECT_EQ((std::vector<uint8_t>(frame7.begin(), frame7.begin() + 8)),
              (std::vector<uint8_t>{7, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(frame7[8], static_cast<uint8_t>(8 + 0 + 21));      // row 0, column 8
    EXPECT_EQ(frame7[64 + 1], static_cast<uint8_t>(1 + 1 + 21)); // row 1, column 1
    EXPECT_EQ(SyntheticImage::frameNumberOf(frame7), 7u);
    EXPECT_TRUE(SyntheticImage::matches(7, 3, geometry, frame7));
    EXPECT_FALSE(SyntheticImage::matches(8, 3, geometry, frame7));
    EXPECT_TRUE(store.frame(10).empty());

    std::vector<uint8_t> piece(100);
    ASSERT_TRUE(store.readFrame(7, 100, piece));
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), frame7.begin() + 100));
    EXPECT_FALSE(store.readFrame(7, 200, piece)) << "past the end of the frame";
}
