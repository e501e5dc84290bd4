// Internal: the operating-system half of the log: the log file's descriptor and local time.
#pragma once

#include <ctime>
#include <string>

namespace halvex::thread {

// Opens `path` for writing, created when missing, neither truncated nor appending (shared with
// other writers and readers); -1 when it cannot be opened.
int openLogFile(const char* path);
// Writes the text; a failed write is ignored, as logging must not fail its caller.
void writeLogFile(int descriptor, const std::string& text);
void closeLogFile(int descriptor);

// The calendar time of `seconds` in the local time zone.
std::tm localTime(std::time_t seconds);

} // namespace halvex::thread
