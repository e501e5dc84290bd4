// Stopping hxsim by SIGINT or SIGTERM, taken with sigwait() by the main thread alone.
#include "sim/program/stop_request.h"

#include <pthread.h>

#include <csignal>
#include <string>

namespace hxsim {
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

// Threads started afterwards inherit the mask, so the signals stay pending for sigwait().
StopRequest::StopRequest()
{
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

const char* StopRequest::how()
{
    return "SIGINT or SIGTERM stops them";
}

std::string StopRequest::wait()
{
    const sigset_t signals = stopSignals();
    int received = 0;
    sigwait(&signals, &received);
    return "signal " + std::to_string(received);
}

} // namespace hxsim
