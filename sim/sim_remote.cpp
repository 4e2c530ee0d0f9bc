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
#include "sim/sim_state.h"

SimOpenedHook simOpenedHook = nullptr;
SimHandOffHook simHandOffHook = nullptr;

namespace sim {

// Never destroyed: a reader may still wait on changed while the process exits.
SimState& Sim() {
    static Immortal<SimState> state;
    return state.value;
}

// An empty report is none: queued, it would take a slot and read as "nothing
// came in time".
void EnqueueReport(SimState& sim, const uint8_t* bytes, std::size_t length) {
    if (length == 0 || !sim.open || sim.silent || sim.disconnected || sim.switchedOff || sim.away ||
        sim.queueCount == kSim.queueLimit) {
        return;
    }
    QueuedReport& slot = sim.queue[(sim.queueHead + sim.queueCount) % kSim.queueLimit];
    slot.length = std::min(length, kSim.maxInputLength);
    std::memcpy(slot.bytes, bytes, slot.length);
    ++sim.queueCount;
}

namespace {

// Nanoseconds since the remote was opened.
int64_t ReadNowNs(const SimState& sim) {
    const int64_t counts = ReadPerformanceCounter() - sim.openCount;
    const int64_t frequency = ReadPerformanceFrequency();
    return counts / frequency * 1'000'000'000 + counts % frequency * 1'000'000'000 / frequency;
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
        if (sim.silent || sim.switchedOff || sim.away || sim.dataHeld || sim.queueCount == kSim.queueLimit) {
            // Every report before the next event would be dropped or held:
            // skip them all at once, so a reader's pause of seconds costs nothing.
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
    const int64_t tickNs = sim.silent || sim.switchedOff || sim.away || sim.dataHeld ? kNever : sim.nextTickNs;
    return std::min(EventTimeNs(sim), tickNs);
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

// An empty slot opens like any device, never sends and refuses every write;
// the remote never sees any of it, so none of it is logged.
BackendDevice* OpenEmptySlot(SimState& sim, int index, BackendOpenFailure* failure) {
    BackendDevice& slot = sim.emptySlots[index];
    if (slot.open) {
        if (failure != nullptr) {
            std::snprintf(failure->node, sizeof failure->node, "simulated adapter slot %d", index + 1);
            std::snprintf(failure->reason, sizeof failure->reason, "%s", "already open");
        }
        return nullptr;
    }
    slot.emptySlot = true;
    slot.open = true;
    return &slot;
}

// Waits out an empty slot's read: 0 at its timeout, -1 once it is closed.
int ReadEmptySlot(SimState& sim, std::unique_lock<std::mutex>& lock, BackendDevice* slot, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (slot->open) {
        if (timeoutMs < 0) {
            sim.changed.wait(lock);
        } else if (sim.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return slot->open ? 0 : -1;
        }
    }
    return -1;
}

}  // namespace
}  // namespace sim

using namespace sim;

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

BackendDevice* BackendOpen(int vendor, int product, int index, BackendOpenFailure* failure) {
    if (failure != nullptr) {
        failure->node[0] = '\0';
        failure->reason[0] = '\0';
    }
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    if (vendor != kSim.vendor || product != sim.nextScenario.product || sim.nextScenario.absent) {
        return nullptr;
    }
    // Alone, the remote is the only device; behind an adapter, one of its slots.
    const int slots = sim.nextScenario.adapterSlots > 0 ? sim.nextScenario.adapterSlots : 1;
    const int remoteIndex = sim.nextScenario.adapterSlots > 0 ? sim.nextScenario.remoteSlot - 1 : 0;
    if (index < 0 || index >= slots) return nullptr;
    if (index != remoteIndex) return OpenEmptySlot(sim, index, failure);
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
    ResetToPowerUp(sim);
    if (simOpenedHook != nullptr) simOpenedHook();
    return &sim.device;
}

int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
    SimState& sim = Sim();
    std::unique_lock lock(sim.mutex);
    if (device->emptySlot) return ReadEmptySlot(sim, lock, device, timeoutMs);
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
    // hidraw refuses a write shorter than an identifier and one byte; a
    // remote that is gone or switched off never gets it.
    if (sim.disconnected || sim.switchedOff || length < 2) return -1;
    // Out of range, the stack's bound runs out (here at once).
    if (sim.away) return kBackendTimedOut;
    sim.writeAccepted = true;
    RecordOutput(sim, nowNs, buffer, length, false);
    ApplyOutputReport(sim, buffer, length, nowNs);
    sim.changed.notify_all();
    return static_cast<int>(length);
}

const char* BackendWriteForm(BackendDevice* device) {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    return IsOpenDevice(sim, device) && sim.writeAccepted ? "exact" : "";
}

void BackendClose(BackendDevice* device) {
    SimState& sim = Sim();
    std::lock_guard lock(sim.mutex);
    if (device->emptySlot) {
        device->open = false;
        sim.changed.notify_all();
        return;
    }
    if (!IsOpenDevice(sim, device)) return;
    RecordOutput(sim, ReadNowNs(sim), nullptr, 0, true);
    sim.open = false;
    sim.queueCount = 0;
    sim.changed.notify_all();
}
