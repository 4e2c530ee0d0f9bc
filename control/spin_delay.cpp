#include "control/spin_delay.h"

#include "platform/clock.h"

void SpinDelay(double ms) {
    const double frequency = static_cast<double>(ReadPerformanceFrequency());
    const int64_t start = ReadPerformanceCounter();
    for (;;) {
        const double elapsed =
            static_cast<double>(ReadPerformanceCounter() - start) / frequency * 1000.0;
        if (elapsed > ms) return;
    }
}
