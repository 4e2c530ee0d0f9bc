#include "platform/wait_wake.h"

#include <windows.h>

namespace {

// Under Wine an address wait lost a wake-up now and then (a 1000-round
// wait/wake test hung about once in seventeen runs). So no sleep here is
// longer than this: a lost wake-up costs that much time, never the program.
// On Windows the wake comes at once.
constexpr DWORD kLookAgainMs = 20;

}  // namespace

void WaitWhileEqual(const std::atomic<int>& word, int value) {
    while (word.load(std::memory_order_acquire) == value) {
        // Sleeps only while the word still holds value, and wakes on a change.
        WaitOnAddress(const_cast<std::atomic<int>*>(&word), &value, sizeof value, kLookAgainMs);
    }
}

void WakeAllWaiters(std::atomic<int>& word) { WakeByAddressAll(&word); }
