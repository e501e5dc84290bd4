// The reader and writer at their edges: span limits and the sticky failure decoders rely on.
// Field widths and byte order are covered by the codecs' golden-byte tests.
#include "wire/byte_io.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using halvex::wire::ByteReader;
using halvex::wire::ByteWriter;

TEST(ByteWriter, SpanOverflowWritesNothingAndStaysFailed)
{
    std::array<uint8_t, 5> buffer{};
    ByteWriter writer{std::span<uint8_t>(buffer)};
    writer.u32(0xAABBCCDD);
    writer.u16(0x1122); // would need 6 bytes
    writer.u8(0x33);    // would fit, but the writer has already failed
    EXPECT_FALSE(writer.ok());
    EXPECT_EQ(writer.written(), 4u);
    EXPECT_EQ(buffer, (std::array<uint8_t, 5>{0xAA, 0xBB, 0xCC, 0xDD, 0x00}));
}

TEST(ByteReader, ReadPastTheEndFailsForGoodWithoutConsuming)
{
    const std::vector<uint8_t> in = {0x01, 0x02, 0x03};
    ByteReader reader(in);
    EXPECT_EQ(reader.u24(), 0x010203u);
    reader.seek(0);
    EXPECT_EQ(reader.u32(), 0u);
    EXPECT_FALSE(reader.ok());
    EXPECT_EQ(reader.position(), 0u);
    EXPECT_EQ(reader.u8(), 0u) << "a failed reader must not start reading again";
    EXPECT_TRUE(reader.bytes(1).empty());
    reader.seek(0);
    EXPECT_FALSE(reader.ok());

    ByteReader seeker(in);
    seeker.seek(3);
    EXPECT_TRUE(seeker.ok() && seeker.rest().empty());
    seeker.seek(4);
    EXPECT_FALSE(seeker.ok());
}

TEST(ByteReader, TextStopsAtFirstNulOrFieldEnd)
{
    const std::vector<uint8_t> in = {'c', 'a', 'm', 0, 'x', 'f', 'u', 'l', 'l'};
    ByteReader reader(in);
    EXPECT_EQ(reader.text(5), "cam");
    EXPECT_EQ(reader.text(4), "full");
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(reader.text(1), "");
    EXPECT_FALSE(reader.ok());
}

} // namespace
