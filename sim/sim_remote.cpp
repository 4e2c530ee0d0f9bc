// The simulated remote runs on a clock, not on a thread of its own: whoever
// touches it (a read, a write, an injected report) first brings it up to now,
// applying every script event and every periodic report that fell due since,
// each at its own time. A reader that finds nothing waits on a condition
// variable until its timeout or the next thing due, whichever is earlier.
#include "sim/sim_remote.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/immortal.h"
#include "remote/hid_backend.h"

namespace {

// The remote's numbers, and the few of the simulation.
struct SimConstants {
    int vendor = 0x057E;
    uint8_t idModeSet = 0x12;       // output: flags, mode
    uint8_t idCameraEnable = 0x13;  // output: 0x04 on
    uint8_t idRegisterWrite = 0x16; // output: space, address, size, data
    uint8_t idCameraEnable2 = 0x1A; // output: 0x04 on
    uint8_t idAcknowledge = 0x22;   // input: BB BB RR EE
    uint8_t modeButtons = 0x30;     // input: BB BB
    uint8_t modeAccel = 0x31;       // input: BB BB AX AY AZ
    uint8_t modeAccelIr = 0x33;     // input: BB BB AX AY AZ + 12 IR bytes
    uint8_t flagAcknowledge = 0x02; // first payload byte: answer with a 22 report
    uint8_t flagEnable = 0x04;      // first payload byte of 13 and 1A
    uint8_t spaceRegisters = 0x04;  // report 16 space bit: peripheral registers
    uint8_t cameraAddressHigh = 0xB0;
    uint8_t cameraControl = 0x30;   // 0x08 once the camera is set up
    uint8_t cameraReady = 0x08;
    uint8_t cameraFormat = 0x33;    // 0x03: extended, 3 bytes a point
    uint8_t formatExtended = 0x03;
    uint8_t errorNone = 0x00;
    uint8_t errorNoAnswer = 0x07;   // the camera was not enabled first
    std::size_t maxWriteData = 16;
    std::size_t queueLimit = 64;    // unread reports the hidraw node keeps
    std::size_t maxInputLength = 22; // the longest input report (3D), identifier included
    uint8_t buttonsDefault[2] = {0x00, 0x00};
    uint8_t accelDefault[3] = {128, 128, 154};  // lying flat, 1 g on z
    double demoAccelWobble = 3.0;
};
constexpr SimConstants kSim;

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int64_t kNsPerMs = 1'000'000;

struct SimPoint {
    bool seen = false;
    int x = 0, y = 0, size = 0;
};

struct QueuedReport {
    uint8_t bytes[kSim.maxInputLength];
    std::size_t length;
};

}  // namespace

SimOpenedHook simOpenedHook = nullptr;
SimHandOffHook simHandOffHook = nullptr;

// Only its address matters: the remote's state is process-wide.
struct BackendDevice {
    int unused = 0;
};

namespace {

// Everything about the remote, guarded by mutex. Written and read by
// whichever thread calls a Backend* or Sim* function.
struct SimState {
    std::mutex mutex;
    std::condition_variable changed;  // a report was queued, or the remote went
    Scenario nextScenario;            // taken by the next BackendOpen
    std::FILE* log = nullptr;         // output report log, or nullptr
    std::string logName;              // for the message when writing it fails
    bool logFailed = false;           // that message was given
    BackendDevice device;             // the one handle BackendOpen hands out
    bool open = false;

