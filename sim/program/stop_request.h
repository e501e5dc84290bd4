// How hxsim is told to stop: SIGINT or SIGTERM on POSIX (stop_request_posix.cpp), Ctrl-C,
// Ctrl-Break or the console closing on Windows (stop_request_windows.cpp).
#pragma once

#include <string>

namespace hxsim {

// Made on the main thread before any camera thread starts, so that only wait() sees the request
// (a POSIX signal would otherwise go to whichever thread the kernel picks).
class StopRequest {
public:
    StopRequest();
    // Only Windows has a console handler to remove.
#if defined(_WIN32)
    ~StopRequest();
#else
    ~StopRequest() = default;
#endif
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // What the user does to stop the cameras, for the start-up line.
    static const char* how();
    // Blocks until a stop is asked for; what asked ("signal 15").
    std::string wait();
};

} // namespace hxsim
