// Discovery request and reply against bytes placed at the table's offsets, and the checks that
// decide whether a replying camera is taken on.
#include "wire/discovery_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "platform/ipv4_endpoint.h"

namespace {

using namespace halvex::wire;
using Bytes = std::vector<uint8_t>;

void place(Bytes& bytes, std::size_t offset, std::initializer_list<uint8_t> values)
{
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

void place(Bytes& bytes, std::size_t offset, std::string_view text)
{
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

// A reply laid out by hand from the reply table.
Bytes goldenReply()
{
    Bytes reply(256, 0);
    place(reply, 0, {0x00, 0x00, 0x00, 0x03, 0x00, 0xF8, 0x12, 0x34});
    place(reply, 8, {0x00, 0x02, 0x00, 0x01});              // protocol version 2.1
    place(reply, 18, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}); // MAC
    place(reply, 44, {0x7F, 0x00, 0x00, 0x02});             // current IP
    place(reply, 60, {0xFF, 0x00, 0x00, 0x00});             // subnet mask
    place(reply, 76, {0x7F, 0x00, 0x00, 0x01});             // gateway
    place(reply, 80, "halvex");
    place(reply, 112, "qT-1000");
    place(reply, 144, "2.3.6");
    place(reply, 176, "built for tests");
    place(reply, 224, "SN0000000000001X"); // fills its 16 bytes: no NUL
    place(reply, 240, "cam-a");
    return reply;
}

uint32_t address(const char* dotted)
{
    return halvex::platform::ipv4FromText(dotted).value_or(0);
}

TEST(DiscoveryPackets, RequestMatchesTheTable)
{
    EXPECT_EQ(encodeDiscoveryCmd(0xBEEF), (Bytes{0x42, 0x01, 0x00, 0x02, 0x00, 0x00, 0xBE, 0xEF}));
    const std::optional<CommandHeader> request = decodeDiscoveryCmd(encodeDiscoveryCmd(7));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->requestId, 7);
    EXPECT_FALSE(decodeDiscoveryCmd(encodeReadRegCmd(std::vector<uint32_t>{}, 7)));
}

TEST(DiscoveryPackets, ReplyFieldsComeFromTheirOffsets)
{
    const Bytes golden = goldenReply();
    const std::optional<DiscoveryAck> reply = decodeDiscoveryAck(golden);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.ackId, 0x1234);
    EXPECT_EQ(reply->protocolVersionMajor, 2);
    EXPECT_EQ(reply->protocolVersionMinor, 1);
    EXPECT_EQ(reply->macAddress, (std::array<uint8_t, 6>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(reply->currentIp, address("127.0.0.2"));
    EXPECT_EQ(reply->subnetMask, address("255.0.0.0"));
    EXPECT_EQ(reply->defaultGateway, address("127.0.0.1"));
    EXPECT_EQ(reply->manufacturerName, "halvex");
    EXPECT_EQ(reply->modelName, "qT-1000");
    EXPECT_EQ(reply->deviceVersion, "2.3.6");
    EXPECT_EQ(reply->manufacturerInfo, "built for tests");
    EXPECT_EQ(reply->serialNumber, "SN0000000000001X");
    EXPECT_EQ(reply->userDefinedName, "cam-a");
    EXPECT_EQ(encodeDiscoveryAck(*reply), golden);
    EXPECT_TRUE(isDiscoveryReply(golden));
    EXPECT_NE(toString(*reply).find("ip=127.0.0.2"), std::string::npos) << toString(*reply);

    DiscoveryAck longNames = *reply;
    longNames.userDefinedName = "a-name-longer-than-sixteen";
    EXPECT_EQ(decodeDiscoveryAck(encodeDiscoveryAck(longNames))->userDefinedName, "a-name-longer-th");
}

TEST(DiscoveryPackets, OnlyWholeSuccessfulRepliesReachDiscovery)
{
    Bytes reply = goldenReply();
    EXPECT_FALSE(isDiscoveryReply(Bytes(reply.begin(), reply.end() - 1)));
    EXPECT_FALSE(decodeDiscoveryAck(Bytes(reply.begin(), reply.end() - 1)));
    Bytes longer = reply;
    longer.push_back(0);
    EXPECT_FALSE(isDiscoveryReply(longer));
    EXPECT_FALSE(decodeDiscoveryAck(longer));
    reply[1] = 0x01; // status 1
    EXPECT_FALSE(isDiscoveryReply(reply));
    EXPECT_TRUE(decodeDiscoveryAck(reply)) << "status is reported, not judged, by the decoder";
    reply[1] = 0x00;
    reply[3] = 0x81; // another answer code
    EXPECT_FALSE(isDiscoveryReply(reply));
    EXPECT_FALSE(decodeDiscoveryAck(reply));
    EXPECT_FALSE(isDiscoveryReply(Bytes{}));
}

TEST(DiscoveryChecks, FirmwareMustBeAtLeastTheMinimumVersion)
{
    DiscoveryAck reply;
    reply.manufacturerName = "halvex";
    for (const char* accepted : {"2.3.6", "2.3.7", "2.4.0", "2.4", "3.0.0", "10.0.0", "2.3.6-rc1"}) {
        reply.deviceVersion = accepted;
        EXPECT_EQ(judgeDiscoveryReply(reply), DiscoveryVerdict::Accepted) << accepted;
    }
    for (const char* refused : {"2.3.5", "2.2.9", "1.9.9", "2.3", "", "v2.3.6", "garbage"}) {
        reply.deviceVersion = refused;
        EXPECT_EQ(judgeDiscoveryReply(reply), DiscoveryVerdict::FirmwareTooOld) << refused;
    }
    EXPECT_EQ(parseDeviceVersion("4.5.6.7"), (DeviceVersion{4, 5, 6}));
    EXPECT_EQ(parseDeviceVersion("99999999999.1.2"), (DeviceVersion{0xFFFFFFFF, 1, 2}));
}

TEST(DiscoveryChecks, ManufacturerIsComparedIgnoringCaseOnly)
{
    DiscoveryAck reply;
    reply.deviceVersion = "9.9.9";
    for (const char* ours : {"halvex", "HALVEX", "HalVex"}) {
        reply.manufacturerName = ours;
        EXPECT_EQ(judgeDiscoveryReply(reply), DiscoveryVerdict::Accepted) << ours;
    }
    for (const char* foreign : {"halve", "halvex2", " halvex", ""}) {
        reply.manufacturerName = foreign;
        EXPECT_EQ(judgeDiscoveryReply(reply), DiscoveryVerdict::ForeignManufacturer) << foreign;
    }
    reply.deviceVersion = "1.0.0";
    EXPECT_EQ(judgeDiscoveryReply(reply), DiscoveryVerdict::ForeignManufacturer)
        << "the manufacturer is judged before the firmware";
}

} // namespace
