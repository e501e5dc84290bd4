// Morvane documents: the JSON texts of the second family's lens and temperature channels, read
// into the public records and built from them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <json/json.h>

#include <hx/hx.h>

namespace halvex::morvane::documents {

// Bit or-ed into a record's status word (and a field's flags word) when its text was unusable.
inline constexpr uint32_t kErrorBit = 0x4;
// The longest text the family sends in one memory write.
inline constexpr std::size_t kMaxSentText = 512;

// Parses `text` into `document`; false after logging why (`method` begins each line).
bool parse(const std::string& text, Json::Value& document, const char* method);
// One-line text with five decimals, the form every text sent to the camera takes.
std::string write(const Json::Value& document);
// A camera f-number as a fraction in tenths: 2.8 gives 28 (truncated toward zero).
uint32_t tenths(double value);

// Fills the lens status part of `record` (offsets 8 to 131). Missing keys read as 0 or false.
// A value of the wrong type ends the fill with a log line; false then.
bool fillLensStatus(const Json::Value& document, HX_LENS_STATUS& record, const char* method);
// Fills the three booleans and, only for a lens that is connected, powered and talking, the
// name, focal lengths, zoom divisions and ez flag (missing ones are left alone). False when a
// value had the wrong type.
bool fillLensInfo(const Json::Value& document, HX_LENS_STATUS& record, const char* method, const std::string& camera);
// Stores each temperature found as a float; missing ones stay as they were.
bool fillTemperature(const Json::Value& document, HX_TEMPERATURE& record, const char* method);

// The text that sets the flagged lens fields, or nothing when it cannot be sent (too long). A
// flagged f-number with denominator 0 is left out and marked in error in `record`.
std::optional<std::string> lensSettingsText(HX_LENS_SETTINGS& record, const char* method, const std::string& camera);

} // namespace halvex::morvane::documents
