// printf-style formatting into a std::string that never throws, for log and error texts.
#include "hlv_thread/format.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <system_error>

#include <fmt/format.h>

namespace halvex::thread {

namespace {

// A formatting problem of the C library's vsnprintf (a conversion it cannot make).
class FormatFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string formatOrThrow(const char* format, va_list args) HLV_PRINTF_FORMAT(1, 0);

std::string formatOrThrow(const char* format, va_list args)
{
    if (format == nullptr)
        throw FormatFailure("NULL format string");
    va_list measuring;
    va_copy(measuring, args);
    errno = 0;
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0)
        throw FormatFailure(std::generic_category().message(errno != 0 ? errno : EINVAL));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    va_list writing;
    va_copy(writing, args);
    const int written = std::vsnprintf(text.data(), text.size(), format, writing);
    va_end(writing);
    if (written != length)
        throw FormatFailure("output length changed between passes");
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Fallback texts themselves allocate; if even that fails the caller gets an empty string.
template <typename Make>
std::string fallback(Make make) noexcept
{
    try {
        return make();
    } catch (...) {
        return {};
    }
}

} // namespace

std::string fmtToStringV(const char* format, va_list args) noexcept
{
    try {
        return formatOrThrow(format, args);
    } catch (const FormatFailure& failure) {
        return fallback([&] { return fmt::format("{0}[{1}] Format Error: {2}", "fmtToString", 63, failure.what()); });
    } catch (const fmt::format_error& failure) {
        return fallback([&] { return fmt::format("{0}[{1}] Format Error: {2}", "fmtToString", 63, failure.what()); });
    } catch (const std::system_error& failure) {
        return fallback([&] { return std::string("System Error: ") + failure.what(); });
    } catch (...) {
        return fallback([] { return std::string("Unknown exception!"); });
    }
}

std::string fmtToString(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    std::string text = fmtToStringV(format, args);
    va_end(args);
    return text;
}

} // namespace halvex::thread
