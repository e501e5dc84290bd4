// The system's text for an error code (a Winsock or Win32 error), for log lines and exception
// texts: FormatMessageA's text without its line end.
#include "platform/errno_text.h"

#include "platform/win_sockets.h"

namespace halvex::platform {

std::string errnoText(int err)
{
    char buffer[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(err),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? "Unknown error " + std::to_string(err) : text;
}

} // namespace halvex::platform
