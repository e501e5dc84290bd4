// Diagnostic support for the API: record dumps into the log ("[IN]"/"[OUT]") and flag strings.
#pragma once

#include <hx/hx.h>

namespace halvex::api::support {

// Writes the record's dump, one time-stamped log line per field, whatever the trace mask: the
// caller decides whether to print. A NULL record prints nothing; a NULL label counts as empty.
// Never throws, so a dump cannot turn a call into a failure.
void printRecord(const HX_ANALOG_GAIN* record, const char* label) noexcept;
void printRecord(const HX_BATTERY_INFO* record, const char* label) noexcept;
void printRecord(const HX_CAMERA_INFORMATION* record, const char* label) noexcept;
void printRecord(const HX_CAPTURE_SETTINGS* record, const char* label) noexcept;
void printRecord(const HX_COMMAND* record, const char* label) noexcept;
void printRecord(const HX_DOWNLOAD_SETTINGS* record, const char* label) noexcept;
void printRecord(const HX_IO_SETTINGS* record, const char* label) noexcept;
void printRecord(const HX_LENS_SETTINGS* record, const char* label) noexcept;
void printRecord(const HX_LENS_STATUS* record, const char* label) noexcept;
void printRecord(const HX_PLAYBACK_SETTINGS* record, const char* label) noexcept;
void printRecord(const HX_PROGRESS* record, const char* label) noexcept;
void printRecord(const HX_READ_STREAM* record, const char* label) noexcept;
void printRecord(const HX_STREAM_SETTINGS* record, const char* label) noexcept;
void printRecord(const HX_TEMPERATURE* record, const char* label) noexcept;

} // namespace halvex::api::support
