// Event datagrams against bytes typed from the event table, and every way one can be refused.
#include "wire/event_packet.h"

#include <gtest/gtest.h>

namespace {

using namespace halvex::wire;
using Bytes = std::vector<uint8_t>;

const Bytes kGoldenEvent = {0x42, 0x00, 0x00, 0xC2, 0x00, 0x14, 0x00, 0x07, // header
                            0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00, // id 17
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, // timestamp
                            0x00, 0x00, 0x00, 0x05};                        // value 5

TEST(EventPackets, EventBecomesRegisterAndValue)
{
    const EventDecodeResult result = decodeEventData(kGoldenEvent);
    ASSERT_EQ(result.check, EventCheck::Ok);
    EXPECT_EQ(result.event.eventId, 17);
    EXPECT_EQ(result.event.value, 5u);
    EXPECT_EQ(result.event.requestId, 7);
    EXPECT_EQ(result.event.timestamp, 0x100u);

    EventData event;
    event.requestId = 7;
    event.eventId = 17;
    event.timestamp = 0x100;
    event.value = 5;
    EXPECT_EQ(encodeEventData(event), kGoldenEvent);
}

TEST(EventPackets, KeyAndFlagsAreIgnored)
{
    Bytes event = kGoldenEvent;
    event[0] = 0x00;
    event[1] = 0x01;
    EXPECT_EQ(decodeEventData(event).check, EventCheck::Ok);
}

TEST(EventPackets, RefusalsSayWhy)
{
    Bytes event = kGoldenEvent;
    event[5] = 0x18; // length 24
    event.resize(32);
    EventDecodeResult result = decodeEventData(event);
    EXPECT_EQ(result.check, EventCheck::WrongLength);
    EXPECT_EQ(result.length, 24);

    event = kGoldenEvent;
    event[3] = 0x83;
    result = decodeEventData(event);
    EXPECT_EQ(result.check, EventCheck::WrongCommand);
    EXPECT_EQ(result.command, 0x0083);

    EXPECT_EQ(decodeEventData(Bytes(kGoldenEvent.begin(), kGoldenEvent.end() - 1)).check, EventCheck::Truncated);
    EXPECT_EQ(decodeEventData(Bytes{0x42, 0x00, 0x00}).check, EventCheck::Truncated);
}

TEST(EventPackets, OpeningDatagramIsTenZerosAndDecodesAsEmpty)
{
    const Bytes opening = encodeEventOpening();
    EXPECT_EQ(opening, Bytes(10, 0));
    EXPECT_TRUE(isEventOpening(opening));
    EXPECT_EQ(decodeEventData(opening).check, EventCheck::Empty);
    EXPECT_FALSE(isEventOpening(Bytes(11, 0)));
    EXPECT_FALSE(isEventOpening(kGoldenEvent));
}

} // namespace
