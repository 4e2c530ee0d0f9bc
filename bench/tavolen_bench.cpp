// tavolen-bench: how fast the program starts, how soon a report is on the
// screen, how much processor time it takes, measured on the program linked
// with the simulated remote, under an Xvfb of its own and under SDL's
// offscreen driver.
//
//   tavolen-bench [--quick] [--offscreen-only] [--record]
//
// --record: the program runs record what the remote sends (tavolen --record),
// to show what recording costs and how large a recording grows.
//
// Every measurement runs in a child process of its own (this program started
// again with --child), with a fresh XDG_RUNTIME_DIR for the program's
// single-instance lock, so that each has its own processor-time and memory
// figures and starts from a fresh program. A child writes its figures as
// "name value" lines to descriptor 3; this process gathers them into one
// table.
//
// How a frame is tied to the report it shows: the hand-off hook (the
// simulated remote's BackendRead returning a report) numbers every IR report
// 1, 2, 3, ... and writes point 1's camera x as 2 * (number % 511), so point 1
// moves one window pixel on every report. The frame hook (called on the view's
// thread right after a frame is presented) gets the x it drew and takes the
// latest report number handed off by then; the report the frame shows is the
// latest one at or below that number whose x matches. This is exact as long
// as fewer than 511 reports are handed off between a report's decoding and
// the end of the frame that shows it (0.5 s at 1,000 reports a second). A
// report's latency is then from its hand-off to the end of the first frame
// presented that shows it or a later report: a report the view skipped (its
// repaint merged into the next one) is on the screen once a later one is.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "control/startup.h"
#include "remote/session_recorder.h"
#include "sim/scenario.h"
#include "sim/sim_remote.h"
#include "view/sensor_view.h"

extern char** environ;