    // From here on, reset by BackendOpen.
    Scenario scenario;
    int64_t openCount = 0;            // ReadPerformanceCounter() at open: time 0
    std::size_t nextEvent = 0;        // first script event not yet applied
    int64_t periodNs = 10 * kNsPerMs; // between periodic reports
    int64_t nextTickNs = kNever;      // next periodic report, kNever in mode 30
    uint8_t mode = kSim.modeButtons;
    uint8_t buttons[2] = {};
    uint8_t accel[3] = {};
    SimPoint points[4];
    bool cameraEnabled = false;       // 13 with 0x04 received
    bool cameraEnabled2 = false;      // 1A with 0x04 received
    uint8_t cameraRegisters[256] = {};
    bool silent = false;
    bool disconnected = false;
    QueuedReport queue[kSim.queueLimit];  // a ring: queueHead is the oldest
    std::size_t queueHead = 0;
    std::size_t queueCount = 0;
    std::vector<SimOutput> outputs;
};

// Never destroyed: a reader may still wait on changed while the process exits.
SimState& Sim() {
    static Immortal<SimState> state;
    return state.value;
}

// Nanoseconds since the remote was opened.
int64_t ReadNowNs(const SimState& sim) {
    const int64_t counts = ReadPerformanceCounter() - sim.openCount;
    const int64_t frequency = ReadPerformanceFrequency();
    return counts / frequency * 1'000'000'000 + counts % frequency * 1'000'000'000 / frequency;
}

bool IsPeriodicMode(uint8_t mode) { return mode == kSim.modeAccel || mode == kSim.modeAccelIr; }

bool IsCameraOn(const SimState& sim) {
    return sim.cameraEnabled && sim.cameraEnabled2 &&
           sim.cameraRegisters[kSim.cameraControl] == kSim.cameraReady &&
           sim.cameraRegisters[kSim.cameraFormat] == kSim.formatExtended;
}

// An empty report is none: queued, it would take a slot and read as "nothing
// came in time".
void EnqueueReport(SimState& sim, const uint8_t* bytes, std::size_t length) {
    if (length == 0 || !sim.open || sim.silent || sim.disconnected ||
        sim.queueCount == kSim.queueLimit) {
        return;
    }
    QueuedReport& slot = sim.queue[(sim.queueHead + sim.queueCount) % kSim.queueLimit];
    slot.length = std::min(length, kSim.maxInputLength);
    std::memcpy(slot.bytes, bytes, slot.length);
    ++sim.queueCount;
}

// The demo's points: Lissajous paths over the whole field, each with its own
// frequencies and phase so they cross but never move together.
void ComputeDemoPoints(int64_t atNs, SimPoint* points) {
    struct Path {
        double fx, fy, phase;
    };
    constexpr Path kPaths[4] = {{0.23, 0.31, 0.0}, {0.37, 0.17, 1.3}, {0.13, 0.29, 2.6}, {0.41, 0.47, 4.1}};
    const double t = static_cast<double>(atNs) * 1e-9;
    const double twoPi = 6.283185307179586;
    for (int i = 0; i < 4; ++i) {
        const double x = 511.5 + 511.5 * std::sin(twoPi * kPaths[i].fx * t + kPaths[i].phase);
        const double y = 383.5 + 383.5 * std::sin(twoPi * kPaths[i].fy * t + 0.7 * kPaths[i].phase);
        points[i].seen = true;
        points[i].x = std::clamp(static_cast<int>(std::lround(x)), 0, 1023);
        points[i].y = std::clamp(static_cast<int>(std::lround(y)), 0, 767);
        points[i].size = 2 + (i + static_cast<int>(t)) % 4;
    }
}

// Builds the report of the current mode at atNs; 0 for a mode the remote
// here does not send.
std::size_t BuildDataReport(const SimState& sim, int64_t atNs, uint8_t* report) {
    if (sim.mode != kSim.modeButtons && !IsPeriodicMode(sim.mode)) return 0;
    // 3x BB BB
    report[0] = sim.mode;
    report[1] = sim.buttons[0];
    report[2] = sim.buttons[1];
    if (sim.mode == kSim.modeButtons) return 3;
    // 31 BB BB AX AY AZ
    std::memcpy(report + 3, sim.accel, 3);
    if (sim.scenario.demoMotion) {
        const double t = static_cast<double>(atNs) * 1e-9;
        for (int axis = 0; axis < 3; ++axis) {
            const double wobble = kSim.demoAccelWobble * std::sin(t * (2.1 + axis) + axis);
            report[3 + axis] = static_cast<uint8_t>(std::clamp(sim.accel[axis] + std::lround(wobble), 0L, 255L));
        }
    }
    if (sim.mode == kSim.modeAccel) return 6;
    // 33 BB BB AX AY AZ + 12 IR bytes, 3 a point: XX YY (y9 y8 x9 x8 s3 s2 s1 s0)
    SimPoint points[4];
    std::copy(std::begin(sim.points), std::end(sim.points), points);
    if (sim.scenario.demoMotion) ComputeDemoPoints(atNs, points);
    const bool cameraOn = IsCameraOn(sim);
    for (int i = 0; i < 4; ++i) {
        uint8_t* ir = report + 6 + 3 * i;
        const SimPoint& point = points[i];
        if (!cameraOn || !point.seen) {
            ir[0] = ir[1] = ir[2] = 0xFF;
            continue;
        }
        ir[0] = static_cast<uint8_t>(point.x & 0xFF);
        ir[1] = static_cast<uint8_t>(point.y & 0xFF);
        ir[2] = static_cast<uint8_t>(((point.y >> 8) & 3) << 6 | ((point.x >> 8) & 3) << 4 | (point.size & 0x0F));
    }
    return 18;
}

void SendDataReport(SimState& sim, int64_t atNs) {
    uint8_t report[kSim.maxInputLength];
    const std::size_t length = BuildDataReport(sim, atNs, report);
    if (length > 0) EnqueueReport(sim, report, length);
}

void ApplyEvent(SimState& sim, const SimEvent& event, int64_t atNs) {
    switch (event.kind) {
    case SimEventKind::Ir:
        sim.points[event.point] = SimPoint{true, event.x, event.y, event.size};
        break;
    case SimEventKind::IrOff:
        sim.points[event.point].seen = false;
        break;
    case SimEventKind::Buttons: {
        const bool changed = sim.buttons[0] != event.bytes[0] || sim.buttons[1] != event.bytes[1];
        sim.buttons[0] = event.bytes[0];
        sim.buttons[1] = event.bytes[1];
        // In mode 30 a button change is the only thing that makes a report.
        if (changed && sim.mode == kSim.modeButtons) SendDataReport(sim, atNs);
        break;
    }
    case SimEventKind::Accel:
        sim.accel[0] = static_cast<uint8_t>(event.x);
        sim.accel[1] = static_cast<uint8_t>(event.y);
        sim.accel[2] = static_cast<uint8_t>(event.size);
        break;
    case SimEventKind::Raw:
        EnqueueReport(sim, event.bytes, event.length);
        break;
    case SimEventKind::Silent:
        sim.silent = true;
        break;
    case SimEventKind::Resume:
        sim.silent = false;
        break;
    case SimEventKind::Disconnect:
        sim.disconnected = true;
        sim.queueCount = 0;
        break;
    }
}

int64_t EventTimeNs(const SimState& sim) {
    if (sim.nextEvent >= sim.scenario.events.size()) return kNever;
    return int64_t{sim.scenario.events[sim.nextEvent].ms} * kNsPerMs;
}

// Applies, in time order, every event and periodic report due up to nowNs.
// An event and a report due at the same time: the event first, so the report
// shows the state of its own moment.
void AdvanceToNow(SimState& sim, int64_t nowNs) {
    while (!sim.disconnected) {
        const int64_t eventNs = EventTimeNs(sim);
        const int64_t tickNs = sim.nextTickNs;
        if (std::min(eventNs, tickNs) > nowNs) return;
        if (eventNs <= tickNs) {
            ApplyEvent(sim, sim.scenario.events[sim.nextEvent], eventNs);
            ++sim.nextEvent;
            continue;
        }
        if (sim.silent || sim.queueCount == kSim.queueLimit) {
            // Every report before the next event would be dropped: skip them
            // all at once, so a reader's pause of seconds costs nothing.
            const int64_t lastNs = std::min(nowNs, eventNs - 1);
            const int64_t skipped = (lastNs - tickNs) / sim.periodNs + 1;
            sim.nextTickNs += skipped * sim.periodNs;
            continue;
        }
        SendDataReport(sim, tickNs);
        sim.nextTickNs += sim.periodNs;
    }
}

// When the next report or event is due that a waiting reader should see.
int64_t NextDueNs(const SimState& sim) {
    if (sim.disconnected) return kNever;
    const int64_t tickNs = sim.silent ? kNever : sim.nextTickNs;
    return std::min(EventTimeNs(sim), tickNs);
}

// 16 SS AH AM AL size d0..d15
uint8_t WriteCameraRegisters(SimState& sim, const uint8_t* report, std::size_t length) {
    if (length < 6) return kSim.errorNone;
    const bool camera = (report[1] & kSim.spaceRegisters) != 0 && report[2] == kSim.cameraAddressHigh;
    if (!camera) return kSim.errorNone;
    if (!sim.cameraEnabled || !sim.cameraEnabled2) return kSim.errorNoAnswer;
    const std::size_t size = report[5];
    if (size == 0 || size > kSim.maxWriteData) return kSim.errorNone;
    const std::size_t available = std::min(size, length - 6);
    for (std::size_t i = 0; i < available; ++i) {
        sim.cameraRegisters[static_cast<uint8_t>(report[4] + i)] = report[6 + i];
    }
    return kSim.errorNone;
}

void ApplyOutputReport(SimState& sim, const uint8_t* report, std::size_t length, int64_t nowNs) {
    const uint8_t id = report[0];
    const uint8_t flags = report[1];
    if (id == kSim.idModeSet && length >= 3) {
        sim.mode = report[2];
        sim.nextTickNs = IsPeriodicMode(sim.mode) ? nowNs + sim.periodNs : kNever;
        SendDataReport(sim, nowNs);
    } else if (id == kSim.idCameraEnable) {
        sim.cameraEnabled = (flags & kSim.flagEnable) != 0;
    } else if (id == kSim.idCameraEnable2) {
        sim.cameraEnabled2 = (flags & kSim.flagEnable) != 0;
    }
    // 22 BB BB RR EE: a register write always, anything else when it asks.
    uint8_t error = kSim.errorNone;
    if (id == kSim.idRegisterWrite) {
        error = WriteCameraRegisters(sim, report, length);
    } else if ((flags & kSim.flagAcknowledge) == 0) {
        return;
    }
    const uint8_t ack[5] = {kSim.idAcknowledge, sim.buttons[0], sim.buttons[1], id, error};
    EnqueueReport(sim, ack, sizeof ack);
}

// Logs and keeps one record: "<ms> <HEX BYTES>" or "<ms> close".
void RecordOutput(SimState& sim, int64_t nowNs, const uint8_t* bytes, std::size_t length, bool close) {
    SimOutput output;
    output.ms = static_cast<double>(nowNs) / kNsPerMs;
    output.close = close;
    output.bytes.assign(bytes, bytes + length);
    if (sim.log != nullptr) {
        std::fprintf(sim.log, "%.3f", output.ms);
        if (close) std::fputs(" close", sim.log);
        for (std::size_t i = 0; i < length; ++i) std::fprintf(sim.log, " %02X", bytes[i]);
        std::fputc('\n', sim.log);
        if ((std::fflush(sim.log) != 0 || std::ferror(sim.log) != 0) && !sim.logFailed) {
            sim.logFailed = true;
            std::fprintf(stderr, "tavolen-sim: cannot write the log %s: %s\n", sim.logName.c_str(),
                         std::strerror(errno));
            std::fflush(stderr);
        }
    }
    sim.outputs.push_back(std::move(output));
}

bool IsOpenDevice(const SimState& sim, const BackendDevice* device) {
    return sim.open && device == &sim.device;
}

}  // namespace

