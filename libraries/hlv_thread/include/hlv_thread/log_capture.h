// Test seam: observes every line that reaches the raw sink while an instance is alive.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace HLV_THREAD {

// Records copies of the raw sink's lines (without their line feed) from construction to
// destruction; the lines still go to standard output and the log file as usual. Meant for
// tests that check log texts; several captures may be alive at once.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // Number of captured lines containing needle.
    std::size_t count(const std::string& needle) const;
    // Waits until at least `times` captured lines contain needle; false when the time runs out.
    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout, std::size_t times = 1) const;
    void clear();

    // Called by the raw sink for each line.
    void record(const std::string& line);

private:
    std::size_t countLocked(const std::string& needle) const;

    mutable std::mutex lock_;
    mutable std::condition_variable added_;
    std::vector<std::string> lines_;
};

} // namespace HLV_THREAD
