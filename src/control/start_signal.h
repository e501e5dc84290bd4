// Lets the thread that starts a worker wait until the worker runs its loop or has given up.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>

// The worker reports once (later reports are ignored, so a worker that ends after running still
// counts as having started); any number of threads may wait.
class StartSignal {
public:
    void report(bool running)
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (outcome_)
                return;
            outcome_ = running;
        }
        signal_.notify_all();
    }

    // True when the worker reported that it runs.
    bool wait()
    {
        std::unique_lock<std::mutex> guard(lock_);
        signal_.wait(guard, [this] { return outcome_.has_value(); });
        return *outcome_;
    }

private:
    std::mutex lock_;
    std::condition_variable signal_;
    std::optional<bool> outcome_;
};
