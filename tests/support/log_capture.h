// Records log lines for tests that check or wait for them: the library's raw-sink lines while a
// LogCapture is alive, or whatever a stand-in camera's logger is given.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <hlv_thread/log.h>

#include "arrivals.h"

namespace hx_test {

// Lines in arrival order, for any thread to add and a test to wait on.
class CapturedLines {
public:
    using Match = std::function<bool(const std::string& line)>;

    CapturedLines() = default;
    CapturedLines(const CapturedLines&) = delete;
    CapturedLines& operator=(const CapturedLines&) = delete;

    void add(const std::string& line) { lines_.add(line); }

    std::vector<std::string> lines() const { return lines_.all(); }

    // Number of captured lines containing needle, or that match.
    std::size_t count(const std::string& needle) const { return count(contains(needle)); }
    std::size_t count(const Match& match) const { return countIn(lines_.all(), match); }

    // Waits until at least `times` captured lines contain needle (or match); false when the time
    // runs out. Each look runs a fresh copy of the match over the lines in arrival order, so a
    // match may keep state, such as having passed an earlier line.
    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout, std::size_t times = 1) const
    {
        return waitFor(contains(needle), timeout, times);
    }
    bool waitFor(const Match& match, std::chrono::milliseconds timeout, std::size_t times = 1) const
    {
        return lines_.waitUntil([&](const std::vector<std::string>& lines) { return countIn(lines, match) >= times; },
                                timeout);
    }

    void clear() { lines_.clear(); }

private:
    static Match contains(const std::string& needle)
    {
        return [needle](const std::string& line) { return line.find(needle) != std::string::npos; };
    }

    // The match is taken by value: every count starts from a fresh copy.
    static std::size_t countIn(const std::vector<std::string>& lines, Match match)
    {
        return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), std::move(match)));
    }

    Arrivals<std::string> lines_;
};

// Keeps copies of the library's lines (without their line feed) from construction to destruction;
// the lines still go to standard output and the log file. Several captures may be alive at once.
class LogCapture : public halvex::thread::LogObserver, public CapturedLines {
public:
    LogCapture() { halvex::thread::addLogObserver(this); }
    ~LogCapture() override { halvex::thread::removeLogObserver(this); }

    void observe(const std::string& line) override { add(line); }
};

} // namespace hx_test
