// Stopping hxview.exe from its console: the control handler runs on a thread Windows starts for it
// and only sets an event the waiting thread waits on.
#include "stop_request.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace hxview {
namespace {

// The handler is a plain function, so the event it sets is the program's one.
HANDLE stopEvent = nullptr;

BOOL WINAPI onConsoleEvent(DWORD)
{
    ::SetEvent(stopEvent);
    return TRUE; // handled: the main thread stops the server and returns from main
}

} // namespace

StopRequest::StopRequest()
{
    stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopRequest::~StopRequest()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    ::CloseHandle(stopEvent);
    stopEvent = nullptr;
}

const char* StopRequest::how()
{
    return "Ctrl-C stops it.";
}

void StopRequest::wait()
{
    // A failed wait ends the viewer rather than leaving it unstoppable.
    if (stopEvent != nullptr)
        ::WaitForSingleObject(stopEvent, INFINITE);
}

void StopRequest::ask()
{
    ::SetEvent(stopEvent);
}

} // namespace hxview
