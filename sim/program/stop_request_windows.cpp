// Stopping hxsim.exe from its console: the control handler runs on a thread Windows starts for
// it and only sets an event the main thread waits on.
#include "sim/program/stop_request.h"

#include "platform/win_sockets.h"

#include <atomic>
#include <string>

namespace hxsim {
namespace {

HANDLE stopEvent = nullptr;
std::atomic<DWORD> stopKind{0};

BOOL WINAPI onConsoleEvent(DWORD kind)
{
    stopKind = kind;
    ::SetEvent(stopEvent);
    return TRUE; // handled: the main thread stops the cameras and returns from main
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
    return "Ctrl-C stops them";
}

std::string StopRequest::wait()
{
    if (stopEvent == nullptr || ::WaitForSingleObject(stopEvent, INFINITE) != WAIT_OBJECT_0) {
        return "a failed wait (error " + std::to_string(::GetLastError()) + ")";
    }
    switch (stopKind.load()) {
    case CTRL_C_EVENT: return "Ctrl-C";
    case CTRL_BREAK_EVENT: return "Ctrl-Break";
    default: return "the console closing";
    }
}

} // namespace hxsim
