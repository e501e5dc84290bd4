// Input/output settings of the first family without a camera: the register edits each section
// makes, the refusals, the record read back from the registers, and the merge.
#include <gtest/gtest.h>

#include "log_capture.h"

#include "family/io_settings.h"
#include "record_fields.h"
#include "registers/register_map.h"

using namespace halvex::wire;

using namespace halvex::registers;

namespace {

using hx_test::setField;

constexpr uint32_t SET = HX_FLAG_SET;
constexpr uint32_t ERR = HX_FLAG_ERR;

// The camera's power-up values: trigger output mode 0x10 with a 2000 microsecond pulse.
RegisterCache cameraRegisters()
{
    return {
        {GIGE_REG_TRIGGER_IN_ENABLE, 0}, {GIGE_REG_TRIGGER_IN_EDGE, 0}, {GIGE_REG_TRIGGER_OUT, (2000u << 16) | 0x10},
        {GIGE_REG_SYNC_IN, 0},           {GIGE_REG_SYNC_IN_RATE, 0},    {GIGE_REG_IO_E8FC, 0},
        {GIGE_REG_SYNC_OUT, 0x2},        {GIGE_REG_IO_E954, 0},         {GIGE_REG_IO_E958, 0},
        {GIGE_REG_IO_A03C, 0},           {GIGE_REG_IO_E95C, 0x10}};
}

// A record as read from those registers, so that the limits are the camera's.
HX_IO_SETTINGS readBack(const RegisterCache& io, uint32_t frameRate = 1000)
{
    HX_IO_SETTINGS record;
    HX_io_settings_init(&record, sizeof(record));
    halvex::family::io_settings::computeIo(io, frameRate, record);
    return record;
}

} // namespace

TEST(IoSettings, TriggerSectionsEditOnlyTheFieldsAskedFor)
{
    const RegisterCache io = cameraRegisters();
    HX_IO_SETTINGS record = readBack(io);
    record.trigger_in_group_flags = SET;
    setField(record.trigger_in_enable, record.trigger_in_enable_flags, 0); // off: the camera's disable bit is set
    record.trigger_in_edge = 7;                                            // rising, and not asked for
    record.trigger_out_group_flags = SET;
    setField(record.trigger_out_enable, record.trigger_out_enable_flags, 1);
    setField(record.trigger_out_invert, record.trigger_out_invert_flags, 1);
    setField(record.trigger_out_pulse_width, record.trigger_out_pulse_width_flags, 5);
    EXPECT_EQ(halvex::family::io_settings::validateIo(record, io),
              (RegisterPairs{{GIGE_REG_TRIGGER_IN_ENABLE, 1}, {GIGE_REG_TRIGGER_OUT, (5000u << 16) | 0x31}}));

    // Active low wins over inversion in the shared mode field; pass through keeps its bit.
    setField(record.trigger_out_active_low, record.trigger_out_active_low_flags, 1);
    record.trigger_out_pulse_width_flags = 0;
    setField(record.trigger_out_pass_thru, record.trigger_out_pass_thru_flags, 1);
    EXPECT_EQ(halvex::family::io_settings::validateIo(record, io),
              (RegisterPairs{{GIGE_REG_TRIGGER_IN_ENABLE, 1}, {GIGE_REG_TRIGGER_OUT, (2000u << 16) | 0x23}}));

    // Nothing is written for sections that are not marked.
    HX_IO_SETTINGS unmarked = readBack(io);
    setField(unmarked.trigger_out_enable, unmarked.trigger_out_enable_flags, 1);
    EXPECT_TRUE(halvex::family::io_settings::validateIo(unmarked, io).empty());
}

