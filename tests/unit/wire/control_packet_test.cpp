// Control packets against bytes typed from the protocol tables, the write-gate rules, and
// acknowledges or commands that lie about their length. (The status-to-result table is checked
// through the control channel, in tests/threads/hx_comm.)
#include "wire/control_packet.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using namespace halvex::wire;
using Bytes = std::vector<uint8_t>;

TEST(ControlCommands, ReadRegisterCommandMatchesTheTable)
{
    const std::vector<uint32_t> addresses = {0x0A00, 0xC58C};
    const Bytes expected = {0x42, 0x01, 0x00, 0x80, 0x00, 0x08, 0x01, 0x02,  // header
                            0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xC5, 0x8C}; // addresses
    EXPECT_EQ(encodeReadRegCmd(addresses, 0x0102), expected);
}

TEST(ControlCommands, GatedSingleWriteWrapsThePairInGateOpenAndClose)
{
    const WritePlan plan = planSingleWrite(0x1234, 0xDEADBEEF);
    EXPECT_TRUE(plan.ackRequired);
    EXPECT_EQ(plan.expectedIndex(), 3u);
    const Bytes expected = {0x42, 0x01, 0x00, 0x82, 0x00, 0x18, 0x00, 0x07, 0x00, 0x00, 0xC5,
                            0x8C, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x12, 0x34, 0xDE, 0xAD,
                            0xBE, 0xEF, 0x00, 0x00, 0xC5, 0x8C, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(encodeWriteRegCmd(plan.pairs, plan.ackRequired, 7), expected);
}

TEST(ControlCommands, UngatedRegistersGoOutAsOnePair)
{
    for (uint32_t address : {0x0A00u, 0x0D00u, 0x0D04u, 0x0D08u, 0x0D18u, 0xC294u, 0xD314u, 0xD318u, 0xD518u, 0xE918u,
                             0xE924u, 0xE928u, 0xE92Cu, 0xE930u}) {
        const WritePlan plan = planSingleWrite(address, 5);
        ASSERT_EQ(plan.pairs.size(), 1u) << std::hex << address;
        EXPECT_EQ(plan.pairs[0], (RegisterPair{address, 5}));
        EXPECT_TRUE(plan.ackRequired);
    }
    const Bytes expected = {0x42, 0x01, 0x00, 0x82, 0x00, 0x08, 0x00, 0x01,
                            0x00, 0x00, 0x0D, 0x04, 0x40, 0x00, 0x23, 0x28};
    const WritePlan plan = planSingleWrite(0x0D04, 0x40002328);
    EXPECT_EQ(encodeWriteRegCmd(plan.pairs, plan.ackRequired, 1), expected);
    EXPECT_EQ(planSingleWrite(0x0B00, 1).pairs.size(), 3u) << "not on the single-write list";
}

TEST(ControlCommands, AnalogGainSingleWriteIsGatedAndUnacknowledged)
{
    const WritePlan plan = planSingleWrite(0xE844, 0x80000010);
    EXPECT_FALSE(plan.ackRequired);
    ASSERT_EQ(plan.pairs.size(), 3u);
    EXPECT_EQ(plan.pairs[1], (RegisterPair{0xE844, 0x80000010}));
    EXPECT_EQ(encodeWriteRegCmd(plan.pairs, plan.ackRequired, 3).at(1), 0x00) << "flags";
}

TEST(ControlCommands, MultiWriteIsAlwaysGatedAndAcknowledgedUnlessAllPairsNeedNone)
{
    const RegisterPairs channel = {{0x0B00, 5826}, {0x0B10, 0x7F000001}};
    const WritePlan quiet = planMultiWrite(channel);
    EXPECT_FALSE(quiet.ackRequired);
    EXPECT_EQ(quiet.pairs, (RegisterPairs{{0xC58C, 2}, {0x0B00, 5826}, {0x0B10, 0x7F000001}, {0xC58C, 0}}));
    const Bytes datagram = encodeWriteRegCmd(quiet.pairs, quiet.ackRequired, 9);
    EXPECT_EQ(datagram.size(), 8u + 32u);
    EXPECT_EQ(Bytes(datagram.begin(), datagram.begin() + 8), (Bytes{0x42, 0x00, 0x00, 0x82, 0x00, 0x20, 0x00, 0x09}));

    RegisterPairs mixed = channel;
    mixed.push_back({0x1234, 1});
    const WritePlan loud = planMultiWrite(mixed);
    EXPECT_TRUE(loud.ackRequired);
    EXPECT_EQ(loud.expectedIndex(), 5u);
    EXPECT_TRUE(planMultiWrite(RegisterPairs{{0x0D04, 1}}).ackRequired)
        << "ungated for single writes does not mean unacknowledged";
    EXPECT_EQ(gateClosePair(), (RegisterPair{0xC58C, 0}));
}

TEST(ControlCommands, MemoryReadAsksForAtMostOneDatagramOfData)
{
    const Bytes expected = {0x42, 0x01, 0x00, 0x84, 0x00, 0x08, 0x12, 0x34,
                            0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x18};
    EXPECT_EQ(encodeReadMemCmd(0x00010000, 600, 0x1234), expected);
    EXPECT_EQ(encodeReadMemCmd(0x00010000, 0, 0x1234), expected) << "0 means the maximum";
    EXPECT_EQ(encodeReadMemCmd(0x68, 16, 2).back(), 16);
}

TEST(ControlCommands, MemoryWriteSendsAtMostOneDatagramOfData)
{
    Bytes data(600);
    std::iota(data.begin(), data.end(), uint8_t{0});
    const Bytes datagram = encodeWriteMemCmd(0x00020000, data, 4);
    ASSERT_EQ(datagram.size(), kMaxControlDatagram);
    EXPECT_EQ(Bytes(datagram.begin(), datagram.begin() + 12),
              (Bytes{0x42, 0x01, 0x00, 0x86, 0x02, 0x1C, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00}));
    EXPECT_EQ(Bytes(datagram.begin() + 12, datagram.end()), Bytes(data.begin(), data.begin() + 536));
}

TEST(ControlCommands, LengthsTooLongForTheFieldAreNeverEncoded)
{
    EXPECT_TRUE(encodeReadRegCmd(std::vector<uint32_t>(0x4000), 1).empty());
    EXPECT_TRUE(encodeWriteRegCmd(RegisterPairs(0x2000), true, 1).empty());
}

TEST(ControlAcks, ReadRegisterAcknowledgeGivesValuesInOrder)
{
    const Bytes datagram = {0x00, 0x00, 0x00, 0x81, 0x00, 0x08, 0x00, 0x05,
                            0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const std::optional<ReadRegAck> ack = decodeReadRegAck(datagram);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.status, 0);
    EXPECT_EQ(ack->header.ackId, 5);
    EXPECT_EQ(ack->values, (std::vector<uint32_t>{0x11223344, 0x55667788}));
    EXPECT_EQ(encodeReadRegAck(0, 5, ack->values), datagram);
}

TEST(ControlAcks, ReadRegisterAcknowledgeWithErrorCarriesTheValuesBeforeIt)
{
    const Bytes datagram = {0x80, 0x03, 0x00, 0x81, 0x00, 0x04, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x2A};
    const std::optional<ReadRegAck> ack = decodeReadRegAck(datagram);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.status, camera_status::kInvalidAddress);
    EXPECT_EQ(ack->header.ackId, 0xFFFF);
    EXPECT_EQ(ack->values, (std::vector<uint32_t>{42}));
}

