// Diagnostic support for the API: record dumps into the log ("[IN]"/"[OUT]") and flag strings.
#include "api/support_functions.h"

#include <cstdio>

#include <hlv_thread/log.h>

#include "api/settings_printers.h"

namespace halvex::api::support {

namespace {

template <typename Record>
void logRecord(const Record* record, const char* label) noexcept
{
    if (record == nullptr) {
        return;
    }
    try {
        for (const PrintedLine& line : recordLines(*record, label)) {
            thread::logLine(line.file, line.line, line.text);
        }
    } catch (...) {
        // Out of memory while dumping: the dump is diagnostic, the call goes on without it.
    }
}

} // namespace

void printRecord(const HX_ANALOG_GAIN* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_BATTERY_INFO* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_CAMERA_INFORMATION* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_CAPTURE_SETTINGS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_COMMAND* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_DOWNLOAD_SETTINGS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_IO_SETTINGS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_LENS_SETTINGS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_LENS_STATUS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_PLAYBACK_SETTINGS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_PROGRESS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_READ_STREAM* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_STREAM_SETTINGS* record, const char* label) noexcept
{
    logRecord(record, label);
}
void printRecord(const HX_TEMPERATURE* record, const char* label) noexcept
{
    logRecord(record, label);
}

} // namespace halvex::api::support

extern "C" void HX_str_flags(int flags, char* buffer, unsigned size)
{
    if (buffer == nullptr || size == 0) {
        return;
    }
    if (size < 16) {
        buffer[0] = '\0';
    }
    // Bounded: a short buffer gets as much of the text as fits, always terminated.
    std::snprintf(buffer, size, "%s | %s | %s", (flags & HX_FLAG_ERR) != 0 ? "Err" : "---",
                  (flags & HX_FLAG_SET) != 0 ? "Set" : "---", (flags & HX_FLAG_CHG) != 0 ? "Chg" : "---");
}
