// The packing library, reached the way the camera library reaches it: packed sizes for odd
// widths, refused arguments and in-place packing (hand-worked layouts: hx_internal_test.cpp).
#include <cstdint>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "hlv_internal/hlv_internal.h"
#include "packing/hx_internal.h"

using namespace halvex::packing;

namespace {

// The camera library calls through its own pointer types; they must match the exports.
static_assert(std::is_same_v<decltype(&hxConvertTiffImageData), HxInternal::ConvertTiffFunc>);
static_assert(std::is_same_v<decltype(&hxGetPackedSize), HxInternal::PackedSizeFunc>);

class PackingLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        halvex::packing::test_hooks::useModule("");
        ASSERT_NE(HxInternal::factory(), nullptr) << "libhlv_internal.so not found through the loader search";
        convert = HxInternal::getConvertTiffFuncPtr();
        packedSize = HxInternal::getPackedSizeFuncPtr();
        ASSERT_NE(convert, nullptr);
        ASSERT_NE(packedSize, nullptr);
    }

    HxInternal::ConvertTiffFunc convert = nullptr;
    HxInternal::PackedSizeFunc packedSize = nullptr;
};

TEST_F(PackingLibrary, PackedSizeRoundsEveryRowUpToWholeWords)
{
    struct SizeCase {
        uint32_t width, height, depth, bytes;
    };
    const SizeCase cases[] = {
        {1, 1, 8, 4},   {5, 3, 8, 24},  {8, 2, 8, 16},   {1, 1, 10, 4},         {7, 2, 10, 24},
        {9, 1, 10, 12}, {1, 3, 12, 24}, {11, 1, 12, 24}, {10, 2, 12, 32},       {0, 5, 8, 0},
        {5, 0, 10, 0},  {5, 5, 9, 0},   {5, 5, 16, 0},   {65536, 65536, 12, 0}, // 6.9 GB: does not fit the 32-bit
                                                                                // answer
    };
    for (const SizeCase& c : cases)
        EXPECT_EQ(packedSize(c.width, c.height, c.depth), c.bytes) << c.width << "x" << c.height << "@" << c.depth;
}

TEST_F(PackingLibrary, RefusesBadArgumentsWithoutWriting)
{
    const std::vector<uint8_t> source(64, 0x55);
    std::vector<uint8_t> destination(64, 0xEE);
    EXPECT_EQ(convert(nullptr, destination.data(), 1, 4, 4, 8), HLV_PACK_NULL_POINTER);
    EXPECT_EQ(convert(source.data(), nullptr, 1, 4, 4, 8), HLV_PACK_NULL_POINTER);
    EXPECT_EQ(convert(source.data(), destination.data(), 1, 4, 4, 9), HLV_PACK_BAD_DEPTH);
    EXPECT_EQ(convert(source.data(), destination.data(), 1, 0, 4, 10), HLV_PACK_BAD_SIZE);
    EXPECT_EQ(convert(source.data(), destination.data(), 1, 65536, 65536, 12), HLV_PACK_BAD_SIZE);
    EXPECT_EQ(destination, std::vector<uint8_t>(64, 0xEE));
}

// The packed image replaces the file it came from; at depth 8 with a width of 1 every row grows
// from one byte to four, so packing in place overtakes input it has not read yet.
TEST_F(PackingLibrary, PacksInPlaceOverItsOwnInput)
{
    std::vector<uint8_t> buffer(16, 0);
    const std::vector<uint8_t> samples = {0x11, 0x22, 0x33, 0x44};
    std::copy(samples.begin(), samples.end(), buffer.begin() + 2);
    ASSERT_EQ(convert(buffer.data() + 2, buffer.data(), 0, 1, 4, 8), HLV_PACK_OK);
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0x11, 0, 0, 0, 0x22, 0, 0, 0, 0x33, 0, 0, 0, 0x44, 0, 0, 0}));
}

} // namespace