void SimUseScenario(const Scenario& scenario) {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    sim.nextScenario = scenario;
}

void SimUseLog(std::FILE* log, const char* name) {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    sim.log = log;
    sim.logName = name;
    sim.logFailed = false;
}

std::vector<SimOutput> SimOutputs() {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    return sim.outputs;
}

void SimInjectReport(const uint8_t* report, std::size_t length) {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    if (!sim.open) return;
    AdvanceToNow(sim, ReadNowNs(sim));
    EnqueueReport(sim, report, length);
    sim.changed.notify_all();
}

BackendDevice* BackendOpen(int vendor, int product, BackendOpenFailure* failure) {
    if (failure != nullptr) {
        failure->node[0] = '\0';
        failure->reason[0] = '\0';
    }
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    if (vendor != kSim.vendor || product != sim.nextScenario.product || sim.nextScenario.absent) {
        return nullptr;
    }
    if (sim.open || sim.nextScenario.denied) {
        if (failure != nullptr && sim.nextScenario.denied) {
            std::snprintf(failure->node, sizeof failure->node, "%s", "/dev/hidraw-simulated");
            std::snprintf(failure->reason, sizeof failure->reason, "%s", "Permission denied");
        } else if (failure != nullptr) {
            std::snprintf(failure->node, sizeof failure->node, "%s", "simulated remote");
            std::snprintf(failure->reason, sizeof failure->reason, "%s", "already open");
        }
        return nullptr;
    }
    sim.scenario = sim.nextScenario;
    sim.open = true;
    sim.openCount = ReadPerformanceCounter();
    sim.nextEvent = 0;
    sim.periodNs = 1'000'000'000 / std::clamp(sim.scenario.rate, 1, 1000);
    sim.nextTickNs = kNever;
    sim.mode = kSim.modeButtons;
    std::copy(std::begin(kSim.buttonsDefault), std::end(kSim.buttonsDefault), sim.buttons);
    std::copy(std::begin(kSim.accelDefault), std::end(kSim.accelDefault), sim.accel);
    std::fill(std::begin(sim.points), std::end(sim.points), SimPoint{});
    sim.cameraEnabled = false;
    sim.cameraEnabled2 = false;
    std::fill(std::begin(sim.cameraRegisters), std::end(sim.cameraRegisters), uint8_t{0});
    sim.silent = false;
    sim.disconnected = false;
    sim.queueHead = 0;
    sim.queueCount = 0;
    sim.outputs.clear();
    if (simOpenedHook != nullptr) simOpenedHook();
    return &sim.device;
}