TEST(ControlAcks, WriteAcknowledgesCarryStatusAndIndex)
{
    const Bytes denied = {0x80, 0x06, 0x00, 0x83, 0x00, 0x04, 0x00, 0x09, 0x00, 0x00, 0x00, 0x03};
    const std::optional<WriteRegAck> ack = decodeWriteRegAck(denied);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->header.status, 0x8006);
    EXPECT_EQ(ack->header.ackId, 9);
    EXPECT_EQ(ack->index, 3u);
    EXPECT_EQ(encodeWriteRegAck(0x8006, 9, 3), denied);
    EXPECT_EQ(toString(*ack), "WRITEREG_ACK id=9 status=0x8006 len=4 index=3");

    const Bytes memory = {0x00, 0x00, 0x00, 0x87, 0x00, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x10};
    const std::optional<AckHeader> memoryAck = decodeWriteMemAck(memory);
    ASSERT_TRUE(memoryAck);
    EXPECT_EQ(memoryAck->ackId, 10);
    EXPECT_EQ(encodeWriteMemAck(0, 10, 16), memory);
    EXPECT_FALSE(decodeWriteMemAck(denied)) << "answer code of a register write";
}

TEST(ControlAcks, ReadMemoryAcknowledgeIsAViewOfItsData)
{
    const Bytes datagram = {0x00, 0x00, 0x00, 0x85, 0x00, 0x07, 0x00, 0x02, 0x00,
                            0x00, 0x00, 0x68, 'q',  'T',  '1',  0xEE, 0xEE}; // two bytes beyond length
    const std::optional<ReadMemAck> ack = decodeReadMemAck(datagram);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->address, 0x68u);
    EXPECT_EQ(Bytes(ack->data.begin(), ack->data.end()), (Bytes{'q', 'T', '1'}));
    EXPECT_EQ(ack->data.data(), datagram.data() + 12);
    const Bytes data = {'q', 'T', '1'};
    EXPECT_EQ(encodeReadMemAck(0, 2, 0x68, data), Bytes(datagram.begin(), datagram.end() - 2));
}

