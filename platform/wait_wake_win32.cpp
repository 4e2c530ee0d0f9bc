#include "platform/wait_wake.h"

#include <windows.h>

// The word's own address is what waiters and wakers meet on; an atomic int
// is a plain int in memory.
static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

void WaitWhileEqual(const std::atomic<int>& word, int value) {
    // WaitOnAddress compares and sleeps as one step against WakeByAddressAll,
    // and may return early: look again each time.
    while (word.load(std::memory_order_acquire) == value) {
        WaitOnAddress(const_cast<std::atomic<int>*>(&word), &value, sizeof value, INFINITE);
    }
}

void WakeAllWaiters(std::atomic<int>& word) { WakeByAddressAll(&word); }
