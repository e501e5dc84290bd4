// Test seam: observes every line that reaches the raw sink while an instance is alive.
#include "hlv_thread/log_capture.h"

#include <algorithm>
#include <atomic>

#include "log_observers.h"

namespace HLV_THREAD {

namespace {

// Allocated once and never destroyed, like the rest of the log state.
struct Observers {
    std::mutex lock;
    std::vector<LogCapture*> captures;
    std::atomic<bool> any{false};
};

Observers& observers()
{
    static Observers* const list = new Observers;
    return *list;
}

} // namespace

void addLogObserver(LogCapture* capture)
{
    Observers& list = observers();
    std::lock_guard<std::mutex> guard(list.lock);
    list.captures.push_back(capture);
    list.any = true;
}

void removeLogObserver(LogCapture* capture)
{
    Observers& list = observers();
    std::lock_guard<std::mutex> guard(list.lock);
    list.captures.erase(std::remove(list.captures.begin(), list.captures.end(), capture), list.captures.end());
    list.any = !list.captures.empty();
}

void notifyLogObservers(const std::string& line)
{
    Observers& list = observers();
    if (!list.any)
        return;
    std::lock_guard<std::mutex> guard(list.lock);
    for (LogCapture* capture : list.captures)
        capture->record(line);
}

LogCapture::LogCapture()
{
    addLogObserver(this);
}

LogCapture::~LogCapture()
{
    removeLogObserver(this);
}

void LogCapture::record(const std::string& line)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(line);
    }
    added_.notify_all();
}

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

std::size_t LogCapture::countLocked(const std::string& needle) const
{
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
        return line.find(needle) != std::string::npos;
    }));
}

std::size_t LogCapture::count(const std::string& needle) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return countLocked(needle);
}

bool LogCapture::waitFor(const std::string& needle, std::chrono::milliseconds timeout, std::size_t times) const
{
    std::unique_lock<std::mutex> guard(lock_);
    return added_.wait_for(guard, timeout, [&] { return countLocked(needle) >= times; });
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    lines_.clear();
}

} // namespace HLV_THREAD
