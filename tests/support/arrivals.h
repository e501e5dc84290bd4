// Waiting on other threads with a deadline instead of sleeping: a signal over state the test
// guards itself, and the things other threads hand a test, kept in arrival order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace hx_test {

// Generous: only a broken implementation ever waits this long.
inline constexpr std::chrono::milliseconds kWaitDeadline = std::chrono::seconds(10);

// A lock and the condition its changes signal. The state it guards lives beside it: threads
// change it through update() and look at it through read(), and a test waits until a condition
// over it holds.
class Signal {
public:
    // Runs change() under the lock and wakes every waiter before letting the lock go: a waiter
    // whose condition now holds may return and destroy the signal as soon as it gets the lock, so
    // the changing thread must be done with the condition variable by then.
    template <class Change>
    void update(Change change)
    {
        std::lock_guard<std::mutex> guard(lock_);
        change();
        changed_.notify_all();
    }

    // Runs look() under the lock and returns what it returns.
    template <class Look>
    auto read(Look look) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return look();
    }

    // Waits until holds() is true under the lock, re-checked at every update; false when the
    // time runs out first.
    template <class Holds>
    bool waitUntil(Holds holds, std::chrono::milliseconds timeout = kWaitDeadline) const
    {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, timeout, holds);
    }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
};

template <class T>
class Arrivals {
public:
    void add(T item)
    {
        signal_.update([&] { items_.push_back(std::move(item)); });
    }

    // Waits until `count` items have arrived; false when the time runs out.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout) const
    {
        return signal_.waitUntil([&] { return items_.size() >= count; }, timeout);
    }

    // Waits until holds(items in arrival order) is true; false when the time runs out.
    template <class Holds>
    bool waitUntil(Holds holds, std::chrono::milliseconds timeout = kWaitDeadline) const
    {
        return signal_.waitUntil([&] { return holds(static_cast<const std::vector<T>&>(items_)); }, timeout);
    }

    std::vector<T> all() const
    {
        return signal_.read([&] { return items_; });
    }

    std::size_t count() const
    {
        return signal_.read([&] { return items_.size(); });
    }

    void clear()
    {
        signal_.update([&] { items_.clear(); });
    }

private:
    Signal signal_;
    std::vector<T> items_;
};

} // namespace hx_test
