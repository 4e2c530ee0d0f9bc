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

}  // namespace

void WaitWhileEqual(const std::atomic<int>& word, int value) {
    AcquireSRWLockExclusive(&lock);
    while (word.load(std::memory_order_acquire) == value) {
        SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&lock);
}

void WakeAllWaiters(std::atomic<int>&) {
    AcquireSRWLockExclusive(&lock);
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&changed);
}
