// Standard-error log sink shared by all cameras of a process.
#include "sim/net/sim_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include <fmt/chrono.h>
#include <fmt/format.h>

namespace hxsim {
namespace {

std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
    // fmt's localtime is the thread-safe call of each system (localtime_r, localtime_s).
    const std::tm local = fmt::localtime(seconds);
    return fmt::format("{:02}:{:02}:{:02}.{:06}", local.tm_hour, local.tm_min, local.tm_sec, micros);
}

} // namespace

Logger stderrLogger()
{
    return [](const std::string& line) {
        static std::mutex* const guard = new std::mutex; // never destroyed: lines may come during exit
        const std::string text = fmt::format("{} hxsim {}\n", timestamp(), line);
        std::lock_guard<std::mutex> lock(*guard);
        std::fputs(text.c_str(), stderr);
    };
}

Logger prefixed(Logger sink, const std::string& prefix)
{
    if (!sink) {
        return {};
    }
    return [sink = std::move(sink), prefix](const std::string& line) { sink(prefix + ": " + line); };
}

} // namespace hxsim
