// Renders public records as the labelled, one-field-per-line text of the [IN]/[OUT] dumps.
#include "api/settings_printers.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include <hlv_thread/format.h>

namespace halvex::api {

using thread::fmtToString;

namespace support {

namespace {

// Group headers are padded so that their flag text lines up with the flag texts of the fields.
constexpr std::size_t kGroupHeaderWidth = 46;

// Collects the lines of one dump with the label shared by its title.
class Printer {
public:
    explicit Printer(const char* label) : label_(label != nullptr ? label : "") {}

    void add(int line, std::string text) { lines_.push_back({__FILE__, line, std::move(text)}); }
    const char* label() const { return label_; }
    PrintedLines take() { return std::move(lines_); }

private:
    const char* label_;
    PrintedLines lines_;
};

#define PRINT_LINE(printer, ...) (printer).add(__LINE__, fmtToString(__VA_ARGS__))

// Values print as the C library's %d shows them, so a host's stray negative is recognisable.
int asInt(uint32_t value)
{
    return static_cast<int>(value);
}

std::string joined(const char* name, const char* suffix)
{
    return std::string(name) + suffix;
}

// A text field as far as its NUL or its room, whichever comes first: host memory is not trusted.
template <std::size_t Room>
std::string boundedText(const char (&text)[Room])
{
    return std::string(text, strnlen(text, Room));
}

template <typename Record>
void title(Printer& p, const char* name, const char* gap, const Record& record)
{
    PRINT_LINE(p, "%s ver %d.%d (flags: 0x%08X)%s%s %s", name, record.ver_maj, record.ver_min, record.flags, gap,
               flagsText(record.flags).c_str(), p.label());
}

void groupHeader(Printer& p, const char* name, uint32_t flags, bool colon)
{
    std::string text = fmtToString("  %s (flags 0x%08X)%s", name, flags, colon ? ":" : "");
    text.resize(std::max(text.size() + 1, kGroupHeaderWidth), ' ');
    p.add(__LINE__, text + flagsText(flags));
}

void hexValue(Printer& p, const std::string& label, uint32_t value)
{
    PRINT_LINE(p, "    %-21s0x%08X", label.c_str(), value);
}

void decValue(Printer& p, const std::string& label, uint32_t value)
{
    PRINT_LINE(p, "    %-21s%10d", label.c_str(), asInt(value));
}

void namedValue(Printer& p, const std::string& label, uint32_t value, const char* name)
{
    PRINT_LINE(p, "    %-21s0x%08X (%s)", label.c_str(), value, name);
}

void textValue(Printer& p, const std::string& label, const std::string& text)
{
    PRINT_LINE(p, "    %-21s%s", label.c_str(), text.c_str());
}

void flagsValue(Printer& p, const std::string& label, uint32_t flags)
{
    PRINT_LINE(p, "    %-21s0x%08X           %s", label.c_str(), flags, flagsText(flags).c_str());
}

// A quantity chosen from a set of bits: current, caps and flags.
void setField(Printer& p, const char* name, uint32_t current, uint32_t caps, uint32_t flags)
{
    hexValue(p, joined(name, ", current:"), current);
    hexValue(p, joined(name, ", caps:"), caps);
    flagsValue(p, joined(name, ", flags:"), flags);
}

// A single value with its flags.
void valueField(Printer& p, const char* name, uint32_t current, uint32_t flags)
{
    decValue(p, joined(name, ", current:"), current);
    flagsValue(p, joined(name, ", flags:"), flags);
}

// A value that is only off (0) or on.
void switchField(Printer& p, const char* name, uint32_t current, uint32_t flags)
{
    namedValue(p, joined(name, ", current:"), current, current != 0 ? "Enabled" : "Disabled");
    flagsValue(p, joined(name, ", flags:"), flags);
}

struct Ranged {
    const char* name;
    uint32_t current;
    uint32_t flags;
    std::optional<uint32_t> min;
    std::optional<uint32_t> max;
    std::optional<uint32_t> constr;
};

// A value within limits, printed min, current, max, constr., flags as the quantity has them.
void rangedField(Printer& p, const Ranged& field)
{
    if (field.min)
        decValue(p, joined(field.name, ", min:"), *field.min);
    decValue(p, joined(field.name, ", current:"), field.current);
    if (field.max)
        decValue(p, joined(field.name, ", max:"), *field.max);
    if (field.constr)
        decValue(p, joined(field.name, ", constr."), *field.constr);
    flagsValue(p, joined(field.name, ", flags"), field.flags);
}

// A value within limits shown with its unit ("ms", "usec").
void unitField(Printer& p, const char* name, const char* unit, uint32_t current, uint32_t flags, uint32_t min,
               uint32_t max)
{
    PRINT_LINE(p, "    %-21s%d %s", joined(name, ", min:").c_str(), asInt(min), unit);
    PRINT_LINE(p, "    %-21s%d %s", joined(name, ", current:").c_str(), asInt(current), unit);
    PRINT_LINE(p, "    %-21s%d %s", joined(name, ", max:").c_str(), asInt(max), unit);
    flagsValue(p, joined(name, ", flags"), flags);
}

double fraction(uint32_t numerator, uint32_t denominator)
{
    return denominator == 0 ? static_cast<double>(numerator)
                            : static_cast<double>(numerator) / static_cast<double>(denominator);
}

void triggerOutputLines(Printer& p, const HX_IO_SETTINGS& r)
{
    groupHeader(p, "Trigger Output", r.trigger_out_group_flags, true);
    setField(p, "Enable", r.trigger_out_enable, r.trigger_out_enable_caps, r.trigger_out_enable_flags);
    switchField(p, "Pass thru", r.trigger_out_pass_thru, r.trigger_out_pass_thru_flags);
    switchField(p, "Invert", r.trigger_out_invert, r.trigger_out_invert_flags);
    switchField(p, "Active low", r.trigger_out_active_low, r.trigger_out_active_low_flags);
    unitField(p, "Pulse", "ms", r.trigger_out_pulse_width, r.trigger_out_pulse_width_flags,
              r.trigger_out_pulse_width_min, r.trigger_out_pulse_width_max);
}

void syncInputLines(Printer& p, const HX_IO_SETTINGS& r)
{
    groupHeader(p, "Sync Input", r.sync_in_group_flags, true);
    setField(p, "Enable", r.sync_in_enable, r.sync_in_enable_caps, r.sync_in_enable_flags);
    namedValue(p, "PPF, current:", r.sync_in_ppf, r.sync_in_ppf != 0 ? "per Frame" : "per Second");
    flagsValue(p, "PPF, flags:", r.sync_in_ppf_flags);
    rangedField(p, {"Master", r.sync_in_master_rate, r.sync_in_master_rate_flags, r.sync_in_master_rate_min,
                    r.sync_in_master_rate_max, std::nullopt});
    rangedField(p, {"Divisor", r.sync_in_divisor, r.sync_in_divisor_flags, r.sync_in_divisor_min, r.sync_in_divisor_max,
                    std::nullopt});
    unitField(p, "Delay", "usec", r.sync_in_delay, r.sync_in_delay_flags, r.sync_in_delay_min, r.sync_in_delay_max);
}

void lensStatusValue(Printer& p, const char* name, uint32_t value, uint32_t flags)
{
    decValue(p, joined(name, ":"), value);
    flagsValue(p, joined(name, ", flags"), flags);
}

void lensStatusFraction(Printer& p, const char* name, uint32_t numerator, uint32_t denominator, uint32_t flags)
{
    PRINT_LINE(p, "    %-21s%3.1f", joined(name, ":").c_str(), fraction(numerator, denominator));
    flagsValue(p, joined(name, ", flags"), flags);
}

} // namespace

std::string flagsText(uint32_t flags)
{
    return fmtToString("%s | %s | %s", (flags & HX_FLAG_ERR) != 0 ? "Err" : "---",
                       (flags & HX_FLAG_SET) != 0 ? "Set" : "---", (flags & HX_FLAG_CHG) != 0 ? "Chg" : "---");
}

const char* cameraStateName(uint32_t state)
{
    switch (state) {
    case HX_CAMERA_STATE_IDLE: return "IDLE";
    case HX_CAMERA_STATE_ARM: return "ARM";
    case HX_CAMERA_STATE_TRIGGER: return "TRIGGER";
    case HX_CAMERA_STATE_REVIEW: return "REVIEW";
    default: return "unknown";
    }
}

std::string playbackModePicture(uint32_t mode)
{
    return fmtToString("%s  %s  %s", (mode & HX_PLAY_REVERSE) != 0 ? "<" : "-",
                       (mode & HX_PLAY_PAUSE) != 0 ? "||" : "--", (mode & HX_PLAY_FORWARD) != 0 ? ">" : "-");
}

PrintedLines recordLines(const HX_ANALOG_GAIN& r, const char* label)
{
    Printer p(label);
    title(p, "Analog Gain settings", "  ", r);
    hexValue(p, "Gain, current:", r.gain);
    hexValue(p, "Gain, caps:", r.gain_caps);
    return p.take();
}

PrintedLines recordLines(const HX_BATTERY_INFO& r, const char* label)
{
    Printer p(label);
    title(p, "Battery info", " ", r);
    hexValue(p, "Battery state:", r.battery_state);
    decValue(p, "Charge:", r.charge);
    return p.take();
}

PrintedLines recordLines(const HX_CAMERA_INFORMATION& r, const char* label)
{
    Printer p(label);
    title(p, "Camera information", " ", r);
    textValue(p, "Adapter:", boundedText(r.adapter_name));
    textValue(p, "Device version:", boundedText(r.device_version));
    textValue(p, "Manufacturer info:", boundedText(r.manufacturer_info));
    textValue(p, "Manufacturer:", boundedText(r.manufacturer_name));
    textValue(p, "Model:", boundedText(r.model_name));
    textValue(p, "Serial number:", boundedText(r.serial_number));
    textValue(p, "User name:", boundedText(r.user_name));
    return p.take();
}

PrintedLines recordLines(const HX_CAPTURE_SETTINGS& r, const char* label)
{
    Printer p(label);
    title(p, "Capture settings", "  ", r);
    groupHeader(p, "Sensor", r.sensor_group_flags, true);
    setField(p, "Bit mode", r.bit_mode, r.bit_mode_caps, r.bit_mode_flags);
    setField(p, "BNS mode", r.bns_mode, r.bns_mode_caps, r.bns_mode_flags);
    setField(p, "FPN mode", r.fpn_mode, r.fpn_mode_caps, r.fpn_mode_flags);
    rangedField(p, {"Width", r.width, r.width_flags, r.width_min, r.width_max, r.width_constr});
    rangedField(p, {"Height", r.height, r.height_flags, r.height_min, r.height_max, r.height_constr});
    rangedField(p, {"X-offset", r.x_offset, r.x_offset_flags, r.x_offset_min, r.x_offset_max, r.x_offset_constr});
    rangedField(p, {"Y-offset", r.y_offset, r.y_offset_flags, r.y_offset_min, r.y_offset_max, r.y_offset_constr});
    groupHeader(p, "Record", r.record_group_flags, false);
    valueField(p, "Mode", r.record_mode, r.record_mode_flags);
    rangedField(p, {"Length", r.length, r.length_flags, std::nullopt, r.length_max, std::nullopt});
    valueField(p, "Trigger", r.trigger, r.trigger_flags);
    rangedField(p, {"Rate", r.rate, r.rate_flags, r.rate_min, r.rate_max, r.rate_constr});
    rangedField(p, {"Exposure", r.exposure, r.exposure_flags, r.exposure_min, r.exposure_max, r.exposure_constr});
    rangedField(p, {"Low Light", r.low_light, r.low_light_flags, r.low_light_min, r.low_light_max, std::nullopt});
    return p.take();
}

PrintedLines recordLines(const HX_COMMAND& r, const char* label)
{
    Printer p(label);
    title(p, "Command/State", "     ", r);
    namedValue(p, "Code/State, current:", r.code, cameraStateName(r.code));
    hexValue(p, "Code, caps:", r.code_caps);
    flagsValue(p, "Code, flags:", r.code_flags);
    PRINT_LINE(p, "    %-21s%d", "Shutdown request:", asInt(r.shutdown_request));
    return p.take();
}

PrintedLines recordLines(const HX_DOWNLOAD_SETTINGS& r, const char* label)
{
    Printer p(label);
    title(p, "Download settings", " ", r);
    hexValue(p, "Turbo Pkt Len:", r.turbo_packet_length);
    flagsValue(p, "Turbo Len flags:", r.turbo_packet_length_flags);
    hexValue(p, "Turbo Delay (us):", r.turbo_delay);
    flagsValue(p, "Turbo Delay flags:", r.turbo_delay_flags);
    setField(p, "Format", r.format, r.format_caps, r.format_flags);
    rangedField(p, {"Start", r.start, r.start_flags, std::nullopt, r.start_max, std::nullopt});
    rangedField(p, {"Stop", r.stop, r.stop_flags, std::nullopt, r.stop_max, std::nullopt});
    rangedField(
        p, {"JPEG Qual", r.jpeg_quality, r.jpeg_quality_flags, r.jpeg_quality_min, r.jpeg_quality_max, std::nullopt});
    decValue(p, "Pause Count:", r.pause_count);
    decValue(p, "Resume Count:", r.resume_count);
    flagsValue(p, "Rate Control, flags", r.rate_control_flags);
    return p.take();
}

PrintedLines recordLines(const HX_IO_SETTINGS& r, const char* label)
{
    Printer p(label);
    title(p, "External IO settings", " ", r);
    groupHeader(p, "Trigger Input", r.trigger_in_group_flags, true);
    setField(p, "Enable", r.trigger_in_enable, r.trigger_in_enable_caps, r.trigger_in_enable_flags);
    namedValue(p, "Edge, current:", r.trigger_in_edge, r.trigger_in_edge != 0 ? "Rising" : "Falling");
    flagsValue(p, "Edge, flags:", r.trigger_in_edge_flags);
    triggerOutputLines(p, r);
    syncInputLines(p, r);
    groupHeader(p, "Sync Output", r.sync_out_group_flags, true);
    setField(p, "Enable", r.sync_out_enable, r.sync_out_enable_caps, r.sync_out_enable_flags);
    groupHeader(p, "Arm Input", r.arm_in_group_flags, true);
    setField(p, "Enable", r.arm_in_enable, r.arm_in_enable_caps, r.arm_in_enable_flags);
    groupHeader(p, "Arm Output", r.arm_out_group_flags, true);
    setField(p, "Enable", r.arm_out_enable, r.arm_out_enable_caps, r.arm_out_enable_flags);
    hexValue(p, "Fan disable:", r.fan_disable);
    flagsValue(p, "Fan disable flags:", r.fan_disable_flags);
    return p.take();
}

PrintedLines recordLines(const HX_LENS_SETTINGS& r, const char* label)
{
    Printer p(label);
    title(p, "Lens settings", " ", r);
    PRINT_LINE(p, "    %-20s0x%08X", "power:", r.power);
    PRINT_LINE(p, "    %-20s0x%08X           %s", "power flags:", r.power_flags, flagsText(r.power_flags).c_str());
    PRINT_LINE(p, "    %-20s%3.1f", "f_number:", fraction(r.f_number_num, r.f_number_den));
    PRINT_LINE(p, "    %-20s0x%08X           %s", "f_number flags:", r.f_number_flags,
               flagsText(r.f_number_flags).c_str());
    PRINT_LINE(p, "    %-20s0x%08X", "focus_pos:", r.focus_pos);
    PRINT_LINE(p, "    %-20s0x%08X           %s", "focus_pos flags:", r.focus_pos_flags,
               flagsText(r.focus_pos_flags).c_str());
    PRINT_LINE(p, "    %-20s0x%08X", "zoom_pos:", r.zoom_pos);
    PRINT_LINE(p, "    %-20s0x%08X           %s", "zoom_pos flags:", r.zoom_pos_flags,
               flagsText(r.zoom_pos_flags).c_str());
    return p.take();
}

PrintedLines recordLines(const HX_LENS_STATUS& r, const char* label)
{
    Printer p(label);
    title(p, "Lens status", " ", r);
    lensStatusValue(p, "Connected", r.connected, r.connected_flags);
    lensStatusValue(p, "Powered", r.powered, r.powered_flags);
    lensStatusValue(p, "Talking", r.talking, r.talking_flags);
    lensStatusFraction(p, "F-number", r.f_number_num, r.f_number_den, r.f_number_flags);
    lensStatusFraction(p, "F-minimum", r.f_minimum_num, r.f_minimum_den, r.f_minimum_flags);
    lensStatusFraction(p, "F-maximum", r.f_maximum_num, r.f_maximum_den, r.f_maximum_flags);
    lensStatusValue(p, "Focus pos", r.focus_pos, r.focus_pos_flags);
    lensStatusValue(p, "Focus min", r.focus_min, r.focus_min_flags);
    lensStatusValue(p, "Focus near", r.focus_near, r.focus_near_flags);
    lensStatusValue(p, "Focus inf", r.focus_inf, r.focus_inf_flags);
    lensStatusValue(p, "Manual focus", r.manual_focus, r.manual_focus_flags);
    lensStatusValue(p, "Zoom pos", r.zoom_pos, r.zoom_pos_flags);
    lensStatusValue(p, "Focal len", r.focal_len, r.focal_len_flags);
    textValue(p, "Name:", boundedText(r.name));
    flagsValue(p, "Name, flags", r.name_flags);
    lensStatusValue(p, "Focal tele", r.focal_len_tele, r.focal_len_tele_flags);
    lensStatusValue(p, "Focal wide", r.focal_len_wide, r.focal_len_wide_flags);
    lensStatusValue(p, "Zoom divisions", r.zoom_divisions, r.zoom_divisions_flags);
    lensStatusValue(p, "EZ enable", r.ez_enable, r.ez_enable_flags);
    return p.take();
}

PrintedLines recordLines(const HX_PLAYBACK_SETTINGS& r, const char* label)
{
    Printer p(label);
    title(p, "Playback settings", " ", r);
    PRINT_LINE(p, "    %-21s0x%08X [%s]", "Mode, current:", r.mode, playbackModePicture(r.mode).c_str());
    PRINT_LINE(p, "    %-21s0x%08X [%s]", "Mode, caps:", r.mode_caps, playbackModePicture(r.mode_caps).c_str());
    flagsValue(p, "Mode, flags:", r.mode_flags);
    rangedField(p, {"Frame", r.current_frame, r.current_frame_flags, std::nullopt, r.current_frame_max, std::nullopt});
    rangedField(p, {"Cut-in", r.cut_in, r.cut_in_flags, std::nullopt, r.cut_in_max, std::nullopt});
    valueField(p, "Cut-out", r.cut_out, r.cut_out_flags);
    valueField(p, "Interval", r.interval, r.interval_flags);
    decValue(p, "Trigger:", r.trigger);
    flagsValue(p, "Trigger flags:", r.trigger_flags);
    return p.take();
}

PrintedLines recordLines(const HX_PROGRESS& r, const char* label)
{
    Printer p(label);
    title(p, "Progress", " ", r);
    decValue(p, "Error:", r.error);
    decValue(p, "Total frames:", r.total_frames);
    decValue(p, "Trigger frames:", r.trigger_frames);
    decValue(p, "Recorded frames:", r.recorded_frames);
    decValue(p, "Percent:", r.percent);
    decValue(p, "Camera progress:", r.camera_progress);
    return p.take();
}

PrintedLines recordLines(const HX_READ_STREAM& r, const char* label)
{
    Printer p(label);
    title(p, "Read stream", " ", r);
    PRINT_LINE(p, "    %-21s%p", "Buffer:", r.buffer);
    PRINT_LINE(p, "    %-21s%10llu", "Buffer size:", static_cast<unsigned long long>(r.buffer_size));
    hexValue(p, "Status:", r.status);
    decValue(p, "Received length:", r.received_length);
    decValue(p, "Image length:", r.image_length);
    decValue(p, "Frame id:", r.frame_id);
    return p.take();
}

PrintedLines recordLines(const HX_STREAM_SETTINGS& r, const char* label)
{
    Printer p(label);
    title(p, "Stream settings", " ", r);
    PRINT_LINE(p, "    %-21s%10d microsec.", "Interpacket Delay:", asInt(r.interpacket_delay));
    flagsValue(p, "Delay flags:", r.interpacket_delay_flags);
    rangedField(
        p, {"JPEG Qual", r.jpeg_quality, r.jpeg_quality_flags, r.jpeg_quality_min, r.jpeg_quality_max, std::nullopt});
    return p.take();
}

PrintedLines recordLines(const HX_TEMPERATURE& r, const char* label)
{
    Printer p(label);
    title(p, "Temperature", " ", r);
    const std::pair<const char*, float> readings[] = {
        {"temp_a10_ext:", r.temp_a10_ext},
        {"temp_a10_int:", r.temp_a10_int},
        {"temp_em2120:", r.temp_em2120},
        {"temp_fan_external:", r.temp_fan_external},
        {"temp_fan_internal:", r.temp_fan_internal},
        {"temp_firefly:", r.temp_firefly},
        {"temp_nvme:", r.temp_nvme},
        {"temp_pcie:", r.temp_pcie},
        {"temp_sensor:", r.temp_sensor},
    };
    for (const auto& [name, degrees] : readings) {
        PRINT_LINE(p, "    %-21s%6.1f", name, static_cast<double>(degrees));
    }
    return p.take();
}

} // namespace support

} // namespace halvex::api
