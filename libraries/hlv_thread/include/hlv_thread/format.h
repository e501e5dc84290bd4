// printf-style formatting into a std::string that never throws, for log and error texts.
#pragma once

#include <cstdarg>
#include <string>

// Formats like the C library's printf. Never throws: a formatting failure returns a text that
// says what went wrong ("fmtToString[63] Format Error: ..."), a system error returns
// "System Error: ...", anything else "Unknown exception!".
std::string fmtToString(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// The same with an argument list that the caller has started (and ends itself).
std::string fmtToStringV(const char* format, va_list args) noexcept __attribute__((format(printf, 1, 0)));
