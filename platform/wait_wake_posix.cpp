#include "platform/wait_wake.h"

// libstdc++ on Linux waits on a futex: no wake-up is lost.
void WaitWhileEqual(const std::atomic<int>& word, int value) {
    while (word.load(std::memory_order_acquire) == value) word.wait(value, std::memory_order_acquire);
}

void WakeAllWaiters(std::atomic<int>& word) { word.notify_all(); }
