// The library's error carriers: a Note accumulates located, time-stamped text; the exceptions add nothing.
#pragma once

#include <cstdarg>
#include <memory>
#include <sstream>
#include <string>

#include "hlv_thread/format.h"

namespace halvex::thread {

// A growing text of entries. The first entry starts with a time stamp; each further entry
// starts on a new line indented by two spaces. Formatting problems never throw: they turn
// into fixed texts ("empty message.", "vsnprintf() fault ...").
class Note {
public:
    Note();
    Note(const Note& other);
    Note& operator=(const Note& other);
    virtual ~Note();

    // Appends an entry located at a source file and line.
    virtual void add(const char* file, int line, const char* format, ...) HLV_PRINTF_FORMAT(4, 5);
    // Appends an entry without location (context added to an exception in flight).
    virtual void add(const char* format, ...) HLV_PRINTF_FORMAT(2, 3);
    // The whole text accumulated so far.
    virtual std::string str() const;

    void addV(const char* file, int line, const char* format, va_list args) HLV_PRINTF_FORMAT(4, 0);
    void addV(const char* format, va_list args) HLV_PRINTF_FORMAT(2, 0);

private:
    void beginEntry();
    void appendLocation(const char* file, int line);

    std::unique_ptr<std::ostringstream> text_;
};

// The base of every library exception; deliberately not derived from std::exception, so code
// that must catch everything catches this and std::exception separately.
class Exception : public Note {};
// A broken internal rule (a message with nowhere to go, a synchronous message misused).
class LogicError : public Exception {};
// A failure at run time (bad handle, unknown camera, failed allocation).
class RuntimeError : public Exception {};

// Builds an exception of type E with one located entry; HLV_THROW throws it.
template <typename E>
E locatedException(const char* file, int line, const char* format, ...) HLV_PRINTF_FORMAT(3, 4);

template <typename E>
E locatedException(const char* file, int line, const char* format, ...)
{
    E error;
    va_list args;
    va_start(args, format);
    error.addV(file, line, format, args);
    va_end(args);
    return error;
}

// A failure of the settings transport.
class SettingsException : public Exception {};

} // namespace halvex::thread

// Throws ExceptionType carrying one entry located at the throwing site.
#define HLV_THROW(ExceptionType, ...)                                                                                  \
  throw ::halvex::thread::locatedException<ExceptionType>(__FILE__, __LINE__, __VA_ARGS__)
