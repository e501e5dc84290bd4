// A receive scattered as the UDP receiver lays one out (each packet's header in a slot of its own,
// its data at its place in the host buffer, the rest in a tail) reads back in the order it came.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "stream/scattered_bytes.h"

using namespace halvex::stream;

namespace {

// Three packets of an 8-byte header and 20 data bytes, the third only partly in place, then a
// tail: the bytes arrived are 0, 1, 2, ... in sending order.
class ScatteredPackets : public ::testing::Test {
protected:
    static constexpr std::size_t RECEIVED = 3 * 28 + 30; // three packets and a 30-byte one after them

    ScatteredPackets()
    {
        pieces_ = {{{headers_.data(), 8},
                    {host_.data(), 20},
                    {headers_.data() + 8, 8},
                    {host_.data() + 20, 20},
                    {headers_.data() + 16, 8},
                    {host_.data() + 40, 20},
                    {tail_.data(), tail_.size()}}};
        std::size_t next = 0;
        for (const std::span<uint8_t> piece : pieces_)
            for (uint8_t& byte : piece)
                byte = next < RECEIVED ? uint8_t(next++) : 0xEE; // 0xEE: never arrived
    }

    ScatteredBytes bytes() const { return ScatteredBytes(pieces_, RECEIVED); }

    std::array<uint8_t, 24> headers_{};
    std::array<uint8_t, 60> host_{};
    std::array<uint8_t, 64> tail_{};
    std::array<std::span<uint8_t>, 7> pieces_{};
};

TEST_F(ScatteredPackets, BytesWithinOnePieceAreReadWhereTheyLie)
{
    const std::span<const uint8_t> data = bytes().contiguous(36, 20);
    ASSERT_EQ(data.size(), 20u);
    EXPECT_EQ(data.data(), host_.data() + 20);
    const std::span<const uint8_t> after = bytes().contiguous(84, 30);
    ASSERT_EQ(after.size(), 30u);
    EXPECT_EQ(after.data(), tail_.data());
}

TEST_F(ScatteredPackets, BytesAcrossPiecesOrBeyondWhatArrivedAreNotContiguous)
{
    EXPECT_TRUE(bytes().contiguous(28, 28).empty()); // the second packet: header and data apart
    EXPECT_TRUE(bytes().contiguous(84, 31).empty()); // one byte more than arrived
    EXPECT_TRUE(bytes().contiguous(200, 1).empty());
}

TEST_F(ScatteredPackets, CopyOutPutsThePacketsBackTogetherInSendingOrder)
{
    std::vector<uint8_t> out(100, 0);
    ASSERT_EQ(bytes().copyOut(28, out), RECEIVED - 28);
    for (std::size_t i = 0; i < RECEIVED - 28; ++i)
        ASSERT_EQ(out[i], uint8_t(28 + i)) << "byte " << i;
    EXPECT_EQ(out[RECEIVED - 28], 0) << "a byte that never arrived was copied";
}

TEST_F(ScatteredPackets, CopyOutStopsWhereTheOutputEndsOrNothingArrived)
{
    std::array<uint8_t, 10> out{};
    ASSERT_EQ(bytes().copyOut(5, out), 10u);
    EXPECT_EQ(out.front(), 5);
    EXPECT_EQ(out.back(), 14);
    EXPECT_EQ(bytes().copyOut(RECEIVED, out), 0u);
    EXPECT_EQ(bytes().copyOut(RECEIVED + 50, out), 0u);
}

TEST(ScatteredBytes, MoreArrivedThanThePiecesHoldReadsOnlyThePieces)
{
    std::array<uint8_t, 4> piece{1, 2, 3, 4};
    const std::array<std::span<uint8_t>, 1> pieces{{piece}};
    const ScatteredBytes bytes(pieces, 100);
    std::array<uint8_t, 16> out{};
    EXPECT_EQ(bytes.copyOut(2, out), 2u);
    EXPECT_TRUE(bytes.contiguous(2, 10).empty());
}

} // namespace
