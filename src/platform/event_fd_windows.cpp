// Manual-reset event on Windows: a Winsock event, which WSAWaitForMultipleEvents waits on beside
// the sockets' events.
#include "platform/event_fd.h"

#include "platform/win_sockets.h"

namespace halvex::platform {

EventFd::EventFd() : event_(::WSACreateEvent())
{
    if (event_ == WSA_INVALID_EVENT) {
        event_ = nullptr;
        error_ = ::WSAGetLastError();
    }
}

EventFd::~EventFd()
{
    if (event_ != nullptr)
        ::WSACloseEvent(event_);
}

bool EventFd::valid() const
{
    return event_ != nullptr;
}

bool EventFd::set()
{
    if (event_ != nullptr && ::WSASetEvent(event_))
        return true;
    error_ = event_ != nullptr ? ::WSAGetLastError() : WSA_INVALID_HANDLE;
    return false;
}

bool EventFd::reset()
{
    if (event_ != nullptr && ::WSAResetEvent(event_))
        return true;
    error_ = event_ != nullptr ? ::WSAGetLastError() : WSA_INVALID_HANDLE;
    return false;
}

bool EventFd::isSet() const
{
    void* events[1] = {event_};
    return event_ != nullptr && ::WSAWaitForMultipleEvents(1, events, FALSE, 0, FALSE) == WSA_WAIT_EVENT_0;
}

} // namespace halvex::platform
