// Tests of the sensor objects: factory, sensor table, capabilities, ROI limits and frame sizes.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "log_capture.h"
#include <hlv_thread/note.h>

#include "sensors/lince_operations.h"
#include "sensors/lupa_operations.h"
#include "sensors/lux19hs_operations.h"

using namespace halvex::registers;
using namespace halvex::sensors;

namespace {

constexpr uint32_t lince = 0x414C3543; // "AL5C"
constexpr uint32_t lupa = 0x4C31334D;  // "L13M"
constexpr uint32_t lux13 = 0x58334843; // "X3HC"
constexpr uint32_t lux19 = 0x5839484D; // "X9HM"

std::unique_ptr<SensorOperations> build(uint32_t code, std::string* log = nullptr)
{
    hx_test::LogCapture capture;
    auto sensor = SensorOperations::factory(code);
    for (const auto& line : capture.lines()) {
        if (log) {
            *log += line + "\n";
        }
    }
    return sensor;
}

TEST(SensorFactory, BuildsTheClassOfEveryCodeAndLogsWhyOthersFail)
{
    struct Case {
        uint32_t code;
        const std::type_info* expected; // null: no object, logText says why
        bool colour;
        const char* logText;
    };
    const Case cases[] = {
        {0x414C3543, &typeid(LinceOperations), true, nullptr},
        {0x414C354D, &typeid(LinceOperations), false, nullptr},
        {0x4C313343, &typeid(LupaOperations), true, nullptr},
        {0x4C31334D, &typeid(LupaOperations), false, nullptr},
        {0x58334843, &typeid(Lux13HSOperations), true, nullptr},
        {0x5833484D, &typeid(Lux13HSOperations), false, nullptr},
        {0x58394843, &typeid(Lux19HSOperations), true, nullptr},
        {0x5839484D, &typeid(Lux19HSOperations), false, nullptr},
        {0x58363043, nullptr, false, "Sensor type not supported [0x58363043]"},
        {0x5836304D, nullptr, false, "Sensor type not supported [0x5836304D]"},
        {0x00000000, nullptr, false, "Halvex Exception during sensor operations for 00000000:\n"},
        {0x414C3544, nullptr, false, "Unknown sensor type [0x414C3544]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code);
        std::string log;
        auto sensor = build(c.code, &log);
        if (c.expected) {
            ASSERT_NE(sensor, nullptr);
            const SensorOperations& built = *sensor;
            EXPECT_EQ(typeid(built), *c.expected);
            EXPECT_EQ(sensor->sensorType(), c.code);
            EXPECT_EQ(sensor->isColour(), c.colour);
            EXPECT_EQ(sensor->flag(), 1);
            continue;
        }
        EXPECT_EQ(sensor, nullptr);
        EXPECT_NE(log.find(c.logText), std::string::npos) << log;
        bool unsupported = (c.code >> 8) == 0x583630;
        EXPECT_EQ(log.find("Unknown sensor type") == std::string::npos, unsupported) << log;
    }
}

// Bit, binning and FPN capabilities are checked end to end against the stand-in camera's own
// sensor table (tests/e2e/capture); the gain caps and the cached registers are the library's alone.
TEST(SensorCapabilities, GainAndCachedRegisters)
{
    const std::pair<uint32_t, uint32_t> gains[] = {{lince, 0x45}, {lupa, 0x5F}, {lux13, 0x1}, {lux19, 0x1}};
    const std::vector<uint32_t> common{0xA020, 0xA024, 0xC020, 0xC054, 0xC058, 0xD300, 0xD304, 0xE830, 0xE84C};
    for (const auto& [code, gain] : gains) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        auto sensor = build(code);
        EXPECT_EQ(sensor->analogGainCapabilities(), gain);
        EXPECT_EQ(sensor->minFrameRate(), 24u);
        EXPECT_EQ(sensor->frameRateStep(), 1u);
        // LUPA's frame rate depends on the X offset, so it caches that register too.
        std::vector<uint32_t> registers = common;
        if (code == lupa) {
            registers.push_back(0xE81C);
        }
        EXPECT_EQ(sensor->registerList(), registers);
    }
}

TEST(SensorRoiLimits, ComeFromTheCacheWithFixedSteps)
{
    for (uint32_t code : {lince, lupa, lux13, lux19}) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        auto sensor = build(code);
        RegisterCache regs{{0xA020, 2560}, {0xA024, 2048}, {0xC054, 64}, {0xC058, 2}, {0xD300, 1280}, {0xD304, 1000}};
        EXPECT_EQ(sensor->maxWidth(regs), 2560u);
        EXPECT_EQ(sensor->minWidth(regs), 64u);
        EXPECT_EQ(sensor->widthStep(), 4u);
        EXPECT_EQ(sensor->maxHeight(regs), 2048u);
        EXPECT_EQ(sensor->minHeight(regs), 2u);
        EXPECT_EQ(sensor->heightStep(), 2u);
        EXPECT_EQ(sensor->maxXOffset(regs), 1280u);
        EXPECT_EQ(sensor->minXOffset(), 0u);
        EXPECT_EQ(sensor->xOffsetStep(), 4u);
        EXPECT_EQ(sensor->maxYOffset(regs), 1048u);
        EXPECT_EQ(sensor->minYOffset(), 0u);
        EXPECT_EQ(sensor->yOffsetStep(), 2u);
        // A binned ROI may exceed the unbinned maximum: no room left, not a wrapped-around offset.
        regs[0xD300] = 2564;
        regs[0xD304] = 2050;
        EXPECT_EQ(sensor->maxXOffset(regs), 0u);
        EXPECT_EQ(sensor->maxYOffset(regs), 0u);
    }
}