TEST(ControlAcks, HostileAcknowledgesAreRejected)
{
    const Bytes shortHeader = {0x00, 0x00, 0x00, 0x81, 0x00, 0x00, 0x00};
    EXPECT_FALSE(decodeAckHeader(shortHeader));
    EXPECT_FALSE(decodeReadRegAck(shortHeader));
    const Bytes lyingLength = {0x00, 0x00, 0x00, 0x81, 0x00, 0x0C, 0x00, 0x01,
                               0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02};
    EXPECT_FALSE(decodeAckHeader(lyingLength));
    EXPECT_FALSE(decodeReadRegAck(lyingLength));
    const Bytes noIndex = {0x00, 0x00, 0x00, 0x83, 0x00, 0x00, 0x00, 0x01};
    EXPECT_FALSE(decodeWriteRegAck(noIndex));
    const Bytes wrongAnswer = {0x00, 0x00, 0x00, 0x83, 0x00, 0x04, 0x00, 0x01, 0, 0, 0, 3};
    EXPECT_FALSE(decodeReadRegAck(wrongAnswer));
    EXPECT_FALSE(decodeReadMemAck(wrongAnswer));

    Bytes memory = encodeReadMemAck(0, 1, 0x100, Bytes{});
    EXPECT_FALSE(decodeReadMemAck(memory)) << "length 4: no data";
    memory = encodeReadMemAck(0, 1, 0x100, Bytes(537));
    EXPECT_FALSE(decodeReadMemAck(memory)) << "length 541: more than a datagram holds";
    memory = encodeReadMemAck(0, 1, 0x100, Bytes(536));
    EXPECT_TRUE(decodeReadMemAck(memory));
}

TEST(ControlCameraSide, DecodesEachCommandAndItsPayload)
{
    const Bytes read = {0x42, 0x01, 0x00, 0x80, 0x00, 0x08, 0x00, 0x03, 0x00, 0x00, 0xE8, 0x54, 0x00, 0x00, 0xC1, 0x00};
    const std::optional<ReadRegCmd> readCmd = decodeReadRegCmd(read);
    ASSERT_TRUE(readCmd);
    EXPECT_EQ(readCmd->header.requestId, 3);
    EXPECT_TRUE(readCmd->header.ackRequired());
    EXPECT_EQ(readCmd->addresses, (std::vector<uint32_t>{0xE854, 0xC100}));

    const WritePlan plan = planSingleWrite(0xE844, 7);
    const std::optional<WriteRegCmd> writeCmd = decodeWriteRegCmd(encodeWriteRegCmd(plan.pairs, plan.ackRequired, 0));
    ASSERT_TRUE(writeCmd);
    EXPECT_FALSE(writeCmd->header.ackRequired());
    EXPECT_EQ(writeCmd->header.requestId, 0);
    EXPECT_EQ(writeCmd->pairs, plan.pairs);

    const std::optional<ReadMemCmd> memRead = decodeReadMemCmd(encodeReadMemCmd(0x68, 0, 11));
    ASSERT_TRUE(memRead);
    EXPECT_EQ(memRead->address, 0x68u);
    EXPECT_EQ(memRead->byteCount, 536);

    const Bytes payload = {1, 2, 3, 4, 5};
    const Bytes memWriteDatagram = encodeWriteMemCmd(0x400, payload, 12);
    const std::optional<WriteMemCmd> memWrite = decodeWriteMemCmd(memWriteDatagram);
    ASSERT_TRUE(memWrite);
    EXPECT_EQ(memWrite->address, 0x400u);
    EXPECT_EQ(Bytes(memWrite->data.begin(), memWrite->data.end()), payload);
}

TEST(ControlCameraSide, HostileCommandsAreRejected)
{
    Bytes read = encodeReadRegCmd(std::vector<uint32_t>{0x0A00}, 1);
    read[0] = 0x43;
    EXPECT_FALSE(decodeCommandHeader(read)) << "wrong key";
    read[0] = 0x42;
    read[5] = 0x05; // length 5: not whole addresses
    EXPECT_FALSE(decodeReadRegCmd(read));
    read[5] = 0x08; // length 8: more than arrived
    EXPECT_FALSE(decodeReadRegCmd(read));
    read[5] = 0x04;
    EXPECT_TRUE(decodeReadRegCmd(read));
    EXPECT_FALSE(decodeWriteRegCmd(read)) << "command code of a read";
    EXPECT_FALSE(decodeReadRegCmd(Bytes(read.begin(), read.begin() + 7)));

    Bytes memRead = encodeReadMemCmd(0x68, 16, 1);
    memRead[5] = 0x04;
    EXPECT_FALSE(decodeReadMemCmd(memRead)) << "memory read payload must be 8 bytes";
    Bytes memWrite = encodeWriteMemCmd(0x68, Bytes{}, 1);
    memWrite[5] = 0x03;
    EXPECT_FALSE(decodeWriteMemCmd(memWrite)) << "no room for the address";
}

} // namespace
