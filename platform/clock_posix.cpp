#include "platform/clock.h"

#include <cerrno>
#include <ctime>

int64_t ReadPerformanceFrequency() { return 1'000'000'000; }

int64_t ReadPerformanceCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void SleepMilliseconds(int ms) {
    timespec rest{ms / 1000, (ms % 1000) * 1'000'000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}
