// The system's text for an error number, for log lines and exception texts.
#include "platform/errno_text.h"

#include <string.h>

#include <array>

namespace halvex::platform {

namespace {

// strerror_r comes in two shapes depending on the C library and feature macros: the XSI one
// fills the buffer and returns 0 or an error, the GNU one returns the text (which may or may not
// be the buffer). Overloading on the return type takes whichever this build has.
[[maybe_unused]] std::string fromStrerror(int result, const char* buffer, int err)
{
    if (result != 0) {
        return "Unknown error " + std::to_string(err);
    }
    return buffer;
}

[[maybe_unused]] std::string fromStrerror(const char* result, const char*, int err)
{
    return result != nullptr ? std::string(result) : "Unknown error " + std::to_string(err);
}

} // namespace

std::string errnoText(int err)
{
    std::array<char, 256> buffer{};
    return fromStrerror(strerror_r(err, buffer.data(), buffer.size()), buffer.data(), err);
}

} // namespace halvex::platform