namespace {

constexpr int kResultFd = 3;            // where a child writes its figures
constexpr int kSettleMs = 1000;         // open to steady state's earliest start
constexpr int kEndMarginMs = 300;       // window end to HOME
constexpr int kSequenceModulus = 511;   // point 1 x = 2 * (number % 511): 0-1020
constexpr uint8_t kIrReport = 0x33;
constexpr std::size_t kIrReportLength = 18;
constexpr int kMaxWaitingPeek = 64;
constexpr int kChildGraceMs = 20000;    // beyond its planned length
constexpr double kLatencyTargetMs = 2.0;
constexpr double kRatioTarget = 1.25;

// The monotonic clock the sleeps below use too.
int64_t ReadNowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void SleepUntilNs(int64_t ns) {
    const timespec at{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

double ReadCpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// ---------------------------------------------------------------- the child

enum class ChildKind { Latency, Cpu, Baseline };

struct ChildSettings {
    ChildKind kind = ChildKind::Latency;
    int rate = 100;        // reports per second
    double fps = 100;      // Baseline: frames per second
    int warmupMs = 1000;   // after kSettleMs, before the window
    int windowMs = 10000;
    bool record = false;   // the program records the session (--record)
};

struct FrameRecord {
    int64_t ns;        // just after the frame was presented
    uint32_t shown;    // number of the report it shows, 0 for none
};

// What the hooks record. The hand-off hook runs on the reader's thread, the
// frame hook on the view's; the monitor reads the counters.
struct ChildRecord {
    bool recordLatency = false;
    std::atomic<int64_t> openNs{0};
    std::atomic<int64_t> firstFrameNs{0};
    std::atomic<int64_t> firstRepaintNs{0};
    std::atomic<uint32_t> handedOff{0};     // numbered reports so far
    std::vector<int64_t> handOffNs;         // by number; written before handedOff
    std::atomic<uint32_t> frameCount{0};
    std::vector<FrameRecord> frames;        // view thread only until the end
    std::atomic<int> mostWaiting{0};
    std::atomic<uint32_t> waitingPeeks{0};
};
ChildRecord record;

void NoteOpened() { record.openNs.store(ReadNowNs(), std::memory_order_release); }

void NumberReport(uint8_t* report, std::size_t length) {
    if (length < kIrReportLength || report[0] != kIrReport) return;
    const uint32_t number = record.handedOff.load(std::memory_order_relaxed) + 1;
    const int x = 2 * static_cast<int>(number % kSequenceModulus);
    report[6] = static_cast<uint8_t>(x & 0xFF);
    report[8] = static_cast<uint8_t>((report[8] & ~0x30) | ((x >> 8) & 3) << 4);
    if (record.recordLatency && number < record.handOffNs.size()) record.handOffNs[number] = ReadNowNs();
    record.handedOff.store(number, std::memory_order_release);
}

// The latest report number at or below latest whose point 1 x is drawnX.
uint32_t FindShownReport(int32_t drawnX, uint32_t latest) {
    if (latest == 0 || drawnX < 0 || drawnX % 2 != 0 || drawnX / 2 >= kSequenceModulus) return 0;
    const uint32_t residue = static_cast<uint32_t>(drawnX / 2);
    const uint32_t back = (latest % kSequenceModulus + kSequenceModulus - residue) % kSequenceModulus;
    return back >= latest ? 0 : latest - back;
}

void NoteFrame(const ViewFrame& frame) {
    const int64_t now = ReadNowNs();
    if (record.firstFrameNs.load(std::memory_order_relaxed) == 0) record.firstFrameNs.store(now);
    if (frame.cause == PaintCause::Repaint && record.firstRepaintNs.load(std::memory_order_relaxed) == 0) {
        record.firstRepaintNs.store(now);
    }
    record.frameCount.fetch_add(1, std::memory_order_relaxed);
    if (!record.recordLatency) return;
    const uint32_t latest = record.handedOff.load(std::memory_order_acquire);
    if (record.frames.size() < record.frames.capacity()) {
        record.frames.push_back(FrameRecord{now, FindShownReport(frame.drawnX[0], latest)});
    }
    // Repaint requests still queued behind this frame.
    SDL_Event events[kMaxWaitingPeek];
    const int waiting = SDL_PeepEvents(events, kMaxWaitingPeek, SDL_PEEKEVENT, frame.repaintEvent,
                                       frame.repaintEvent);
    if (waiting > record.mostWaiting.load(std::memory_order_relaxed)) record.mostWaiting.store(waiting);
    record.waitingPeeks.fetch_add(1, std::memory_order_relaxed);
}

// Processor time and counters at the two ends of the steady-state window.
struct WindowSnapshot {
    int64_t ns = 0;
    double cpuSeconds = 0;
    double machineBusySeconds = 0;  // every processor, every process
    uint32_t handedOff = 0;
    uint32_t frames = 0;
};

struct Window {
    WindowSnapshot start, end;
    std::atomic<bool> done{false};
};

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

WindowSnapshot TakeSnapshot() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    WindowSnapshot snapshot;
    snapshot.cpuSeconds = ReadCpuSeconds(usage);
    snapshot.machineBusySeconds = ReadMachineBusySeconds();
    snapshot.handedOff = record.handedOff.load(std::memory_order_acquire);
    snapshot.frames = record.frameCount.load(std::memory_order_relaxed);
    snapshot.ns = ReadNowNs();
    return snapshot;
}

// Waits for time 0 (the remote's opening, or the baseline's start), then takes
// the window's two snapshots. It sleeps the whole time in between.
void RunMonitor(const ChildSettings& settings, Window* window) {
    int64_t zero = 0;
    while ((zero = record.openNs.load(std::memory_order_acquire)) == 0) SleepUntilNs(ReadNowNs() + 2'000'000);
    const int64_t startNs = zero + int64_t{kSettleMs + settings.warmupMs} * 1'000'000;
    SleepUntilNs(startNs);
    window->start = TakeSnapshot();
    SleepUntilNs(startNs + int64_t{settings.windowMs} * 1'000'000);
    window->end = TakeSnapshot();
    window->done.store(true, std::memory_order_release);
}

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

double ComputeQuantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    const std::size_t rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// Latencies in milliseconds of the reports numbered (first, last].
std::vector<double> MeasureLatencies(uint32_t first, uint32_t last) {
    std::vector<double> latencies;
    std::size_t frame = 0;
    const std::vector<FrameRecord>& frames = record.frames;
    for (uint32_t number = first + 1; number <= last && number < record.handOffNs.size(); ++number) {
        while (frame < frames.size() && frames[frame].shown < number) ++frame;
        if (frame == frames.size()) break;
        latencies.push_back(static_cast<double>(frames[frame].ns - record.handOffNs[number]) * 1e-6);
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

void PutWindowFigures(ResultWriter& out, const Window& window) {
    const double seconds = static_cast<double>(window.end.ns - window.start.ns) * 1e-9;
    out.Put("window_s", seconds);
    const double cpu = window.end.cpuSeconds - window.start.cpuSeconds;
    out.Put("cpu_per_s", cpu / seconds);
    // What the rest of the machine (Xvfb included) kept busy meanwhile.
    out.Put("others_per_s", (window.end.machineBusySeconds - window.start.machineBusySeconds - cpu) / seconds);
    out.Put("reports", window.end.handedOff - window.start.handedOff);
    out.Put("frames", window.end.frames - window.start.frames);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    out.Put("maxrss_kib", static_cast<double>(usage.ru_maxrss));
}

[[noreturn]] void RunProgramChild(const ChildSettings& settings) {
    const int64_t endMs = kSettleMs + settings.warmupMs + settings.windowMs + kEndMarginMs;
    record.recordLatency = settings.kind == ChildKind::Latency;
    if (record.recordLatency) {
        const std::size_t reports = static_cast<std::size_t>(settings.rate) * (endMs / 1000 + 5);
        record.handOffNs.assign(reports, 0);
        record.frames.reserve(reports + 1000);
    }
    Scenario scenario;
    BuiltInScenario("demo", &scenario);
    scenario.rate = settings.rate;
    SimEvent home;  // HOME ends the program once the window is over
    home.ms = static_cast<uint32_t>(endMs);
    home.kind = SimEventKind::Buttons;
    home.bytes[0] = 0x00;
    home.bytes[1] = 0x80;
    scenario.events.push_back(home);
    SimUseScenario(scenario);
    simOpenedHook = NoteOpened;
    simHandOffHook = NumberReport;
    viewFrameHook = NoteFrame;

    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    const std::string recording = std::string(runtimeDir != nullptr ? runtimeDir : "/tmp") + "/recording.txt";
    std::string recordingError;
    if (settings.record && !StartRecording(recording.c_str(), "tavolen-bench", &recordingError)) {
        std::fprintf(stderr, "bench: %s\n", recordingError.c_str());
        std::_Exit(1);
    }

    Window window;
    std::thread monitor(RunMonitor, settings, &window);
    const int code = RunTavolen();
    FinishRecording();
    const bool complete = window.done.load(std::memory_order_acquire);
    if (complete) monitor.join(); else monitor.detach();

    ResultWriter out;
    out.Put("exit_code", code);
    out.Put("complete", complete ? 1 : 0);
    const int64_t open = record.openNs.load();
    const int64_t firstFrame = record.firstFrameNs.load();
    const int64_t firstRepaint = record.firstRepaintNs.load();
    if (settings.record) {
        std::error_code error;
        const double bytes = static_cast<double>(std::filesystem::file_size(recording, error));
        if (!error) out.Put("recording_bytes_per_min", bytes / (static_cast<double>(endMs) / 60000.0));
    }
    if (open != 0 && firstFrame != 0) out.Put("startup_frame_ms", static_cast<double>(firstFrame - open) * 1e-6);
    if (open != 0 && firstRepaint != 0) {
        out.Put("startup_repaint_ms", static_cast<double>(firstRepaint - open) * 1e-6);
        out.Put("settled", firstRepaint < window.start.ns ? 1 : 0);
    }
    if (complete) {
        PutWindowFigures(out, window);
        if (record.recordLatency) {
            const std::vector<double> latencies = MeasureLatencies(window.start.handedOff, window.end.handedOff);
            out.Put("latency_n", static_cast<double>(latencies.size()));
            out.Put("latency_median_ms", ComputeQuantile(latencies, 0.5));
            out.Put("latency_p99_ms", ComputeQuantile(latencies, 0.99));
            out.Put("latency_max_ms", latencies.empty() ? 0 : latencies.back());
            out.Put("waiting_max", record.mostWaiting.load());
            out.Put("waiting_peeks", record.waitingPeeks.load());
        }
    }
    out.Close();
    std::fflush(nullptr);
    std::_Exit(code);
}

// The baseline: a window like the view's (same size, software renderer, the
// view's hints) that clears and draws four moving crosses at a fixed frame
// rate, paced by sleeping to each frame's time; no remote, no reader.
[[noreturn]] void RunBaselineChild(const ChildSettings& settings) {
    SDL_SetHint(SDL_HINT_RENDER_LINE_METHOD, "1");
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "baseline: %s\n", SDL_GetError());
        std::_Exit(1);
    }
    SDL_Window* sdlWindow = SDL_CreateWindow("Tavolen baseline", 10, 10, 520, 420,
                                             SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    SDL_Renderer* renderer = sdlWindow == nullptr ? nullptr : SDL_CreateRenderer(sdlWindow, -1, SDL_RENDERER_SOFTWARE);
    if (renderer == nullptr) {
        std::fprintf(stderr, "baseline: %s\n", SDL_GetError());
        std::_Exit(1);
    }
    const int64_t start = ReadNowNs();
    record.openNs.store(start, std::memory_order_release);
    Window window;
    std::thread monitor(RunMonitor, settings, &window);
    const int64_t periodNs = static_cast<int64_t>(1e9 / settings.fps);
    const int64_t endNs = start + int64_t{kSettleMs + settings.warmupMs + settings.windowMs + kEndMarginMs} * 1'000'000;
    int64_t nextNs = start;
    int frame = 0;
    bool quit = false;
    while (!quit && nextNs < endNs) {
        SleepUntilNs(nextNs);
        nextNs += periodNs;
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
            if (event.type == SDL_QUIT) quit = true;
        }
        SDL_SetRenderDrawColor(renderer, 0xFF, 0xFF, 0xFF, 0xFF);
        SDL_RenderClear(renderer);
        SDL_SetRenderDrawColor(renderer, 0x00, 0x00, 0x00, 0xFF);
        for (int k = 0; k < 4; ++k) {
            const int cx = 20 + (frame * (k + 1) + 97 * k) % 480;
            const int cy = 20 + (frame * (k + 2) + 71 * k) % 340;
            SDL_RenderDrawLine(renderer, cx - 4, cy, cx + 4, cy);
            SDL_RenderDrawLine(renderer, cx, cy - 4, cx, cy + 4);
        }
        SDL_RenderPresent(renderer);
        ++frame;
        record.frameCount.fetch_add(1, std::memory_order_relaxed);
    }
    const bool complete = window.done.load(std::memory_order_acquire);
    if (complete) monitor.join(); else monitor.detach();
    ResultWriter out;
    out.Put("exit_code", 0);
    out.Put("complete", complete ? 1 : 0);
    if (complete) PutWindowFigures(out, window);
    out.Close();
    std::fflush(nullptr);
    std::_Exit(0);
}

[[noreturn]] void RunChild(int argc, char** argv) {
    ChildSettings settings;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--kind") {
            const std::string_view kind = value;
            settings.kind = kind == "cpu" ? ChildKind::Cpu : kind == "baseline" ? ChildKind::Baseline : ChildKind::Latency;
        } else if (name == "--rate") {
            settings.rate = std::atoi(value);
        } else if (name == "--fps") {
            settings.fps = std::atof(value);
        } else if (name == "--warmup-ms") {
            settings.warmupMs = std::atoi(value);
        } else if (name == "--window-ms") {
            settings.windowMs = std::atoi(value);
        } else if (name == "--record") {
            settings.record = std::string_view(value) == "1";
        }
    }
    if (settings.kind == ChildKind::Baseline) RunBaselineChild(settings);
    RunProgramChild(settings);
}

