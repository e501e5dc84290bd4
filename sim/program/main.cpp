// hxsim: runs stand-in cameras until told to stop (SIGINT or SIGTERM; Ctrl-C on Windows).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "program_stop/stop_request.h"
#include "sim/net/cluster.h"
#include "sim/net/host_network.h"
#include "sim/net/sim_log.h"
#include "sim/program/options.h"

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
    halvex::program_stop::StopRequest stopRequest;
    try {
        hxsim::Cluster cluster(parsed.options.cameras, parsed.options.quiet ? hxsim::Logger{} : hxsim::stderrLogger());
        if (!parsed.options.quiet) {
            std::fprintf(stderr, "hxsim: %zu camera(s) from %s running; %s stops them\n", cluster.size(),
                         hxsim::dotted(parsed.options.cameras.front().address).c_str(),
                         halvex::program_stop::StopRequest::how());
        }
        const std::string stoppedBy = stopRequest.wait();
        cluster.stop();
        if (!parsed.options.quiet) {
            std::fprintf(stderr, "hxsim: stopped by %s\n", stoppedBy.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hxsim: %s\n", error.what());
        return 1;
    }
    return 0;
}
