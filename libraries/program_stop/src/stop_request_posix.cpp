// Stopping a program by SIGINT or SIGTERM, taken with sigwait() by the one thread that waits.
#include "program_stop/stop_request.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace halvex::program_stop {

namespace {

sigset_t stopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

// Threads started afterwards inherit the mask, so the signals stay pending for sigwait(): what
// stopping does (ending servers, camera threads) is not safe in a signal handler.
StopRequest::StopRequest()
{
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

const char* StopRequest::how()
{
    return "SIGINT or SIGTERM";
}

std::string StopRequest::wait()
{
    const sigset_t signals = stopSignals();
    int received = 0;
    sigwait(&signals, &received);
    return "signal " + std::to_string(received);
}

void StopRequest::ask()
{
    kill(getpid(), SIGTERM);
}

} // namespace halvex::program_stop
