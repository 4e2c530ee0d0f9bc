// The simulated remote's state and the pieces its two halves share: the
// clock and channel side (sim_remote.cpp) and the remote's own behaviour
// (sim_device.cpp). Internal to sim/.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_remote.h"

// The remote's own device is SimState::device, whose state is process-wide;
// an adapter's empty slots are devices of their own that never send.
struct BackendDevice {
    bool emptySlot = false;  // an adapter's slot without a remote
    bool open = false;       // for an empty slot: opened and not yet closed
};

namespace sim {

// The remote's numbers, and the few of the simulation.
struct SimConstants {
    int vendor = 0x057E;
    uint8_t idLeds = 0x11;          // output: LED bits 0x10-0x80
    uint8_t idModeSet = 0x12;       // output: flags, mode
    uint8_t idCameraEnable = 0x13;  // output: 0x04 on
    uint8_t idStatusRequest = 0x15; // output: answered with a status report
    uint8_t idRegisterWrite = 0x16; // output: space, address, size, data
    uint8_t idCameraEnable2 = 0x1A; // output: 0x04 on
    uint8_t idStatus = 0x20;        // input: BB BB LF 00 00 VV
    uint8_t idAcknowledge = 0x22;   // input: BB BB RR EE
    uint8_t modeButtons = 0x30;     // input: BB BB
    uint8_t modeAccel = 0x31;       // input: BB BB AX AY AZ
    uint8_t modeAccelIr = 0x33;     // input: BB BB AX AY AZ + 12 IR bytes
    uint8_t modeAccelBasicIr = 0x37; // input: BB BB AX AY AZ + 10 IR bytes + 6 extension bytes
    uint8_t flagAcknowledge = 0x02; // first payload byte: answer with a 22 report
    uint8_t flagEnable = 0x04;      // first payload byte of 13 and 1A
    uint8_t spaceRegisters = 0x04;  // report 16 space bit: peripheral registers
    uint8_t cameraAddressHigh = 0xB0;
    uint8_t cameraControl = 0x30;   // 0x08 once the camera is set up
    uint8_t cameraReady = 0x08;
    uint8_t cameraFormat = 0x33;    // 0x03: extended, 3 bytes a point
    uint8_t formatExtended = 0x03;
    uint8_t ledBits = 0xF0;         // of report 11's byte; 0x01 is rumble
    uint8_t statusBatteryLow = 0x01; // LF bits
    uint8_t statusExtension = 0x02;
    uint8_t statusCamera = 0x08;
    uint8_t batteryDefault = 0xC0;
    uint8_t batteryLowBelow = 0x20;
    uint8_t errorNone = 0x00;
    uint8_t errorNoAnswer = 0x07;   // the camera was not enabled first
    std::size_t maxWriteData = 16;
    std::size_t queueLimit = 64;    // unread reports the hidraw node keeps
    std::size_t maxSlots = 8;       // of an adapter
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

// Everything about the remote, guarded by mutex. Written and read by
// whichever thread calls a Backend* or Sim* function.
struct SimState {
    std::mutex mutex;
    std::condition_variable changed;  // a report was queued, or the remote went
    Scenario nextScenario;            // taken by the next BackendOpen
    std::FILE* log = nullptr;         // output report log, or nullptr
    std::string logName;              // for the message when writing it fails
    bool logFailed = false;           // that message was given
    BackendDevice device;             // the remote's handle
    bool open = false;
    BackendDevice emptySlots[kSim.maxSlots];  // an adapter's slots without the remote

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
    uint8_t leds = 0;                 // the LED bits of the last 11 report
    bool extension = false;           // an extension is plugged in
    uint8_t battery = 0;              // VV of the status report
    bool dataHeld = false;            // a status report went out: no data report until a 12
    bool silent = false;
    bool disconnected = false;
    bool switchedOff = false;         // reads only time out, writes fail
    bool writeAccepted = false;       // a write went through: its form is known
    QueuedReport queue[kSim.queueLimit];  // a ring: queueHead is the oldest
    std::size_t queueHead = 0;
    std::size_t queueCount = 0;
    std::vector<SimOutput> outputs;
};

// The remote's state; never destroyed (a reader may still wait on it while
// the process exits).
SimState& Sim();

// Queues one input report as the remote sends it (subject to the queue
// limit, silence and disconnection).
void EnqueueReport(SimState& sim, const uint8_t* bytes, std::size_t length);

// sim_device.cpp: what the remote does.
void ResetToPowerUp(SimState& sim);  // the remote as it is when opened
void SendDataReport(SimState& sim, int64_t atNs);  // none while dataHeld
void ApplyEvent(SimState& sim, const SimEvent& event, int64_t atNs);
void ApplyOutputReport(SimState& sim, const uint8_t* report, std::size_t length, int64_t nowNs);

}  // namespace sim
