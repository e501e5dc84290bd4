// A manual-reset event that a thread waiting on sockets can wait on beside them: the message
// threads that poll set it when a message arrives.
#pragma once

#include <cstdint>

namespace halvex::thread {

// Any thread may set it; the thread that waits on it resets it. It stays set until reset. The
// operating-system part is four calls in the platform half (wake_posix.cpp: an event fd;
// wake_windows.cpp: a Winsock event), so the portable code includes no system header.
class Wake {
public:
    // What a waiter hands to its wait call: a descriptor on POSIX, a WSAEVENT on Windows.
    using Handle = std::intptr_t;
    static constexpr Handle INVALID_HANDLE = -1;

    // Creates the event; when that fails, valid() is false and error() holds the system's code.
    Wake();
    ~Wake();
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;

    bool valid() const;
    int error() const;
    Handle handle() const;

    // Signals the event; true when it is signalled afterwards (error() says why not).
    bool set();
    // Clears the event; true when it is clear afterwards.
    bool reset();

private:
    // The platform half: create (INVALID_HANDLE and the error on failure), close, set, reset.
    static Handle openEvent(int& error);
    static void closeEvent(Handle handle);
    static bool setEvent(Handle handle, int& error);
    static bool resetEvent(Handle handle, int& error);

    Handle handle_ = INVALID_HANDLE;
    int error_ = 0;
};

} // namespace halvex::thread