TEST(IoSettings, RefusedFieldsAreMarkedAndTheOthersStillWritten)
{
    hx_test::LogCapture log;
    const RegisterCache io = cameraRegisters();
    HX_IO_SETTINGS record = readBack(io);
    record.trigger_out_group_flags = SET;
    record.trigger_out_pass_thru = 1; // the record says pass through: no pulse width
    setField(record.trigger_out_pulse_width, record.trigger_out_pulse_width_flags, 3);
    record.sync_in_group_flags = SET;
    record.sync_in_ppf = HX_SYNC_PER_FRAME;
    setField(record.sync_in_master_rate, record.sync_in_master_rate_flags, 19);
    setField(record.sync_in_divisor, record.sync_in_divisor_flags, 4);
    record.sync_out_group_flags = SET;
    setField(record.sync_out_source, record.sync_out_source_flags, 3);
    setField(record.sync_out_enable, record.sync_out_enable_flags, 1);

    const RegisterPairs writes = halvex::family::io_settings::validateIo(record, io);
    EXPECT_EQ(writes, (RegisterPairs{{GIGE_REG_SYNC_IN, 0x300}, {GIGE_REG_SYNC_OUT, 0x3}}));
    EXPECT_EQ(record.trigger_out_pulse_width_flags, SET | ERR);
    EXPECT_EQ(record.trigger_out_group_flags, SET | ERR);
    EXPECT_EQ(record.sync_in_master_rate_flags, SET | ERR);
    EXPECT_EQ(record.sync_in_divisor_flags, SET);
    EXPECT_EQ(record.sync_out_source_flags, SET | ERR);
    EXPECT_EQ(record.sync_out_enable_flags, SET);
    EXPECT_EQ(log.count("Trigger Out pulse width can only be set when pass through is disabled."), 1u);
    EXPECT_EQ(log.count("Sync In master frame rate is not within constraints"), 1u);
    EXPECT_EQ(log.count("Sync Out is not specified"), 1u);

    HX_IO_SETTINGS summary = record;
    halvex::family::io_settings::summariseIo(summary);
    EXPECT_EQ(summary.flags & ERR, ERR);
}

TEST(IoSettings, SyncAndArmSectionsEncodeTheirModes)
{
    const RegisterCache io = cameraRegisters();
    HX_IO_SETTINGS record = readBack(io);
    record.sync_in_group_flags = SET;
    setField(record.sync_in_enable, record.sync_in_enable_flags, 1);
    setField(record.sync_in_ppf, record.sync_in_ppf_flags, HX_SYNC_PER_SECOND);
    setField(record.sync_in_delay, record.sync_in_delay_flags, 150);
    record.sync_out_group_flags = SET;
    setField(record.sync_out_source, record.sync_out_source_flags, HX_SYNC_OUT_SOURCE_B);
    record.arm_in_group_flags = SET;
    setField(record.arm_in_enable, record.arm_in_enable_flags, 5);
    record.arm_in_mode = 1;
    setField(record.arm_in_edge, record.arm_in_edge_flags, 0); // falling
    setField(record.arm_in_select, record.arm_in_select_flags, 1);
    record.arm_out_group_flags = SET;
    setField(record.arm_out_pulse_enable, record.arm_out_pulse_enable_flags, 1);
    record.arm_out_pulse_width = 300; // beyond 255: the default width instead
    EXPECT_EQ(halvex::family::io_settings::validateIo(record, io), (RegisterPairs{{GIGE_REG_IO_E8FC, 150},
                                                                                  {GIGE_REG_SYNC_IN, 0x21},
                                                                                  {GIGE_REG_SYNC_OUT, 0x4},
                                                                                  {GIGE_REG_IO_E954, 1},
                                                                                  {GIGE_REG_IO_E958, 3},
                                                                                  {GIGE_REG_IO_A03C, 0x2},
                                                                                  {GIGE_REG_IO_E95C, 0x210}}));

    // A pulse width set while pass through is on switches the pulse off.
    RegisterCache pulsing = io;
    pulsing[GIGE_REG_IO_E95C] = 0x0510;
    HX_IO_SETTINGS width = readBack(pulsing);
    width.arm_out_group_flags = SET;
    width.arm_out_pass_thru = 1;
    setField(width.arm_out_pulse_width, width.arm_out_pulse_width_flags, 9);
    EXPECT_EQ(halvex::family::io_settings::validateIo(width, pulsing), (RegisterPairs{{GIGE_REG_IO_E95C, 0x10}}));
}

