// A stand-in for the device calls the Windows HID backend makes (setupapi,
// hid.dll, and kernel32's file calls on the device's handles), linked in
// their place. Devices are described by the test, each with the way its
// stack takes writes; the bytes that reach the remote are recorded, reads
// follow a script. Calls on any other handle or path go to the system.
//
// It also watches the memory the backend hands to an operation that is still
// running: an OVERLAPPED, buffer or event freed, closed or handed to another
// call before the operation ended is a misuse, recorded with what happened
// (the sanitizers do not run under Wine).
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// How a Bluetooth stack's WriteFile takes an output report.
enum class WriteStack {
    SendsAnyLength,  // sends the buffer whole, whatever its length
    RefusesShort,    // ERROR_INVALID_USER_BUFFER below OutputReportByteLength
    RefusesAll,      // ERROR_INVALID_USER_BUFFER at every length
    Fails,           // the send fails: ERROR_GEN_FAILURE (an adapter's empty slot)
    NeverEnds,       // the write stays pending until it is cancelled
};

struct FakeWinHidDevice {
    std::string path;
    uint16_t vendor = 0x057E;
    uint16_t product = 0x0306;
    DWORD openError = 0;  // non-zero: the read/write open fails with it
    uint16_t inputLength = 22;
    uint16_t outputLength = 22;
    WriteStack stack = WriteStack::SendsAnyLength;
    bool silent = false;  // reads get no report (an empty slot)
};

// When a scripted input report arrives.
enum class Arrival {
    Waiting,   // already waiting: the read completes at once
    AtCancel,  // lands just as the read is cancelled
    Fails,     // the read ends at once with `error` and no report
};

struct FakeWinHidReport {
    Arrival arrival;
    std::vector<uint8_t> bytes;
    DWORD error = 0;  // for Arrival::Fails
};

// Bytes that reached the remote, and the call that carried them.
struct FakeWinHidWrite {
    std::vector<uint8_t> bytes;
    bool control = false;  // through IOCTL_HID_SET_OUTPUT_REPORT, not WriteFile
    bool operator==(const FakeWinHidWrite&) const = default;
};

struct FakeWinHid {
    std::vector<FakeWinHidDevice> devices;  // the present HID interfaces, in order
    std::deque<FakeWinHidReport> reads;     // what reads get; none: reads wait
    bool lost = false;                      // ReadFile fails like a device that is gone
    bool setOutputReportFails = false;  // IOCTL_HID_SET_OUTPUT_REPORT
    bool setOutputReportNeverEnds = false;
    // When a cancelled operation (CancelIoEx, or its handle closed) ends:
    // 0 at once, later by this many milliseconds, or never when negative.
    int cancelDelayMs = 0;
    std::vector<FakeWinHidWrite> writes;
    std::vector<std::string> readWriteOpens;  // paths opened for reading and writing
    int writeFileCalls = 0;
    int cancels = 0;
    int deviceCloses = 0;          // read/write handles closed
    int attributeHandlesOpen = 0;  // access-0 handles not yet closed
    int listsOpen = 0;             // device information lists not yet destroyed
    int endedLate = 0;             // operations whose cancel ended after a delay
    int releasedAfterLateEnd = 0;  // and whose memory was freed after that
    std::vector<std::string> misuses;
};

// The fake's state; tests reset it with ResetFakeWinHid().
FakeWinHid& TheFakeWinHid();
void ResetFakeWinHid();
// Waits until every cancel told to end late has ended.
void EndLateCancels();
