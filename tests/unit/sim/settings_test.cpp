// Power-up register values and the capture-setting constraints the camera enforces.
#include <gtest/gtest.h>

#include "core_harness.h"
#include "sim/device/register_defaults.h"
#include "sim/registers/capture_rules.h"

using namespace hxsim;
using namespace hxsim_test;
using namespace halvex::registers;

namespace {

CameraConfig withSensor(const char* name, uint64_t memory = uint64_t{8} << 30)
{
    CameraConfig config;
    config.sensor = *SensorModel::fromName(name);
    config.memoryBytes = memory;
    return config;
}

} // namespace

TEST(SimDefaults, ImagingRegistersAreConsistentForEverySensorAndMemory)
{
    for (const char* sensor : {"lince", "lupa-mono", "lux13hs", "lux19hs", "x60"}) {
        for (uint64_t memory : {uint64_t{256} << 20, uint64_t{8} << 30, uint64_t{63} << 30}) {
            SCOPED_TRACE(std::string(sensor) + " " + std::to_string(memory >> 20) + " MiB");
            const CameraConfig config = withSensor(sensor, memory);
            ASSERT_EQ(config.validate(), "");
            const RegisterFile regs = defaultRegisters(config);
            const CaptureRules rules(config.sensor, true);
            for (uint32_t address :
                 {GIGE_REG_SENSOR_WIDTH_MAX, GIGE_REG_SENSOR_HEIGHT_MAX, GIGE_REG_SENSOR_WIDTH_MIN,
                  GIGE_REG_SENSOR_HEIGHT_MIN, GIGE_REG_ROI_WIDTH, GIGE_REG_ROI_HEIGHT, GIGE_REG_FRAME_RATE,
                  GIGE_REG_FRAME_RATE_LIMIT, GIGE_REG_EXPOSURE, GIGE_REG_EXPOSURE_MIN, GIGE_REG_EXPOSURE_OVERHEAD,
                  GIGE_REG_IMAGE_MEM_BASE, GIGE_REG_IMAGE_MEM_LIMIT, GIGE_REG_IMAGE_MEM_END, GIGE_REG_IMAGE_MEM_PAGES,
                  GIGE_REG_SENSOR_TYPE}) {
                EXPECT_NE(regs.get(address), 0u) << registerName(address);
            }
            const uint32_t base = regs.get(GIGE_REG_IMAGE_MEM_BASE);
            const uint32_t room = regs.get(GIGE_REG_IMAGE_MEM_LIMIT) - regs.get(GIGE_REG_IMAGE_MEM_RESERVE);
            EXPECT_EQ(base % 0x1000000, 0u);
            EXPECT_EQ(room % 0x1000000, 0u);
            EXPECT_EQ(uint64_t{room - base} * 16, memory);
            EXPECT_LT(regs.get(GIGE_REG_EXPOSURE_OVERHEAD), 8000u);
            EXPECT_LE(regs.get(GIGE_REG_FRAME_RATE), rules.maxFrameRate(regs));
            EXPECT_GE(regs.get(GIGE_REG_FRAME_RATE), 24u);
            EXPECT_LE(regs.get(GIGE_REG_EXPOSURE), rules.maxExposure(regs));
            EXPECT_GT(rules.recordLength(regs), 0u);
            EXPECT_EQ(rules.recordLength(regs), rules.lengthMax(regs)) << "the default area is the whole memory";
        }
    }
}

TEST(SimDefaults, FamilyDecidesTheExtraRegisters)
{
    CameraConfig morvane;
    morvane.model = "hxsim qM";
    const RegisterFile regs = defaultRegisters(morvane);
    EXPECT_EQ(regs.get(GIGE_REG_SAVE_STATE), 0x80000000u);
    EXPECT_TRUE(regs.has(GIGE_REG_PROGRESS));
    EXPECT_FALSE(defaultRegisters(CameraConfig{}).has(GIGE_REG_SAVE_STATE));
    EXPECT_EQ(defaultRegisters(withSensor("lupa-mono")).get(GIGE_REG_SENSOR_TYPE), 0x4C31334Du);
    EXPECT_EQ(defaultRegisters(withSensor("x60")).get(GIGE_REG_SENSOR_TYPE), 0x58363043u);
}

