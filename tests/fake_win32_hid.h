// A stand-in for the device calls the Windows HID backend makes (setupapi,
// hid.dll, and kernel32's file calls on the device's handles), linked in
// their place. Devices are described by the test, writes are recorded, reads
// follow a script. Calls on any other handle or path go to the system.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct FakeWinHidDevice {
    std::string path;
    uint16_t vendor = 0x057E;
    uint16_t product = 0x0306;
    DWORD openError = 0;  // non-zero: the read/write open fails with it
    uint16_t inputLength = 22;
    uint16_t outputLength = 22;
};

// When a scripted input report arrives.
enum class Arrival {
    Waiting,   // already waiting: the read completes at once
    AtCancel,  // lands just as the read is cancelled
};

struct FakeWinHidReport {
    Arrival arrival;
    std::vector<uint8_t> bytes;
};

struct FakeWinHidWrite {
    std::vector<uint8_t> bytes;
    bool control = false;  // through HidD_SetOutputReport
};

struct FakeWinHid {
    std::vector<FakeWinHidDevice> devices;  // the present HID interfaces, in order
    std::deque<FakeWinHidReport> reads;     // what reads get; none: reads wait
    bool lost = false;                      // reads fail like a device that is gone
    bool writeFileFails = false;            // WriteFile refuses output reports
    bool setOutputReportFails = false;
    std::vector<FakeWinHidWrite> writes;
    std::vector<std::string> readWriteOpens;  // paths opened for reading and writing
    int cancels = 0;
    int deviceCloses = 0;        // read/write handles closed
    int attributeHandlesOpen = 0;  // access-0 handles not yet closed
    int listsOpen = 0;           // device information lists not yet destroyed
    bool closedWhileReading = false;
};

// The fake's state; tests reset it with ResetFakeWinHid().
FakeWinHid& TheFakeWinHid();
void ResetFakeWinHid();
