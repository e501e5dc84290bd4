// hxview API requests.
#include "api_request.h"

#include <algorithm>

#include "json_text.h"
#include "options.h"

namespace hxview {
namespace {

// More settings than the form has fields is no form.
constexpr Json::ArrayIndex kMaxSettings = 32;
constexpr std::size_t kMaxText = 32;

bool objectBody(const std::string& body, Json::Value& json, std::string& error)
{
    if (!parseJson(body, json, error))
        return false;
    if (!json.isObject()) {
        error = "the body is not a JSON object";
        return false;
    }
    return true;
}

bool unsignedMember(const Json::Value& json, const char* name, uint32_t& value, std::string& error)
{
    const Json::Value& member = json[name];
    if (!member.isUInt()) {
        error = std::string("'") + name + "' must be a whole number from 0 to 4294967295";
        return false;
    }
    value = member.asUInt();
    return true;
}

bool plainKey(const std::string& key)
{
    return !key.empty() && key.size() <= kMaxText &&
           std::all_of(key.begin(), key.end(), [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; });
}

} // namespace

bool parseNumber(const std::string& text, uint64_t maximum, uint64_t& value)
{
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const uint64_t number = std::stoull(text);
    if (number > maximum)
        return false;
    value = number;
    return true;
}

bool parseCaptureBody(const std::string& body, std::vector<std::string>& assignments, std::string& error)
{
    Json::Value json;
    if (!objectBody(body, json, error))
        return false;
    if (json.size() == 0 || json.size() > kMaxSettings) {
        error = "send between 1 and 32 settings";
        return false;
    }
    for (const std::string& key : json.getMemberNames()) {
        const Json::Value& value = json[key];
        if (!plainKey(key)) {
            error = "'" + key.substr(0, kMaxText) + "' is no setting name";
            return false;
        }
        std::string text;
        if (value.isUInt())
            text = std::to_string(value.asUInt());
        else if (value.isString() && value.asString().size() <= kMaxText)
            text = value.asString();
        else {
            error = "the value of '" + key + "' must be a number or a short text";
            return false;
        }
        assignments.push_back(key + "=");
        assignments.back() += text;
    }
    return true;
}

bool parseRangeBody(const std::string& body, uint32_t& from, uint32_t& to, std::string& error)
{
    Json::Value json;
    if (!objectBody(body, json, error) || !unsignedMember(json, "from", from, error) ||
        !unsignedMember(json, "to", to, error))
        return false;
    if (from > to) {
        error = "'from' must not be after 'to'";
        return false;
    }
    return true;
}

bool parseSwitchBody(const std::string& body, bool& on, std::string& error)
{
    Json::Value json;
    if (!objectBody(body, json, error))
        return false;
    if (!json["on"].isBool()) {
        error = "'on' must be true or false";
        return false;
    }
    on = json["on"].asBool();
    return true;
}

bool parseAddressBody(const std::string& body, std::string& address, std::string& error)
{
    Json::Value json;
    if (!objectBody(body, json, error))
        return false;
    const Json::Value& text = json["address"];
    if (!text.isString() || !isDottedAddress(text.asString())) {
        error = "'address' must be a dotted IPv4 address";
        return false;
    }
    address = text.asString();
    return true;
}

} // namespace hxview
