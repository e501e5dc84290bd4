// The process-wide log: trace mask, time-stamped location lines, the raw sink and the log file.
#include "hlv_thread/log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "log_file.h"

namespace halvex::thread {

namespace {

// Bits 0 and 2 enable nothing; the initial value traces no category.
constinit std::atomic<uint32_t> traceMaskBits{5};

// Writes to the log file, opening it and closing it share one lock, so a line never goes to a
// descriptor that is being closed. Allocated once and never destroyed: threads may still log
// while the process exits.
struct LogFile {
    std::mutex lock;
    int descriptor = -1;
    std::string name;
};

// The observers of the raw sink; `any` spares the lock while there are none. Allocated once and
// never destroyed, like the log file.
struct Observers {
    std::mutex lock;
    std::vector<LogObserver*> list;
    std::atomic<bool> any{false};
};

Observers& observers()
{
    static Observers* const instance = new Observers;
    return *instance;
}

void notifyLogObservers(const std::string& line)
{
    Observers& all = observers();
    if (!all.any)
        return;
    std::lock_guard<std::mutex> guard(all.lock);
    for (LogObserver* observer : all.list)
        observer->observe(line);
}

LogFile& logFile()
{
    static LogFile* const file = new LogFile;
    return *file;
}

// The host's sink. Lines hold the lock shared while they are in the sink, so replacing it waits
// for them; `installed` spares the lock while there is none.
struct HostSink {
    std::shared_mutex lock;
    LogSink sink = nullptr;
    void* context = nullptr;
    std::atomic<bool> installed{false};
};

HostSink& hostSink()
{
    static HostSink* const instance = new HostSink;
    return *instance;
}

// Hands the bare text to the host's sink; false when there is none (the line goes to standard
// output instead).
bool toHostSink(int priority, const std::string& text)
{
    HostSink& host = hostSink();
    if (!host.installed.load(std::memory_order_acquire))
        return false;
    std::shared_lock<std::shared_mutex> guard(host.lock);
    if (host.sink == nullptr)
        return false;
    host.sink(priority, text.c_str(), host.context);
    return true;
}

// Each thread's first error line since its call began; a host reads it after a failed call.
struct CallError {
    std::string text;
    bool kept = false;
};

CallError& threadCallError()
{
    thread_local CallError error;
    return error;
}

// Writes the full line to standard output (unless the host's sink took the bare text), the log
// file and the observers.
void deliver(int priority, const std::string& full, const std::string& bare)
{
    const std::string line = full + '\n';
    if (!toHostSink(priority, bare)) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    LogFile& file = logFile();
    {
        std::lock_guard<std::mutex> guard(file.lock);
        if (file.descriptor >= 0)
            writeLogFile(file.descriptor, line);
    }
    notifyLogObservers(full);
}

} // namespace

uint32_t traceMask()
{
    return traceMaskBits.load(std::memory_order_relaxed);
}

void setTraceMask(uint32_t mask)
{
    traceMaskBits.store(mask, std::memory_order_relaxed);
}

bool traced(uint32_t category)
{
    const uint32_t mask = traceMask();
    return (mask & TRACE_SILENT) == 0 && (mask & category) != 0;
}

unsigned traceSwitch(int enable)
{
    if (enable == 0) {
        setTraceMask(0);
        return 0;
    }
    return traceMaskBits.fetch_or(TRACE_ALL, std::memory_order_relaxed) | TRACE_ALL;
}

std::string timeStamp()
{
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<microseconds>(system_clock::now().time_since_epoch());
    const auto wholeSeconds = duration_cast<seconds>(sinceEpoch);
    const long micros = static_cast<long>((sinceEpoch - wholeSeconds).count());
    const std::time_t clockSeconds = static_cast<std::time_t>(wholeSeconds.count());
    const std::tm local = localTime(clockSeconds);
    char text[48] = {};
    const std::size_t length = std::strftime(text, sizeof text, "%Y%m%d %H%M%S.", &local);
    std::snprintf(text + length, sizeof text - length, "%06ld", micros);
    return text;
}

void logLine(const char* file, int line, const std::string& text)
{
    logLine(LOG_PRIORITY_DEBUG, file, line, text);
}

void logLine(int priority, const char* file, int line, const std::string& text)
{
    try {
        if (priority == LOG_PRIORITY_ERROR) {
            CallError& error = threadCallError();
            if (!error.kept) {
                error.text = text;
                error.kept = true;
            }
        }
        std::string entry = timeStamp();
        entry += ": ";
        entry += file != nullptr ? file : "(unknown file)";
        entry += ", ";
        entry += std::to_string(line);
        entry += ": ";
        entry += text;
        deliver(priority, entry, text);
    } catch (...) {
        // Out of memory for the prefix: the text itself still reaches standard output, without
        // allocating, since it is most likely the error being reported.
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

void logRaw(int priority, const std::string& text)
{
    try {
        deliver(priority, text, text);
    } catch (...) {
        // Logging throws nothing of its own: a line that cannot be built is lost.
    }
}

void setLogSink(LogSink sink, void* context)
{
    HostSink& host = hostSink();
    std::unique_lock<std::shared_mutex> guard(host.lock);
    host.sink = sink;
    host.context = context;
    host.installed.store(sink != nullptr, std::memory_order_release);
}

void clearCallError()
{
    CallError& error = threadCallError();
    error.kept = false;
    error.text.clear();
}

std::string callError()
{
    return threadCallError().text;
}

void addLogObserver(LogObserver* observer)
{
    Observers& all = observers();
    std::lock_guard<std::mutex> guard(all.lock);
    all.list.push_back(observer);
    all.any = true;
}

void removeLogObserver(LogObserver* observer)
{
    Observers& all = observers();
    std::lock_guard<std::mutex> guard(all.lock);
    const auto found = std::find(all.list.begin(), all.list.end(), observer);
    if (found != all.list.end())
        all.list.erase(found);
    all.any = !all.list.empty();
}

int loggerFile(const char* path)
{
    LogFile& file = logFile();
    std::lock_guard<std::mutex> guard(file.lock);
    if (path == nullptr) {
        if (file.descriptor < 0)
            return 0;
        const int closing = file.descriptor;
        file.descriptor = -1;
        file.name.clear();
        closeLogFile(closing);
        return 0;
    }
    if (!file.name.empty())
        return 1;
    const int descriptor = openLogFile(path);
    if (descriptor < 0)
        return 1;
    try {
        file.name = path;
    } catch (...) {
        closeLogFile(descriptor);
        return 1;
    }
    file.descriptor = descriptor;
    return 0;
}

} // namespace halvex::thread
