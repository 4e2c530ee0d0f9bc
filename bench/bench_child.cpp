// tavolen-bench's child: the measured program run, the hooks that time it
// and the figures it writes to descriptor 3 (the bare window it is compared
// with is in bench_bare_window.cpp).
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
#include <sys/resource.h>
#include <unistd.h>

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_child.h"
#include "control/startup.h"
#include "remote/remote_reports.h"
#include "remote/session_recorder.h"
#include "sim/scenario.h"
#include "sim/sim_remote.h"
#include "view/sensor_view.h"

namespace bench {

namespace {

constexpr int kSequenceModulus = 511;   // point 1 x = 2 * (number % 511): 0-1020
constexpr uint8_t kIrReport = 0x33;
constexpr std::size_t kIrReportLength = 18;
constexpr int kMaxWaitingPeek = 64;

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
    // Repaint requests waiting behind this frame: as the view says, else
    // counted in SDL's queue.
    SDL_Event events[kMaxWaitingPeek];
    const int waiting = frame.repaintsWaiting >= 0
                            ? frame.repaintsWaiting
                            : SDL_PeepEvents(events, kMaxWaitingPeek, SDL_PEEKEVENT, frame.repaintEvent,
                                             frame.repaintEvent);
    if (waiting > record.mostWaiting.load(std::memory_order_relaxed)) record.mostWaiting.store(waiting);
    record.waitingPeeks.fetch_add(1, std::memory_order_relaxed);
}

WindowSnapshot TakeSnapshot(int serverPid) {
    WindowSnapshot snapshot;
    snapshot.cpuSeconds = ReadOwnCpuSeconds();
    snapshot.machineBusySeconds = ReadMachineBusySeconds();
    if (serverPid > 0) snapshot.serverCpuSeconds = ReadProcessCpuSeconds(serverPid);
    snapshot.handedOff = record.handedOff.load(std::memory_order_acquire);
    snapshot.frames = record.frameCount.load(std::memory_order_relaxed);
    snapshot.systemCalls = ReadSystemCalls();
    snapshot.voluntarySwitches = ReadVoluntarySwitches();
    snapshot.ns = ReadNowNs();
    return snapshot;
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

int64_t ComputeEndMs(const ChildSettings& settings) {
    return kSettleMs + settings.warmupMs + settings.windowMs + kEndMarginMs;
}

}  // namespace

void SleepUntilNs(int64_t ns) {
    const timespec at{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

int64_t ReadOpenNs() { return record.openNs.load(std::memory_order_acquire); }
void CountFrame() { record.frameCount.fetch_add(1, std::memory_order_relaxed); }

// Waits for time 0 (the remote's opening), then takes the window's two
// snapshots, and ends the run with HOME only then: on a slow or busy machine
// it may wake late, and a run that ended at a fixed time would end before
// its window had been measured. It sleeps the whole time in between.
void RunMonitor(const ChildSettings& settings, Window* window) {
    int64_t zero = 0;
    while ((zero = record.openNs.load(std::memory_order_acquire)) == 0) SleepUntilNs(ReadNowNs() + 2'000'000);
    const int64_t startNs = zero + int64_t{kSettleMs + settings.warmupMs} * 1'000'000;
    SleepUntilNs(startNs);
    window->start = TakeSnapshot(settings.serverPid);
    SleepUntilNs(startNs + int64_t{settings.windowMs} * 1'000'000);
    window->end = TakeSnapshot(settings.serverPid);
    window->done.store(true, std::memory_order_release);
    const uint8_t home[] = {0x30, 0x00, 0x80};  // 30 BB BB: HOME alone
    SimInjectReport(home, sizeof home);
}

void PutWindowFigures(ResultWriter& out, const Window& window, const ChildSettings& settings) {
    const double seconds = static_cast<double>(window.end.ns - window.start.ns) * 1e-9;
    out.Put("window_s", seconds);
    const double cpu = window.end.cpuSeconds - window.start.cpuSeconds;
    out.Put("cpu_per_s", cpu / seconds);
    const double server = window.end.serverCpuSeconds - window.start.serverCpuSeconds;
    if (settings.serverPid > 0) out.Put("server_per_s", server / seconds);
    // What the rest of the machine kept busy meanwhile.
    const double machine = window.end.machineBusySeconds - window.start.machineBusySeconds;
    out.Put("others_per_s", (machine - cpu - server) / seconds);
    out.Put("reports", window.end.handedOff - window.start.handedOff);
    const double frames = window.end.frames - window.start.frames;
    out.Put("frames", frames);
    const double calls = static_cast<double>(window.end.systemCalls - window.start.systemCalls);
    if (frames > 0 && window.start.systemCalls >= 0) out.Put("syscalls_per_frame", calls / frames);
    const double switches = static_cast<double>(window.end.voluntarySwitches - window.start.voluntarySwitches);
    if (frames > 0) out.Put("vcsw_per_frame", switches / frames);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    out.Put("maxrss_kib", static_cast<double>(usage.ru_maxrss));
}

void SetUpSimulatedRemote(const ChildSettings& settings) {
    Scenario scenario;
    BuiltInScenario("demo", &scenario);
    scenario.rate = settings.rate;
    SimUseScenario(scenario);
    simOpenedHook = NoteOpened;
    simHandOffHook = NumberReport;
}

namespace {

[[noreturn]] void RunProgramChild(const ChildSettings& settings) {
    const int64_t endMs = ComputeEndMs(settings);
    record.recordLatency = settings.kind == ChildKind::Latency;
    if (record.recordLatency) {
        const std::size_t reports = static_cast<std::size_t>(settings.rate) * (endMs / 1000 + 5);
        record.handOffNs.assign(reports, 0);
        record.frames.reserve(reports + 1000);
    }
    SetUpSimulatedRemote(settings);
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
    const int64_t endedNs = ReadNowNs();
    FinishRecording();
    const bool complete = window.done.load(std::memory_order_acquire);
    if (complete) monitor.join(); else monitor.detach();
    if (code == 0 && record.openNs.load() == 0) {
        std::fputs("bench: the program ended without opening the remote: another Tavolen of this user "
                   "holds the single-instance lock\n", stderr);
    }

    ResultWriter out;
    out.Put("exit_code", code);
    out.Put("complete", complete ? 1 : 0);
    const int64_t open = record.openNs.load();
    const int64_t firstFrame = record.firstFrameNs.load();
    const int64_t firstRepaint = record.firstRepaintNs.load();
    if (settings.record) {
        std::error_code error;
        const double bytes = static_cast<double>(std::filesystem::file_size(recording, error));
        const double minutes = static_cast<double>(endedNs - open) * 1e-9 / 60.0;  // open to the end
        if (!error && open != 0) out.Put("recording_bytes_per_min", bytes / minutes);
    }
    if (open != 0 && firstFrame != 0) out.Put("startup_frame_ms", static_cast<double>(firstFrame - open) * 1e-6);
    if (open != 0 && firstRepaint != 0) {
        out.Put("startup_repaint_ms", static_cast<double>(firstRepaint - open) * 1e-6);
        out.Put("settled", firstRepaint < window.start.ns ? 1 : 0);
    }
    if (complete) {
        PutWindowFigures(out, window, settings);
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

}  // namespace

[[noreturn]] void RunChild(int argc, char** argv) {
    ChildSettings settings;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--kind") {
            const std::string_view kind = value;
            settings.kind = kind == "cpu" ? ChildKind::Cpu : kind == "bare" ? ChildKind::Bare : ChildKind::Latency;
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
        } else if (name == "--server-pid") {
            settings.serverPid = std::atoi(value);
        }
    }
    // Before any thread starts, so that it counts them all.
    OpenSystemCallCounter();
    if (settings.kind == ChildKind::Bare) RunBareChild(settings);
    RunProgramChild(settings);
}

}  // namespace bench
