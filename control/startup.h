// The program: start-up in its fixed order, the liveness probe, and the hand
// over to the main reader and the sensor view.
#pragma once

#include <atomic>
#include <cstdint>

// Non-zero keeps whichever reader loop runs (probe reader or main reader) in
// its loop; zero makes it leave at its next check. Set by the probe and the
// main reader, cleared by the probe and by ShutDownRemote.
extern std::atomic<uint8_t> readingEnabled;

// Runs the whole program and returns its exit code: 0 after a normal end, an
// end asked for by a signal, or when another instance runs; 1 when the remote
// is missing or silent, the lock cannot be made or the window cannot be
// opened. onLockTaken, if given, runs once the single-instance lock is held
// and before the remote is opened. Call it before any other thread starts.
int RunTavolen(void (*onLockTaken)() = nullptr);

// True when the remote's accelerometer X, cleared first, is non-zero after
// the 100 ms probe window.
bool ProbeRemote();

// From the main reader: HOME, the end the user asked for. Closes the view as
// RequestClose does; while the view is still being made (a slow display),
// start-up closes it the moment it is open.
void RequestEndFromRemote();

// Ends until the probe reader has left its loop (at once when it never ran
// or has already left). The main reader waits here before it reads.
void WaitForProbeReader();
