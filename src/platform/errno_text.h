// The system's text for an error number, for log lines and exception texts.
#pragma once

#include <string>

namespace HX_PLATFORM {

// The text strerror_r gives for `err` ("Unknown error N" when it has none).
std::string errnoText(int err);

// The second line that follows a platform failure: Errno indicates "<text>".
std::string errnoIndicates(int err);

} // namespace HX_PLATFORM
