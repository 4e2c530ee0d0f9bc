#include "remote/remote_reports.h"

#include <cstring>

RemoteStateRecord RemoteState;
uint8_t outputReport[kReportBufferSize];
uint8_t inputReport[kReportBufferSize];

namespace {

// Bytes moved by the last write and the last read; nobody looks at them.
int32_t bytesWritten;
int32_t bytesRead;

constexpr auto kRelaxed = std::memory_order_relaxed;

int32_t SendOutputReport() {
    return WriteReport(deviceHandle.load(kRelaxed), outputReport, &bytesWritten);
}

// What a data report carries after its identifier: the two button bytes
// (1-2), the accelerometer (3-5), and the twelve IR bytes in the extended
// format the camera set-up selects (6-17). The IR bytes of other modes are in
// the basic format (0x36, 0x37) or interleaved (0x3E, 0x3F), and another
// program may have set the camera up in any format: they never move a point.
struct DataLayout {
    uint8_t id;
    bool buttons, accel, extendedIr;
};
constexpr DataLayout kDataLayouts[] = {
    {0x30, true, false, false},   // BB BB
    {0x31, true, true, false},    // BB BB AX AY AZ
    {0x32, true, false, false},   // BB BB + 8 extension bytes
    {kReportButtonsAccelIr, true, true, true},  // BB BB AX AY AZ + 12 IR bytes
    {0x34, true, false, false},   // BB BB + 19 extension bytes
    {0x35, true, true, false},    // BB BB AX AY AZ + 16 extension bytes
    {0x36, true, false, false},   // BB BB + 10 IR bytes (basic) + 9 extension bytes
    {0x37, true, true, false},    // BB BB AX AY AZ + 10 IR bytes (basic) + 6 extension bytes
    {0x3D, false, false, false},  // 21 extension bytes, no buttons
    {0x3E, true, false, false},   // BB BB, accelerometer and IR interleaved with 0x3F
    {0x3F, true, false, false},
};

const DataLayout* FindDataLayout(uint8_t id) {
    for (const DataLayout& layout : kDataLayouts) {
        if (layout.id == id) return &layout;
    }
    return nullptr;
}

}  // namespace

int32_t SetLeds(uint8_t value) {
    outputReport[0] = kReportLeds;
    outputReport[1] = value;
    return SendOutputReport();
}

int32_t SetReportingMode(uint8_t flags, uint8_t mode) {
    outputReport[0] = kReportMode;
    outputReport[1] = flags;
    outputReport[2] = mode;
    return SendOutputReport();
}

int32_t SetIrCameraEnable(uint8_t value) {
    outputReport[0] = kReportIrEnable;
    outputReport[1] = value;
    return SendOutputReport();
}

int32_t SetIrCameraEnable2(uint8_t value) {
    outputReport[0] = kReportIrEnable2;
    outputReport[1] = value;
    return SendOutputReport();
}

int32_t SetButtonsOnlyMode() { return SetReportingMode(0x00, kReportButtons); }

int32_t SetButtonsAccelMode() { return SetReportingMode(0x00, kReportButtonsAccel); }

int32_t SetButtonsOnlyModeLast() {
    static const uint8_t kButtonsOnly[kReportBufferSize] = {kReportMode, 0x00, kReportButtons};
    int32_t written;  // this call's own: the shared counter may be in use
    return WriteLastReport(deviceHandle.load(kRelaxed), kButtonsOnly, &written);
}

int32_t WriteRegisters(uint8_t addressHigh, int count, const uint8_t block[17]) {
    // The middle address byte is always 0xFF: the camera's registers are
    // reached through the high byte and the offset.
    outputReport[0] = kReportWriteRegisters;
    outputReport[1] = 0x04;  // register space, not the remote's memory
    outputReport[2] = addressHigh;
    outputReport[3] = 0xFF;
    outputReport[4] = block[0];
    outputReport[5] = static_cast<uint8_t>(count - 1);
    std::memcpy(&outputReport[6], &block[1], 16);
    return SendOutputReport();
}

bool IsDataReport(uint8_t id) { return FindDataLayout(id) != nullptr; }

// 3X BB BB [AX AY AZ] [12 IR bytes at 6-17, 3 per point: x y (yy xx ssss)]
void DecodeRemoteReport(const uint8_t* report) {
    const DataLayout* layout = FindDataLayout(report[0]);
    if (layout == nullptr) return;
    if (layout->buttons) {
        RemoteState.buttons1.store(report[1], kRelaxed);
        RemoteState.buttons2.store(report[2], kRelaxed);
    }
    if (layout->accel) {
        RemoteState.accelX.store(report[3], kRelaxed);
        RemoteState.accelY.store(report[4], kRelaxed);
        RemoteState.accelZ.store(report[5], kRelaxed);
    }
    if (layout->extendedIr) {
        for (int k = 0; k < 4; ++k) {
            const uint8_t* point = &report[6 + 3 * k];
            RemoteState.ir[k].x.store(point[0] + ((point[2] & 0x30) << 4), kRelaxed);
            RemoteState.ir[k].y.store(point[1] + ((point[2] & 0xC0) << 2), kRelaxed);
        }
    }
}

uint8_t ReadRemoteReport() {
    const int32_t length = ReadReport(deviceHandle.load(kRelaxed), inputReport, &bytesRead);
    DecodeRemoteReport(inputReport);
    return length > 0 ? inputReport[0] : 0;
}

int ReadRemoteReportWithin(int timeoutMs) {
    const int32_t length = ReadReportWithin(deviceHandle.load(kRelaxed), inputReport, &bytesRead, timeoutMs);
    if (length == 0) return -1;
    DecodeRemoteReport(inputReport);
    return length > 0 ? inputReport[0] : 0;
}
