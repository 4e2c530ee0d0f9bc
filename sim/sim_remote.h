// The simulated remote: the channel backend that tests and the demo link in
// place of hidapi. It behaves like a Wii Remote as far as this tool is
// concerned and records every output report it receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "sim/scenario.h"

// The scenario of the next remote that is opened (default: present, idle).
void SimUseScenario(const Scenario& scenario);

// Where output reports are logged as "<ms> <HEX BYTES>" and "<ms> close" lines,
// flushed one by one; nullptr for no log. A write to it that fails is said
// once on standard error, naming the log as name.
void SimUseLog(std::FILE* log, const char* name = "the log");

struct SimOutput {
    double ms = 0;               // since the remote was opened
    bool close = false;          // the handle was closed (bytes empty)
    std::vector<uint8_t> bytes;  // the output report as written
};

// Everything the remote received since it was opened, in order.
std::vector<SimOutput> SimOutputs();

// Sends one input report now, as the remote would (subject to the queue limit,
// silence and disconnection). For tests.
void SimInjectReport(const uint8_t* report, std::size_t length);

// Measurement hooks; nullptr (the default) for none. Set them before the
// remote is opened. Both run with the remote's lock held, on the calling
// thread, so they must be short and must not call back into the remote.
//
// simOpenedHook: the remote has just been opened (its time 0).
// simHandOffHook: BackendRead is about to return this input report (length
// bytes, already in the reader's buffer, which the hook may change).
using SimOpenedHook = void (*)();
using SimHandOffHook = void (*)(uint8_t* report, std::size_t length);
extern SimOpenedHook simOpenedHook;
extern SimHandOffHook simHandOffHook;
