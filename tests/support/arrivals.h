// What other threads hand a test, kept in arrival order: the test waits for a number of them with
// a deadline instead of sleeping, then looks at what came.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace hx_test {

template <class T>
class Arrivals {
public:
    void add(T item)
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            items_.push_back(std::move(item));
        }
        arrived_.notify_all();
    }

    // Waits until `count` items have arrived; false when the time runs out.
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> guard(lock_);
        return arrived_.wait_for(guard, timeout, [&] { return items_.size() >= count; });
    }

    std::vector<T> all() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return items_;
    }

    std::size_t count() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return items_.size();
    }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable arrived_;
    std::vector<T> items_;
};

} // namespace hx_test
