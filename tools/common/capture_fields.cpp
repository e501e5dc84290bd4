// Capture fields: parsing of "key=value" settings and the text form of a capture record.
#include "capture_fields.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <optional>

namespace halvex::common {
namespace {

using Word = uint32_t HX_CAPTURE_SETTINGS::*;

struct Name {
    const char* text;
    uint32_t value;
};

constexpr std::array<Name, 9> bitModeNames{{{"8a", HX_BIT_MODE_8A},
                                            {"8b", HX_BIT_MODE_8B},
                                            {"8c", HX_BIT_MODE_8C},
                                            {"8d", HX_BIT_MODE_8D},
                                            {"8e", HX_BIT_MODE_8E},
                                            {"10a", HX_BIT_MODE_10A},
                                            {"10b", HX_BIT_MODE_10B},
                                            {"10c", HX_BIT_MODE_10C},
                                            {"12", HX_BIT_MODE_12}}};
constexpr std::array<Name, 6> bnsNames{{{"1x1", HX_BNS_MODE_1X1},
                                        {"1x2", HX_BNS_MODE_1X2},
                                        {"1x4", HX_BNS_MODE_1X4},
                                        {"2x1", HX_BNS_MODE_2X1},
                                        {"4x1", HX_BNS_MODE_4X1},
                                        {"2x2", HX_BNS_MODE_2X2}}};
constexpr std::array<Name, 5> fpnNames{{{"off", HX_FPN_MODE_OFF},
                                        {"a", HX_FPN_MODE_A},
                                        {"b", HX_FPN_MODE_B},
                                        {"b+extra", HX_FPN_MODE_B | HX_FPN_MODE_B_EXTRA},
                                        {"calibrate", HX_FPN_MODE_CALIBRATE}}};
constexpr std::array<Name, 5> recordModeNames{{{"standard", HX_RECORD_MODE_STANDARD},
                                               {"ltr", HX_RECORD_MODE_LTR},
                                               {"paged", HX_RECORD_MODE_PAGED},
                                               {"paged-b", HX_RECORD_MODE_PAGED_B},
                                               {"paged-c", HX_RECORD_MODE_PAGED_C}}};

enum class Kind { Number, Choice, Rate };

// One settable field: where its words are and how its value is written.
struct Field {
    const char* key;
    Kind kind;
    Word value;
    Word flags;
    Word group;
    Word max = nullptr;
    Word min = nullptr;
    Word step = nullptr;
    Word caps = nullptr;
    const Name* names = nullptr;
    std::size_t nameCount = 0;
};

template <std::size_t N>
Field choice(const char* key, Word value, Word flags, Word group, Word caps, const std::array<Name, N>& names)
{
    Field field{key, Kind::Choice, value, flags, group};
    field.caps = caps;
    field.names = names.data();
    field.nameCount = N;
    return field;
}

Field number(const char* key, Word value, Word flags, Word group, Word max, Word min, Word step)
{
    Field field{key, Kind::Number, value, flags, group};
    field.max = max;
    field.min = min;
    field.step = step;
    return field;
}

const std::vector<Field>& fields()
{
    using R = HX_CAPTURE_SETTINGS;
    static const std::vector<Field> all{
        choice("bit-mode", &R::bit_mode, &R::bit_mode_flags, &R::sensor_group_flags, &R::bit_mode_caps, bitModeNames),
        choice("bns", &R::bns_mode, &R::bns_mode_flags, &R::sensor_group_flags, &R::bns_mode_caps, bnsNames),
        choice("fpn", &R::fpn_mode, &R::fpn_mode_flags, &R::sensor_group_flags, &R::fpn_mode_caps, fpnNames),
        number("width", &R::width, &R::width_flags, &R::sensor_group_flags, &R::width_max, &R::width_min,
               &R::width_constr),
        number("height", &R::height, &R::height_flags, &R::sensor_group_flags, &R::height_max, &R::height_min,
               &R::height_constr),
        number("x", &R::x_offset, &R::x_offset_flags, &R::sensor_group_flags, &R::x_offset_max, &R::x_offset_min,
               &R::x_offset_constr),
        number("y", &R::y_offset, &R::y_offset_flags, &R::sensor_group_flags, &R::y_offset_max, &R::y_offset_min,
               &R::y_offset_constr),
        choice("record-mode", &R::record_mode, &R::record_mode_flags, &R::record_group_flags, nullptr, recordModeNames),
        number("length", &R::length, &R::length_flags, &R::record_group_flags, &R::length_max, nullptr, nullptr),
        number("trigger", &R::trigger, &R::trigger_flags, &R::record_group_flags, nullptr, nullptr, nullptr),
        Field{"fps", Kind::Rate, &R::rate, &R::rate_flags, &R::record_group_flags, &R::rate_max, &R::rate_min,
              &R::rate_constr},
        number("exposure", &R::exposure, &R::exposure_flags, &R::exposure_group_flags, &R::exposure_max,
               &R::exposure_min, &R::exposure_constr),
        number("low-light", &R::low_light, &R::low_light_flags, &R::exposure_group_flags, &R::low_light_max,
               &R::low_light_min, nullptr),
    };
    return all;
}

const Field* findField(const std::string& key)
{
    for (const Field& field : fields()) {
        if (key == field.key) {
            return &field;
        }
    }
    return nullptr;
}

// A plain unsigned number: decimal, or hexadecimal after 0x; nothing else.
std::optional<uint32_t> parseNumber(const std::string& text)
{
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const auto isDigit = [hex](char c) {
        return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    };
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit)) {
        return std::nullopt;
    }
    const unsigned long long value = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

bool allDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A frame rate as frames per second with up to three decimals: "500" or "29.97" (2997 / 100).
bool parseRate(const std::string& text, uint32_t& rate, uint32_t& divisor)
{
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (!allDigits(whole) || whole.size() > 10 || (dot != std::string::npos && !allDigits(fraction)) ||
        fraction.size() > 3) {
        return false;
    }
    divisor = 1;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        divisor *= 10;
    }
    const uint64_t scaled = std::stoull(whole) * divisor + (fraction.empty() ? 0 : std::stoull(fraction));
    if (scaled > UINT32_MAX) {
        return false;
    }
    rate = static_cast<uint32_t>(scaled);
    return true;
}

