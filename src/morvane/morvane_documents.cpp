// Morvane documents: reading the camera's lens and temperature texts and writing lens settings.
#include "morvane/morvane_documents.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include <hlv_thread/log.h>

namespace halvex::morvane::documents {
namespace {

// Reads a boolean member; a missing one logs and reads as false.
bool requiredFlag(const Json::Value& document, const char* key, const char* method)
{
    if (!document.isMember(key)) {
        HLV_LOG("%s: No %s field found!", method, key);
        return false;
    }
    return document[key].asBool();
}

void store(uint32_t& value, uint32_t& flags, uint32_t newValue)
{
    value = newValue;
    flags |= HX_FLAG_CHG;
}

// A number as tenths; values that do not fit a 32-bit field are a type error, as jsoncpp would
// report for an integer out of range.
uint32_t tenthsOf(const Json::Value& value)
{
    const double number = value.asDouble();
    const double scaled = std::trunc(number * 10.0);
    if (!std::isfinite(scaled) || scaled < std::numeric_limits<int32_t>::min() ||
        scaled > std::numeric_limits<uint32_t>::max())
        throw Json::LogicError("number out of range for an f-number");
    return scaled < 0 ? static_cast<uint32_t>(static_cast<int32_t>(scaled)) : static_cast<uint32_t>(scaled);
}

void storeFraction(const Json::Value& document, const char* key, uint32_t& numerator, uint32_t& denominator,
                   uint32_t& flags)
{
    numerator = document.isMember(key) ? tenthsOf(document[key]) : 0;
    denominator = 10;
    flags |= HX_FLAG_CHG;
}

void storeUnsigned(const Json::Value& document, const char* key, uint32_t& value, uint32_t& flags)
{
    store(value, flags, document.isMember(key) ? document[key].asUInt() : 0);
}

void storeBool(const Json::Value& document, const char* key, uint32_t& value, uint32_t& flags)
{
    store(value, flags, document.isMember(key) && document[key].asBool() ? 1 : 0);
}

void fillStatusFields(const Json::Value& document, HX_LENS_STATUS& record)
{
    storeFraction(document, "f_minimum", record.f_minimum_num, record.f_minimum_den, record.f_minimum_flags);
    storeFraction(document, "f_maximum", record.f_maximum_num, record.f_maximum_den, record.f_maximum_flags);
    storeFraction(document, "f_number", record.f_number_num, record.f_number_den, record.f_number_flags);
    storeUnsigned(document, "focus_pos", record.focus_pos, record.focus_pos_flags);
    storeUnsigned(document, "focus_min", record.focus_min, record.focus_min_flags);
    storeUnsigned(document, "focus_near", record.focus_near, record.focus_near_flags);
    storeUnsigned(document, "focus_inf", record.focus_inf, record.focus_inf_flags);
    storeUnsigned(document, "zoom_pos", record.zoom_pos, record.zoom_pos_flags);
    storeUnsigned(document, "focal_len", record.focal_len, record.focal_len_flags);
    storeBool(document, "manual_focus", record.manual_focus, record.manual_focus_flags);
}

// Reads the three booleans every lens text starts from into the record.
void fillPresence(const Json::Value& document, HX_LENS_STATUS& record, const char* method)
{
    store(record.connected, record.connected_flags, requiredFlag(document, "connected", method) ? 1 : 0);
    store(record.powered, record.powered_flags, requiredFlag(document, "powered", method) ? 1 : 0);
    store(record.talking, record.talking_flags, requiredFlag(document, "talking", method) ? 1 : 0);
}

void fillInfoFields(const Json::Value& document, HX_LENS_STATUS& record)
{
    if (document.isMember("name")) {
        const std::string name = document["name"].asString();
        std::memset(record.name, 0, sizeof record.name);
        std::memcpy(record.name, name.data(), std::min<std::size_t>(name.size(), 64));
        record.name_flags |= HX_FLAG_CHG;
    }
    if (document.isMember("focal_len_tele"))
        store(record.focal_len_tele, record.focal_len_tele_flags, document["focal_len_tele"].asUInt());
    if (document.isMember("focal_len_wide"))
        store(record.focal_len_wide, record.focal_len_wide_flags, document["focal_len_wide"].asUInt());
    if (document.isMember("zoom_divisions"))
        store(record.zoom_divisions, record.zoom_divisions_flags, document["zoom_divisions"].asUInt());
    if (document.isMember("ez_enable"))
        store(record.ez_enable, record.ez_enable_flags, document["ez_enable"].asBool() ? 1 : 0);
}

// Runs a fill that may meet a member of the wrong type; jsoncpp reports those by throwing.
template <typename Fill>
bool guarded(const char* method, Fill fill)
{
    try {
        fill();
        return true;
    } catch (const Json::Exception& error) {
        HLV_LOG("%s: JSon threw an exception: %s", method, error.what());
    } catch (const std::exception& error) {
        HLV_LOG("%s: JSon threw an exception: %s", method, error.what());
    }
    return false;
}

} // namespace

bool parse(const std::string& text, Json::Value& document, const char* method)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader) {
        HLV_LOG("%s: Unable to create a reader!", method);
        return false;
    }
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &document, &errors) || !document.isObject()) {
        HLV_LOG("%s: Error parsing '%s', str_length=%d", method, text.c_str(), static_cast<int>(text.size()));
        HLV_LOG("%s: Error='%s'", method, errors.empty() ? "not a JSON object" : errors.c_str());
        return false;
    }
    return true;
}

