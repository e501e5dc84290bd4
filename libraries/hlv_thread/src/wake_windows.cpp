// A manual-reset event a polling thread waits on beside its sockets: a Winsock event, which
// WSAWaitForMultipleEvents waits on together with the events its sockets are bound to.
#include "hlv_thread/wake.h"

#include <winsock2.h>

namespace halvex::thread {

// Each event holds a reference on Winsock (counted by the system), since a thread may make its
// wake before it opens any socket.
Wake::Handle Wake::openEvent(int& error)
{
    WSADATA data{};
    error = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0)
        return INVALID_HANDLE;
    const WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT) {
        error = ::WSAGetLastError();
        ::WSACleanup();
        return INVALID_HANDLE;
    }
    return reinterpret_cast<Handle>(event);
}

void Wake::closeEvent(Handle handle)
{
    ::WSACloseEvent(reinterpret_cast<WSAEVENT>(handle));
    ::WSACleanup();
}

bool Wake::setEvent(Handle handle, int& error)
{
    if (::WSASetEvent(reinterpret_cast<WSAEVENT>(handle)))
        return true;
    error = ::WSAGetLastError();
    return false;
}

bool Wake::resetEvent(Handle handle, int& error)
{
    if (::WSAResetEvent(reinterpret_cast<WSAEVENT>(handle)))
        return true;
    error = ::WSAGetLastError();
    return false;
}

} // namespace halvex::thread
