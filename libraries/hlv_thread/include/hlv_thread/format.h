// printf-style formatting into a std::string that never throws, for log and error texts.
#pragma once

#include <cstdarg>
#include <string>

// Lets the compiler check a printf-style format against its arguments. MinGW's own "printf"
// archetype is the Microsoft one, which knows no %zu; its GNU archetype matches the C library
// such a build uses (__USE_MINGW_ANSI_STDIO). Compilers without the attribute check nothing.
#if defined(__MINGW32__)
#  define HLV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#  define HLV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#  define HLV_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace halvex::thread {

// Formats like the C library's printf. Never throws: a formatting failure returns a text that
// says what went wrong ("fmtToString[63] Format Error: ..."), a system error returns
// "System Error: ...", anything else "Unknown exception!".
std::string fmtToString(const char* format, ...) noexcept HLV_PRINTF_FORMAT(1, 2);

// The same with an argument list that the caller has started (and ends itself).
std::string fmtToStringV(const char* format, va_list args) noexcept HLV_PRINTF_FORMAT(1, 0);

} // namespace halvex::thread
