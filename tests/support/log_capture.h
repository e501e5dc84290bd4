// Records the log's raw-sink lines while an instance is alive, for tests that check log texts.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include <hlv_thread/log.h>

namespace hx_test {

// Keeps copies of the lines (without their line feed) from construction to destruction; the
// lines still go to standard output and the log file. Several captures may be alive at once.
class LogCapture : public HLV_THREAD::LogObserver {
public:
    LogCapture() { HLV_THREAD::addLogObserver(this); }
    ~LogCapture() override { HLV_THREAD::removeLogObserver(this); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void observe(const std::string& line) override
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.push_back(line);
        }
        added_.notify_all();
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

    // Number of captured lines containing needle.
    std::size_t count(const std::string& needle) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return countLocked(needle);
    }

    // Waits until at least `times` captured lines contain needle; false when the time runs out.
    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout, std::size_t times = 1) const
    {
        std::unique_lock<std::mutex> guard(lock_);
        return added_.wait_for(guard, timeout, [&] { return countLocked(needle) >= times; });
    }

    void clear()
    {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.clear();
    }

private:
    std::size_t countLocked(const std::string& needle) const
    {
        return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
            return line.find(needle) != std::string::npos;
        }));
    }

    mutable std::mutex lock_;
    mutable std::condition_variable added_;
    std::vector<std::string> lines_;
};

} // namespace hx_test
