// Stream packets against bytes typed from the leader and trailer tables, the order of the
// leader checks, sequence numbers from file names, and short or lying packets.
#include "wire/stream_packet.h"

#include <gtest/gtest.h>

namespace {

using namespace halvex::wire;
using Bytes = std::vector<uint8_t>;

Bytes goldenLeader()
{
    Bytes leader = {0x00, 0x00, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, // block 0x102, leader, id 0
                    0x48, 0x58, 0x00, 0x03,                         // magic "HX", file type
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, // timestamp
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, // payload size 4096
                    '1',  'A'};                                     // file name
    leader.resize(48, 0);
    return leader;
}

const Bytes kGoldenTrailer = {0x00, 0x00, 0x01, 0x02, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03};

TEST(StreamPackets, LeaderFieldsComeFromTheTable)
{
    const Bytes golden = goldenLeader();
    const std::optional<StreamLeader> leader = decodeStreamLeader(golden);
    ASSERT_TRUE(leader);
    EXPECT_EQ(leader->header.blockId, 0x102);
    EXPECT_EQ(leader->header.packetFormat, packet_format::kLeader);
    EXPECT_EQ(leader->header.packetId, 0u);
    EXPECT_EQ(leader->magic, 0x4858);
    EXPECT_EQ(leader->timestamp, 0x1234u);
    EXPECT_EQ(leader->imageLength, 4096u);
    EXPECT_EQ(leader->fileName, "1A");
    EXPECT_EQ(sequenceNumberOf(*leader), 25u);
    EXPECT_EQ(checkStreamLeader(*leader, true), LeaderCheck::Ok);
    EXPECT_EQ(encodeStreamLeader(makeFileLeader(0x102, 0, 4096, 25, 0x1234)), golden);
}

TEST(StreamPackets, TrailerAndPayloadMatchTheTable)
{
    const std::optional<StreamTrailer> trailer = decodeStreamTrailer(kGoldenTrailer);
    ASSERT_TRUE(trailer);
    EXPECT_EQ(trailer->header.packetId, 1u);
    EXPECT_EQ(checkStreamTrailer(*trailer, 0x102, 1), 0u);
    StreamTrailer built;
    built.header.blockId = 0x102;
    built.header.packetId = 1;
    EXPECT_EQ(encodeStreamTrailer(built), kGoldenTrailer);

    const Bytes packet = {0x00, 0x00, 0x01, 0x02, 0x03, 0xAB, 0xCD, 0xEF, 0x10, 0x20, 0x30};
    const std::optional<StreamPayload> payload = decodeStreamPayload(packet);
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->header.packetFormat, packet_format::kPayload);
    EXPECT_EQ(payload->header.packetId, 0xABCDEFu);
    ASSERT_EQ(payload->data.size(), 3u);
    EXPECT_EQ(payload->data.data(), packet.data() + 8) << "payload must not be copied";
    const Bytes data = {0x10, 0x20, 0x30};
    EXPECT_EQ(encodeStreamPayload(StreamHeader{0, 0x102, 3, 0xABCDEF}, data), packet);
}

TEST(StreamLeaderChecks, FailuresAreReportedInOrder)
{
    StreamLeader leader = makeFileLeader(1, 0, 100, 0, 0);
    leader.header.packetFormat = packet_format::kPayload;
    leader.magic = 0;
    EXPECT_EQ(checkStreamLeader(leader, true), LeaderCheck::WrongFormat);
    leader.header.packetFormat = packet_format::kLeader;
    EXPECT_EQ(checkStreamLeader(leader, true), LeaderCheck::WrongMagic);
    EXPECT_EQ(checkStreamLeader(leader, false), LeaderCheck::Ok) << "UDP leaders carry no magic";
    leader.payloadType = 1;
    EXPECT_EQ(checkStreamLeader(leader, false), LeaderCheck::WrongPayloadType);
    leader.payloadType = kFilePayloadType;
    leader.imageLength = 21037056;
    EXPECT_EQ(checkStreamLeader(leader, false), LeaderCheck::Ok);
    leader.imageLength = 0x1410001;
    EXPECT_EQ(checkStreamLeader(leader, false), LeaderCheck::ImageTooLarge);
    leader.imageLength = 100;
    leader.fileName = "name";
    EXPECT_EQ(checkStreamLeader(leader, false), LeaderCheck::BadFileName);
}

