// A coalesced receive is cut into datagrams at the system's segment size, the last one shorter;
// a receive the stream cannot carry (segments too long, too many of them) yields none.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "stream/coalesced_datagrams.h"

using namespace halvex::stream;

namespace {

// A 9000-byte packet on the wire, less its IP and UDP headers.
constexpr std::size_t JUMBO = 8972;
constexpr std::size_t LARGEST = 9216;

std::vector<uint8_t> countingBytes(std::size_t size)
{
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

TEST(CoalescedDatagrams, SevenJumboPacketsAndAShortLastOne)
{
    const CoalescedDatagrams datagrams(7 * JUMBO + 1200, JUMBO, LARGEST);
    EXPECT_EQ(datagrams.fault(), nullptr);
    ASSERT_EQ(datagrams.count(), 8u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(datagrams.offset(i), i * JUMBO) << "datagram " << i;
        EXPECT_EQ(datagrams.length(i), JUMBO) << "datagram " << i;
    }
    EXPECT_EQ(datagrams.offset(7), 7 * JUMBO);
    EXPECT_EQ(datagrams.length(7), 1200u);
}

TEST(CoalescedDatagrams, ASegmentSizeThatDividesTheReceiveLeavesNoEmptyDatagram)
{
    const CoalescedDatagrams datagrams(3 * 1472, 1472, LARGEST);
    ASSERT_EQ(datagrams.count(), 3u);
    EXPECT_EQ(datagrams.length(2), 1472u);
}

TEST(CoalescedDatagrams, WithoutASegmentSizeOrWithOneBeyondTheReceiveItIsOneDatagram)
{
    for (const std::size_t segment : {std::size_t{0}, std::size_t{48}, std::size_t{9000}}) {
        const CoalescedDatagrams datagrams(48, segment, LARGEST);
        ASSERT_EQ(datagrams.count(), 1u) << "segment size " << segment;
        EXPECT_EQ(datagrams.offset(0), 0u);
        EXPECT_EQ(datagrams.length(0), 48u);
    }
    EXPECT_EQ(CoalescedDatagrams(0, 0, LARGEST).count(), 0u);
    EXPECT_EQ(CoalescedDatagrams(0, JUMBO, LARGEST).fault(), nullptr);
}

TEST(CoalescedDatagrams, ReceivesTheStreamCannotCarryYieldNoDatagram)
{
    // Segments (or a lone datagram) longer than the reader takes, as a truncated receive would be.
    EXPECT_NE(CoalescedDatagrams(2 * 9300, 9300, LARGEST).fault(), nullptr);
    EXPECT_EQ(CoalescedDatagrams(2 * 9300, 9300, LARGEST).count(), 0u);
    EXPECT_NE(CoalescedDatagrams(9300, 0, LARGEST).fault(), nullptr);
    // A segment size so small that the receive would fall into thousands of datagrams.
    EXPECT_NE(CoalescedDatagrams(60000, 1, LARGEST).fault(), nullptr);
    EXPECT_EQ(CoalescedDatagrams(60000, 1, LARGEST).count(), 0u);
    // More than a UDP length field's worth.
    EXPECT_NE(CoalescedDatagrams(70000, 0, 100000).fault(), nullptr);
}

TEST(CoalescedDatagrams, SixtyFourSegmentsAreTheMost)
{
    EXPECT_EQ(CoalescedDatagrams(64 * 1000, 1000, LARGEST).count(), 64u);
    EXPECT_EQ(CoalescedDatagrams(63 * 1000 + 1, 1000, LARGEST).count(), 64u);
    EXPECT_NE(CoalescedDatagrams(64 * 1000 + 1, 1000, LARGEST).fault(), nullptr);
}

TEST(CoalescedDatagrams, DatagramsAreReadFromThePartOfTheReceiveKept)
{
    const std::vector<uint8_t> receive = countingBytes(3 * 100 + 40);
    const CoalescedDatagrams datagrams(receive.size(), 100, LARGEST);
    const std::span<const uint8_t> whole(receive);
    const std::span<const uint8_t> second = datagrams.datagram(whole, 0, 1);
    ASSERT_EQ(second.size(), 100u);
    EXPECT_EQ(second.front(), 100);
    // Kept from datagram 2 on: datagram 3 is found in it, datagram 1 is not.
    const std::span<const uint8_t> rest = whole.subspan(200);
    const std::span<const uint8_t> last = datagrams.datagram(rest, 200, 3);
    ASSERT_EQ(last.size(), 40u);
    EXPECT_EQ(last.front(), uint8_t(300));
    EXPECT_TRUE(datagrams.datagram(rest, 200, 1).empty());
    // A part kept that ends before the datagram does, and an index past the last.
    EXPECT_TRUE(datagrams.datagram(whole.first(250), 0, 2).empty());
    EXPECT_TRUE(datagrams.datagram(whole, 0, 4).empty());
}

} // namespace
