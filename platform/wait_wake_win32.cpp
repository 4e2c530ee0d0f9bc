#include "platform/wait_wake.h"

#include <windows.h>

namespace {

// One lock and one condition for every word: the program has two words and
// a waiter or two. The waker takes the lock between its change and the wake,
// so a waiter that saw the old value is already asleep when the wake comes.
// (WaitOnAddress would do without the lock, but under Wine it lost a wake-up:
// the 1000-round wait/wake test hung once in about seventeen runs.)
SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;

// Wine builds its condition variables on the same address waits, and the
// 1000-round test hung with them too (twice, on a busy machine). So a sleep
// looks at the word again after this long at the most: a lost wake-up costs
// that much time, never the program.
constexpr DWORD kLookAgainMs = 20;

}  // namespace

void WaitWhileEqual(const std::atomic<int>& word, int value) {
    AcquireSRWLockExclusive(&lock);
    while (word.load(std::memory_order_acquire) == value) {
        SleepConditionVariableSRW(&changed, &lock, kLookAgainMs, 0);
    }
    ReleaseSRWLockExclusive(&lock);
}

void WakeAllWaiters(std::atomic<int>&) {
    AcquireSRWLockExclusive(&lock);
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&changed);
}