std::optional<uint32_t> parseChoice(const Field& field, const std::string& text)
{
    for (std::size_t i = 0; i < field.nameCount; ++i) {
        if (text == field.names[i].text) {
            return field.names[i].value;
        }
    }
    return parseNumber(text);
}

void markSet(HX_CAPTURE_SETTINGS& record, const Field& field)
{
    record.*(field.flags) |= HX_FLAG_SET;
    record.*(field.group) |= HX_FLAG_SET;
    record.flags |= HX_FLAG_SET;
}

bool applyField(HX_CAPTURE_SETTINGS& record, const Field& field, const std::string& text, std::string& error)
{
    std::optional<uint32_t> value;
    if (field.kind == Kind::Rate) {
        uint32_t rate = 0;
        uint32_t divisor = 1;
        if (parseRate(text, rate, divisor)) {
            record.rate_divisor = divisor;
            value = rate;
        }
    } else if (field.kind == Kind::Choice) {
        value = parseChoice(field, text);
    } else {
        value = parseNumber(text);
    }
    if (!value) {
        error = std::string("'") + text + "' is not a value for " + field.key;
        return false;
    }
    record.*(field.value) = *value;
    markSet(record, field);
    return true;
}

// "WIDTHxHEIGHT" with an optional "+X+Y": the region of interest in one go.
bool applyRoi(HX_CAPTURE_SETTINGS& record, const std::string& text, std::string& error)
{
    const std::size_t by = text.find('x');
    const std::size_t plus = text.find('+');
    const std::string size = text.substr(0, plus);
    std::vector<std::string> parts{size.substr(0, by), by == std::string::npos ? "" : size.substr(by + 1)};
    if (plus != std::string::npos) {
        const std::size_t second = text.find('+', plus + 1);
        if (second == std::string::npos) {
            error = "roi needs both offsets: WIDTHxHEIGHT+X+Y";
            return false;
        }
        parts.push_back(text.substr(plus + 1, second - plus - 1));
        parts.push_back(text.substr(second + 1));
    }
    const std::array<const char*, 4> keys{"width", "height", "x", "y"};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!parseNumber(parts[i])) {
            error = "'" + text + "' is not a region of interest (WIDTHxHEIGHT or WIDTHxHEIGHT+X+Y)";
            return false;
        }
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        applyField(record, *findField(keys[i]), parts[i], error);
    }
    return true;
}

std::string nameOf(const Field& field, uint32_t value)
{
    for (std::size_t i = 0; i < field.nameCount; ++i) {
        if (field.names[i].value == value) {
            return field.names[i].text;
        }
    }
    char text[16];
    std::snprintf(text, sizeof(text), "0x%" PRIX32, value);
    return text;
}

