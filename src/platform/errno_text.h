// The system's text for an error number, for log lines and exception texts.
#pragma once

#include <string>

#include "hlv_thread/note.h"

namespace halvex::platform {

// The text strerror_r gives for `err` ("Unknown error N" when it has none).
std::string errnoText(int err);

// The second line that follows a platform failure: Errno indicates "<text>".
std::string errnoIndicates(int err);

// A failed system call as an exception: `what`, located at file:line, then errnoIndicates(err).
thread::RuntimeError systemError(const char* file, int line, const char* what, int err);
[[noreturn]] void raiseSystemError(const char* file, int line, const char* what, int err);

} // namespace halvex::platform
