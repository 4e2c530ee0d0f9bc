// tavolen-bench's pieces shared by its files: the parent's runner
// (tavolen_bench.cpp), the children (bench_child.h) and the report
// (bench_report.cpp). Internal to bench/.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

constexpr int kResultFd = 3;            // where a child writes its figures
constexpr int kSettleMs = 1000;         // open to steady state's earliest start
constexpr int kEndMarginMs = 300;       // window end to the run's end, planned: HOME comes after the window

// The monotonic clock, in nanoseconds.
int64_t ReadNowNs();

// The value at quantile q (0 to 1) of values sorted in ascending order; 0
// when there are none.
double ComputeQuantile(const std::vector<double>& sorted, double q);

// Processor time, user and system, in seconds: this process has used; a
// process has used, all its threads (0 when it cannot be read); the whole
// machine has spent busy (not idle, not waiting for the disk), every
// processor, since it started.
double ReadOwnCpuSeconds();
double ReadProcessCpuSeconds(int pid);
double ReadMachineBusySeconds();

// This process's system calls and voluntary context switches so far, all
// its threads (system_calls.cpp). The counter of system calls must be opened
// before the process starts any other thread; without it (no permission, no
// tracefs) ReadSystemCalls gives -1.
bool OpenSystemCallCounter();
int64_t ReadSystemCalls();
int64_t ReadVoluntarySwitches();

// The child's side (tavolen-bench --child ...): runs the measurement its
// arguments name, writes its figures to kResultFd and ends the process.
[[noreturn]] void RunChild(int argc, char** argv);

// A child's figures by name, as it wrote them.
using Figures = std::map<std::string, double>;

struct Column {
    std::string title;
    std::string driver;   // SDL_VIDEODRIVER
    std::string display;  // DISPLAY, x11 only
    int serverPid = 0;    // the display server's process, 0 when there is none
};

// One round's processor measurement: the program, then the bare window.
struct Pair {
    Figures program, bare;
};

struct ColumnResult {
    bool ran = false;
    std::vector<Figures> latency100, latency1000;  // one a round
    std::vector<Pair> pairs;                       // one a round
    std::vector<double> startupFrameMs, startupRepaintMs;
    int failed = 0;     // runs that gave no figures
    int unsettled = 0;  // runs whose first repaint came after the window began
};

struct Plan {
    int warmupMs = 1000;
    int windowMs = 10000;
    int rounds = 5;       // each: latency at 100 and 1000/s, one pair
    bool record = false;  // the program runs record the session
};

// Prints every column's figures as one table, then the targets they meet.
void PrintTable(const std::vector<Column>& columns, const std::vector<ColumnResult>& results, const Plan& plan);

}  // namespace bench
