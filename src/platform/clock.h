// The performance-counter time base: a monotonic tick counter and exact conversions of
// tick counts into the units that timings are kept in.
#pragma once

#include <cstdint>

namespace quiltra::platform {

enum TimeUnit : int {
    kHours = 0,
    kMinutes = 1,
    kSeconds = 2,
    kMilliseconds = 3,
    kMicroseconds = 4,
    kHundredNanoseconds = 5,  // nanoseconds in steps of 100
};

// QueryPerformanceCounter / steady_clock ticks.
int64_t performanceCounter();
// Ticks per second (10^9 off Windows).
int64_t performanceFrequency();

// Converts a tick count into `unit` with truncating division, as if multiplying first, but
// exact for every tick count (no 64-bit overflow). Any other unit returns ticks unchanged.
int64_t ticksTo(int unit, int64_t ticks);
// ticksTo with a given frequency instead of performanceFrequency(); a frequency below 1
// gives 0 for every unit that divides by it.
int64_t convertTicks(int unit, int64_t ticks, int64_t frequency);
// ticksTo(unit, performanceCounter() - start).
int64_t elapsedSince(int unit, int64_t start);

}  // namespace quiltra::platform
