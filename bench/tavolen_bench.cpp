// tavolen-bench: how fast the program starts, how soon a report is on the
// screen, how much processor time it takes, measured on the program linked
// with the simulated remote, under an Xvfb of its own and under SDL's
// offscreen driver.
//
//   tavolen-bench [--quick] [--offscreen-only] [--record]
//
// --record: the program runs record what the remote sends (tavolen --record),
// to show what recording costs and how large a recording grows.
// --quick: 2 s windows and three rounds instead of 10 s windows and five.
//
// Each column (display) runs its measurements in rounds, and the table gives
// the median of the rounds with the lowest and highest: on a busy machine one
// run is noise. The processor time is compared with a bare window fed by the
// same simulated remote at the same rate, through a reader that only decodes,
// that sends whole frames; so the ratio is what the program adds, the hand-off
// and the view. The display server's own processor time is measured beside.
//
// Every measurement runs in a child process of its own (this program started
// again with --child), so that each has its own processor-time and memory
// figures and starts from a fresh program. The program's single-instance
// lock has one place per user, whatever the environment: where the build has
// the tests' private-lock-place, a child runs through it with a lock place of
// its own, so that a Tavolen running meanwhile (another checkout's tests, a
// second benchmark) does not end it at once. A child writes its figures as
// "name value" lines to descriptor 3; this process gathers them into one
// table.
//
// This file is the parent: it starts the children (and an Xvfb) and gathers
// their figures. The child's side is in bench_child.cpp, the table in
// bench_report.cpp.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench.h"

extern char** environ;

namespace bench {
namespace {

constexpr int kChildGraceMs = 20000;    // beyond its planned length

#ifndef PRIVATE_LOCK_PLACE
#define PRIVATE_LOCK_PLACE ""
#endif
// The tests' helper that runs a command with a lock place of its own; "" for none.
constexpr const char* kPrivateLockPlace = PRIVATE_LOCK_PLACE;

// A private directory, removed with what is in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/tavolen-bench-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The Xvfb this run starts and ends.
class XServer {
public:
    // Starts it; display() is empty when it did not come up.
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
            setpgid(0, 0);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (pid_ < 0) {
            close(fds[0]);
            return;
        }
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        const int64_t deadline = ReadNowNs() + 10'000'000'000;
        while (ReadNowNs() < deadline && poll(&wait, 1, 200) >= 0) {
            char c;
            const ssize_t got = read(fds[0], &c, 1);
            if (got <= 0 || c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~XServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    const std::string& display() const { return display_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

struct ChildRun {
    std::vector<std::string> args;
    int plannedMs = 0;
};

// Runs one child and returns its figures, plus its peak memory as the
// parent sees it; nullopt (with what went wrong on standard error) when it
// failed.
std::optional<Figures> RunMeasurement(const Column& column, const ChildRun& run) {
    TempDir dir;
    if (dir.path().empty()) return std::nullopt;
    const std::string errPath = dir.path() + "/stderr";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;

    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        if (text.starts_with("XDG_RUNTIME_DIR=") || text.starts_with("SDL_VIDEODRIVER=") ||
            text.starts_with("DISPLAY=") || text.starts_with("WAYLAND_DISPLAY=")) {
            continue;
        }
        env.emplace_back(text);
    }
    env.push_back("XDG_RUNTIME_DIR=" + dir.path());
    env.push_back("SDL_VIDEODRIVER=" + column.driver);
    if (!column.display.empty()) env.push_back("DISPLAY=" + column.display);
    std::vector<std::string> args = {"tavolen-bench", "--child"};
    args.insert(args.end(), run.args.begin(), run.args.end());
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string lockPlace = dir.path() + "/lock";
    const bool ownLock =
        std::string_view(kPrivateLockPlace) != "" && !error && mkdir(lockPlace.c_str(), 0700) == 0;
    if (ownLock) {
        args[0] = self;
        args.insert(args.begin(), {kPrivateLockPlace, lockPlace});
    }

    std::vector<char*> argv, envp;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], kResultFd);  // dup2 clears close-on-exec on the copy
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) dup2(err, STDERR_FILENO);
        const int devNull = open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            dup2(devNull, STDIN_FILENO);
            dup2(devNull, STDOUT_FILENO);
        }
        execve(ownLock ? kPrivateLockPlace : "/proc/self/exe", argv.data(), envp.data());
        // After a fork only async-signal-safe calls: a fixed line, by write.
        static const char kNotAProgram[] =
            "tavolen-bench: this system cannot run the child (a cross-built program needs "
            "its emulator registered with the kernel)\n";
        static const char kNotStarted[] = "tavolen-bench: the child could not be started\n";
        const bool foreign = errno == ENOEXEC;
        [[maybe_unused]] const ssize_t said = write(STDERR_FILENO, foreign ? kNotAProgram : kNotStarted,
                                                    (foreign ? sizeof kNotAProgram : sizeof kNotStarted) - 1);
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return std::nullopt;
    }
    std::string text;
    const int64_t deadline = ReadNowNs() + int64_t{run.plannedMs + kChildGraceMs} * 1'000'000;
    bool timedOut = false;
    for (;;) {
        const int64_t left = (deadline - ReadNowNs()) / 1'000'000;
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd wait{fds[0], POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(std::min<int64_t>(left, 1000))) < 0 && errno != EINTR) break;
        if (wait.revents == 0) continue;
        char buffer[4096];
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);

    Figures figures;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const std::size_t blank = line.find(' ');
        if (blank != std::string::npos) figures[line.substr(0, blank)] = std::atof(line.c_str() + blank + 1);
        at = end + 1;
    }
    std::string what;
    if (timedOut) what = "did not end in time";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) what = "ended with status " + std::to_string(status);
    else if (figures["complete"] != 1) what = "ended before its window was over";
    if (!what.empty()) {
        std::string command;
        for (const std::string& arg : run.args) command += " " + arg;
        std::fprintf(stderr, "tavolen-bench: %s child%s %s; its standard error:\n%s\n", column.title.c_str(),
                     command.c_str(), what.c_str(), ReadWholeFile(errPath).c_str());
        return std::nullopt;
    }
    figures["child_maxrss_kib"] = static_cast<double>(usage.ru_maxrss);
    return figures;
}

