// The process-wide log: trace mask, time-stamped location lines, the raw sink and the log file.
#pragma once

#include <cstdint>
#include <string>

#include "hlv_thread/format.h"

namespace halvex::thread {

// Category bits of the trace mask. A category is traced when TRACE_SILENT is clear and its bit is set.
enum : uint32_t {
    TRACE_SILENT = 0x2,
    TRACE_LIFECYCLE = 0x10,
    TRACE_OPERATIONS = 0x20,
    TRACE_CALLBACK = 0x40,
    TRACE_API = 0x80,
    TRACE_SERVICES = 0x100,
    TRACE_DISCOVERY = 0x200,
    TRACE_COMM = 0x400,
    TRACE_WRAPPER = 0x800,
    TRACE_STREAM = 0x1000,
    TRACE_SOCKET = 0x2000,
    TRACE_PACKING = 0x4000,
    TRACE_ALL = 0x3FF1,
};

// Priorities of a line: a host's log sink tells them apart; standard output and the file do not.
enum : int { LOG_PRIORITY_ERROR = 3, LOG_PRIORITY_DEBUG = 7 };

uint32_t traceMask();
void setTraceMask(uint32_t mask);
// True when category lines are written: the silent bit is clear and the category's bit is set.
bool traced(uint32_t category);

// Writes "<time stamp>: <file>, <line>: <text>" to the raw sink, as a debug line or, with
// LOG_PRIORITY_ERROR, as an error line (which the calling thread's call errors also keep).
void logLine(const char* file, int line, const std::string& text);
void logLine(int priority, const char* file, int line, const std::string& text);
// Writes text and a line feed to standard output and to the log file, one write each.
void logRaw(int priority, const std::string& text);

// A host's own log: takes every line's priority and text (without time stamp or location) in
// place of standard output, on the thread that logged it. The log file and the observers still
// get every full line.
using LogSink = void (*)(int priority, const char* text, void* context);
// Installs the sink (nullptr: standard output again). Once it returns, no thread is still inside
// the sink it replaced, so a host may free what that sink used. A sink must not log.
void setLogSink(LogSink sink, void* context);

// The first error line logged on this thread since clearCallError(), without time stamp or
// location: what a host shows as the reason its call failed. Each thread keeps its own.
void clearCallError();
std::string callError();

// Sees every line that reaches the raw sink, without its line feed, while it is added (after the
// line went to standard output and the log file). Called on the logging thread with the observer
// list locked: an observer must not log, nor add or remove observers.
class LogObserver {
public:
    virtual ~LogObserver() = default;
    virtual void observe(const std::string& line) = 0;
};
// An observer added twice sees each line twice; removing one that is not added does nothing.
void addLogObserver(LogObserver* observer);
void removeLogObserver(LogObserver* observer);

// Non-zero: ORs TRACE_ALL into the mask; zero: clears the mask. Returns the new mask.
unsigned traceSwitch(int enable);
// Non-NULL: opens the log file unless one is open (0 ok, 1 failure). NULL: closes it (0).
int loggerFile(const char* path);

// Local time "YYYYmmdd HHMMSS.uuuuuu".
std::string timeStamp();

} // namespace halvex::thread

// A line of the given trace category, written only when the category is traced.
#define HLV_TRACE(category, ...)                                                                                       \
  do {                                                                                                                 \
    if (::halvex::thread::traced(category))                                                                            \
      ::halvex::thread::logLine(__FILE__, __LINE__, ::halvex::thread::fmtToString(__VA_ARGS__));                       \
  } while (0)

// A line written whatever the trace mask says (errors).
#define HLV_LOG(...)                                                                                                   \
  ::halvex::thread::logLine(::halvex::thread::LOG_PRIORITY_ERROR, __FILE__, __LINE__,                                  \
                            ::halvex::thread::fmtToString(__VA_ARGS__))
