#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quiltra::platform {
namespace {

constexpr int64_t kMax = INT64_MAX;

struct Conversion {
    int64_t frequency;
    int64_t ticks;
    int64_t expected[7];  // units 0..5 and one unknown unit
};

// Expected values computed exactly (arbitrary precision), truncating toward zero; results
// that do not fit 64 bits keep their low 64 bits.
const Conversion kConversions[] = {
    {1000000000,
     kMax,
     {2562047, 153722867, 9223372036, 9223372036854, 9223372036854775, 9223372036854775800, kMax}},
    {1000000000,
     -kMax,
     {-2562047, -153722867, -9223372036, -9223372036854, -9223372036854775, -9223372036854775800,
      -kMax}},
    {1000000000,
     123456789012345678,
     {34293, 2057613, 123456789, 123456789012, 123456789012345, 123456789012345600,
      123456789012345678}},
    {1000000000, -7, {0, 0, 0, 0, 0, 0, -7}},
    {10000000,
     kMax,
     {256204778, 15372286728, 922337203685, 922337203685477, 922337203685477580, -100, kMax}},
    {10000000, -7, {0, 0, 0, 0, 0, -700, -7}},
    {2441406,
     kMax,
     {1049414881, 62964892885, 3777893573152, 3777893573152018, 3777893573152018061,
      -3688961958440019980, kMax}},
    {2441406,
     -kMax,
     {-1049414881, -62964892885, -3777893573152, -3777893573152018, -3777893573152018061,
      3688961958440019980, -kMax}},
    {2441406, -7, {0, 0, 0, 0, -2, -2800, -7}},
    {3579545,
     123456789012345678,
     {9580422, 574825334, 34489520040, 34489520040213, 34489520040213400, -2403968107205702432,
      123456789012345678}},
    {3579545, -7, {0, 0, 0, 0, -1, -1900, -7}},
};

TEST(Clock, ConvertsEveryUnitExactlyForHugeAndNegativeTickCounts) {
    for (const Conversion& c : kConversions) {
        for (int unit = 0; unit < 7; ++unit) {
            EXPECT_EQ(convertTicks(unit, c.ticks, c.frequency), c.expected[unit])
                << "frequency " << c.frequency << " ticks " << c.ticks << " unit " << unit;
        }
    }
}

TEST(Clock, UnknownUnitsReturnTheTicksUnchanged) {
    EXPECT_EQ(convertTicks(-1, 42, 1000), 42);
    EXPECT_EQ(convertTicks(99, -42, 1000), -42);
}

TEST(Clock, ZeroFrequencyGivesZeroInsteadOfDividingByZero) {
    EXPECT_EQ(convertTicks(kMilliseconds, 1000, 0), 0);
    EXPECT_EQ(convertTicks(kHours, 1000, 0), 0);
}

TEST(Clock, TicksToUsesThePerformanceFrequency) {
    const int64_t frequency = performanceFrequency();
    ASSERT_GT(frequency, 0);
    EXPECT_EQ(ticksTo(kSeconds, frequency * 3), 3);
    EXPECT_EQ(ticksTo(kMilliseconds, frequency / 2), 500);
    EXPECT_EQ(ticksTo(kMicroseconds, -frequency), -1000000);
}

TEST(Clock, CounterIsMonotonicAndElapsedTimeIsNotNegative) {
    const int64_t start = performanceCounter();
    const int64_t later = performanceCounter();
    EXPECT_GE(later, start);
    EXPECT_GE(elapsedSince(kHundredNanoseconds, start), 0);
}

}  // namespace
}  // namespace quiltra::platform
