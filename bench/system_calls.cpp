// tavolen-bench's counts of what a process asks of the kernel: its system
// calls and its voluntary context switches, figures that do not follow the
// machine's speed.
//
// Linux keeps no count of a process's system calls in /proc (its io file
// counts only the read and write family). The kernel's raw_syscalls:sys_enter
// tracepoint fires on every system call's entry; a perf_event_open counter on
// it, in counting mode, adds one there for each, in the kernel: no tracer
// stops the threads as ptrace (strace) does. Opened with inherit before the
// process starts other threads, it counts every thread it starts; reading it
// gives the sum of all of them, ended ones included. It needs root, or
// CAP_PERFMON, or kernel.perf_event_paranoid at -1, and tracefs.
#include <linux/perf_event.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>

#include "bench/bench.h"

namespace bench {
namespace {

// The counter, -1 when there is none.
int systemCallCounter = -1;

constexpr const char* kTracepointIds[] = {
    "/sys/kernel/tracing/events/raw_syscalls/sys_enter/id",
    "/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id",
};

}  // namespace

bool OpenSystemCallCounter() {
    uint64_t id = 0;
    for (const char* path : kTracepointIds) {
        std::ifstream in(path);
        if (in >> id) break;
    }
    if (id == 0) return false;
    perf_event_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.size = sizeof attr;
    attr.type = PERF_TYPE_TRACEPOINT;
    attr.config = id;
    attr.inherit = 1;  // the threads started from now on
    const long fd = syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC);
    if (fd < 0) return false;
    systemCallCounter = static_cast<int>(fd);
    return true;
}

int64_t ReadSystemCalls() {
    uint64_t count = 0;
    if (systemCallCounter < 0 || read(systemCallCounter, &count, sizeof count) != sizeof count) return -1;
    return static_cast<int64_t>(count);
}

int64_t ReadVoluntarySwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

}  // namespace bench