TEST(IoSettings, ReadBackFromRegisters)
{
    RegisterCache io = cameraRegisters();
    io[GIGE_REG_TRIGGER_IN_ENABLE] = 1;
    io[GIGE_REG_TRIGGER_IN_EDGE] = 3;
    io[GIGE_REG_TRIGGER_OUT] = (9000u << 16) | 0x33; // 9 ms is beyond the limit: shown as 2
    io[GIGE_REG_SYNC_IN] = 0x0711;
    io[GIGE_REG_SYNC_IN_RATE] = 19; // below 20: the frame rate is shown instead
    io[GIGE_REG_IO_E958] = 1;
    io[GIGE_REG_SYNC_OUT] = 0x8;
    HX_IO_SETTINGS record = readBack(io, 500);
    EXPECT_EQ(record.trigger_in_enable, 0u);
    EXPECT_EQ(record.trigger_in_edge, 1u);
    EXPECT_EQ(record.trigger_out_enable, 1u);
    EXPECT_EQ(record.trigger_out_pass_thru, 1u);
    EXPECT_EQ(record.trigger_out_invert, 1u);
    EXPECT_EQ(record.trigger_out_active_low, 0u);
    EXPECT_EQ(record.trigger_out_pulse_width, 2u);
    EXPECT_EQ(record.trigger_out_pulse_width_min, 1u);
    EXPECT_EQ(record.trigger_out_pulse_width_max, 8u);
    EXPECT_EQ(record.sync_in_enable, 1u);
    EXPECT_EQ(record.sync_in_ppf, uint32_t{HX_SYNC_PER_FRAME});
    EXPECT_EQ(record.sync_in_divisor, 8u);
    EXPECT_EQ(record.sync_in_master_rate, 500u);
    EXPECT_EQ(record.sync_out_source, uint32_t{HX_SYNC_OUT_SOURCE_KEEP});
    EXPECT_EQ(record.arm_in_mode, 1u);
    EXPECT_EQ(record.arm_in_edge, 1u);
    io[GIGE_REG_SYNC_IN_RATE] = 300000;
    EXPECT_EQ(readBack(io).sync_in_master_rate, 250000u);
    io[GIGE_REG_TRIGGER_OUT] = 0x20;
    EXPECT_EQ(readBack(io).trigger_out_pulse_width, 2u);
    EXPECT_EQ(readBack(io).trigger_out_active_low, 1u);

    // What was read can be written back unchanged: nothing to write.
    HX_IO_SETTINGS same = readBack(cameraRegisters());
    for (uint32_t* section : {&same.trigger_in_group_flags, &same.trigger_out_group_flags, &same.sync_in_group_flags,
                              &same.sync_out_group_flags, &same.arm_in_group_flags, &same.arm_out_group_flags})
        *section = SET;
    for (uint32_t* field : {&same.trigger_out_enable_flags, &same.trigger_out_invert_flags,
                            &same.trigger_out_active_low_flags, &same.trigger_out_pulse_width_flags,
                            &same.sync_out_source_flags, &same.arm_out_invert_flags, &same.arm_out_active_low_flags})
        *field = SET;
    EXPECT_TRUE(halvex::family::io_settings::validateIo(same, cameraRegisters()).empty());
}

TEST(IoSettings, MergeMarksFieldSectionAndRecord)
{
    const HX_IO_SETTINGS cached = readBack(cameraRegisters());
    HX_IO_SETTINGS caller = cached;
    caller.sync_in_divisor_max = 3; // ranged fields compare their limits too
    setField(caller.trigger_out_invert, caller.trigger_out_invert_flags, 1);
    halvex::family::io_settings::mergeIo(cached, caller);
    EXPECT_EQ(caller.sync_in_divisor_max, 16u);
    EXPECT_EQ(caller.sync_in_divisor_flags, uint32_t{HX_FLAG_CHG});
    EXPECT_EQ(caller.sync_in_group_flags, uint32_t{HX_FLAG_CHG});
    EXPECT_EQ(caller.trigger_out_invert, 0u);
    EXPECT_EQ(caller.trigger_out_invert_flags, SET | HX_FLAG_CHG);
    EXPECT_EQ(caller.trigger_out_group_flags, uint32_t{HX_FLAG_CHG});
    EXPECT_EQ(caller.arm_out_group_flags, 0u);
    EXPECT_EQ(caller.flags, uint32_t{HX_FLAG_CHG});
}
