// Family input/output settings: the trigger, sync and arm signals' register encodings, the
// validation of a record into register edits, and its computation and merge.
#include "family/io_settings.h"

#include <algorithm>

#include <hlv_thread/log.h>
#include <hlv_thread/note.h>

#include "family/merge.h"
#include "records/field_flags.h"
#include "registers/register_map.h"

namespace halvex::family {

using thread::SettingsException;
using wire::RegisterPairs;

using namespace registers;
using records::flagSet;
using R = HX_IO_SETTINGS;
using IoWord = merge::Word<HX_IO_SETTINGS>;
using namespace io_settings;
using merge::mergeGroup;

namespace {

// Bit fields of the output registers (trigger output and arm output share the layout).
constexpr uint32_t ENABLE_BIT = 0x1;
constexpr uint32_t PASS_THRU_BIT = 0x2;
constexpr uint32_t MODE_FIELD = 0xF0;
constexpr uint32_t MODE_INVERT = 0x30;
constexpr uint32_t MODE_PLAIN = 0x40;
constexpr uint32_t MODE_ACTIVE_LOW = 0x20;
constexpr uint32_t MODE_ACTIVE_HIGH = 0x10;
constexpr uint32_t TRIGGER_PULSE_FIELD = 0x3FFF0000;
constexpr uint32_t ARM_PULSE_FIELD = 0xFF00;
// Sync input: enable and pulses-per-frame fields, and the divisor.
constexpr uint32_t SYNC_ENABLE_FIELD = 0xF;
constexpr uint32_t SYNC_PPF_FIELD = 0xF0;
constexpr uint32_t SYNC_PER_FRAME = 0x10;
constexpr uint32_t SYNC_PER_SECOND = 0x20;
constexpr uint32_t SYNC_DIVISOR_FIELD = 0xF00;
// Sync output source field and its two sources.
constexpr uint32_t SYNC_SOURCE_FIELD = 0xE;
constexpr uint32_t SYNC_SOURCE_A = 0x2;
constexpr uint32_t SYNC_SOURCE_B = 0x4;
// Arm input: the select bit and the edge modes of the arm input register.
constexpr uint32_t ARM_SELECT_BIT = 0x2;
constexpr uint32_t ARM_OFF = 0;
constexpr uint32_t ARM_RISING = 1;
constexpr uint32_t ARM_FALLING = 3;

uint32_t withBit(uint32_t reg, uint32_t bit, bool on)
{
    return on ? reg | bit : reg & ~bit;
}

uint32_t withField(uint32_t reg, uint32_t field, uint32_t value)
{
    return (reg & ~field) | value;
}

bool within(uint32_t value, uint32_t min, uint32_t max)
{
    return value >= min && value <= max;
}

// Edits the registers of the sections asked for, field by field.
class IoValidator {
public:
    IoValidator(HX_IO_SETTINGS& record, const RegisterCache& io) : record_(record), io_(io) {}

    RegisterPairs run()
    {
        if (flagSet(record_.trigger_in_group_flags))
            triggerInput();
        if (flagSet(record_.trigger_out_group_flags))
            triggerOutput();
        if (flagSet(record_.sync_in_group_flags))
            syncInput();
        if (flagSet(record_.sync_out_group_flags))
            syncOutput();
        if (flagSet(record_.arm_in_group_flags))
            armInput();
        if (flagSet(record_.arm_out_group_flags))
            armOutput();
        return std::move(writes_);
    }

private:
    // Runs one field's check when the field is marked "Set"; a refusal marks it and its section.
    template <class Check>
    void field(IoWord flags, IoWord section, Check check)
    {
        if (!flagSet(record_.*flags))
            return;
        try {
            check();
        } catch (const SettingsException& error) {
            HLV_LOG("Settings exception: %s", error.str().c_str());
            record_.*flags |= HX_FLAG_ERR;
            record_.*section |= HX_FLAG_ERR;
        }
    }

