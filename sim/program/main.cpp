// hxsim: runs stand-in cameras until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "sim/net/cluster.h"
#include "sim/net/host_network.h"
#include "sim/net/sim_log.h"
#include "sim/program/options.h"

namespace {

// The signals that stop hxsim. They are blocked before any camera thread starts, so only the
// main thread's sigwait() receives them.
sigset_t stopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const hxsim::ParsedOptions parsed = hxsim::parseOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "hxsim: %s\n(hxsim --help lists the options)\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(hxsim::usage().c_str(), stdout);
        return 0;
    }
    const std::string unsafe = hxsim::checkNetworkSafety(parsed.options.cameras, hxsim::inPrivateNetwork());
    if (!unsafe.empty()) {
        std::fprintf(stderr, "hxsim: refusing to start: %s\n", unsafe.c_str());
        return 2;
    }
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        hxsim::Cluster cluster(parsed.options.cameras, parsed.options.quiet ? hxsim::Logger{} : hxsim::stderrLogger());
        if (!parsed.options.quiet) {
            std::fprintf(stderr, "hxsim: %zu camera(s) from %s running; SIGINT or SIGTERM stops them\n", cluster.size(),
                         hxsim::dotted(parsed.options.cameras.front().address).c_str());
        }
        int received = 0;
        sigwait(&signals, &received);
        cluster.stop();
        if (!parsed.options.quiet) {
            std::fprintf(stderr, "hxsim: stopped by signal %d\n", received);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hxsim: %s\n", error.what());
        return 1;
    }
    return 0;
}