TEST(SimDefaults, ConfigurationsThatWouldConfuseHostsAreRefused)
{
    CameraConfig config;
    EXPECT_EQ(config.validate(), "");
    config.userName = "rig-qT";
    EXPECT_NE(config.validate().find("family code"), std::string::npos);
    config = CameraConfig{};
    config.userName = "a-name-of-16-chr";
    EXPECT_NE(config.validate(), "");
    config = CameraConfig{};
    config.memoryBytes = (uint64_t{256} << 20) + 1;
    EXPECT_NE(config.validate(), "");
    config.memoryBytes = uint64_t{64} << 30;
    EXPECT_NE(config.validate(), "");
}

TEST(SimConstraints, RoiAndRateAreClampedSoHostsSeeTheChange)
{
    CoreHarness cam; // Lince, 2560 x 2048
    cam.gatedWrite({{GIGE_REG_ROI_WIDTH, 3000}, {GIGE_REG_ROI_HEIGHT, 7}, {GIGE_REG_ROI_X_OFFSET, 13}});
    EXPECT_EQ(cam.reg(GIGE_REG_ROI_WIDTH), 2560u);
    EXPECT_EQ(cam.reg(GIGE_REG_ROI_HEIGHT), 8u);
    EXPECT_EQ(cam.reg(GIGE_REG_ROI_X_OFFSET), 0u) << "no room left beside a full-width ROI";
    cam.gatedWrite({{GIGE_REG_ROI_WIDTH, 1022}, {GIGE_REG_ROI_X_OFFSET, 13}});
    EXPECT_EQ(cam.reg(GIGE_REG_ROI_WIDTH), 1020u);
    EXPECT_EQ(cam.reg(GIGE_REG_ROI_X_OFFSET), 12u);

    // Full sensor: the Lince timing allows 253 frames per second.
    cam.gatedWrite({{GIGE_REG_ROI_WIDTH, 2560}, {GIGE_REG_ROI_HEIGHT, 2048}, {GIGE_REG_FRAME_RATE, 5000}});
    EXPECT_EQ(cam.reg(GIGE_REG_FRAME_RATE), 253u);
    cam.gatedWrite({{GIGE_REG_FRAME_RATE, 3}});
    EXPECT_EQ(cam.reg(GIGE_REG_FRAME_RATE), 24u);
    cam.gatedWrite({{GIGE_REG_EXPOSURE, 50000}});
    EXPECT_EQ(cam.reg(GIGE_REG_EXPOSURE), 1000000u / 24 - 12);
    // A faster rate shortens the frame period; the exposure follows within the same request.
    cam.gatedWrite({{GIGE_REG_FRAME_RATE, 200}});
    EXPECT_EQ(cam.reg(GIGE_REG_EXPOSURE), 1000000u / 200 - 12);
}

