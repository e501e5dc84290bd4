// The cameras added by address, polled by unicast.
#include "discovery/unicast_probes.h"

namespace halvex::discovery {

void UnicastProbes::add(uint32_t address)
{
    Probe& probe = probes_[address];
    if (!probe.answered)
        probe.deadline = std::chrono::steady_clock::now() + PROBE_WAIT;
}

void UnicastProbes::noteAnswer(uint32_t address)
{
    const auto probe = probes_.find(address);
    if (probe != probes_.end())
        probe->second.answered = true;
}

void UnicastProbes::poll(const std::function<void(uint32_t address)>& send)
{
    const auto now = std::chrono::steady_clock::now();
    for (auto probe = probes_.begin(); probe != probes_.end();) {
        if (!probe->second.answered && probe->second.deadline < now) {
            probe = probes_.erase(probe);
            continue;
        }
        send(probe->first);
        ++probe;
    }
}

} // namespace halvex::discovery
