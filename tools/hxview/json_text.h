// hxview JSON text: what the API sends and reads.
#pragma once

#include <string>

#include <json/json.h>

namespace hxview {

// One line of compact JSON.
std::string writeJson(const Json::Value& value);
// False, with the reason, for text that is not one JSON value.
bool parseJson(const std::string& text, Json::Value& value, std::string& error);
// {"type": type, "message": text}
Json::Value message(const std::string& type, const std::string& text);

} // namespace hxview