std::string namesIn(const Field& field, uint32_t caps)
{
    std::string text;
    for (std::size_t i = 0; i < field.nameCount; ++i) {
        const uint32_t value = field.names[i].value;
        if (value != 0 && (caps & value) == value && (value & (value - 1)) == 0) {
            text += (text.empty() ? "" : " ") + std::string(field.names[i].text);
        }
    }
    return text;
}

std::string rateText(uint32_t rate, uint32_t divisor)
{
    if (divisor <= 1) {
        return std::to_string(rate);
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", static_cast<double>(rate) / divisor);
    std::string trimmed = text;
    trimmed.erase(trimmed.find_last_not_of('0') + 1);
    if (trimmed.back() == '.') {
        trimmed.pop_back();
    }
    return trimmed;
}

std::string valueText(const HX_CAPTURE_SETTINGS& record, const Field& field)
{
    switch (field.kind) {
    case Kind::Choice: return nameOf(field, record.*(field.value));
    case Kind::Rate: return rateText(record.rate, record.rate_divisor);
    case Kind::Number: break;
    }
    return std::to_string(record.*(field.value));
}

std::string limitsText(const HX_CAPTURE_SETTINGS& record, const Field& field)
{
    if (field.caps != nullptr) {
        return "offered: " + namesIn(field, record.*(field.caps));
    }
    std::string text;
    if (field.max != nullptr) {
        const std::string min = field.min != nullptr ? std::to_string(record.*(field.min)) : "1";
        text = min + ".." + std::to_string(record.*(field.max));
    }
    if (field.step != nullptr && record.*(field.step) > 1) {
        text += " step " + std::to_string(record.*(field.step));
    }
    return text;
}

std::string outcomeText(const HX_CAPTURE_SETTINGS& record, const Field& field, const HX_CAPTURE_SETTINGS* requested)
{
    const uint32_t flags = record.*(field.flags);
    if ((flags & HX_FLAG_ERR) != 0) {
        return "[refused]";
    }
    if (requested != nullptr && (requested->*(field.flags) & HX_FLAG_SET) != 0 &&
        valueText(*requested, field) != valueText(record, field)) {
        return "[changed]";
    }
    return "";
}

bool isExposureField(const Field& field)
{
    return field.group == &HX_CAPTURE_SETTINGS::exposure_group_flags;
}

} // namespace

bool splitAssignment(const std::string& assignment, std::string& key, std::string& value, std::string& error)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = "'" + assignment + "' is not KEY=VALUE";
        return false;
    }
    key = assignment.substr(0, equals);
    value = assignment.substr(equals + 1);
    return true;
}

bool applyCaptureSetting(HX_CAPTURE_SETTINGS& record, const std::string& assignment, std::string& error)
{
    std::string key;
    std::string value;
    if (!splitAssignment(assignment, key, value, error)) {
        return false;
    }
    if (key == "roi") {
        return applyRoi(record, value, error);
    }
    const Field* field = findField(key);
    if (field == nullptr) {
        error = "unknown capture setting '" + key + "' (see hxcam --help)";
        return false;
    }
    return applyField(record, *field, value, error);
}

std::vector<CaptureFieldView> captureFieldViews(const HX_CAPTURE_SETTINGS& record, const HX_CAPTURE_SETTINGS* requested)
{
    std::vector<CaptureFieldView> views;
    for (const Field& field : fields()) {
        CaptureFieldView view;
        view.key = field.key;
        view.value = valueText(record, field);
        view.limits = limitsText(record, field);
        if (field.max != nullptr) {
            view.hasRange = true;
            view.min = field.min != nullptr ? record.*(field.min) : 1;
            view.max = record.*(field.max);
        }
        for (std::size_t i = 0; i < field.nameCount; ++i) {
            const uint32_t value = field.names[i].value;
            if (field.caps == nullptr || ((record.*(field.caps) & value) == value && (value & (value - 1)) == 0))
                view.choices.emplace_back(field.names[i].text);
        }
        const std::string outcome = outcomeText(record, field, requested);
        view.refused = outcome == "[refused]";
        view.changed = outcome == "[changed]";
        views.push_back(std::move(view));
    }
    return views;
}

