// How a console program is told to stop: SIGINT or SIGTERM on POSIX (stop_request_posix.cpp),
// Ctrl-C, Ctrl-Break or the console closing on Windows (stop_request_windows.cpp).
#pragma once

#include <string>

namespace halvex::program_stop {

// Made on the main thread before any other thread starts, so that only wait() sees the request (a
// POSIX signal would otherwise go to whichever thread the kernel picks). One per program.
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

    // What the user does to stop the program ("Ctrl-C"), for start-up lines and usage texts.
    static const char* how();
    // Blocks until a stop is asked for, by the user or by ask(); says what asked ("signal 15").
    std::string wait();
    // Asks for a stop from inside the program, e.g. when its server ended on its own and the
    // thread in wait() must end too.
    void ask();
};

} // namespace halvex::program_stop
