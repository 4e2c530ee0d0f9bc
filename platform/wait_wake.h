// Waiting for a word to change, and waking those who wait. The C++ library's
// atomic waits lose wake-ups with some toolchains (MinGW's libstdc++), so the
// program waits through this seam, which each system implements natively.
#pragma once

#include <atomic>

// Returns once word no longer holds value (at once when it does not). Reads
// with acquire order: what was written before the change is visible after.
void WaitWhileEqual(const std::atomic<int>& word, int value);

// Wakes every thread waiting on word. Call after changing it.
void WakeAllWaiters(std::atomic<int>& word);
