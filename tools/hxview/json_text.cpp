// hxview JSON text.
#include "json_text.h"

#include <memory>

namespace hxview {

std::string writeJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

bool parseJson(const std::string& text, Json::Value& value, std::string& error)
{
    Json::CharReaderBuilder builder;
    // Bodies come from any page or tool: refuse anything beyond plain JSON, and deep nesting.
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["stackLimit"] = 20;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string problems;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &problems)) {
        error = "the body is not JSON: " + problems;
        return false;
    }
    return true;
}

Json::Value message(const std::string& type, const std::string& text)
{
    Json::Value json;
    json["type"] = type;
    json["message"] = text;
    return json;
}

} // namespace hxview
