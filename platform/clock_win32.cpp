#include "platform/clock.h"

#include <windows.h>

int64_t ReadPerformanceFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

int64_t ReadPerformanceCounter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Sleep's granularity is the system's timer tick (15.6 ms unless a program
// asks for less): the probe reader's 100 ms pause may last up to a tick more.
void SleepMilliseconds(int ms) { Sleep(static_cast<DWORD>(ms)); }
