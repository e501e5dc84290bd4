// Records log lines for tests that check or wait for them: the library's raw-sink lines while a
// LogCapture is alive, or whatever a stand-in camera's logger is given.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <hlv_thread/log.h>

namespace hx_test {

// Lines in arrival order, for any thread to add and a test to wait on.
class CapturedLines {
public:
    using Match = std::function<bool(const std::string& line)>;

    CapturedLines() = default;
    CapturedLines(const CapturedLines&) = delete;
    CapturedLines& operator=(const CapturedLines&) = delete;

    void add(const std::string& line)
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

    // Number of captured lines containing needle, or that match.
    std::size_t count(const std::string& needle) const { return count(contains(needle)); }
    std::size_t count(const Match& match) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return countLocked(match);
    }

    // Waits until at least `times` captured lines contain needle (or match); false when the time
    // runs out. Each look runs a fresh copy of the match over the lines in arrival order, so a
    // match may keep state, such as having passed an earlier line.
    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout, std::size_t times = 1) const
    {
        return waitFor(contains(needle), timeout, times);
    }
    bool waitFor(const Match& match, std::chrono::milliseconds timeout, std::size_t times = 1) const
    {
        std::unique_lock<std::mutex> guard(lock_);
        return added_.wait_for(guard, timeout, [&] { return countLocked(match) >= times; });
    }

    void clear()
    {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.clear();
    }

private:
    static Match contains(const std::string& needle)
    {
        return [needle](const std::string& line) { return line.find(needle) != std::string::npos; };
    }

    std::size_t countLocked(const Match& match) const
    {
        return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), match));
    }

    mutable std::mutex lock_;
    mutable std::condition_variable added_;
    std::vector<std::string> lines_;
};

// Keeps copies of the library's lines (without their line feed) from construction to destruction;
// the lines still go to standard output and the log file. Several captures may be alive at once.
class LogCapture : public HLV_THREAD::LogObserver, public CapturedLines {
public:
    LogCapture() { HLV_THREAD::addLogObserver(this); }
    ~LogCapture() override { HLV_THREAD::removeLogObserver(this); }

    void observe(const std::string& line) override { add(line); }
};

} // namespace hx_test
