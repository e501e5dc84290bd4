// Capture settings rules: encodings, image memory arithmetic, validation into register writes,
// the record computed from the caches, and the merge. Values worked out by hand from the
// encoding tables and the sensor's frame-rate formula.
#include <gtest/gtest.h>

#include "fake_camera.h"
#include "log_capture.h"
#include <hlv_thread/note.h>

#include "family/capture.h"
#include "family/capture_validator.h"
#include "record_fields.h"
#include "registers/register_map.h"

using namespace halvex::sensors;
using namespace halvex::wire;

using namespace halvex::registers;
using namespace halvex::family::capture;

namespace {

using hx_test::setField;

constexpr uint32_t LUX19HS_MONO = 0x5839484D;

// The caches of a LUX19HS camera at 2048 x 1024, 8-bit, with 0x4000000 units (1 GiB) of image
// memory from a base of 0x2000000 and a reserve of 0x1000000, at 2000 fps. One frame takes
// 2097152 bytes = 131074 units, so the memory holds 511 frames.
struct Camera {
    std::unique_ptr<SensorOperations> sensor = SensorOperations::factory(LUX19HS_MONO);
    RegisterCache sensorRegs = hx_test::lux19hsSensorGroup();
    RegisterCache captureRegs = hx_test::lux19hsCaptureGroup();

    CaptureWrites validate(HX_CAPTURE_SETTINGS& record, RateEncoding encoding = RateEncoding::WholeFrames)
    {
        return CaptureValidator(*sensor, sensorRegs, captureRegs, "127.0.0.2", encoding).validate(record);
    }

    HX_CAPTURE_SETTINGS compute(RateEncoding encoding = RateEncoding::WholeFrames)
    {
        HX_CAPTURE_SETTINGS record = freshRecord();
        computeCapture(*sensor, sensorRegs, captureRegs, "127.0.0.2", record, encoding);
        return record;
    }