std::string write(const Json::Value& document)
{
    Json::StreamWriterBuilder builder;
    builder["commentStyle"] = "All";
    builder["indentation"] = "";
    builder["precision"] = 5;
    builder["precisionType"] = "decimal";
    return Json::writeString(builder, document);
}

uint32_t tenths(double value)
{
    return tenthsOf(Json::Value(value));
}

bool fillLensStatus(const Json::Value& document, HX_LENS_STATUS& record, const char* method)
{
    return guarded(method, [&] {
        fillPresence(document, record, method);
        fillStatusFields(document, record);
    });
}

bool fillLensInfo(const Json::Value& document, HX_LENS_STATUS& record, const char* method, const std::string& camera)
{
    return guarded(method, [&] {
        fillPresence(document, record, method);
        if (record.connected == 0)
            HLV_LOG("%s(%s): Not connected?", method, camera.c_str());
        else if (record.powered == 0)
            HLV_LOG("%s(%s): Not powered?", method, camera.c_str());
        else if (record.talking == 0)
            HLV_LOG("%s(%s): Not talking?", method, camera.c_str());
        else
            fillInfoFields(document, record);
    });
}

bool fillTemperature(const Json::Value& document, HX_TEMPERATURE& record, const char* method)
{
    const std::pair<const char*, float*> fields[] = {
        {"temp_a10_ext", &record.temp_a10_ext},
        {"temp_a10_int", &record.temp_a10_int},
        {"temp_em2120", &record.temp_em2120},
        {"temp_fan_external", &record.temp_fan_external},
        {"temp_fan_internal", &record.temp_fan_internal},
        {"temp_firefly", &record.temp_firefly},
        {"temp_nvme", &record.temp_nvme},
        {"temp_pcie", &record.temp_pcie},
        {"temp_sensor", &record.temp_sensor},
    };
    return guarded(method, [&] {
        for (const auto& [key, field] : fields) {
            if (!document.isMember(key))
                HLV_LOG("%s: No %s field found!", method, key);
            else
                *field = document[key].asFloat();
        }
    });
}

std::optional<std::string> lensSettingsText(HX_LENS_SETTINGS& record, const char* method, const std::string& camera)
{
    Json::Value document(Json::objectValue);
    if (record.power_flags & HX_FLAG_SET)
        document["power"] = Json::UInt(record.power);
    if (record.f_number_flags & HX_FLAG_SET) {
        if (record.f_number_den == 0) {
            HLV_LOG("%s(%s): f_number_div cannot be 0.", method, camera.c_str());
            record.f_number_flags |= kErrorBit;
        } else {
            // The camera takes the aperture as a real; the fraction is divided in single precision.
            const float aperture = static_cast<float>(record.f_number_num) / static_cast<float>(record.f_number_den);
            document["f_number"] = static_cast<double>(aperture);
        }
    }
    if (record.focus_pos_flags & HX_FLAG_SET)
        document["focus_dist"] = Json::UInt(record.focus_pos);
    if (record.zoom_pos_flags & HX_FLAG_SET)
        document["zoom_enc"] = Json::UInt(record.zoom_pos);
    std::string text = write(document);
    if (text.size() > kMaxSentText) {
        HLV_LOG("%s(%s): Message is too long to send (%d)", method, camera.c_str(), static_cast<int>(text.size()));
        return std::nullopt;
    }
    return text;
}

} // namespace halvex::morvane::documents