std::vector<std::string> describeCapture(const HX_CAPTURE_SETTINGS& record, const HX_CAPTURE_SETTINGS* requested)
{
    std::vector<std::string> lines;
    lines.push_back("roi=" + std::to_string(record.width) + "x" + std::to_string(record.height) + "+" +
                    std::to_string(record.x_offset) + "+" + std::to_string(record.y_offset));
    for (const CaptureFieldView& view : captureFieldViews(record, requested)) {
        std::string line = view.key + "=" + view.value;
        std::string comment = view.limits;
        const char* outcome = view.refused ? "[refused]" : view.changed ? "[changed]" : "";
        if (*outcome != '\0') {
            comment += (comment.empty() ? "" : "  ") + std::string(outcome);
        }
        if (!comment.empty()) {
            line.resize(std::max<std::size_t>(line.size() + 2, 20), ' ');
            line += "# " + comment;
        }
        lines.push_back(line);
    }
    return lines;
}

bool split(HX_CAPTURE_SETTINGS& record, HX_CAPTURE_SETTINGS& exposure)
{
    const bool others = ((record.sensor_group_flags | record.record_group_flags) & HX_FLAG_SET) != 0;
    if (!others || (record.exposure_group_flags & HX_FLAG_SET) == 0) {
        return false;
    }
    exposure = record;
    exposure.sensor_group_flags &= ~uint32_t{HX_FLAG_SET};
    exposure.record_group_flags &= ~uint32_t{HX_FLAG_SET};
    record.exposure_group_flags &= ~uint32_t{HX_FLAG_SET};
    return true;
}

void keepOutcome(const HX_CAPTURE_SETTINGS& first, HX_CAPTURE_SETTINGS& record)
{
    for (const Field& field : fields()) {
        if (!isExposureField(field)) {
            record.*(field.flags) = first.*(field.flags);
        }
    }
    record.sensor_group_flags = first.sensor_group_flags;
    record.record_group_flags = first.record_group_flags;
    record.flags |= first.flags & (HX_FLAG_ERR | HX_FLAG_CHG);
}

std::vector<std::string> refusedFields(const HX_CAPTURE_SETTINGS& record, const HX_CAPTURE_SETTINGS* requested)
{
    std::vector<std::string> refused;
    for (const Field& field : fields()) {
        if ((record.*(field.flags) & HX_FLAG_ERR) != 0) {
            const std::string limits = limitsText(record, field);
            const std::string value = valueText(requested != nullptr ? *requested : record, field);
            refused.push_back(std::string(field.key) + "=" + value + (limits.empty() ? "" : " (" + limits + ")"));
        }
    }
    return refused;
}

std::vector<std::string> appliedDespiteTimeout(HX_CAPTURE_SETTINGS& after, const HX_CAPTURE_SETTINGS& requested,
                                               const HX_CAPTURE_SETTINGS& camera, std::size_t& unconfirmed)
{
    const bool writeFailed = (after.flags & HX_FLAG_ERR) != 0;
    std::vector<std::string> applied;
    unconfirmed = 0;
    for (const Field& field : fields()) {
        const bool marked = writeFailed || (after.*(field.flags) & HX_FLAG_ERR) != 0;
        if (!marked || (requested.*(field.flags) & HX_FLAG_SET) == 0) {
            continue;
        }
        if (valueText(requested, field) != valueText(camera, field)) {
            unconfirmed += writeFailed ? 1 : 0;
            continue;
        }
        after.*(field.flags) &= ~uint32_t{HX_FLAG_ERR};
        after.*(field.value) = camera.*(field.value);
        if (field.kind == Kind::Rate) {
            after.rate_divisor = camera.rate_divisor;
        }
        applied.push_back(std::string(field.key) + "=" + valueText(requested, field));
    }
    return applied;
}

std::string captureKeysHelp()
{
    return "  bit-mode=8a|8b|8c|8d|8e|10a|10b|10c|12   pixel depth and packing\n"
           "  bns=1x1|1x2|1x4|2x1|4x1|2x2              binning\n"
           "  fpn=off|a|b|calibrate                    fixed-pattern-noise correction\n"
           "  roi=WIDTHxHEIGHT[+X+Y]                   region of interest (or width=, height=, x=, y=)\n"
           "  record-mode=standard|ltr|paged|paged-b|paged-c\n"
           "  length=FRAMES                            frames to record\n"
           "  trigger=FRAMES                           trigger position in the recording\n"
           "  fps=RATE                                 frames per second, e.g. 2000 or 29.97\n"
           "  exposure=MICROSECONDS\n"
           "  low-light=MICROSECONDS                   low-light exposure; 0 switches it off\n";
}

} // namespace halvex::common
