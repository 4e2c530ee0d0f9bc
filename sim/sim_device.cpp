// What the simulated remote does: its data reports in each mode, the camera's
// registers, the answers to output reports and the script's events. Called
// with the remote's lock held, by the clock side in sim_remote.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace {

// The data reports' layouts after BB BB: accelerometer, IR and extension
// bytes, in that order (3D carries no buttons either).
struct DataLayout {
    uint8_t mode;
    bool buttons;
    bool accel;
    std::size_t irBytes;
    std::size_t extensionBytes;
};
constexpr DataLayout kDataLayouts[] = {
    {0x30, true, false, 0, 0},  {0x31, true, true, 0, 0},   {0x32, true, false, 0, 8},
    {0x33, true, true, 12, 0},  {0x34, true, false, 0, 19}, {0x35, true, true, 0, 16},
    {0x36, true, false, 10, 9}, {0x37, true, true, 10, 6},  {0x3D, false, false, 0, 21},
};

// nullptr for a mode the remote here does not send (the interleaved 3E/3F).
const DataLayout* FindDataLayout(uint8_t mode) {
    for (const DataLayout& layout : kDataLayouts) {
        if (layout.mode == mode) return &layout;
    }
    return nullptr;
}

// The accelerometer's noise, and the camera's, change their data on
// practically every sample, so a mode that carries either reports at the
// rate; others only when a button changes. (The continuous bit, which
// neither this tool nor the kernel's driver sets, is not modelled.)
bool IsPeriodicMode(const SimState& sim) {
    const DataLayout* layout = FindDataLayout(sim.mode);
    return layout != nullptr && (layout->accel || layout->irBytes > 0);
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

// The camera's bytes as its format register asks, cut or padded with FF to
// the report's room for them. Extended: 3 bytes a point, XX YY (y9 y8 x9 x8
// s3 s2 s1 s0). Basic: 5 bytes a pair, X1 Y1 (y1 x1 y2 x2 high bits) X2 Y2.
// An unseen point, or a camera that is off, gives all ones.
void FillIrBytes(const SimState& sim, const SimPoint* points, uint8_t* ir, std::size_t room) {
    uint8_t bytes[12];
    std::memset(bytes, 0xFF, sizeof bytes);
    if (IsCameraOn(sim)) {
        int x[4], y[4];
        for (int i = 0; i < 4; ++i) {
            x[i] = points[i].seen ? points[i].x : 1023;
            y[i] = points[i].seen ? points[i].y : 1023;
        }
        if (sim.cameraRegisters[kSim.cameraFormat] == kSim.formatExtended) {
            for (int i = 0; i < 4; ++i) {
                if (!points[i].seen) continue;
                bytes[3 * i] = static_cast<uint8_t>(x[i] & 0xFF);
                bytes[3 * i + 1] = static_cast<uint8_t>(y[i] & 0xFF);
                bytes[3 * i + 2] = static_cast<uint8_t>((y[i] >> 8 & 3) << 6 | (x[i] >> 8 & 3) << 4 |
                                                        (points[i].size & 0x0F));
            }
        } else {
            for (int pair = 0; pair < 2; ++pair) {
                const int a = 2 * pair, b = a + 1;
                uint8_t* out = bytes + 5 * pair;
                out[0] = static_cast<uint8_t>(x[a] & 0xFF);
                out[1] = static_cast<uint8_t>(y[a] & 0xFF);
                out[2] = static_cast<uint8_t>((y[a] >> 8 & 3) << 6 | (x[a] >> 8 & 3) << 4 |
                                              (y[b] >> 8 & 3) << 2 | (x[b] >> 8 & 3));
                out[3] = static_cast<uint8_t>(x[b] & 0xFF);
                out[4] = static_cast<uint8_t>(y[b] & 0xFF);
            }
        }
    }
    std::memset(ir, 0xFF, room);
    std::memcpy(ir, bytes, std::min(room, sizeof bytes));
}

// Builds the report of the current mode at atNs; 0 for a mode the remote
// here does not send.
std::size_t BuildDataReport(const SimState& sim, int64_t atNs, uint8_t* report) {
    const DataLayout* layout = FindDataLayout(sim.mode);
    if (layout == nullptr) return 0;
    // 3x [BB BB] [AX AY AZ] [IR bytes] [extension bytes]
    std::size_t at = 0;
    report[at++] = sim.mode;
    if (layout->buttons) {
        report[at++] = sim.buttons[0];
        report[at++] = sim.buttons[1];
    }
    if (layout->accel) {
        std::memcpy(report + at, sim.accel, 3);
        if (sim.scenario.demoMotion) {
            const double t = static_cast<double>(atNs) * 1e-9;
            for (int axis = 0; axis < 3; ++axis) {
                const double wobble = kSim.demoAccelWobble * std::sin(t * (2.1 + axis) + axis);
                report[at + axis] =
                    static_cast<uint8_t>(std::clamp(sim.accel[axis] + std::lround(wobble), 0L, 255L));
            }
        }
        at += 3;
    }
    if (layout->irBytes > 0) {
        SimPoint points[4];
        std::copy(std::begin(sim.points), std::end(sim.points), points);
        if (sim.scenario.demoMotion) ComputeDemoPoints(atNs, points);
        FillIrBytes(sim, points, report + at, layout->irBytes);
        at += layout->irBytes;
    }
    // An extension's own data is not modelled: its bytes read as zero.
    std::memset(report + at, 0x00, layout->extensionBytes);
    return at + layout->extensionBytes;
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
    sim.away = false;
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
        // Outside the periodic modes a button change is what makes a report.
        if (changed && !IsPeriodicMode(sim)) SendDataReport(sim, atNs);
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
    case SimEventKind::Away:
    case SimEventKind::Back:
        sim.away = event.kind == SimEventKind::Away;
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
        sim.nextTickNs = IsPeriodicMode(sim) ? nowNs + sim.periodNs : kNever;
        SendDataReport(sim, nowNs);
    } else if (id == kSim.idLeds) {
        sim.leds = flags & kSim.ledBits;
    } else if (id == kSim.idStatusRequest) {
        SendStatusReport(sim);
    } else if (id == kSim.idCameraEnable) {
        sim.cameraEnabled = (flags & kSim.flagEnable) != 0;
    } else if (id == kSim.idCameraEnable2) {
        sim.cameraEnabled2 = (flags & kSim.flagEnable) != 0;
    } else if (id == kSim.idRegisterRead) {
        AnswerRegisterRead(sim, report, length);
    }
    // 22 BB BB RR EE: a register write always, anything else when it asks;
    // a recording already holds the answers the remote gave.
    if (sim.scenario.recorded) return;
    uint8_t error = kSim.errorNone;
    if (id == kSim.idRegisterWrite) {
        error = WriteRegisters(sim, report, length);
    } else if ((flags & kSim.flagAcknowledge) == 0) {
        return;
    }
    const uint8_t ack[5] = {kSim.idAcknowledge, sim.buttons[0], sim.buttons[1], id, error};
    EnqueueReport(sim, ack, sizeof ack);
}

}  // namespace sim