TEST(StreamLeaderChecks, FileNamesAreHexadecimalSequenceNumbersPlusOne)
{
    EXPECT_EQ(parseFileNumber("1A"), 26u);
    EXPECT_EQ(parseFileNumber("0x1a"), 26u);
    EXPECT_EQ(parseFileNumber("00000000FF"), 255u);
    EXPECT_EQ(parseFileNumber("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(parseFileNumber("2b.tif"), 43u);
    EXPECT_FALSE(parseFileNumber("100000000")) << "needs 33 bits";
    EXPECT_FALSE(parseFileNumber(""));
    EXPECT_FALSE(parseFileNumber("0x"));
    EXPECT_FALSE(parseFileNumber("G1"));
    EXPECT_EQ(fileNameForSequence(25), "1A");
    EXPECT_EQ(fileNameForSequence(0), "1");
    EXPECT_EQ(fileNameForSequence(0xFFFFFFFF), "0");
    StreamLeader leader;
    leader.fileName = "0";
    EXPECT_EQ(sequenceNumberOf(leader), 0xFFFFFFFFu);
}

TEST(StreamLeaderChecks, ShortLeadersCountOnlyTheBytesThatArrived)
{
    const Bytes golden = goldenLeader();
    EXPECT_FALSE(decodeStreamLeader(Bytes(golden.begin(), golden.begin() + 19)));
    const std::optional<StreamLeader> twenty = decodeStreamLeader(Bytes(golden.begin(), golden.begin() + 20));
    ASSERT_TRUE(twenty);
    EXPECT_EQ(twenty->imageLength, 0u);
    EXPECT_EQ(checkStreamLeader(*twenty, true), LeaderCheck::BadFileName);
    const std::optional<StreamLeader> thirty = decodeStreamLeader(Bytes(golden.begin(), golden.begin() + 29));
    ASSERT_TRUE(thirty);
    EXPECT_EQ(thirty->fileName, "1");
    Bytes longer = golden;
    longer.insert(longer.end(), {'Z', 'Z'});
    const std::optional<StreamLeader> extra = decodeStreamLeader(longer);
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->fileName, "1A");
}

TEST(StreamTrailerChecks, EveryFaultIsReported)
{
    const std::optional<StreamTrailer> trailer = decodeStreamTrailer(kGoldenTrailer);
    ASSERT_TRUE(trailer);
    EXPECT_EQ(checkStreamTrailer(*trailer, 0x102, 0), trailer_fault::kPacketIdMismatch)
        << "a trailer must carry the leader's id + 1";
    EXPECT_EQ(checkStreamTrailer(*trailer, 0x103, 1), trailer_fault::kBlockIdMismatch);
    Bytes bad = kGoldenTrailer;
    bad[4] = packet_format::kLeader;
    bad[11] = 1;
    const std::optional<StreamTrailer> worse = decodeStreamTrailer(bad);
    ASSERT_TRUE(worse);
    EXPECT_EQ(checkStreamTrailer(*worse, 0x103, 2), 0xFu);
    EXPECT_EQ(trailerFaultsText(trailer_fault::kBlockIdMismatch | trailer_fault::kWrongPayloadType),
              "block id mismatch, wrong payload type");
    EXPECT_FALSE(decodeStreamTrailer(Bytes(kGoldenTrailer.begin(), kGoldenTrailer.end() - 1)));
    EXPECT_FALSE(decodeStreamPayload(Bytes(7, 0)));
    EXPECT_FALSE(decodeStreamHeader(Bytes(7, 0)));
    EXPECT_EQ(nextPacketId(0xFFFFFF), 0u) << "packet ids wrap within 24 bits";
}

TEST(StreamTestPackets, FillThePacketSizeUnderTest)
{
    const Bytes jumbo = encodeTestPacket(9000);
    EXPECT_EQ(jumbo.size(), 9000u - 28u);
    EXPECT_EQ(decodeTestPacket(jumbo), 9000u);
    EXPECT_EQ(encodeTestPacket(1500).size(), 1472u);
    EXPECT_EQ(encodeTestPacket(10).size(), kStreamHeaderSize);
    const std::optional<StreamLeader> asLeader = decodeStreamLeader(jumbo);
    ASSERT_TRUE(asLeader);
    EXPECT_EQ(checkStreamLeader(*asLeader, false), LeaderCheck::WrongFormat)
        << "a test packet is never taken for a leader";
    EXPECT_FALSE(decodeTestPacket(goldenLeader()));
    EXPECT_EQ(payloadBytesPerPacket(9000), 8964u);
    EXPECT_EQ(payloadBytesPerPacket(1500), 1464u);
}

} // namespace