    void write(uint32_t address, uint32_t value) { writes_.push_back({address, value}); }

    void writeIfChanged(uint32_t address, uint32_t value)
    {
        if (value != cachedValue(io_, address))
            write(address, value);
    }

    void triggerInput()
    {
        const IoWord section = &R::trigger_in_group_flags;
        field(&R::trigger_in_edge_flags, section,
              [&] { writeIfChanged(GIGE_REG_TRIGGER_IN_EDGE, record_.trigger_in_edge != 0 ? 1 : 0); });
        // The camera's register disables the input: bit 0 set means off.
        field(&R::trigger_in_enable_flags, section,
              [&] { writeIfChanged(GIGE_REG_TRIGGER_IN_ENABLE, record_.trigger_in_enable == 0 ? 1 : 0); });
    }

    // The output registers share one layout. Their mode field holds either the inversion or the
    // active level, so when both are asked for the active level wins.
    struct OutputFields {
        uint32_t enable, enableFlags, passThru, passThruFlags, invert, invertFlags, activeLow, activeLowFlags;
    };

    static uint32_t editOutput(uint32_t reg, const OutputFields& f)
    {
        if (flagSet(f.enableFlags))
            reg = withBit(reg, ENABLE_BIT, f.enable != 0);
        if (flagSet(f.passThruFlags))
            reg = withBit(reg, PASS_THRU_BIT, f.passThru != 0);
        if (flagSet(f.invertFlags))
            reg = withField(reg, MODE_FIELD, f.invert == 1 ? MODE_INVERT : MODE_PLAIN);
        if (flagSet(f.activeLowFlags))
            reg = withField(reg, MODE_FIELD, f.activeLow == 1 ? MODE_ACTIVE_LOW : MODE_ACTIVE_HIGH);
        return reg;
    }

    void triggerOutput()
    {
        const HX_IO_SETTINGS& r = record_;
        uint32_t reg = editOutput(cachedValue(io_, GIGE_REG_TRIGGER_OUT),
                                  {r.trigger_out_enable, r.trigger_out_enable_flags, r.trigger_out_pass_thru,
                                   r.trigger_out_pass_thru_flags, r.trigger_out_invert, r.trigger_out_invert_flags,
                                   r.trigger_out_active_low, r.trigger_out_active_low_flags});
        field(&R::trigger_out_pulse_width_flags, &R::trigger_out_group_flags, [&] {
            const uint32_t width = record_.trigger_out_pulse_width;
            if (record_.trigger_out_pass_thru != 0)
                HLV_THROW(SettingsException, "Trigger Out pulse width can only be set when pass through is disabled.");
            if (!within(width, record_.trigger_out_pulse_width_min, record_.trigger_out_pulse_width_max))
                HLV_THROW(SettingsException, "Trigger Out pulse width is not within constraints");
            // The camera holds microseconds in bits 16 to 29.
            reg = withField(reg, TRIGGER_PULSE_FIELD, ((width * 1000) << 16) & TRIGGER_PULSE_FIELD);
        });
        writeIfChanged(GIGE_REG_TRIGGER_OUT, reg);
    }