// --------------------------------------------------------------- the parent

using Figures = std::map<std::string, double>;

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

private:
    pid_t pid_ = -1;
    std::string display_;
};

struct Column {
    std::string title;
    std::string driver;   // SDL_VIDEODRIVER
    std::string display;  // DISPLAY, x11 only
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
        execve("/proc/self/exe", argv.data(), envp.data());
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

struct ColumnResult {
    bool ran = false;
    std::optional<Figures> latency100, latency1000, cpu, baseline;
    std::vector<double> startupFrameMs, startupRepaintMs;
    int unsettled = 0;  // runs whose first repaint came after the window began
};

struct Plan {
    int warmupMs = 1000;
    int windowMs = 10000;
    int startupRuns = 4;  // short runs for start-up alone, besides the others
    bool record = false;  // the program runs record the session
};

ChildRun MakeProgramRun(const Plan& plan, const char* kind, int rate) {
    return ChildRun{{"--kind", kind, "--rate", std::to_string(rate), "--warmup-ms", std::to_string(plan.warmupMs),
                     "--window-ms", std::to_string(plan.windowMs), "--record", plan.record ? "1" : "0"},
                    kSettleMs + plan.warmupMs + plan.windowMs + kEndMarginMs};
}

void NoteStartup(ColumnResult& result, const std::optional<Figures>& figures) {
    if (!figures) return;
    const auto frame = figures->find("startup_frame_ms");
    const auto repaint = figures->find("startup_repaint_ms");
    if (frame != figures->end()) result.startupFrameMs.push_back(frame->second);
    if (repaint != figures->end()) result.startupRepaintMs.push_back(repaint->second);
    const auto settled = figures->find("settled");
    if (settled != figures->end() && settled->second != 1) ++result.unsettled;
}

ColumnResult MeasureColumn(const Column& column, const Plan& plan) {
    ColumnResult result;
    result.ran = true;
    std::fprintf(stderr, "tavolen-bench: %s: 100 reports/s...\n", column.title.c_str());
    result.latency100 = RunMeasurement(column, MakeProgramRun(plan, "latency", 100));
    NoteStartup(result, result.latency100);
    std::fprintf(stderr, "tavolen-bench: %s: 1000 reports/s...\n", column.title.c_str());
    result.latency1000 = RunMeasurement(column, MakeProgramRun(plan, "latency", 1000));
    NoteStartup(result, result.latency1000);
    std::fprintf(stderr, "tavolen-bench: %s: processor time at 100 reports/s...\n", column.title.c_str());
    result.cpu = RunMeasurement(column, MakeProgramRun(plan, "cpu", 100));
    NoteStartup(result, result.cpu);
    if (plan.startupRuns > 0) {
        std::fprintf(stderr, "tavolen-bench: %s: %d start-up runs...\n", column.title.c_str(), plan.startupRuns);
    }
    const Plan startupPlan{0, 200, 0, plan.record};
    for (int i = 0; i < plan.startupRuns; ++i) {
        NoteStartup(result, RunMeasurement(column, MakeProgramRun(startupPlan, "cpu", 100)));
    }
    if (result.cpu && (*result.cpu)["window_s"] > 0) {
        const double fps = (*result.cpu)["frames"] / (*result.cpu)["window_s"];
        std::fprintf(stderr, "tavolen-bench: %s: baseline at %.1f frames/s...\n", column.title.c_str(), fps);
        ChildRun run{{"--kind", "baseline", "--fps", std::to_string(fps), "--warmup-ms", std::to_string(plan.warmupMs),
                      "--window-ms", std::to_string(plan.windowMs)},
                     kSettleMs + plan.warmupMs + plan.windowMs + kEndMarginMs};
        if (fps > 0) result.baseline = RunMeasurement(column, run);
    }
    return result;
}

// ------------------------------------------------------------------ the table

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string FormatWithCount(const std::string& value, double count, const char* unit) {
    return value + " (n=" + Format("%.0f", count) + (unit[0] != '\0' ? " " : "") + unit + ")";
}

double FindMedian(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return ComputeQuantile(values, 0.5);
}

using Cell = std::string;
using CellMaker = Cell (*)(const ColumnResult&);

const Figures* Get(const std::optional<Figures>& figures) { return figures ? &*figures : nullptr; }

Cell MakeLatencyCell(const Figures* figures, const char* key) {
    if (figures == nullptr || (*figures).at("latency_n") == 0) return "-";
    return FormatWithCount(Format("%.3f ms", figures->at(key)), figures->at("latency_n"), "reports");
}

Cell MakeRateCell(const Figures* figures, const char* key) {
    if (figures == nullptr) return "-";
    return FormatWithCount(Format("%.1f", figures->at(key) / figures->at("window_s")), figures->at(key),
                           Format("in %.1f s", figures->at("window_s")).c_str());
}

Cell MakeWaitingCell(const Figures* figures) {
    if (figures == nullptr) return "-";
    return FormatWithCount(Format("%.0f", figures->at("waiting_max")), figures->at("waiting_peeks"), "frames");
}

Cell MakeCpuCell(const Figures* figures) {
    if (figures == nullptr) return "-";
    return FormatWithCount(Format("%.4f s/s", figures->at("cpu_per_s")), 1,
                           Format("run of %.1f s", figures->at("window_s")).c_str());
}

std::optional<double> ComputeRatio(const ColumnResult& result) {
    if (!result.cpu || !result.baseline || result.baseline->at("cpu_per_s") <= 0) return std::nullopt;
    return result.cpu->at("cpu_per_s") / result.baseline->at("cpu_per_s");
}

struct Row {
    const char* label;
    CellMaker make;
};

const Row kRows[] = {
    {"start-up: open to first frame (median)",
     [](const ColumnResult& r) -> Cell {
         if (r.startupFrameMs.empty()) return "-";
         return FormatWithCount(Format("%.1f ms", FindMedian(r.startupFrameMs)), static_cast<double>(r.startupFrameMs.size()), "runs");
     }},
    {"start-up: open to reader's first repaint (median)",
     [](const ColumnResult& r) -> Cell {
         if (r.startupRepaintMs.empty()) return "-";
         return FormatWithCount(Format("%.1f ms", FindMedian(r.startupRepaintMs)), static_cast<double>(r.startupRepaintMs.size()), "runs");
     }},
    {"latency at 100/s: median", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency100), "latency_median_ms"); }},
    {"latency at 100/s: 99th percentile", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency100), "latency_p99_ms"); }},
    {"latency at 100/s: maximum", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency100), "latency_max_ms"); }},
    {"latency at 1000/s: median", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency1000), "latency_median_ms"); }},
    {"latency at 1000/s: 99th percentile", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency1000), "latency_p99_ms"); }},
    {"latency at 1000/s: maximum", [](const ColumnResult& r) { return MakeLatencyCell(Get(r.latency1000), "latency_max_ms"); }},
    {"reports read per second at 100/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency100), "reports"); }},
    {"frames painted per second at 100/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency100), "frames"); }},
    {"repaints waiting in the queue, most, at 100/s", [](const ColumnResult& r) { return MakeWaitingCell(Get(r.latency100)); }},
    {"reports read per second at 1000/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency1000), "reports"); }},
    {"frames painted per second at 1000/s", [](const ColumnResult& r) { return MakeRateCell(Get(r.latency1000), "frames"); }},
    {"repaints waiting in the queue, most, at 1000/s", [](const ColumnResult& r) { return MakeWaitingCell(Get(r.latency1000)); }},
    {"processor per wall second: program at 100/s", [](const ColumnResult& r) { return MakeCpuCell(Get(r.cpu)); }},
    {"frames painted per second in that run", [](const ColumnResult& r) { return MakeRateCell(Get(r.cpu), "frames"); }},
    {"processor per wall second: baseline window", [](const ColumnResult& r) { return MakeCpuCell(Get(r.baseline)); }},
    {"frames painted per second by the baseline", [](const ColumnResult& r) { return MakeRateCell(Get(r.baseline), "frames"); }},
    {"processor ratio program / baseline",
     [](const ColumnResult& r) -> Cell {
         const std::optional<double> ratio = ComputeRatio(r);
         return ratio ? FormatWithCount(Format("%.2f", *ratio), 1, "pair of runs") : "-";
     }},
    {"other processes' processor per second, in windows",
     [](const ColumnResult& r) -> Cell {
         std::string text;
         int windows = 0;
         for (const std::optional<Figures>* figures : {&r.latency100, &r.latency1000, &r.cpu, &r.baseline}) {
             text += (text.empty() ? "" : " ") + (*figures ? Format("%.2f", (**figures).at("others_per_s")) : "-");
             windows += *figures ? 1 : 0;
         }
         return FormatWithCount(text, windows, "windows");
     }},
    {"peak resident memory: program (most of its runs)",
     [](const ColumnResult& r) -> Cell {
         double most = 0;
         int runs = 0;
         for (const std::optional<Figures>* figures : {&r.latency100, &r.latency1000, &r.cpu}) {
             if (!*figures) continue;
             most = std::max(most, (**figures).at("child_maxrss_kib"));
             ++runs;
         }
         return runs == 0 ? "-" : FormatWithCount(Format("%.1f MiB", most / 1024), runs, "runs");
     }},
    {"peak resident memory: baseline window",
     [](const ColumnResult& r) -> Cell {
         if (!r.baseline) return "-";
         return FormatWithCount(Format("%.1f MiB", r.baseline->at("child_maxrss_kib") / 1024), 1, "run");
     }},
    {"recording (--record) at 100/s: bytes per minute", [](const ColumnResult& r) -> Cell {
        const Figures* figures = Get(r.latency100);
        if (figures == nullptr || figures->count("recording_bytes_per_min") == 0) return "-";
        return Format("%.0f", figures->at("recording_bytes_per_min"));
    }},
};

std::string ReadCpuModel() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("model name")) return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

void PrintTable(const std::vector<Column>& columns, const std::vector<ColumnResult>& results, const Plan& plan) {
    std::printf("Tavolen benchmark: the program with the simulated remote, %.1f s windows after %.1f s\n",
                plan.windowMs / 1000.0, (kSettleMs + plan.warmupMs) / 1000.0);
    std::printf("machine: %u processors, %s\n\n", std::thread::hardware_concurrency(), ReadCpuModel().c_str());
    constexpr int kLabelWidth = 52;
    constexpr int kCellWidth = 40;
    std::printf("%-*s", kLabelWidth, "figure");
    for (const Column& column : columns) std::printf(" | %-*s", kCellWidth, column.title.c_str());
    std::printf("\n");
    for (const Row& row : kRows) {
        // Only a run that records has a recording to measure.
        if (!plan.record && std::string_view(row.label).starts_with("recording")) continue;
        std::printf("%-*s", kLabelWidth, row.label);
        for (const ColumnResult& result : results) {
            std::printf(" | %-*s", kCellWidth, result.ran ? row.make(result).c_str() : "not run");
        }
        std::printf("\n");
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (results[i].unsettled > 0) {
            std::printf("note: %s: %d run(s) had their first repaint after the window began\n",
                        columns[i].title.c_str(), results[i].unsettled);
        }
    }

    std::printf("\ntargets:\n");
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnResult& r = results[i];
        if (!r.ran) continue;
        const char* title = columns[i].title.c_str();
        auto Say = [&](const char* what, bool met, const std::string& value) {
            std::printf("  %-17s %-50s %-6s %s\n", title, what, met ? "met" : "MISSED", value.c_str());
        };
        if (r.latency100) {
            const double p99 = r.latency100->at("latency_p99_ms");
            Say("99th-percentile latency at 100/s under 2 ms", p99 < kLatencyTargetMs && r.latency100->at("latency_n") > 0,
                Format("%.3f ms", p99));
        }
        if (r.latency1000) {
            const double waiting = r.latency1000->at("waiting_max");
            Say("at 1000/s at most one repaint waiting", waiting <= 1, Format("%.0f", waiting));
            const double max = r.latency1000->at("latency_max_ms");
            // Bounded: no report waits longer than a fifth of a second, far
            // below what a growing backlog reaches over the window.
            Say("at 1000/s latency bounded (max under 200 ms)", max < 200 && r.latency1000->at("latency_n") > 0,
                Format("max %.3f ms", max));
        }
        if (const std::optional<double> ratio = ComputeRatio(r)) {
            Say("processor ratio to the baseline at most 1.25", *ratio <= kRatioTarget, Format("%.2f", *ratio));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--child") RunChild(argc, argv);

    Plan plan;
    bool offscreenOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--quick") {
            plan.warmupMs = 300;
            plan.windowMs = 2000;
            plan.startupRuns = 0;
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
        Column column{"Xvfb 1024x768x24", "x11", server.display()};
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
        if (!result.ran || !result.latency100 || !result.latency1000 || !result.cpu || !result.baseline) failed = true;
    }
    std::fflush(stdout);
    return failed ? 1 : 0;
}
