// What the simulated remote does: its data reports in each mode, the camera's
// registers, the answers to output reports and the script's events. Called
// with the remote's lock held, by the clock side in sim_remote.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace {

bool IsPeriodicMode(uint8_t mode) {
    return mode == kSim.modeAccel || mode == kSim.modeAccelIr || mode == kSim.modeAccelBasicIr;
}

bool IsCameraOn(const SimState& sim) {
    return sim.cameraEnabled && sim.cameraEnabled2 &&
           sim.cameraRegisters[kSim.cameraControl] == kSim.cameraReady &&
           sim.cameraRegisters[kSim.cameraFormat] == kSim.formatExtended;
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
    // 37 BB BB AX AY AZ + 10 IR bytes in the basic format + 6 extension bytes:
    // this camera speaks only the extended format, so it shows no point here.
    if (sim.mode == kSim.modeAccelBasicIr) {
        std::fill(report + 6, report + 16, uint8_t{0xFF});
        std::fill(report + 16, report + 22, uint8_t{0x00});
        return 22;
    }
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

// 20 BB BB LF 00 00 VV, and no data report until the host sets a mode again.
void SendStatusReport(SimState& sim) {
    if (sim.scenario.recorded) return;
    uint8_t flags = sim.leds;
    if (sim.battery < kSim.batteryLowBelow) flags |= kSim.statusBatteryLow;
    if (sim.extension) flags |= kSim.statusExtension;
    if (sim.cameraEnabled && sim.cameraEnabled2) flags |= kSim.statusCamera;
    const uint8_t status[7] = {kSim.idStatus, sim.buttons[0], sim.buttons[1], flags, 0x00, 0x00, sim.battery};
    EnqueueReport(sim, status, sizeof status);
    sim.dataHeld = true;
}

}  // namespace

void ResetToPowerUp(SimState& sim) {
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
    sim.leds = 0;
    sim.extension = false;
    sim.battery = kSim.batteryDefault;
    sim.dataHeld = false;
    sim.silent = false;
    sim.disconnected = false;
    sim.switchedOff = false;
    sim.writeAccepted = false;
    sim.queueHead = 0;
    sim.queueCount = 0;
    sim.outputs.clear();
}

void SendDataReport(SimState& sim, int64_t atNs) {
    if (sim.dataHeld || sim.scenario.recorded) return;
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
    case SimEventKind::Other:  // what the kernel's driver sends beside Tavolen
        ApplyOutputReport(sim, event.bytes, event.length, atNs);
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
    case SimEventKind::Off:  // what Windows shows of a paired remote switched off
        sim.switchedOff = true;
        sim.queueCount = 0;
        break;
    case SimEventKind::Extension:  // plugged in or pulled out: said unasked
        sim.extension = event.x != 0;
        SendStatusReport(sim);
        break;
    case SimEventKind::Battery:
        sim.battery = static_cast<uint8_t>(event.x);
        break;
    }
}

void ApplyOutputReport(SimState& sim, const uint8_t* report, std::size_t length, int64_t nowNs) {
    const uint8_t id = report[0];
    const uint8_t flags = report[1];
    if (id == kSim.idModeSet && length >= 3) {
        sim.mode = report[2];
        sim.dataHeld = false;
        sim.nextTickNs = IsPeriodicMode(sim.mode) ? nowNs + sim.periodNs : kNever;
        SendDataReport(sim, nowNs);
    } else if (id == kSim.idLeds) {
        sim.leds = flags & kSim.ledBits;
    } else if (id == kSim.idStatusRequest) {
        SendStatusReport(sim);
    } else if (id == kSim.idCameraEnable) {
        sim.cameraEnabled = (flags & kSim.flagEnable) != 0;
    } else if (id == kSim.idCameraEnable2) {
        sim.cameraEnabled2 = (flags & kSim.flagEnable) != 0;
    }
    // 22 BB BB RR EE: a register write always, anything else when it asks;
    // a recording already holds the answers the remote gave.
    if (sim.scenario.recorded) return;
    uint8_t error = kSim.errorNone;
    if (id == kSim.idRegisterWrite) {
        error = WriteCameraRegisters(sim, report, length);
    } else if ((flags & kSim.flagAcknowledge) == 0) {
        return;
    }
    const uint8_t ack[5] = {kSim.idAcknowledge, sim.buttons[0], sim.buttons[1], id, error};
    EnqueueReport(sim, ack, sizeof ack);
}

}  // namespace sim
