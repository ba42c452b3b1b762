#include "platform/clock.h"

namespace quiltra::platform {

namespace {

// trunc(ticks * multiplier / frequency) without overflow in the product. Results beyond 64
// bits wrap (stored durations keep only their low 32 bits anyway).
int64_t scale(int64_t ticks, int64_t multiplier, int64_t frequency) {
#if defined(__SIZEOF_INT128__)
    return static_cast<int64_t>(static_cast<__int128>(ticks) * multiplier / frequency);
#else
    // ticks = q * frequency + r with q, r truncated toward zero and of the sign of ticks, so
    // ticks * m / f = q * m + r * m / f, and both terms truncate the same way.
    // |r * m| < frequency * multiplier, far below 2^63 for any real counter frequency.
    const int64_t quotient = ticks / frequency;
    const int64_t remainder = ticks % frequency;
    const auto whole = static_cast<uint64_t>(quotient) * static_cast<uint64_t>(multiplier);
    return static_cast<int64_t>(whole + static_cast<uint64_t>(remainder * multiplier / frequency));
#endif
}

}  // namespace

int64_t convertTicks(int unit, int64_t ticks, int64_t frequency) {
    switch (unit) {
        case kHours:
            return convertTicks(kMinutes, ticks, frequency) / 60;
        case kMinutes:
            return convertTicks(kSeconds, ticks, frequency) / 60;
        case kSeconds:
            return frequency < 1 ? 0 : ticks / frequency;
        case kMilliseconds:
            return frequency < 1 ? 0 : scale(ticks, 1000, frequency);
        case kMicroseconds:
            return frequency < 1 ? 0 : scale(ticks, 1000000, frequency);
        case kHundredNanoseconds:
            return frequency < 1
                       ? 0
                       : static_cast<int64_t>(
                             static_cast<uint64_t>(scale(ticks, 10000000, frequency)) * 100u);
        default:
            return ticks;
    }
}

int64_t ticksTo(int unit, int64_t ticks) {
    return convertTicks(unit, ticks, performanceFrequency());
}

int64_t elapsedSince(int unit, int64_t start) {
    return ticksTo(unit, performanceCounter() - start);
}

}  // namespace quiltra::platform
