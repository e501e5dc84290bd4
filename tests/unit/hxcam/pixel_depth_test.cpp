// The tools unpack frames by their own table of pixel depths: it must agree with the one the
// library packs them by, for every bit mode and for values that are none.
#include <gtest/gtest.h>

#include "pixel_depth.h"
#include "registers/bit_modes.h"

namespace {

TEST(PixelDepth, AgreesWithTheLibraryForEveryBitAndNonMode)
{
    int modes = 0;
    for (uint32_t bit = 0; bit < 32; ++bit) {
        const uint32_t mode = 1u << bit;
        EXPECT_EQ(halvex::common::bitModeDepth(mode), halvex::registers::bitModeDepth(mode)) << "bit mode " << mode;
        modes += halvex::common::bitModeDepth(mode) != 0 ? 1 : 0;
    }
    EXPECT_EQ(modes, 9) << "every bit mode of the public header has a depth";
    for (uint32_t value : {0u, 3u, 0x180u, 0xffffffffu})
        EXPECT_EQ(halvex::common::bitModeDepth(value), 0u) << "value " << value;
}

} // namespace
