// Manual-reset event that can be waited on beside sockets: a non-blocking eventfd on POSIX, a
// Winsock event (WSACreateEvent) on Windows, where there is no event fd.
#pragma once

#include "platform/unique_fd.h"

namespace halvex::platform {

// Any thread may set it; reset and wait on it from the thread that owns the wait loop.
class EventFd {
public:
    // Creates the event; when that fails valid() is false and error() holds the system's code.
    EventFd();
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    bool valid() const;
    int error() const { return error_; }
#if defined(_WIN32)
    // The WSAEVENT, for a PollSet.
    void* handle() const
    {
        return event_;
    }
#else
    int fd() const
    {
        return fd_.get();
    }
#endif

    // Signals the event; true when it is signalled afterwards (the code kept in error() otherwise).
    bool set();
    // Clears the event; true when it is clear afterwards.
    bool reset();
    // Whether the event is signalled now, without waiting.
    bool isSet() const;

private:
#if defined(_WIN32)
    void* event_ = nullptr;
#else
    UniqueFd fd_;
#endif
    int error_ = 0;
};

} // namespace halvex::platform