int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
    SimState& sim = Sim();
    std::unique_lock lock(sim.mutex);
    const int64_t deadlineNs = timeoutMs < 0 ? kNever : ReadNowNs(sim) + int64_t{timeoutMs} * kNsPerMs;
    for (;;) {
        if (!IsOpenDevice(sim, device)) return -1;
        const int64_t nowNs = ReadNowNs(sim);
        AdvanceToNow(sim, nowNs);
        if (sim.disconnected) return -1;
        if (sim.queueCount > 0) {
            const QueuedReport& report = sim.queue[sim.queueHead];
            const std::size_t length = std::min(report.length, capacity);
            std::memcpy(buffer, report.bytes, length);
            sim.queueHead = (sim.queueHead + 1) % kSim.queueLimit;
            --sim.queueCount;
            if (simHandOffHook != nullptr) simHandOffHook(buffer, length);
            return static_cast<int>(length);
        }
        if (nowNs >= deadlineNs) return 0;
        const int64_t wakeNs = std::min(deadlineNs, NextDueNs(sim));
        if (wakeNs == kNever) {
            sim.changed.wait(lock);
        } else {
            sim.changed.wait_for(lock, std::chrono::nanoseconds(std::max<int64_t>(wakeNs - nowNs, 0)));
        }
    }
}

int BackendWrite(BackendDevice* device, const uint8_t* buffer, std::size_t length) {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    if (!IsOpenDevice(sim, device)) return -1;
    const int64_t nowNs = ReadNowNs(sim);
    AdvanceToNow(sim, nowNs);
    // hidraw refuses a write shorter than an identifier and one byte.
    if (sim.disconnected || length < 2) return -1;
    RecordOutput(sim, nowNs, buffer, length, false);
    ApplyOutputReport(sim, buffer, length, nowNs);
    sim.changed.notify_all();
    return static_cast<int>(length);
}

void BackendClose(BackendDevice* device) {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    if (!IsOpenDevice(sim, device)) return;
    RecordOutput(sim, ReadNowNs(sim), nullptr, 0, true);
    sim.open = false;
    sim.queueCount = 0;
    sim.changed.notify_all();
}
