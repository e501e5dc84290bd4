// Checks the big-endian reader and writer at their edges: field widths, span limits and the
// sticky failure that decoders rely on.
#include "wire/byte_io.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using HX_WIRE::ByteReader;
using HX_WIRE::ByteWriter;

TEST(ByteWriter, AppendsEveryWidthMostSignificantByteFirst) {
  std::vector<uint8_t> out;
  ByteWriter writer(out);
  writer.u8(0x01);
  writer.u16(0x0203);
  writer.u24(0x040506);
  writer.u32(0x0708090A);
  writer.u64(0x0B0C0D0E0F101112);
  writer.text("ab", 4);
  writer.zeros(1);
  const std::vector<uint8_t> expected = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                         0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12,
                                         'a',  'b',  0,    0,    0};
  EXPECT_EQ(out, expected);
  EXPECT_EQ(writer.written(), expected.size());
  EXPECT_TRUE(writer.ok());
}

TEST(ByteWriter, SpanOverflowWritesNothingAndStaysFailed) {
  std::array<uint8_t, 5> buffer{};
  ByteWriter writer{std::span<uint8_t>(buffer)};
  writer.u32(0xAABBCCDD);
  writer.u16(0x1122);  // would need 6 bytes
  writer.u8(0x33);     // would fit, but the writer has already failed
  EXPECT_FALSE(writer.ok());
  EXPECT_EQ(writer.written(), 4u);
  EXPECT_EQ(buffer, (std::array<uint8_t, 5>{0xAA, 0xBB, 0xCC, 0xDD, 0x00}));
}

TEST(ByteWriter, TextLongerThanItsFieldIsCut) {
  std::vector<uint8_t> out;
  ByteWriter writer(out);
  writer.text("abcdef", 3);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(ByteReader, ReadsEveryWidthAndTracksPosition) {
  const std::vector<uint8_t> in = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                   0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12};
  ByteReader reader(in);
  EXPECT_EQ(reader.u8(), 0x01);
  EXPECT_EQ(reader.u16(), 0x0203);
  EXPECT_EQ(reader.u24(), 0x040506u);
  EXPECT_EQ(reader.u32(), 0x0708090Au);
  EXPECT_EQ(reader.u64(), 0x0B0C0D0E0F101112u);
  EXPECT_EQ(reader.remaining(), 0u);
  EXPECT_TRUE(reader.ok());
}

TEST(ByteReader, ReadPastTheEndFailsForGoodWithoutConsuming) {
  const std::vector<uint8_t> in = {0x01, 0x02, 0x03};
  ByteReader reader(in);
  EXPECT_EQ(reader.u32(), 0u);
  EXPECT_FALSE(reader.ok());
  EXPECT_EQ(reader.position(), 0u);
  EXPECT_EQ(reader.u8(), 0u) << "a failed reader must not start reading again";
  EXPECT_TRUE(reader.bytes(1).empty());
  reader.seek(0);
  EXPECT_FALSE(reader.ok());
}

TEST(ByteReader, TextStopsAtFirstNulOrFieldEnd) {
  const std::vector<uint8_t> in = {'c', 'a', 'm', 0, 'x', 'f', 'u', 'l', 'l'};
  ByteReader reader(in);
  EXPECT_EQ(reader.text(5), "cam");
  EXPECT_EQ(reader.text(4), "full");
  EXPECT_TRUE(reader.ok());
  EXPECT_EQ(reader.text(1), "");
  EXPECT_FALSE(reader.ok());
}

TEST(ByteReader, BytesAreAViewIntoTheInput) {
  const std::vector<uint8_t> in = {9, 8, 7, 6};
  ByteReader reader(in);
  reader.skip(1);
  const std::span<const uint8_t> view = reader.bytes(2);
  ASSERT_EQ(view.size(), 2u);
  EXPECT_EQ(view.data(), in.data() + 1);
  reader.seek(4);
  EXPECT_TRUE(reader.ok());
  EXPECT_TRUE(reader.rest().empty());
  reader.seek(5);
  EXPECT_FALSE(reader.ok());
}

}  // namespace
