// Renders public records as the labelled, one-field-per-line text of the [IN]/[OUT] dumps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <hx/hx.h>

namespace halvex::api::support {

// One dump line with the source position that produced it, so the log can locate every line.
struct PrintedLine {
    const char* file;
    int line;
    std::string text;
};
using PrintedLines = std::vector<PrintedLine>;

// "Err | Set | Chg" for bits 0x4, 0x2, 0x8, with "---" for each clear bit.
std::string flagsText(uint32_t flags);

// The dump of one record under a label ("[IN]", "[OUT]"); a NULL label counts as empty.
PrintedLines recordLines(const HX_ANALOG_GAIN& record, const char* label);
PrintedLines recordLines(const HX_BATTERY_INFO& record, const char* label);
PrintedLines recordLines(const HX_CAMERA_INFORMATION& record, const char* label);
PrintedLines recordLines(const HX_CAPTURE_SETTINGS& record, const char* label);
PrintedLines recordLines(const HX_COMMAND& record, const char* label);
PrintedLines recordLines(const HX_DOWNLOAD_SETTINGS& record, const char* label);
PrintedLines recordLines(const HX_IO_SETTINGS& record, const char* label);
PrintedLines recordLines(const HX_LENS_SETTINGS& record, const char* label);
PrintedLines recordLines(const HX_LENS_STATUS& record, const char* label);
PrintedLines recordLines(const HX_PLAYBACK_SETTINGS& record, const char* label);
PrintedLines recordLines(const HX_PROGRESS& record, const char* label);
PrintedLines recordLines(const HX_READ_STREAM& record, const char* label);
PrintedLines recordLines(const HX_STREAM_SETTINGS& record, const char* label);
PrintedLines recordLines(const HX_TEMPERATURE& record, const char* label);

// The name of a camera state in HX_COMMAND dumps: "IDLE", "ARM", "TRIGGER", "REVIEW" or "unknown".
const char* cameraStateName(uint32_t state);

// The playback mode as three marks: "<" reverse, "||" pause, ">" forward, hyphens when clear.
std::string playbackModePicture(uint32_t mode);

} // namespace halvex::api::support
