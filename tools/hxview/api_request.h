// hxview API requests: the values the page sends, checked before anything reaches a camera.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hxview {

// A frame or sequence number in decimal, nothing else; false for text that is not one.
bool parseNumber(const std::string& text, uint64_t maximum, uint64_t& value);
// A JSON object of capture settings ({"fps": "2000", "exposure": 100}) as "key=value" texts;
// false with a reason for anything else.
bool parseCaptureBody(const std::string& body, std::vector<std::string>& assignments, std::string& error);
// {"from": A, "to": B} with A <= B.
bool parseRangeBody(const std::string& body, uint32_t& from, uint32_t& to, std::string& error);
// {"on": true|false}
bool parseSwitchBody(const std::string& body, bool& on, std::string& error);
// {"address": "A.B.C.D"}
bool parseAddressBody(const std::string& body, std::string& address, std::string& error);

} // namespace hxview