ChildRun MakeRun(const Plan& plan, const Column& column, std::vector<std::string> args) {
    args.insert(args.end(), {"--warmup-ms", std::to_string(plan.warmupMs), "--window-ms", std::to_string(plan.windowMs),
                             "--record", plan.record ? "1" : "0", "--server-pid", std::to_string(column.serverPid)});
    return ChildRun{args, kSettleMs + plan.warmupMs + plan.windowMs + kEndMarginMs};
}

void NoteStartup(ColumnResult& result, const Figures& figures) {
    const auto frame = figures.find("startup_frame_ms");
    const auto repaint = figures.find("startup_repaint_ms");
    if (frame != figures.end()) result.startupFrameMs.push_back(frame->second);
    if (repaint != figures.end()) result.startupRepaintMs.push_back(repaint->second);
    const auto settled = figures.find("settled");
    if (settled != figures.end() && settled->second != 1) ++result.unsettled;
}

// A latency run counts when it timed reports.
void KeepLatencyRun(ColumnResult& result, std::optional<Figures> figures, std::vector<Figures>* runs) {
    if (!figures || figures->count("latency_n") == 0 || figures->at("latency_n") == 0) {
        ++result.failed;
        return;
    }
    NoteStartup(result, *figures);
    runs->push_back(std::move(*figures));
}

// Rounds of four runs each: the latency at 100 and at 1000 reports a second,
// then the processor time of the program and of the bare window, one right
// after the other, so that what else the machine does falls on both alike.
ColumnResult MeasureColumn(const Column& column, const Plan& plan) {
    ColumnResult result;
    result.ran = true;
    for (int round = 1; round <= plan.rounds; ++round) {
        std::fprintf(stderr, "tavolen-bench: %s: round %d of %d...\n", column.title.c_str(), round, plan.rounds);
        for (const int rate : {100, 1000}) {
            KeepLatencyRun(result, RunMeasurement(column, MakeRun(plan, column, {"--kind", "latency", "--rate", std::to_string(rate)})),
                           rate == 100 ? &result.latency100 : &result.latency1000);
        }
        std::optional<Figures> program = RunMeasurement(column, MakeRun(plan, column, {"--kind", "cpu", "--rate", "100"}));
        // The bare window paints as many frames a second as the program did.
        double fps = 100;
        if (program) {
            NoteStartup(result, *program);
            if (program->at("frames") > 0) fps = program->at("frames") / program->at("window_s");
        }
        std::optional<Figures> bare = RunMeasurement(
            column, MakeRun(plan, column, {"--kind", "bare", "--rate", "100", "--fps", std::to_string(fps)}));
        if (program && bare) {
            result.pairs.push_back(Pair{std::move(*program), std::move(*bare)});
        } else {
            ++result.failed;
        }
    }
    return result;
}

}  // namespace
}  // namespace bench

using namespace bench;

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--child") RunChild(argc, argv);

    Plan plan;
    bool offscreenOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--quick") {
            plan.warmupMs = 300;
            plan.windowMs = 2000;
            plan.rounds = 3;
        } else if (option == "--offscreen-only") {
            offscreenOnly = true;
        } else if (option == "--record") {
            plan.record = true;
        } else {
            std::fprintf(stderr, "usage: tavolen-bench [--quick] [--offscreen-only] [--record]\n");
            return 2;
        }
    }
    signal(SIGPIPE, SIG_IGN);

    std::vector<Column> columns;
    std::vector<ColumnResult> results;
    bool failed = false;
    if (!offscreenOnly) {
        XServer server;
        Column column{"Xvfb 1024x768x24", "x11", server.display(), server.pid()};
        columns.push_back(column);
        if (server.display().empty()) {
            std::fprintf(stderr, "tavolen-bench: Xvfb did not start\n");
            results.emplace_back();
            failed = true;
        } else {
            results.push_back(MeasureColumn(column, plan));
        }
    }  // the Xvfb ends here
    columns.push_back(Column{"SDL offscreen", "offscreen", ""});
    results.push_back(MeasureColumn(columns.back(), plan));

    PrintTable(columns, results, plan);
    for (const ColumnResult& result : results) {
        if (!result.ran || result.failed > 0) failed = true;
    }
    std::fflush(stdout);
    return failed ? 1 : 0;
}
