// The high-resolution monotonic clock: counts and their frequency.
#pragma once

#include <cstdint>

// Counts per second of ReadPerformanceCounter.
int64_t ReadPerformanceFrequency();

// A monotonic count that never goes back, at ReadPerformanceFrequency().
int64_t ReadPerformanceCounter();

// Sleeps (yielding the processor) for at least ms milliseconds.
void SleepMilliseconds(int ms);
