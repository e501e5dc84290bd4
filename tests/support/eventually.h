// Waiting on state nobody signals (a flag of the code under test, a camera's register): the
// condition is looked at again until it holds or a deadline passes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace hx_test {

// Generous: only a broken implementation ever waits this long.
constexpr std::chrono::milliseconds DEADLINE = std::chrono::seconds(10);

// Re-checks `condition` about every millisecond until it holds or `timeout` has passed; returns
// the condition's last value, so a condition that comes true at the deadline still counts.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = DEADLINE)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace hx_test
