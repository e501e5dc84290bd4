// The cameras added by address, which the broadcast may not reach: each gets a request of its own
// at every poll, for good once it has answered, until its deadline while it has not.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace halvex::discovery {

// Threads: the Discovery thread only.
class UnicastProbes {
public:
    // Replies to a request sent to a single address are awaited this long.
    static constexpr auto PROBE_WAIT = std::chrono::seconds(1);

    // The camera at `address` is asked directly; an unanswered one waits PROBE_WAIT from now.
    void add(uint32_t address);
    // A listed camera answered from `address`: it is polled by unicast for good.
    void noteAnswer(uint32_t address);
    // Calls `send` for every camera still polled, after forgetting those whose wait is over.
    void poll(const std::function<void(uint32_t address)>& send);

private:
    struct Probe {
        bool answered = false;
        std::chrono::steady_clock::time_point deadline;
    };
    std::map<uint32_t, Probe> probes_;
};

} // namespace halvex::discovery
