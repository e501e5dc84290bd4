// The system's text for an error number in log lines and exceptions: the parts every system
// shares.
#include "platform/errno_text.h"

namespace halvex::platform {

std::string errnoIndicates(int err)
{
    return "Errno indicates \"" + errnoText(err) + "\"";
}

thread::RuntimeError systemError(const char* file, int line, const char* what, int err)
{
    thread::RuntimeError error;
    error.add(file, line, "%s", what);
    error.add("%s", errnoIndicates(err).c_str());
    return error;
}

void raiseSystemError(const char* file, int line, const char* what, int err)
{
    throw systemError(file, line, what, err);
}

} // namespace halvex::platform
