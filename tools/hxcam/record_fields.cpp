// hxcam record fields: key=value forms of the input/output, download, stream and gain records.
#include "record_fields.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <type_traits>

#include "capture_fields.h"

namespace hxcam {

using halvex::common::splitAssignment;

namespace {

template <class R>
using Word = uint32_t R::*;

struct Choice {
    const char* text;
    uint32_t value;
};

enum class Form { Number, OnOff, Choice };

// One settable field: its words in the record and how its value is written.
template <class R>
struct Field {
    const char* key;
    Form form;
    Word<R> value;
    Word<R> flags;           // the field's own flags word (the record's, for fields without one)
    Word<R> group = nullptr; // its section's flags word, where the record has sections
    Word<R> min = nullptr;
    Word<R> max = nullptr;
    Word<R> caps = nullptr; // the choices the camera offers, as bits
    std::vector<Choice> choices = {};
};

const std::vector<Choice> EDGES{{"falling", HX_EDGE_FALLING}, {"rising", HX_EDGE_RISING}};
const std::vector<Choice> ON_OFF{{"off", 0}, {"on", 1}};

template <class R>
Field<R> onOff(const char* key, Word<R> value, Word<R> flags, Word<R> group)
{
    return Field<R>{key, Form::OnOff, value, flags, group};
}

template <class R>
Field<R> number(const char* key, Word<R> value, Word<R> flags, Word<R> group = nullptr, Word<R> min = nullptr,
                Word<R> max = nullptr)
{
    return Field<R>{key, Form::Number, value, flags, group, min, max};
}

template <class R>
Field<R> choice(const char* key, Word<R> value, Word<R> flags, Word<R> group, std::vector<Choice> choices,
                Word<R> caps = nullptr)
{
    return Field<R>{key, Form::Choice, value, flags, group, nullptr, nullptr, caps, std::move(choices)};
}

const std::vector<Field<HX_IO_SETTINGS>>& ioFields()
{
    using R = HX_IO_SETTINGS;
    const Word<R> tin = &R::trigger_in_group_flags, tout = &R::trigger_out_group_flags, sin = &R::sync_in_group_flags,
                  sout = &R::sync_out_group_flags, ain = &R::arm_in_group_flags, aout = &R::arm_out_group_flags;
    static const std::vector<Field<R>> all{
        onOff<R>("trigger-in", &R::trigger_in_enable, &R::trigger_in_enable_flags, tin),
        choice<R>("trigger-in-edge", &R::trigger_in_edge, &R::trigger_in_edge_flags, tin, EDGES),
        onOff<R>("trigger-out", &R::trigger_out_enable, &R::trigger_out_enable_flags, tout),
        onOff<R>("trigger-out-pass-thru", &R::trigger_out_pass_thru, &R::trigger_out_pass_thru_flags, tout),
        onOff<R>("trigger-out-invert", &R::trigger_out_invert, &R::trigger_out_invert_flags, tout),
        onOff<R>("trigger-out-active-low", &R::trigger_out_active_low, &R::trigger_out_active_low_flags, tout),
        number<R>("trigger-out-pulse", &R::trigger_out_pulse_width, &R::trigger_out_pulse_width_flags, tout,
                  &R::trigger_out_pulse_width_min, &R::trigger_out_pulse_width_max),
        onOff<R>("sync-in", &R::sync_in_enable, &R::sync_in_enable_flags, sin),
        choice<R>("sync-in-mode", &R::sync_in_ppf, &R::sync_in_ppf_flags, sin,
                  {{"per-second", HX_SYNC_PER_SECOND}, {"per-frame", HX_SYNC_PER_FRAME}}),
        number<R>("sync-in-rate", &R::sync_in_master_rate, &R::sync_in_master_rate_flags, sin,
                  &R::sync_in_master_rate_min, &R::sync_in_master_rate_max),
        number<R>("sync-in-divisor", &R::sync_in_divisor, &R::sync_in_divisor_flags, sin, &R::sync_in_divisor_min,
                  &R::sync_in_divisor_max),
        number<R>("sync-in-delay", &R::sync_in_delay, &R::sync_in_delay_flags, sin, &R::sync_in_delay_min,
                  &R::sync_in_delay_max),
        onOff<R>("sync-out", &R::sync_out_enable, &R::sync_out_enable_flags, sout),
        choice<R>("sync-out-source", &R::sync_out_source, &R::sync_out_source_flags, sout,
                  {{"a", HX_SYNC_OUT_SOURCE_A}, {"b", HX_SYNC_OUT_SOURCE_B}, {"keep", HX_SYNC_OUT_SOURCE_KEEP}}),
        onOff<R>("arm-in", &R::arm_in_enable, &R::arm_in_enable_flags, ain),
        onOff<R>("arm-in-mode", &R::arm_in_mode, &R::arm_in_mode_flags, ain),
        choice<R>("arm-in-edge", &R::arm_in_edge, &R::arm_in_edge_flags, ain, EDGES),
        onOff<R>("arm-in-select", &R::arm_in_select, &R::arm_in_select_flags, ain),
        onOff<R>("arm-out", &R::arm_out_enable, &R::arm_out_enable_flags, aout),
        onOff<R>("arm-out-pass-thru", &R::arm_out_pass_thru, &R::arm_out_pass_thru_flags, aout),
        onOff<R>("arm-out-invert", &R::arm_out_invert, &R::arm_out_invert_flags, aout),
        onOff<R>("arm-out-active-low", &R::arm_out_active_low, &R::arm_out_active_low_flags, aout),
        onOff<R>("arm-out-pulse", &R::arm_out_pulse_enable, &R::arm_out_pulse_enable_flags, aout),
        number<R>("arm-out-pulse-width", &R::arm_out_pulse_width, &R::arm_out_pulse_width_flags, aout,
                  &R::arm_out_pulse_width_min, &R::arm_out_pulse_width_max),
    };
    return all;
}

const std::vector<Field<HX_DOWNLOAD_SETTINGS>>& downloadFields()
{
    using R = HX_DOWNLOAD_SETTINGS;
    static const std::vector<Field<R>> all{
        choice<R>("format", &R::format, &R::format_flags, nullptr,
                  {{"jpeg", HX_FORMAT_JPEG},
                   {"type3", HX_FORMAT_TYPE3},
                   {"type2", HX_FORMAT_TYPE2},
                   {"dng", HX_FORMAT_DNG},
                   {"tiff", HX_FORMAT_TIFF},
                   {"packed", HX_FORMAT_PACKED}},
                  &R::format_caps),
        number<R>("jpeg", &R::jpeg_quality, &R::jpeg_quality_flags, nullptr, &R::jpeg_quality_min,
                  &R::jpeg_quality_max),
        number<R>("from", &R::start, &R::start_flags, nullptr, nullptr, &R::start_max),
        number<R>("to", &R::stop, &R::stop_flags, nullptr, nullptr, &R::stop_max),
        number<R>("packet", &R::turbo_packet_length, &R::turbo_packet_length_flags),
        number<R>("delay", &R::turbo_delay, &R::turbo_delay_flags),
        number<R>("pause", &R::pause_count, &R::rate_control_flags),
        number<R>("resume", &R::resume_count, &R::rate_control_flags),
    };
    return all;
}

const std::vector<Field<HX_STREAM_SETTINGS>>& streamFields()
{
    using R = HX_STREAM_SETTINGS;
    static const std::vector<Field<R>> all{
        number<R>("delay", &R::interpacket_delay, &R::interpacket_delay_flags),
        number<R>("jpeg", &R::jpeg_quality, &R::jpeg_quality_flags, nullptr, &R::jpeg_quality_min,
                  &R::jpeg_quality_max),
    };
    return all;
}

const std::vector<Field<HX_ANALOG_GAIN>>& gainFields()
{
    using R = HX_ANALOG_GAIN;
    static const std::vector<Field<R>> all{
        choice<R>("gain", &R::gain, &R::flags, nullptr,
                  {{"1.00", HX_ANALOG_GAIN_1_00},
                   {"1.50", HX_ANALOG_GAIN_1_50},
                   {"2.00", HX_ANALOG_GAIN_2_00},
                   {"2.50", HX_ANALOG_GAIN_2_50},
                   {"3.00", HX_ANALOG_GAIN_3_00},
                   {"3.50", HX_ANALOG_GAIN_3_50},
                   {"4.00", HX_ANALOG_GAIN_4_00},
                   {"4.50", HX_ANALOG_GAIN_4_50}},
                  &R::gain_caps),
    };
    return all;
}

bool parseNumber(const std::string& text, uint32_t& value)
{
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || number > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

template <class R>
bool parseValue(const Field<R>& field, const std::string& text, uint32_t& value)
{
    if (field.form == Form::Number)
        return parseNumber(text, value);
    for (const Choice& option : field.form == Form::OnOff ? ON_OFF : field.choices) {
        if (text == option.text) {
            value = option.value;
            return true;
        }
    }
    return false;
}

template <class R>
std::string forms(const Field<R>& field)
{
    if (field.form == Form::Number)
        return "N";
    std::string text;
    for (const Choice& option : field.form == Form::OnOff ? ON_OFF : field.choices)
        text += std::string(text.empty() ? "" : "|") + option.text;
    return text;
}

template <class R>
std::string valueText(const Field<R>& field, const R& record)
{
    const uint32_t value = record.*field.value;
    if (field.form != Form::Number) {
        for (const Choice& option : field.form == Form::OnOff ? ON_OFF : field.choices)
            if (option.value == value)
                return option.text;
    }
    return std::to_string(value);
}

template <class R>
std::string limits(const Field<R>& field, const R& record)
{
    if (field.caps != nullptr) {
        std::string offered;
        for (const Choice& option : field.choices)
            if ((record.*field.caps & option.value) != 0)
                offered += std::string(" ") + option.text;
        return "offered:" + offered;
    }
    if (field.max == nullptr)
        return {};
    const std::string low = field.min != nullptr ? std::to_string(record.*field.min) : "0";
    return low + ".." + std::to_string(record.*field.max);
}

template <class R>
bool apply(const std::vector<Field<R>>& fields, R& record, const std::string& key, const std::string& text,
           std::string& error)
{
    for (const Field<R>& field : fields) {
        if (key != field.key)
            continue;
        uint32_t value = 0;
        if (!parseValue(field, text, value)) {
            error = std::string("'").append(text).append("' is not a value of ").append(key);
            error.append(" (").append(forms(field)).append(")");
            return false;
        }
        record.*field.value = value;
        record.*field.flags |= HX_FLAG_SET;
        if (field.group != nullptr)
            record.*field.group |= HX_FLAG_SET;
        record.flags |= HX_FLAG_SET;
        return true;
    }
    error = "unknown key '" + key + "'";
    return false;
}

// With `requested`, only the refused fields, each with the value that was asked for.
template <class R>
std::vector<std::string> lines(const std::vector<Field<R>>& fields, const R& record, const R* requested = nullptr)
{
    const bool refusedOnly = requested != nullptr;
    std::vector<std::string> out;
    for (const Field<R>& field : fields) {
        const uint32_t flags = record.*field.flags;
        const bool refused = (flags & HX_FLAG_ERR) != 0;
        if (refusedOnly && !refused)
            continue;
        std::string line = std::string(field.key) + "=" + valueText(field, refusedOnly ? *requested : record);
        std::string note = limits(field, record);
        if (refused)
            note += std::string(note.empty() ? "" : " ") + "[refused]";
        else if ((flags & (HX_FLAG_SET | HX_FLAG_CHG)) == (HX_FLAG_SET | HX_FLAG_CHG))
            note += std::string(note.empty() ? "" : " ") + "[changed]";
        if (!note.empty() && !refusedOnly)
            line += std::string(line.size() < 28 ? 28 - line.size() : 1, ' ') + "# " + note;
        out.push_back(line);
    }
    return out;
}

// Only a field with a flags word of its own can be refused apart from the record.
template <class R>
bool failedAsAWhole(const std::vector<Field<R>>& fields, const R& record)
{
    if ((record.flags & HX_FLAG_ERR) == 0)
        return false;
    for (const Field<R>& field : fields)
        if (field.flags != &R::flags && (record.*field.flags & HX_FLAG_ERR) != 0)
            return false;
    return true;
}

template <class R>
std::vector<std::string> heldByCamera(const std::vector<Field<R>>& fields, R& after, const R& requested,
                                      const R& camera, std::size_t& unconfirmed)
{
    std::vector<std::string> applied;
    for (const Field<R>& field : fields) {
        if ((requested.*field.flags & HX_FLAG_SET) == 0)
            continue;
        if (requested.*field.value != camera.*field.value) {
            ++unconfirmed;
            continue;
        }
        after.*field.value = camera.*field.value;
        after.*field.flags &= ~uint32_t{HX_FLAG_ERR};
        applied.push_back(std::string(field.key) + "=" + valueText(field, requested));
    }
    return applied;
}

// The same kind's member of another record.
template <class R>
const R& sameKind(const AnyRecord& record)
{
    if constexpr (std::is_same_v<R, HX_IO_SETTINGS>)
        return record.io;
    else if constexpr (std::is_same_v<R, HX_DOWNLOAD_SETTINGS>)
        return record.download;
    else if constexpr (std::is_same_v<R, HX_STREAM_SETTINGS>)
        return record.stream;
    else
        return record.gain;
}

// The keys with their forms, wrapped to lines of at most 100 characters under the label.
template <class R>
std::string help(const char* label, const std::vector<Field<R>>& fields)
{
    const std::string indent(12, ' ');
    std::string text = std::string("  ") + label + std::string(10 - std::string(label).size(), ' ');
    std::size_t lineStart = 0;
    bool first = true;
    for (const Field<R>& field : fields) {
        const std::string entry = std::string(field.key) + "=" + forms(field);
        if (!first && text.size() - lineStart + entry.size() + 1 > 100) {
            text += "\n";
            lineStart = text.size();
            text += indent;
        } else if (!first) {
            text += " ";
        }
        text += entry;
        first = false;
    }
    return text + "\n";
}

// Runs `action` on the record of the kind together with its field table.
template <class Action>
auto onRecord(const AnyRecord& record, Action action)
{
    switch (record.kind) {
    case RecordKind::Io: return action(ioFields(), record.io);
    case RecordKind::Download: return action(downloadFields(), record.download);
    case RecordKind::Stream: return action(streamFields(), record.stream);
    default: return action(gainFields(), record.gain);
    }
}

template <class Action>
auto onRecord(AnyRecord& record, Action action)
{
    switch (record.kind) {
    case RecordKind::Io: return action(ioFields(), record.io);
    case RecordKind::Download: return action(downloadFields(), record.download);
    case RecordKind::Stream: return action(streamFields(), record.stream);
    default: return action(gainFields(), record.gain);
    }
}

} // namespace

bool recordKind(const std::string& word, RecordKind& kind)
{
    if (word == "io")
        kind = RecordKind::Io;
    else if (word == "download")
        kind = RecordKind::Download;
    else if (word == "stream")
        kind = RecordKind::Stream;
    else if (word == "gain")
        kind = RecordKind::Gain;
    else
        return false;
    return true;
}

AnyRecord emptyRecord(RecordKind kind)
{
    AnyRecord record;
    record.kind = kind;
    HX_io_settings_init(&record.io, sizeof(record.io));
    HX_download_settings_init(&record.download, sizeof(record.download));
    HX_stream_settings_init(&record.stream, sizeof(record.stream));
    HX_analog_gain_init(&record.gain, sizeof(record.gain));
    return record;
}

bool applySetting(AnyRecord& record, const std::string& assignment, std::string& error)
{
    std::string key;
    std::string value;
    if (!splitAssignment(assignment, key, value, error))
        return false;
    return onRecord(record, [&](const auto& fields, auto& typed) { return apply(fields, typed, key, value, error); });
}

std::vector<std::string> describe(const AnyRecord& record)
{
    return onRecord(record, [](const auto& fields, const auto& typed) { return lines(fields, typed); });
}

std::vector<std::string> refusedFields(const AnyRecord& record, const AnyRecord& requested)
{
    return onRecord(record, [&requested](const auto& fields, const auto& typed) {
        using Record = std::decay_t<decltype(typed)>;
        return lines(fields, typed, &sameKind<Record>(requested));
    });
}

bool writeFailed(const AnyRecord& after)
{
    return onRecord(after, [](const auto& fields, const auto& typed) { return failedAsAWhole(fields, typed); });
}

std::vector<std::string> appliedDespiteFailure(AnyRecord& after, const AnyRecord& requested, const AnyRecord& camera,
                                               std::size_t& unconfirmed)
{
    unconfirmed = 0;
    return onRecord(after, [&](const auto& fields, auto& typed) {
        using Record = std::decay_t<decltype(typed)>;
        return heldByCamera(fields, typed, sameKind<Record>(requested), sameKind<Record>(camera), unconfirmed);
    });
}

int reportWrite(const std::vector<std::string>& timedOut, const std::vector<std::string>& refused, bool failed,
                std::size_t unconfirmed)
{
    for (const std::string& field : timedOut)
        std::fprintf(stderr, "hxcam: timed out: %s (no acknowledge in time; read back, the camera holds it)\n",
                     field.c_str());
    for (const std::string& field : refused)
        std::fprintf(stderr, "hxcam: refused: %s\n", field.c_str());
    if (failed && (unconfirmed != 0 || timedOut.empty())) {
        std::fprintf(stderr, "hxcam: the camera did not confirm the settings; see the log above\n");
        return 2;
    }
    return refused.empty() ? 0 : 3;
}

std::string recordKeysHelp()
{
    return help("io:", ioFields()) + help("download:", downloadFields()) + help("stream:", streamFields()) +
           help("gain:", gainFields());
}

} // namespace hxcam
