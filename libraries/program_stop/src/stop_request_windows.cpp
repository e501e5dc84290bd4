// Stopping a program from its console: the control handler runs on a thread Windows starts for it
// and only sets an event the waiting thread waits on.
#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <string>

#include "program_stop/stop_request.h"

namespace halvex::program_stop {

namespace {

// What asked for the stop; CTRL_C_EVENT is 0, so a stop asked by the program has a value no
// console event takes.
constexpr DWORD kAskedByProgram = ~DWORD{0};

// The handler is a plain function, so the event it sets is the program's one.
HANDLE stopEvent = nullptr;
std::atomic<DWORD> stopKind{kAskedByProgram};

BOOL WINAPI onConsoleEvent(DWORD kind)
{
    stopKind = kind;
    ::SetEvent(stopEvent);
    return TRUE; // handled: the waiting thread stops the program and main returns
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
    return "Ctrl-C";
}

std::string StopRequest::wait()
{
    if (stopEvent == nullptr || ::WaitForSingleObject(stopEvent, INFINITE) != WAIT_OBJECT_0) {
        return "a failed wait (error " + std::to_string(::GetLastError()) + ")";
    }
    switch (stopKind.load()) {
    case CTRL_C_EVENT: return "Ctrl-C";
    case CTRL_BREAK_EVENT: return "Ctrl-Break";
    case kAskedByProgram: return "the program";
    default: return "the console closing";
    }
}

void StopRequest::ask()
{
    stopKind = kAskedByProgram;
    ::SetEvent(stopEvent);
}

} // namespace halvex::program_stop