TEST(SensorFrameSize, PacksPixelsByFormat)
{
    struct Case {
        uint32_t format, width, height;
        uint64_t bytes;
    };
    const Case cases[] = {
        {48, 1280, 1024, 2097152}, // 256 groups of five pixels in 8 bytes
        {48, 1282, 1024, 2105344}, // a partial group takes a whole one
        {32, 1280, 1024, 1748992}, // 427 groups of three pixels in 4 bytes
        {3, 1281, 1024, 1748992},  {35, 3, 2, 8},
        {16, 1280, 1024, 1310720}, // one byte per pixel
        {16, 1282, 1024, 1314816}, // rows padded to four bytes
        {31, 1282, 1, 1284},       {0, 0xFFFFFFFF, 0xFFFFFFFF, 0x40000000ull * 0xFFFFFFFF * 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", " << c.width << " x " << c.height);
        RegisterCache regs{{0xC020, c.format}, {0xD300, c.width}, {0xD304, c.height}};
        EXPECT_EQ(LupaOperations(lupa).frameSize(regs), c.bytes);
    }
}

TEST(SensorFrameSize, EmptyRoiIsALogicErrorNamingItsSize)
{
    RegisterCache regs{{0xD300, 1280}, {0xD304, 0}};
    try {
        LinceOperations(lince).frameSize(regs);
        ADD_FAILURE() << "no exception";
    } catch (const halvex::thread::LogicError& e) {
        EXPECT_NE(e.str().find("Wrong W X H: 1280 X 0"), std::string::npos) << e.str();
    }
}

TEST(SensorZeroCache, EveryQueryAnswersAndRegistersTheAddressesItRead)
{
    for (uint32_t code : {lince, lupa, lux13, lux19}) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        auto sensor = build(code);
        RegisterCache regs;
        EXPECT_EQ(sensor->maxWidth(regs) + sensor->minWidth(regs) + sensor->maxHeight(regs) + sensor->minHeight(regs),
                  0u);
        EXPECT_EQ(sensor->maxXOffset(regs) + sensor->maxYOffset(regs), 0u);
        EXPECT_EQ(sensor->cachedMaxFrameRate(regs), 0u); // a ceiling never read is 0
        EXPECT_GT(sensor->maxFrameRate(0, 0, 0, 0, 0, 0xFFFFFFFF), 0u);
        EXPECT_THROW(sensor->frameSize(regs), halvex::thread::LogicError);
        for (uint32_t address :
             {0xA020u, 0xA024u, 0xC020u, 0xC054u, 0xC058u, 0xD300u, 0xD304u, 0xE81Cu, 0xE830u, 0xE84Cu}) {
            EXPECT_EQ(regs.count(address), 1u) << std::hex << address;
        }
    }
}

} // namespace