    static HX_CAPTURE_SETTINGS freshRecord()
    {
        HX_CAPTURE_SETTINGS record;
        HX_capture_settings_init(&record, sizeof(record));
        return record;
    }
};

constexpr uint32_t SET = HX_FLAG_SET;

bool refused(uint32_t flags)
{
    return (flags & HX_FLAG_ERR) != 0;
}

TEST(CaptureEncodings, RecordValuesTranslateToCameraCodesAndBack)
{
    const std::vector<std::pair<uint32_t, uint32_t>> bitModes{
        {0x1, 16}, {0x2, 17}, {0x4, 18}, {0x8, 19}, {0x10, 20}, {0x20, 32}, {0x40, 33}, {0x80, 35}, {0x100, 48}};
    for (const auto& [mode, code] : bitModes) {
        EXPECT_EQ(bitModeToRegister(mode), code) << mode;
    }
    EXPECT_FALSE(bitModeToRegister(0x3));
    // Every mode written reads back as itself, and the camera codes no write produces (older
    // firmware's, or unknown) read as the mode they stand for.
    for (const auto& [mode, code] : bitModes) {
        EXPECT_EQ(bitModeFromRegister(code), mode) << code;
    }
    for (uint32_t mode = 1; mode <= 0x20; mode <<= 1) {
        if (const std::optional<uint32_t> code = bnsModeToRegister(mode)) {
            EXPECT_EQ(bnsModeFromRegister(*code), mode) << mode;
        }
    }
    EXPECT_EQ(bitModeFromRegister(0), 0x1u);
    EXPECT_EQ(bitModeFromRegister(1), 0x4u);
    EXPECT_EQ(bitModeFromRegister(3), 0x20u);
    EXPECT_EQ(bitModeFromRegister(99), 0x10u) << "an unknown code";

    EXPECT_EQ(bnsModeToRegister(0x20), 0x202u);
    EXPECT_EQ(bnsModeToRegister(0x10), 0x401u);
    EXPECT_FALSE(bnsModeToRegister(0x40));
    EXPECT_EQ(bnsModeFromRegister(0x201), 0x8u);
    EXPECT_EQ(bnsModeFromRegister(0x104), 0x4u);
    EXPECT_EQ(bnsModeFromRegister(0x303), 0x1u);

    EXPECT_EQ(fpnModeToRegister(0x4), 4u);
    EXPECT_FALSE(fpnModeToRegister(0x10));
    EXPECT_EQ(fpnModeFromRegister(0), 0x1u);
    EXPECT_EQ(fpnModeFromRegister(5), 0x2u);
    EXPECT_EQ(fpnModeFromRegister(4), 0x4u);
    EXPECT_EQ(fpnModeFromRegister(0x14), 0xCu);

    EXPECT_EQ(recordModeFromRegister(0), 0u);
    EXPECT_EQ(recordModeFromRegister(1u << 27), 2u);
    EXPECT_EQ(recordModeFromRegister(1u << 31), 3u);
    EXPECT_EQ(recordModeFromRegister((1u << 31) | (1u << 29)), 4u);
    EXPECT_EQ(recordModeFromRegister((1u << 31) | (1u << 29) | (1u << 28)), 5u);
    EXPECT_TRUE(isRecordMode(5));
    EXPECT_FALSE(isRecordMode(1));

    EXPECT_EQ(analogGainFromRegister(0x80000000u | 350), 0x20u);
    EXPECT_EQ(analogGainFromRegister(175), 0x1u);
    EXPECT_EQ(analogGainToRegister(0x80), 450u);

    EXPECT_DOUBLE_EQ(decodeFrameRate(0x80000000u | (30u << 16), RateEncoding::Fractional), 30.0);
    EXPECT_DOUBLE_EQ(decodeFrameRate(0x80000000u | 7, RateEncoding::WholeFrames), double(0x80000007u));
}

TEST(CaptureEncodings, VersionsCompareComponentByComponent)
{
    EXPECT_EQ(compareVersions("2.5.10", "2.5.2"), 1);
    EXPECT_EQ(compareVersions("2.4.9", "2.5.2"), -1);
    EXPECT_EQ(compareVersions("", "2.5.2"), -1);
    EXPECT_EQ(compareVersions("2.5", "2.5.0"), 0);
    EXPECT_EQ(compareVersions(std::string("2.5.2\0"
                                          "9",
                                          7),
                              "2.5.2"),
              0);
}

TEST(ImageMemory, FramesSegmentsAndPages)
{
    Camera camera;
    const ImageMemory memory(camera.captureRegs, 2097152);
    EXPECT_EQ(memory.frameUnits(), 131074u);
    EXPECT_EQ(memory.frameCapacity(0x4000000), 511u);
    EXPECT_EQ(memory.lengthMax(), 511u);
    EXPECT_EQ(memory.room(), 0x6000000u);
    // 100 frames end at 0x2C7FDC8, rounded up to the next segment.
    EXPECT_EQ(memory.memoryEnd(100), 0x3000000u);
    EXPECT_EQ(memory.memoryEnd(400), 0x6000000u);

    camera.captureRegs[GIGE_REG_RECORD_MODE] = 1u << 31;
    // 3000000 bytes take 733 pages; 262144 pages hold 357 frames, kept to a multiple of 128.
    EXPECT_EQ(ImageMemory(camera.captureRegs, 3000000).frameCapacity(1), 256u);

    try {
        ImageMemory(camera.captureRegs, 0).frameCapacity(0x4000000);
        FAIL() << "a 0-byte frame must not give a capacity";
    } catch (const halvex::thread::LogicError& error) {
        EXPECT_NE(error.str().find("Computed 0-length frame"), std::string::npos);
    }
}

TEST(CaptureValidation, WriteOrderKeepsBatchPairsAroundRecordPairsOnly)
{
    Camera camera;
    HX_CAPTURE_SETTINGS exposureOnly = Camera::freshRecord();
    exposureOnly.exposure_group_flags = SET;
    setField(exposureOnly.exposure, exposureOnly.exposure_flags, 300);
    EXPECT_EQ(camera.validate(exposureOnly).ordered(),
              (RegisterPairs{{GIGE_REG_SETTINGS_BATCH, 1}, {GIGE_REG_EXPOSURE, 300}, {GIGE_REG_SETTINGS_BATCH, 0}}));

    HX_CAPTURE_SETTINGS triggerOnly = Camera::freshRecord();
    triggerOnly.record_group_flags = SET;
    setField(triggerOnly.trigger, triggerOnly.trigger_flags, 20);
    EXPECT_EQ(camera.validate(triggerOnly).ordered(), (RegisterPairs{{GIGE_REG_TRIGGER_POSITION, 0x80000014}}));

    // A field asked for in a section that is not: nothing to write.
    HX_CAPTURE_SETTINGS sectionClear = Camera::freshRecord();
    setField(sectionClear.width, sectionClear.width_flags, 1024);
    EXPECT_TRUE(camera.validate(sectionClear).empty());
}

TEST(CaptureValidation, SensorFieldsFollowTheEncodingTablesAndTheRoiLimits)
{
    Camera camera;
    HX_CAPTURE_SETTINGS record = Camera::freshRecord();
    record.sensor_group_flags = SET;
    // Modes the sensor does not list among its capabilities still go to the camera, which decides.
    setField(record.bit_mode, record.bit_mode_flags, HX_BIT_MODE_8D); // the LUX19HS lists 0x27 only
    setField(record.fpn_mode, record.fpn_mode_flags, HX_FPN_MODE_A);  // listed: off and B
    setField(record.width, record.width_flags, 1024);
    setField(record.height, record.height_flags, 1021);     // off the height step
    setField(record.x_offset, record.x_offset_flags, 1024); // fits beside the new width of 1024
    // The height in force stays the camera's 1024, which leaves no room.
    setField(record.y_offset, record.y_offset_flags, 2);
    hx_test::LogCapture log;
    const CaptureWrites writes = camera.validate(record);

    EXPECT_FALSE(refused(record.bit_mode_flags));
    EXPECT_FALSE(refused(record.fpn_mode_flags));
    EXPECT_FALSE(refused(record.width_flags));
    EXPECT_TRUE(refused(record.height_flags));
    EXPECT_FALSE(refused(record.x_offset_flags));
    EXPECT_TRUE(refused(record.y_offset_flags));
    EXPECT_TRUE(refused(record.sensor_group_flags));
    EXPECT_EQ(writes.record,
              (RegisterPairs{{GIGE_REG_PIXEL_FORMAT, 19}, {GIGE_REG_ROI_WIDTH, 1024}, {GIGE_REG_ROI_X_OFFSET, 1024}}));
    EXPECT_EQ(writes.late, (RegisterPairs{{GIGE_REG_FPN_MODE, 1}}));
    EXPECT_EQ(log.count("not offered"), 0u);
    EXPECT_EQ(log.count("ROI height not within constraints"), 1u);
    EXPECT_EQ(log.count("ROI Y offset not within constraints"), 1u);

    HX_CAPTURE_SETTINGS calibrate = Camera::freshRecord();
    calibrate.sensor_group_flags = SET;
    setField(calibrate.fpn_mode, calibrate.fpn_mode_flags, HX_FPN_MODE_CALIBRATE);
    camera.validate(calibrate);
    EXPECT_TRUE(refused(calibrate.fpn_mode_flags));
    EXPECT_EQ(log.count("FPN Calibrate is not supported!"), 1u);

    // Binning the sensor does not list is written too; values outside the tables are refused.
    HX_CAPTURE_SETTINGS modes = Camera::freshRecord();
    modes.sensor_group_flags = SET;
    setField(modes.bns_mode, modes.bns_mode_flags, HX_BNS_MODE_2X2); // the LUX19HS lists 1x1 only
    EXPECT_EQ(camera.validate(modes).record, (RegisterPairs{{GIGE_REG_BNS_MODE, 0x202}}));
    EXPECT_FALSE(refused(modes.bns_mode_flags));
    setField(modes.bit_mode, modes.bit_mode_flags, 0x3);
    setField(modes.fpn_mode, modes.fpn_mode_flags, 0x8);
    camera.validate(modes);
    EXPECT_TRUE(refused(modes.bit_mode_flags));
    EXPECT_TRUE(refused(modes.fpn_mode_flags));
    EXPECT_EQ(log.count("Bit mode is not one of HX_BIT_MODE_*"), 1u);
    EXPECT_EQ(log.count("FPN mode not within constraints"), 1u);
}

TEST(CaptureValidation, BinningLiftsTheUpperRoiLimits)
{
    Camera camera;
    HX_CAPTURE_SETTINGS record = Camera::freshRecord();
    record.sensor_group_flags = SET;
    setField(record.bns_mode, record.bns_mode_flags, HX_BNS_MODE_1X1);
    setField(record.width, record.width_flags, 4096);
    setField(record.x_offset, record.x_offset_flags, 4000);
    EXPECT_EQ(camera.validate(record).record,
              (RegisterPairs{{GIGE_REG_BNS_MODE, 0x101}, {GIGE_REG_ROI_WIDTH, 4096}, {GIGE_REG_ROI_X_OFFSET, 4000}}));
    EXPECT_EQ(record.sensor_group_flags & HX_FLAG_ERR, 0u);

    record.width = 66; // off the width step
    EXPECT_EQ(camera.validate(record).record.size(), 2u);
    EXPECT_TRUE(refused(record.width_flags));
}

TEST(CaptureValidation, FrameRateFollowsTheRequestedRoiAndRefusesAlone)
{
    Camera camera;
    HX_CAPTURE_SETTINGS record = Camera::freshRecord();
    record.record_group_flags = SET;
    setField(record.rate, record.rate_flags, 3000); // the full sensor reaches 87500000 / (256 * 128 + 440) = 2634
    record.exposure_group_flags = SET;
    setField(record.exposure, record.exposure_flags, 300);
    hx_test::LogCapture log;
    const CaptureWrites writes = camera.validate(record);
    EXPECT_TRUE(refused(record.rate_flags));
    EXPECT_TRUE(refused(record.record_group_flags));
    EXPECT_EQ(log.count("Frame rate not within constraints\n  max: 2634\n  min: 24\n  mod: 1"), 1u);
    EXPECT_EQ(writes.record, (RegisterPairs{{GIGE_REG_EXPOSURE, 300}}));

    // Half the height: 87500000 / (128 * 128 + 440) = 5200.
    HX_CAPTURE_SETTINGS halfHeight = Camera::freshRecord();
    halfHeight.sensor_group_flags = SET;
    setField(halfHeight.height, halfHeight.height_flags, 512);
    halfHeight.record_group_flags = SET;
    setField(halfHeight.rate, halfHeight.rate_flags, 5200);
    EXPECT_EQ(camera.validate(halfHeight).record,
              (RegisterPairs{{GIGE_REG_ROI_HEIGHT, 512}, {GIGE_REG_FRAME_RATE, 5200}}));

    // A divisor is folded into the rate.
    HX_CAPTURE_SETTINGS divided = Camera::freshRecord();
    divided.record_group_flags = SET;
    setField(divided.rate, divided.rate_flags, 6000);
    divided.rate_divisor = 3;
    EXPECT_EQ(camera.validate(divided).record, (RegisterPairs{{GIGE_REG_FRAME_RATE, 2000}}));
    EXPECT_EQ(divided.rate, 2000u);
    EXPECT_EQ(divided.rate_divisor, 1u);
}

TEST(CaptureValidation, FractionalRatesKeepTheCallersWords)
{
    Camera camera;
    HX_CAPTURE_SETTINGS record = Camera::freshRecord();
    record.record_group_flags = SET;
    setField(record.rate, record.rate_flags, 2997);
    record.rate_divisor = 100;
    // 29.97 frames per second times 65536, truncated, with bit 31 set.
    EXPECT_EQ(camera.validate(record, RateEncoding::Fractional).record,
              (RegisterPairs{{GIGE_REG_FRAME_RATE, 0x801DF851}}));
    EXPECT_EQ(record.rate, 2997u);
    EXPECT_EQ(record.rate_divisor, 100u);

    record.rate = 2400;
    EXPECT_EQ(camera.validate(record, RateEncoding::Fractional).record, (RegisterPairs{{GIGE_REG_FRAME_RATE, 24}}));
    record.rate = 2300; // 23 fps is below the sensor's minimum
    camera.validate(record, RateEncoding::Fractional);
    EXPECT_TRUE(refused(record.rate_flags));
    // A hostile rate is refused before it is encoded (times 65536 it fits no register word).
    record.rate = 0xFFFFFFFF;
    record.rate_divisor = 3;
    record.rate_flags = SET;
    EXPECT_TRUE(camera.validate(record, RateEncoding::Fractional).record.empty());
    EXPECT_TRUE(refused(record.rate_flags));
}

TEST(CaptureValidation, LengthEndsOnAMemorySegment)
{
    Camera camera;
    HX_CAPTURE_SETTINGS record = Camera::freshRecord();
    record.record_group_flags = SET;
    setField(record.length, record.length_flags, 100); // ends in segment 3, which holds 0x1000000 / 131074 = 127 frames
    CaptureWrites writes = camera.validate(record);
    EXPECT_EQ(writes.late, (RegisterPairs{{GIGE_REG_RECORD_END_SEGMENT, 3}}));
    EXPECT_EQ(record.length, 127u);
    EXPECT_NE(record.length_flags & HX_FLAG_CHG, 0u);

    // Fills the memory exactly: the reserve's partition byte marks "to the end".
    setField(record.length, record.length_flags, 400);
    writes = camera.validate(record);
    EXPECT_EQ(writes.late, (RegisterPairs{{GIGE_REG_RECORD_END_SEGMENT, 1}}));
    EXPECT_EQ(record.length, 511u);

    hx_test::LogCapture log;
    setField(record.length, record.length_flags, 512);
    // Checked against the whole memory, since the length was refused.
    setField(record.trigger, record.trigger_flags, 500);
    writes = camera.validate(record);
    EXPECT_TRUE(refused(record.length_flags));
    EXPECT_EQ(log.count("(512 frames @ 2097152) exceeds image memory capacity"), 1u);
    EXPECT_EQ(writes.late, (RegisterPairs{{GIGE_REG_TRIGGER_POSITION, 0x800001F4}}));

    setField(record.length, record.length_flags, 0);
    camera.validate(record);
    EXPECT_EQ(log.count("Zero record length"), 1u);
}

TEST(CaptureValidation, StartTriggerModeHasItsOwnLengthRules)
{
    Camera camera;
    HX_CAPTURE_SETTINGS record = Camera::freshRecord();
    record.record_group_flags = SET;
    setField(record.record_mode, record.record_mode_flags, HX_RECORD_MODE_LTR);
    setField(record.length, record.length_flags, 200);
    setField(record.trigger, record.trigger_flags, 0);
    CaptureWrites writes = camera.validate(record);
    EXPECT_EQ(writes.record, (RegisterPairs{{GIGE_REG_RECORD_MODE, 2}}));
    EXPECT_EQ(writes.late, (RegisterPairs{{GIGE_REG_RECORD_END_SEGMENT, 1},
                                          {GIGE_REG_BROC_LENGTH, 200},
                                          {GIGE_REG_TRIGGER_POSITION, 0x80000000}}));

    hx_test::LogCapture log;
    record.length = 9;
    record.trigger = 3;
    record.record_mode = 1;
    writes = camera.validate(record);
    EXPECT_TRUE(refused(record.record_mode_flags));
    // The mode refused, the camera's mode (standard) is in force: 9 frames are fine there.
    EXPECT_FALSE(refused(record.length_flags));

    camera.captureRegs[GIGE_REG_RECORD_MODE] = 1u << 27;
    record.record_mode_flags = 0;
    record.length = 9;
    record.trigger = 3;
    record.length_flags = SET;
    record.trigger_flags = SET;
    camera.validate(record);
    EXPECT_TRUE(refused(record.length_flags));
    EXPECT_TRUE(refused(record.trigger_flags));
    EXPECT_EQ(log.count("mode [1] is not supported!"), 1u);
    EXPECT_EQ(log.count("LTR Mode IM Broc Under Minimum Recording Length"), 1u);
    EXPECT_EQ(log.count("Trigger must be a start trigger in IM_BROC!"), 1u);
}

TEST(CaptureValidation, ExposureLimitsComeFromTheCamerasFramePeriod)
{
    Camera camera;
    HX_CAPTURE_SETTINGS record = Camera::freshRecord();
    record.exposure_group_flags = SET;
    setField(record.exposure, record.exposure_flags, 489);    // 1000000 / 2000 - 12 = 488
    setField(record.low_light, record.low_light_flags, 7987); // below 8000 - 12
    camera.validate(record);
    EXPECT_TRUE(refused(record.exposure_flags));
    EXPECT_TRUE(refused(record.low_light_flags));

    setField(record.exposure, record.exposure_flags, 488);
    setField(record.low_light, record.low_light_flags, 41654);
    CaptureWrites writes = camera.validate(record);
    EXPECT_EQ(writes.record, (RegisterPairs{{GIGE_REG_EXPOSURE, 488}}));
    EXPECT_EQ(writes.late, (RegisterPairs{{GIGE_REG_LOW_LIGHT_ENABLE, 1}, {GIGE_REG_LOW_LIGHT_EXPOSURE, 41654}}));

    record.low_light = 0;
    record.exposure_flags = 0;
    EXPECT_EQ(camera.validate(record).ordered(), (RegisterPairs{{GIGE_REG_LOW_LIGHT_ENABLE, 0}}));

    // Nothing read yet: a rate of 0 counts as the slowest rate, 1000000 / 24 - 12 = 41654.
    camera.captureRegs[GIGE_REG_FRAME_RATE] = 0;
    setField(record.exposure, record.exposure_flags, 41654);
    EXPECT_FALSE(camera.validate(record).record.empty());
}

TEST(CaptureComputation, RecordFollowsTheCaches)
{
    Camera camera;
    const HX_CAPTURE_SETTINGS record = camera.compute();
    EXPECT_EQ(record.bit_mode, 0x1u);
    EXPECT_EQ(record.bit_mode_caps, 0x27u);
    EXPECT_EQ(record.fpn_mode_caps, 0x5u);
    EXPECT_EQ(record.width, 2048u);
    EXPECT_EQ(record.width_max, 2048u);
    EXPECT_EQ(record.width_min, 64u);
    EXPECT_EQ(record.width_constr, 4u);
    EXPECT_EQ(record.x_offset_max, 0u);
    EXPECT_EQ(record.length_max, 511u);
    EXPECT_EQ(record.length, 511u); // segment 1 lies below the base: the whole memory
    EXPECT_EQ(record.trigger, 0u);
    EXPECT_EQ(record.rate, 2000u);
    EXPECT_EQ(record.rate_max, 2634u);
    EXPECT_EQ(record.rate_min, 24u);
    EXPECT_EQ(record.exposure_max, 488u);
    EXPECT_EQ(record.exposure_min, 2u);
    EXPECT_EQ(record.low_light, 0u);
    EXPECT_EQ(record.low_light_min, 7988u);
    EXPECT_EQ(record.low_light_max, 41654u);
    EXPECT_EQ(record.flags, 0u);

    camera.captureRegs[GIGE_REG_RECORD_END_SEGMENT] = 3;
    EXPECT_EQ(camera.compute().length, 127u);

    // Start-trigger mode with 101 frames: a trigger of 50 percent is frame 100 * 50 / 100.
    camera.captureRegs[GIGE_REG_RECORD_MODE] = 1u << 27;
    camera.captureRegs[GIGE_REG_BROC_LENGTH] = 101;
    camera.captureRegs[GIGE_REG_TRIGGER_POSITION] = 50;
    EXPECT_EQ(camera.compute().length, 101u);
    EXPECT_EQ(camera.compute().trigger, 50u);
    camera.captureRegs[GIGE_REG_BROC_LENGTH] = 3;
    EXPECT_EQ(camera.compute().length, 10u);

    hx_test::LogCapture log;
    camera.captureRegs[GIGE_REG_FRAME_RATE] = 0;
    EXPECT_EQ(camera.compute().rate, 24u);
    EXPECT_EQ(camera.compute().exposure_max, 41654u);
    EXPECT_GE(log.count("Camera returned 0 FPS; force to 24 FPS"), 1u);

    camera.captureRegs[GIGE_REG_FRAME_RATE] = 0x80000000u | (2997u << 16) / 100;
    const HX_CAPTURE_SETTINGS fractional = camera.compute(RateEncoding::Fractional);
    EXPECT_EQ(fractional.rate_divisor, 65536u);
    EXPECT_EQ(fractional.rate, (2997u << 16) / 100);

    camera.sensorRegs[GIGE_REG_ROI_WIDTH] = 0;
    EXPECT_THROW(camera.compute(), halvex::thread::LogicError);
}

TEST(CaptureMerge, OnlyDifferingGroupsAreCopiedAndMarked)
{
    Camera camera;
    const HX_CAPTURE_SETTINGS cached = camera.compute();
    HX_CAPTURE_SETTINGS caller = cached;
    caller.exposure_flags = SET;
    mergeCapture(cached, caller);
    EXPECT_EQ(caller.flags, 0u);
    EXPECT_EQ(caller.exposure_flags, SET);

    caller.width = 1024;
    caller.length_max = 7;
    caller.record_group_flags = SET;
    mergeCapture(cached, caller);
    EXPECT_EQ(caller.width, 2048u);
    EXPECT_EQ(caller.width_flags, HX_FLAG_CHG);
    EXPECT_EQ(caller.sensor_group_flags, HX_FLAG_CHG);
    EXPECT_EQ(caller.length_max, 511u);
    EXPECT_EQ(caller.length_flags, HX_FLAG_CHG);
    EXPECT_EQ(caller.record_group_flags, SET | HX_FLAG_CHG);
    EXPECT_EQ(caller.height_flags, 0u);
    EXPECT_EQ(caller.exposure_group_flags, 0u);
    EXPECT_EQ(caller.flags, HX_FLAG_CHG);

    caller.flags = HX_FLAG_CHG;
    caller.exposure_group_flags = HX_FLAG_ERR;
    summariseCaptureFlags(caller);
    EXPECT_EQ(caller.flags, HX_FLAG_ERR | HX_FLAG_CHG);
    clearCaptureOutcome(caller);
    EXPECT_EQ(caller.flags, 0u);
    EXPECT_EQ(caller.record_group_flags, SET);
    EXPECT_EQ(caller.exposure_flags, SET);
}

} // namespace
