// What tavolen-bench's two children share: the measured program
// (bench_child.cpp) and the bare window it is compared with
// (bench_bare_window.cpp). Both play the same simulated remote, take the same
// steady-state window and write their figures to descriptor 3. Internal to
// bench/.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "bench/bench.h"

namespace bench {

enum class ChildKind { Latency, Cpu, Bare };

struct ChildSettings {
    ChildKind kind = ChildKind::Latency;
    int rate = 100;        // reports per second
    double fps = 100;      // Bare: frames per second
    int warmupMs = 1000;   // after kSettleMs, before the window
    int windowMs = 10000;
    bool record = false;   // the program records the session (--record)
    int serverPid = 0;     // the display server's process, 0 for none
};

// Processor time and counters at the two ends of the steady-state window.
struct WindowSnapshot {
    int64_t ns = 0;
    double cpuSeconds = 0;
    double machineBusySeconds = 0;  // every processor, every process
    double serverCpuSeconds = 0;    // the display server's
    uint32_t handedOff = 0;
    uint32_t frames = 0;
    int64_t systemCalls = -1;  // -1: not counted
    int64_t voluntarySwitches = 0;
};

struct Window {
    WindowSnapshot start, end;
    std::atomic<bool> done{false};
};

// A child's figures, as "name value" lines to descriptor 3.
class ResultWriter {
public:
    ResultWriter() : file_(fdopen(kResultFd, "w")) {}
    void Put(const char* name, double value) {
        if (file_ != nullptr) std::fprintf(file_, "%s %.9g\n", name, value);
    }
    void Close() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
    }

private:
    std::FILE* file_;
};

// Sleeps until the monotonic clock reads ns.
void SleepUntilNs(int64_t ns);

// The simulated remote of every run: four points moving at the run's rate,
// point 1 numbering the reports; the monitor sends HOME once the window is
// over.
void SetUpSimulatedRemote(const ChildSettings& settings);

// The remote's time 0, once it was opened (0 before), and a frame presented.
int64_t ReadOpenNs();
void CountFrame();

// Waits for time 0, then takes the window's two snapshots, and ends the run
// with HOME only then (see bench_child.cpp). For a thread of its own.
void RunMonitor(const ChildSettings& settings, Window* window);

// The figures of the steady-state window: processor times, reports, frames,
// system calls and switches per frame, peak memory.
void PutWindowFigures(ResultWriter& out, const Window& window, const ChildSettings& settings);

// The bare window's run; ends the process.
[[noreturn]] void RunBareChild(const ChildSettings& settings);

}  // namespace bench