    void syncInput()
    {
        const IoWord section = &R::sync_in_group_flags;
        uint32_t reg = cachedValue(io_, GIGE_REG_SYNC_IN);
        field(&R::sync_in_enable_flags, section,
              [&] { reg = withField(reg, SYNC_ENABLE_FIELD, record_.sync_in_enable != 0 ? 1 : 0); });
        field(&R::sync_in_ppf_flags, section, [&] {
            reg = withField(reg, SYNC_PPF_FIELD,
                            record_.sync_in_ppf == HX_SYNC_PER_FRAME ? SYNC_PER_FRAME : SYNC_PER_SECOND);
        });
        if (record_.sync_in_ppf == HX_SYNC_PER_FRAME) {
            field(&R::sync_in_master_rate_flags, section, [&] {
                const uint32_t rate = record_.sync_in_master_rate;
                if (!within(rate, record_.sync_in_master_rate_min, record_.sync_in_master_rate_max))
                    HLV_THROW(SettingsException, "Sync In master frame rate is not within constraints");
                write(GIGE_REG_SYNC_IN_RATE, rate);
            });
            field(&R::sync_in_divisor_flags, section, [&] {
                const uint32_t divisor = record_.sync_in_divisor;
                if (!within(divisor, record_.sync_in_divisor_min, record_.sync_in_divisor_max) || divisor == 0 ||
                    divisor > DIVISOR_MAX)
                    HLV_THROW(SettingsException, "Sync In divisor is not within constraints");
                reg = withField(reg, SYNC_DIVISOR_FIELD, (divisor - 1) << 8);
            });
        } else {
            field(&R::sync_in_delay_flags, section, [&] {
                const uint32_t delay = record_.sync_in_delay;
                if (!within(delay, record_.sync_in_delay_min, record_.sync_in_delay_max))
                    HLV_THROW(SettingsException, "Sync In delay is not within constraints");
                write(GIGE_REG_IO_E8FC, delay);
            });
        }
        writeIfChanged(GIGE_REG_SYNC_IN, reg);
    }

    void syncOutput()
    {
        const IoWord section = &R::sync_out_group_flags;
        uint32_t reg = cachedValue(io_, GIGE_REG_SYNC_OUT);
        field(&R::sync_out_enable_flags, section,
              [&] { reg = withBit(reg, ENABLE_BIT, record_.sync_out_enable != 0); });
        field(&R::sync_out_source_flags, section, [&] {
            switch (record_.sync_out_source) {
            case HX_SYNC_OUT_SOURCE_A: reg = withField(reg, SYNC_SOURCE_FIELD, SYNC_SOURCE_A); break;
            case HX_SYNC_OUT_SOURCE_B: reg = withField(reg, SYNC_SOURCE_FIELD, SYNC_SOURCE_B); break;
            case HX_SYNC_OUT_SOURCE_KEEP: break;
            default: HLV_THROW(SettingsException, "Sync Out is not specified");
            }
        });
        writeIfChanged(GIGE_REG_SYNC_OUT, reg);
    }

    void armInput()
    {
        const IoWord section = &R::arm_in_group_flags;
        field(&R::arm_in_enable_flags, section,
              [&] { writeIfChanged(GIGE_REG_IO_E954, record_.arm_in_enable != 0 ? 1 : 0); });
        if (flagSet(record_.arm_in_mode_flags) || flagSet(record_.arm_in_edge_flags)) {
            const uint32_t mode = record_.arm_in_mode == 0   ? ARM_OFF
                                  : record_.arm_in_edge != 0 ? ARM_RISING
                                                             : ARM_FALLING;
            writeIfChanged(GIGE_REG_IO_E958, mode);
        }
        field(&R::arm_in_select_flags, section, [&] {
            writeIfChanged(GIGE_REG_IO_A03C,
                           withBit(cachedValue(io_, GIGE_REG_IO_A03C), ARM_SELECT_BIT, record_.arm_in_select == 1));
        });
    }

    // A pulse that is switched on but out of limits falls back to the default width; one set
    // while pass through is on, or out of limits, switches the pulse off.
    void armOutput()
    {
        const HX_IO_SETTINGS& r = record_;
        uint32_t reg =
            editOutput(cachedValue(io_, GIGE_REG_IO_E95C),
                       {r.arm_out_enable, r.arm_out_enable_flags, r.arm_out_pass_thru, r.arm_out_pass_thru_flags,
                        r.arm_out_invert, r.arm_out_invert_flags, r.arm_out_active_low, r.arm_out_active_low_flags});
        const uint32_t pulse = record_.arm_out_pulse_width;
        const bool pulseWithin = within(pulse, record_.arm_out_pulse_width_min, record_.arm_out_pulse_width_max) &&
                                 within(pulse, ARM_PULSE_MIN, ARM_PULSE_MAX);
        if (flagSet(record_.arm_out_pulse_enable_flags)) {
            reg &= ~ARM_PULSE_FIELD;
            if (record_.arm_out_pulse_enable == 1)
                reg |= (pulseWithin ? pulse : PULSE_WIDTH_DEFAULT_MS) << 8;
        }
        if (flagSet(record_.arm_out_pulse_width_flags))
            reg = withField(reg, ARM_PULSE_FIELD, record_.arm_out_pass_thru == 0 && pulseWithin ? pulse << 8 : 0);
        writeIfChanged(GIGE_REG_IO_E95C, reg);
    }

