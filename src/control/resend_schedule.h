// When a repeatable control request whose answer is late goes out again: after four smoothed
// round trips, doubling each time, within bounds tied to the age-out tick.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace halvex::control {

// Threads: callers hold the channel's exchange lock.
class ResendSchedule {
public:
    // A repeatable request unanswered after four smoothed round trips (never less than this) goes
    // out again, and again after twice the interval each time, up to the age-out. The floor keeps
    // a clean link from repeating what a busy host or camera answers a little late.
    static constexpr std::chrono::milliseconds MIN_INTERVAL{20};
    static constexpr int RTT_FACTOR = 4;

    explicit ResendSchedule(std::chrono::microseconds tickPeriod);

    std::chrono::microseconds firstInterval() const;
    std::chrono::microseconds longestInterval() const;
    // A request answered after `sends` sendings, the first at `sentAt`.
    void noteAnswer(uint32_t sends, std::chrono::steady_clock::time_point sentAt);

private:
    const std::chrono::microseconds tickPeriod_;
    // The smoothed round trip of requests answered at their first sending; none before the first.
    std::optional<std::chrono::microseconds> smoothedRoundTrip_;
};

} // namespace halvex::control
