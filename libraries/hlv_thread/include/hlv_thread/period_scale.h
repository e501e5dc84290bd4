// Test hook: one process-wide factor applied to the library's fixed periods and time-outs.
#pragma once

#include <cstdint>

namespace halvex::thread {

// 1.0 unless a test changes it. Tickers do not apply it themselves: the components that own a
// fixed period (age-out, discovery polls, heartbeat, negotiation) pass it through the scaled*
// functions, so tests can run those periods in milliseconds.
double periodScale();
// Values that are not finite and positive restore 1.0.
void setPeriodScale(double scale);

// The value times the scale, rounded, at least 1 for a non-zero value, at most UINT32_MAX.
uint32_t scaledMicroseconds(uint32_t microseconds);
uint32_t scaledMilliseconds(uint32_t milliseconds);

} // namespace halvex::thread