    HX_IO_SETTINGS& record_;
    const RegisterCache& io_;
    RegisterPairs writes_;
};

void computeOutputs(const RegisterCache& io, HX_IO_SETTINGS& cached)
{
    const uint32_t trigger = cachedValue(io, GIGE_REG_TRIGGER_OUT);
    cached.trigger_out_enable = trigger & ENABLE_BIT;
    cached.trigger_out_enable_caps = 1;
    cached.trigger_out_pass_thru = (trigger & PASS_THRU_BIT) != 0 ? 1 : 0;
    cached.trigger_out_invert = (trigger & MODE_FIELD) == MODE_INVERT ? 1 : 0;
    cached.trigger_out_active_low = (trigger & MODE_FIELD) == MODE_ACTIVE_LOW ? 1 : 0;
    const uint32_t width = ((trigger & TRIGGER_PULSE_FIELD) >> 16) / 1000;
    cached.trigger_out_pulse_width = width == 0 || width > PULSE_WIDTH_MAX_MS ? PULSE_WIDTH_DEFAULT_MS : width;
    cached.trigger_out_pulse_width_min = PULSE_WIDTH_MIN_MS;
    cached.trigger_out_pulse_width_max = PULSE_WIDTH_MAX_MS;

    const uint32_t arm = cachedValue(io, GIGE_REG_IO_E95C);
    cached.arm_out_enable = arm & ENABLE_BIT;
    cached.arm_out_enable_caps = 1;
    cached.arm_out_pass_thru = (arm & PASS_THRU_BIT) != 0 ? 1 : 0;
    cached.arm_out_invert = (arm & MODE_FIELD) == MODE_INVERT ? 1 : 0;
    cached.arm_out_active_low = (arm & MODE_FIELD) == MODE_ACTIVE_LOW ? 1 : 0;
    const uint32_t pulse = (arm & ARM_PULSE_FIELD) >> 8;
    cached.arm_out_pulse_enable = pulse != 0 ? 1 : 0;
    cached.arm_out_pulse_width = pulse != 0 ? pulse : PULSE_WIDTH_DEFAULT_MS;
    cached.arm_out_pulse_width_min = ARM_PULSE_MIN;
    cached.arm_out_pulse_width_max = ARM_PULSE_MAX;
}

void computeInputs(const RegisterCache& io, uint32_t frameRate, HX_IO_SETTINGS& cached)
{
    cached.trigger_in_enable = (cachedValue(io, GIGE_REG_TRIGGER_IN_ENABLE) & 1) == 0 ? 1 : 0;
    cached.trigger_in_enable_caps = 1;
    cached.trigger_in_edge = cachedValue(io, GIGE_REG_TRIGGER_IN_EDGE) & 1;

    const uint32_t sync = cachedValue(io, GIGE_REG_SYNC_IN);
    cached.sync_in_enable = (sync & SYNC_ENABLE_FIELD) == 1 ? 1 : 0;
    cached.sync_in_enable_caps = 1;
    cached.sync_in_ppf = (sync & SYNC_PPF_FIELD) == SYNC_PER_FRAME ? HX_SYNC_PER_FRAME : HX_SYNC_PER_SECOND;
    const uint32_t rate = cachedValue(io, GIGE_REG_SYNC_IN_RATE);
    cached.sync_in_master_rate = std::min(rate < MASTER_RATE_MIN ? frameRate : rate, MASTER_RATE_MAX);
    cached.sync_in_master_rate_min = MASTER_RATE_MIN;
    cached.sync_in_master_rate_max = MASTER_RATE_MAX;
    cached.sync_in_divisor = ((sync & SYNC_DIVISOR_FIELD) >> 8) + 1;
    cached.sync_in_divisor_min = DIVISOR_MIN;
    cached.sync_in_divisor_max = DIVISOR_MAX;
    cached.sync_in_delay = cachedValue(io, GIGE_REG_IO_E8FC);
    cached.sync_in_delay_min = SYNC_DELAY_MIN;
    cached.sync_in_delay_max = SYNC_DELAY_MAX;

    const uint32_t syncOut = cachedValue(io, GIGE_REG_SYNC_OUT);
    cached.sync_out_enable = syncOut & ENABLE_BIT;
    cached.sync_out_enable_caps = 1;
    const uint32_t source = syncOut & SYNC_SOURCE_FIELD;
    cached.sync_out_source = source == SYNC_SOURCE_A   ? HX_SYNC_OUT_SOURCE_A
                             : source == SYNC_SOURCE_B ? HX_SYNC_OUT_SOURCE_B
                                                       : HX_SYNC_OUT_SOURCE_KEEP;

    cached.arm_in_enable = cachedValue(io, GIGE_REG_IO_E954) != 0 ? 1 : 0;
    cached.arm_in_enable_caps = 1;
    const uint32_t armMode = cachedValue(io, GIGE_REG_IO_E958);
    cached.arm_in_mode = armMode != ARM_OFF ? 1 : 0;
    cached.arm_in_edge = armMode == ARM_RISING ? 1 : 0;
    cached.arm_in_select = (cachedValue(io, GIGE_REG_IO_A03C) & ARM_SELECT_BIT) != 0 ? 1 : 0;
}

} // namespace

namespace io_settings {

RegisterPairs validateIo(HX_IO_SETTINGS& record, const RegisterCache& io)
{
    return IoValidator(record, io).run();
}

void computeIo(const RegisterCache& io, uint32_t frameRate, HX_IO_SETTINGS& cached)
{
    computeInputs(io, frameRate, cached);
    computeOutputs(io, cached);
}

void mergeIo(const HX_IO_SETTINGS& cached, HX_IO_SETTINGS& caller)
{
    const auto merge = [&](std::initializer_list<IoWord> values, IoWord flags, IoWord section) {
        mergeGroup(cached, caller, values, {flags, section, &R::flags});
    };
    IoWord section = &R::trigger_in_group_flags;
    merge({&R::trigger_in_enable, &R::trigger_in_enable_caps}, &R::trigger_in_enable_flags, section);
    merge({&R::trigger_in_edge}, &R::trigger_in_edge_flags, section);
    section = &R::trigger_out_group_flags;
    merge({&R::trigger_out_enable, &R::trigger_out_enable_caps}, &R::trigger_out_enable_flags, section);
    merge({&R::trigger_out_pass_thru}, &R::trigger_out_pass_thru_flags, section);
    merge({&R::trigger_out_invert}, &R::trigger_out_invert_flags, section);
    merge({&R::trigger_out_active_low}, &R::trigger_out_active_low_flags, section);
    merge({&R::trigger_out_pulse_width, &R::trigger_out_pulse_width_min, &R::trigger_out_pulse_width_max},
          &R::trigger_out_pulse_width_flags, section);
    section = &R::sync_in_group_flags;
    merge({&R::sync_in_enable, &R::sync_in_enable_caps}, &R::sync_in_enable_flags, section);
    merge({&R::sync_in_ppf}, &R::sync_in_ppf_flags, section);
    merge({&R::sync_in_master_rate, &R::sync_in_master_rate_min, &R::sync_in_master_rate_max},
          &R::sync_in_master_rate_flags, section);
    merge({&R::sync_in_divisor, &R::sync_in_divisor_min, &R::sync_in_divisor_max}, &R::sync_in_divisor_flags, section);
    merge({&R::sync_in_delay, &R::sync_in_delay_min, &R::sync_in_delay_max}, &R::sync_in_delay_flags, section);
    merge({&R::sync_in_edge}, &R::sync_in_edge_flags, section);
    section = &R::sync_out_group_flags;
    merge({&R::sync_out_enable, &R::sync_out_enable_caps}, &R::sync_out_enable_flags, section);
    merge({&R::sync_out_source}, &R::sync_out_source_flags, section);
    section = &R::arm_in_group_flags;
    merge({&R::arm_in_enable, &R::arm_in_enable_caps}, &R::arm_in_enable_flags, section);
    merge({&R::arm_in_mode}, &R::arm_in_mode_flags, section);
    merge({&R::arm_in_select}, &R::arm_in_select_flags, section);
    merge({&R::arm_in_edge}, &R::arm_in_edge_flags, section);
    section = &R::arm_out_group_flags;
    merge({&R::arm_out_enable, &R::arm_out_enable_caps}, &R::arm_out_enable_flags, section);
    merge({&R::arm_out_pass_thru}, &R::arm_out_pass_thru_flags, section);
    merge({&R::arm_out_invert}, &R::arm_out_invert_flags, section);
    merge({&R::arm_out_active_low}, &R::arm_out_active_low_flags, section);
    merge({&R::arm_out_pulse_enable}, &R::arm_out_pulse_enable_flags, section);
    merge({&R::arm_out_pulse_width, &R::arm_out_pulse_width_min, &R::arm_out_pulse_width_max},
          &R::arm_out_pulse_width_flags, section);
}

} // namespace io_settings

namespace io_settings {

void clearIoOutcome(HX_IO_SETTINGS& record)
{
    family::merge::clearOutcome(record, {&R::flags,
                                         &R::trigger_in_group_flags,
                                         &R::trigger_in_enable_flags,
                                         &R::trigger_in_edge_flags,
                                         &R::trigger_out_group_flags,
                                         &R::trigger_out_enable_flags,
                                         &R::trigger_out_pass_thru_flags,
                                         &R::trigger_out_invert_flags,
                                         &R::trigger_out_active_low_flags,
                                         &R::trigger_out_pulse_width_flags,
                                         &R::sync_in_group_flags,
                                         &R::sync_in_enable_flags,
                                         &R::sync_in_ppf_flags,
                                         &R::sync_in_master_rate_flags,
                                         &R::sync_in_divisor_flags,
                                         &R::sync_in_delay_flags,
                                         &R::sync_in_edge_flags,
                                         &R::sync_out_group_flags,
                                         &R::sync_out_enable_flags,
                                         &R::sync_out_source_flags,
                                         &R::arm_in_group_flags,
                                         &R::arm_in_enable_flags,
                                         &R::arm_in_mode_flags,
                                         &R::arm_in_select_flags,
                                         &R::arm_in_edge_flags,
                                         &R::arm_out_group_flags,
                                         &R::arm_out_enable_flags,
                                         &R::arm_out_pass_thru_flags,
                                         &R::arm_out_invert_flags,
                                         &R::arm_out_active_low_flags,
                                         &R::arm_out_pulse_enable_flags,
                                         &R::arm_out_pulse_width_flags,
                                         &R::fan_disable_flags});
}

void summariseIo(HX_IO_SETTINGS& record)
{
    for (uint32_t section : {record.trigger_in_group_flags, record.trigger_out_group_flags, record.sync_in_group_flags,
                             record.sync_out_group_flags, record.arm_in_group_flags, record.arm_out_group_flags})
        record.flags |= section & (HX_FLAG_ERR | HX_FLAG_CHG);
}

} // namespace io_settings

} // namespace halvex::family
