// tavolen-bench's clocks: the monotonic clock, and the processor times as
// Linux keeps them: this process's, another process's and the whole machine's.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/bench.h"

namespace bench {

// The monotonic clock, which the child's sleeps use too.
int64_t ReadNowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

double ReadOwnCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Processor time the whole machine has spent busy (not idle, not waiting
// for the disk) since it started, from the first line of /proc/stat.
double ReadMachineBusySeconds() {
    std::ifstream in("/proc/stat");
    std::string cpu;
    double ticks[8] = {};
    in >> cpu;
    for (double& value : ticks) in >> value;
    const double busy = ticks[0] + ticks[1] + ticks[2] + ticks[5] + ticks[6] + ticks[7];
    return busy / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Processor time a process has used, all its threads: the nanoseconds each
// has run, from /proc/<pid>/task/<tid>/schedstat; where the kernel keeps no
// such figure, the clock ticks (10 ms, too coarse for a display server that
// works a few milliseconds a second) of fields 14 and 15 of /proc/<pid>/stat.
double ReadProcessCpuSeconds(int pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    double ns = 0;
    bool found = false;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(dir + "/task", error)) {
        std::ifstream in(task.path() / "schedstat");
        double runNs = 0;
        if (in >> runNs) {
            ns += runNs;
            found = true;
        }
    }
    if (found) return ns * 1e-9;
    std::ifstream in(dir + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The name, field 2, is in parentheses and may hold blanks: count after it.
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos) return 0;
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14 || number == 15) ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace bench
