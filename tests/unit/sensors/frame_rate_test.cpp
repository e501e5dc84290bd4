// Tests of the maximum frame rate of each sensor against rates worked out by hand from its timing.
#include <gtest/gtest.h>

#include "sensors/lince_operations.h"
#include "sensors/lupa_operations.h"
#include "sensors/lux19hs_operations.h"

using namespace halvex::registers;
using namespace halvex::sensors;

namespace {

struct RateCase {
    uint32_t width, height, xOffset, bnsMode, ceiling, rate;
    const char* why;
};

constexpr uint32_t open = 1000000; // a ceiling above every rate
constexpr uint32_t fast = 0x10000000;

void expectRates(const SensorOperations& sensor, std::initializer_list<RateCase> cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(sensor.maxFrameRate(c.width, c.height, c.xOffset, 0xDEAD, c.bnsMode, c.ceiling), c.rate);
    }
}

// Rate = clock / (d + 2 + (ceil(a / t) + rows + 8) * t), the row time t chosen by the readout
// window's columns per binning step; clock 86.4 MHz, or 72 MHz with the fast timing bit.
TEST(LinceFrameRate, FollowsTheRowTimeOfTheReadoutWindow)
{
    expectRates(LinceOperations(0x414C3543),
                {
                    {2560, 2048, 0, 0x101, open, 253, "full array: t 165, period 340430"},
                    {2560, 2048, 0, 0x101 | fast, open, 211, "full array, fast: period 340295"},
                    {2560, 2048, 0, 0x101, 200, 200, "clipped to the ceiling"},
                    {64, 100, 0, 0x101, open, 9101, "narrow window widened: t 84, period 9493"},
                    {40, 10, 256, 0x101, open, 44697, "narrow window widened: period 1933"},
                    {1280, 1000, 0, 0x101, open, 1015, "1280 columns: t 84, period 85093"},
                    {1344, 1000, 0, 0x101, open, 684, "1344 columns: t 124, period 126264"},
                    {1920, 1000, 0, 0x101, open, 684, "1920 columns: t 124"},
                    {1984, 1000, 0, 0x101, open, 643, "1984 columns: t 132, period 134344"},
                    {2048, 1000, 0, 0x101, open, 643, "2048 columns: t 132"},
                    {2112, 1000, 0, 0x101, open, 515, "2112 columns: t 165, period 167510"},
                    {1280, 1000, 0, 0x101 | fast, open, 846, "fast t 84: period 85053"},
                    {1344, 1000, 0, 0x101 | fast, open, 571, "fast t 124: period 125977"},
                    {1984, 1000, 0, 0x101 | fast, open, 537, "fast t 132: period 134057"},
                    {1280, 1000, 0, 0x201, open, 1015, "vertical binning: 2560 columns per 2 steps, t 84"},
                    {640, 1200, 0, 0x201, open, 991, "rows capped at 2048 before dividing: period 87109"},
                    {768, 100, 0, 0x102, open, 13280, "horizontal binning below 769 columns: t 52, period 6506"},
                    {768, 100, 0, 0x102 | fast, open, 11066, "t 52 ignores the fast bit but not its clock"},
                    {0, 0, 0, 0, open, 79048, "a zero binning word counts as factor 1: period 1093"},
                    // 1536 binned columns from column 1040 run past 2560: the window becomes 1024..2560,
                    // 768 per step (t 52); unshifted it would be 1024..2624, 800 per step (t 84, 9101).
                    {768, 100, 520, 0x102, open, 13280, "window shifted to end at column 2560"},
                });
}

TEST(LupaFrameRate, CountsTheColumnGroupsTheRoiTouches)
{
    expectRates(LupaOperations(0x4C313343),
                {
                    {24, 100, 0, 0, open, 33780, "one group: 63e6 / 1865"},
                    {24, 100, 48, 0, open, 33780, "one group at an aligned offset"},
                    {2, 100, 23, 0, open, 30508, "two pixels straddling two groups: 63e6 / 2065"},
                    {1280, 1024, 0, 0x202, open, 510, "54 groups, BNS ignored: 63e6 / 123345"},
                    {1280, 1024, 0, 0, 500, 500, "clipped to the ceiling"},
                    {0, 100, 0, 0, open, 33780, "empty ROI: -1 / 24 truncates to 0, one group"},
                });
}

TEST(LuxFrameRate, DependsOnlyOnWholeGroupsOfFourRows)
{
    expectRates(Lux13HSOperations(0x58334843),
                {
                    {1280, 1024, 0, 0, open, 3051, "256 groups: 133e6 / 43588"},
                    {4, 1026, 1000, 0x101, open, 3051, "partial group, width, offset and BNS do not count"},
                    {1280, 1028, 0, 0, open, 3039, "257 groups: 133e6 / 43756"},
                    {1280, 2, 0, 0, open, 229310, "no full group: 133e6 / 580"},
                    {1280, 2, 0, 0, 100000, 100000, "clipped to the ceiling"},
                });
    expectRates(Lux19HSOperations(0x5839484D),
                {
                    {1280, 1024, 0, 0, open, 2634, "256 groups: 87.5e6 / 33208"},
                    {1280, 1027, 0, 0, open, 2634, "partial group does not count"},
                    {1280, 1028, 0, 0, open, 2624, "257 groups: 87.5e6 / 33336"},
                    {1280, 0, 0, 0, open, 198863, "no rows: 87.5e6 / 440"},
                    {1280, 1024, 0, 0, 1000, 1000, "clipped to the ceiling"},
                    {0, 0xFFFFFFFF, 0, 0, open, 0, "a period beyond 32 bits does not wrap"},
                });
}

TEST(SensorFrameRate, CachedRoiFeedsTheFormula)
{
    LupaOperations sensor(0x4C313343);
    RegisterCache regs{{0xD300, 2}, {0xD304, 100}, {0xE81C, 23}, {0xE84C, 0x101}, {0xE830, 30000}};
    EXPECT_EQ(sensor.cachedMaxFrameRate(regs), 30000u);
    regs[0xE830] = open;
    EXPECT_EQ(sensor.cachedMaxFrameRate(regs), 30508u);
}

} // namespace