TEST(SimConstraints, ModesTranslateOrStayWhenNotOffered)
{
    CoreHarness cam;
    const std::pair<uint32_t, uint32_t> modes[] = {
        {0, 0}, {2, 1u << 27}, {3, 1u << 31}, {4, (1u << 31) | (1u << 29)}, {5, (1u << 31) | (1u << 28)}};
    for (auto [mode, bits] : modes) {
        cam.gatedWrite({{GIGE_REG_RECORD_MODE, mode}});
        EXPECT_EQ(cam.reg(GIGE_REG_RECORD_MODE), bits) << "mode " << mode;
    }
    cam.gatedWrite({{GIGE_REG_RECORD_MODE, 1}});
    EXPECT_EQ(cam.reg(GIGE_REG_RECORD_MODE), (1u << 31) | (1u << 28)) << "unknown modes change nothing";

    cam.gatedWrite({{GIGE_REG_PIXEL_FORMAT, 48}, {GIGE_REG_BNS_MODE, 0x202}});
    EXPECT_EQ(cam.reg(GIGE_REG_PIXEL_FORMAT), 48u);
    EXPECT_EQ(cam.reg(GIGE_REG_BNS_MODE), 0x202u);
    CoreHarness lupa(withSensor("lupa"));
    lupa.gatedWrite({{GIGE_REG_PIXEL_FORMAT, 48}, {GIGE_REG_BNS_MODE, 0x202}, {GIGE_REG_ANALOG_GAIN, 350}});
    EXPECT_EQ(lupa.reg(GIGE_REG_PIXEL_FORMAT), 16u) << "LUPA offers no 12-bit mode";
    EXPECT_EQ(lupa.reg(GIGE_REG_BNS_MODE), 0x101u);
    EXPECT_EQ(lupa.reg(GIGE_REG_ANALOG_GAIN), 100u) << "LUPA offers no gain of 3.5";
}

TEST(SimConstraints, AnalogGainFlagDependsOnFirmware)
{
    CoreHarness recent; // firmware 2.6.0
    recent.gatedWrite({{GIGE_REG_ANALOG_GAIN, 400 | (1u << 31)}});
    EXPECT_EQ(recent.reg(GIGE_REG_ANALOG_GAIN), 400u);
    CameraConfig config;
    config.firmware = "2.5.1";
    CoreHarness older(config);
    older.gatedWrite({{GIGE_REG_ANALOG_GAIN, 400 | (1u << 31)}});
    EXPECT_EQ(older.reg(GIGE_REG_ANALOG_GAIN), 100u) << "to older firmware the flag is part of the value";
    older.gatedWrite({{GIGE_REG_ANALOG_GAIN, 200}});
    EXPECT_EQ(older.reg(GIGE_REG_ANALOG_GAIN), 200u);
}

TEST(SimConstraints, RecordLengthFollowsMemoryAndTriggerStaysInside)
{
    CoreHarness cam(withSensor("lince", uint64_t{1} << 30));
    const CaptureRules rules(SensorModel::fromCode(0x414C3543), true);
    cam.gatedWrite({{GIGE_REG_ROI_WIDTH, 1280}, {GIGE_REG_ROI_HEIGHT, 1024}});
    // 1280 x 1024 at eight bits: 1310720 bytes, 81922 units of 16 bytes with the frame header.
    const uint32_t capacity = static_cast<uint32_t>((uint64_t{1} << 30) / 16 / 81922);
    EXPECT_EQ(rules.recordLength(cam.core.device().registers()), capacity);
    // An end segment within the area shortens the recording to what fits below it.
    cam.gatedWrite({{GIGE_REG_RECORD_END_SEGMENT, 3}});
    EXPECT_EQ(rules.recordLength(cam.core.device().registers()), 0x1000000u / 81922);
    cam.gatedWrite({{GIGE_REG_RECORD_END_SEGMENT, 0xFF}});
    EXPECT_EQ(cam.reg(GIGE_REG_RECORD_END_SEGMENT), 6u) << "1 GiB from segment 2 ends at segment 6";
    cam.gatedWrite({{GIGE_REG_TRIGGER_POSITION, 0x80000000u | 999999}});
    EXPECT_EQ(cam.reg(GIGE_REG_TRIGGER_POSITION), 0x80000000u | capacity);
    cam.gatedWrite({{GIGE_REG_TRIGGER_POSITION, 250}});
    EXPECT_EQ(cam.reg(GIGE_REG_TRIGGER_POSITION), 100u) << "a percentage stops at 100";
    cam.gatedWrite({{GIGE_REG_RECORD_MODE, 2}, {GIGE_REG_BROC_LENGTH, 3}});
    EXPECT_EQ(cam.reg(GIGE_REG_BROC_LENGTH), 10u);
}
