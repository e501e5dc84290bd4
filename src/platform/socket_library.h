// A reference on the system's socket library, held by everything that opens sockets.
#pragma once

namespace halvex::platform {

// On Windows, Winsock 2.2 is started by the constructor and released by the destructor; the
// library is reference counted, so every holder may start and stop it. Elsewhere there is nothing
// to start and both do nothing, so the sequence of calls is the same on every system.
class SocketLibrary {
public:
    SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

    // False when the library could not be started; error() then holds the system's code.
    bool started() const { return started_; }
    int error() const { return error_; }

    // Only Winsock has anything to release.
#if defined(_WIN32)
    ~SocketLibrary();
#else
    ~SocketLibrary() = default;
#endif

private:
    bool started_ = false;
    int error_ = 0;
};

// Test hook: while not zero, every reference made afterwards fails to start with this code
// instead of asking the system (as when the system's networking is missing); zero restores.
void forceSocketStartFailure(int error);
int forcedSocketStartFailure();

} // namespace halvex::platform
