// Test hook: one process-wide factor applied to the library's fixed periods and time-outs.
#include "hlv_thread/period_scale.h"

#include <atomic>
#include <cmath>

namespace halvex::thread {

namespace {

constinit std::atomic<double> scaleFactor{1.0};

uint32_t scaled(uint32_t value)
{
    if (value == 0)
        return 0;
    const double result = std::round(static_cast<double>(value) * periodScale());
    if (result < 1.0)
        return 1;
    if (result >= static_cast<double>(UINT32_MAX))
        return UINT32_MAX;
    return static_cast<uint32_t>(result);
}

} // namespace

double periodScale()
{
    return scaleFactor.load(std::memory_order_relaxed);
}

void setPeriodScale(double scale)
{
    scaleFactor.store(std::isfinite(scale) && scale > 0.0 ? scale : 1.0, std::memory_order_relaxed);
}

uint32_t scaledMicroseconds(uint32_t microseconds)
{
    return scaled(microseconds);
}

uint32_t scaledMilliseconds(uint32_t milliseconds)
{
    return scaled(milliseconds);
}

} // namespace halvex::thread
