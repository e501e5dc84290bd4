// Fields marked for writing inside a record or section that is not: one log line per call naming the missing flag.
#include "api/unselected_fields.h"

#include <cstdint>
#include <initializer_list>
#include <string>

#include "hlv_thread/log.h"
#include "records/field_flags.h"

namespace halvex::api::frame {

using records::flagSet;

namespace {

template <class Record>
struct Field {
    const char* name;
    uint32_t Record::*flags;
};

// Adds "<selector> (<field>, <field>)" to `missing` when fields are marked and the selector is not.
template <class Record>
void collect(const Record& record, const char* selectorName, uint32_t Record::*selector,
             std::initializer_list<Field<Record>> fields, std::string& missing)
{
    if (flagSet(record.*selector))
        return;
    std::string names;
    for (const Field<Record>& field : fields) {
        if (!flagSet(record.*(field.flags)))
            continue;
        names += names.empty() ? "" : ", ";
        names += field.name;
    }
    if (names.empty())
        return;
    missing += missing.empty() ? "" : "; ";
    missing += std::string(selectorName) + " (marked: " + names + ")";
}

void report(const char* call, const std::string& missing, const char* consequence)
{
    if (!missing.empty())
        HLV_LOG("%s: HX_FLAG_SET missing in %s; %s", call, missing.c_str(), consequence);
}

} // namespace

void reportUnselectedFields(const char* call, const HX_CAPTURE_SETTINGS& record)
{
    using R = HX_CAPTURE_SETTINGS;
    std::string missing;
    collect<R>(record, "sensor_group_flags", &R::sensor_group_flags,
               {{"bit_mode", &R::bit_mode_flags},
                {"bns_mode", &R::bns_mode_flags},
                {"fpn_mode", &R::fpn_mode_flags},
                {"width", &R::width_flags},
                {"height", &R::height_flags},
                {"x_offset", &R::x_offset_flags},
                {"y_offset", &R::y_offset_flags}},
               missing);
    collect<R>(record, "record_group_flags", &R::record_group_flags,
               {{"record_mode", &R::record_mode_flags},
                {"length", &R::length_flags},
                {"trigger", &R::trigger_flags},
                {"rate", &R::rate_flags}},
               missing);
    collect<R>(record, "exposure_group_flags", &R::exposure_group_flags,
               {{"exposure", &R::exposure_flags}, {"low_light", &R::low_light_flags}}, missing);
    report(call, missing, "those fields are not written");
}

void reportUnselectedFields(const char* call, const HX_COMMAND& record)
{
    // Both words must carry the flag: the record's selects a command over a state read, the
    // code's says which command.
    if (flagSet(record.code_flags) && !flagSet(record.flags))
        report(call, "flags (marked: code)", "no command is sent, the state is read");
    else if (flagSet(record.flags) && !flagSet(record.code_flags))
        report(call, "code_flags (marked: the record's flags)", "no command is sent");
}

void reportUnselectedFields(const char* call, const HX_DOWNLOAD_SETTINGS& record)
{
    // format and jpeg_quality are written on their own flags; the stream part needs the record's.
    using R = HX_DOWNLOAD_SETTINGS;
    std::string missing;
    collect<R>(record, "flags", &R::flags,
               {{"turbo_packet_length", &R::turbo_packet_length_flags},
                {"turbo_delay", &R::turbo_delay_flags},
                {"start", &R::start_flags},
                {"stop", &R::stop_flags},
                {"rate_control", &R::rate_control_flags}},
               missing);
    report(call, missing, "those fields are not written");
}

void reportUnselectedFields(const char* call, const HX_IO_SETTINGS& record)
{
    using R = HX_IO_SETTINGS;
    std::string missing;
    collect<R>(record, "trigger_in_group_flags", &R::trigger_in_group_flags,
               {{"trigger_in_enable", &R::trigger_in_enable_flags}, {"trigger_in_edge", &R::trigger_in_edge_flags}},
               missing);
    collect<R>(record, "trigger_out_group_flags", &R::trigger_out_group_flags,
               {{"trigger_out_enable", &R::trigger_out_enable_flags},
                {"trigger_out_pass_thru", &R::trigger_out_pass_thru_flags},
                {"trigger_out_invert", &R::trigger_out_invert_flags},
                {"trigger_out_active_low", &R::trigger_out_active_low_flags},
                {"trigger_out_pulse_width", &R::trigger_out_pulse_width_flags}},
               missing);
    collect<R>(record, "sync_in_group_flags", &R::sync_in_group_flags,
               {{"sync_in_enable", &R::sync_in_enable_flags},
                {"sync_in_ppf", &R::sync_in_ppf_flags},
                {"sync_in_master_rate", &R::sync_in_master_rate_flags},
                {"sync_in_divisor", &R::sync_in_divisor_flags},
                {"sync_in_delay", &R::sync_in_delay_flags},
                {"sync_in_edge", &R::sync_in_edge_flags}},
               missing);
    collect<R>(record, "sync_out_group_flags", &R::sync_out_group_flags,
               {{"sync_out_enable", &R::sync_out_enable_flags}, {"sync_out_source", &R::sync_out_source_flags}},
               missing);
    collect<R>(record, "arm_in_group_flags", &R::arm_in_group_flags,
               {{"arm_in_enable", &R::arm_in_enable_flags},
                {"arm_in_mode", &R::arm_in_mode_flags},
                {"arm_in_select", &R::arm_in_select_flags},
                {"arm_in_edge", &R::arm_in_edge_flags}},
               missing);
    collect<R>(record, "arm_out_group_flags", &R::arm_out_group_flags,
               {{"arm_out_enable", &R::arm_out_enable_flags},
                {"arm_out_pass_thru", &R::arm_out_pass_thru_flags},
                {"arm_out_invert", &R::arm_out_invert_flags},
                {"arm_out_active_low", &R::arm_out_active_low_flags},
                {"arm_out_pulse_enable", &R::arm_out_pulse_enable_flags},
                {"arm_out_pulse_width", &R::arm_out_pulse_width_flags}},
               missing);
    report(call, missing, "those fields are not written");
}

void reportUnselectedFields(const char* call, const HX_PLAYBACK_SETTINGS& record)
{
    using R = HX_PLAYBACK_SETTINGS;
    std::string missing;
    collect<R>(record, "flags", &R::flags,
               {{"mode", &R::mode_flags},
                {"current_frame", &R::current_frame_flags},
                {"cut_in", &R::cut_in_flags},
                {"cut_out", &R::cut_out_flags}},
               missing);
    report(call, missing, "those fields are not written");
}

} // namespace halvex::api::frame
