// The remote's report protocol as this tool speaks it: the output commands it
// sends and the decoding of data reports into RemoteState. The only place that
// knows byte positions.
#pragma once

#include <atomic>
#include <cstdint>

#include "remote/hid_channel.h"

// Report identifiers, both directions.
enum ReportId : uint8_t {
    kReportLeds = 0x11,
    kReportMode = 0x12,
    kReportIrEnable = 0x13,
    kReportWriteRegisters = 0x16,
    kReportIrEnable2 = 0x1A,
    kReportStatus = 0x20,
    kReportButtons = 0x30,
    kReportButtonsAccel = 0x31,
    kReportButtonsAccelIr = 0x33,
};

// One IR point in camera coordinates, 0-1023 each; (1023, 1023) is a point the
// camera does not see.
struct IrPoint {
    std::atomic<int32_t> x{0};
    std::atomic<int32_t> y{0};
};

// The remote as last decoded. All zero at start. Written by whichever reader
// thread runs (accelX also cleared by the liveness probe); read without a lock
// by the probe (accelX), the main reader (buttons2, ir[0].x, ir[1].x) and the
// view (ir). A frame may mix two consecutive reports.
struct RemoteStateRecord {
    std::atomic<uint8_t> buttons1{0};
    std::atomic<uint8_t> buttons2{0};  // HOME is bit 0x80
    std::atomic<uint8_t> accelX{0};
    std::atomic<uint8_t> accelY{0};
    std::atomic<uint8_t> accelZ{0};
    IrPoint ir[4];
};

extern RemoteStateRecord RemoteState;

// The command buffer, shared by every command and written only from the
// start-up/view thread. Bytes past a command's own fields keep what an
// earlier, longer command left there.
extern uint8_t outputReport[kReportBufferSize];

// The buffer ReadReport fills, used by one reader thread at a time.
extern uint8_t inputReport[kReportBufferSize];

// Each command fills outputReport and sends it; the result is WriteReport's.
int32_t SetLeds(uint8_t value);                        // 11 LL
int32_t SetReportingMode(uint8_t flags, uint8_t mode); // 12 FF MM
int32_t SetIrCameraEnable(uint8_t value);              // 13 VV
int32_t SetIrCameraEnable2(uint8_t value);             // 1A VV
int32_t SetButtonsOnlyMode();                          // 12 00 30
int32_t SetButtonsAccelMode();                         // 12 00 31

// 12 00 30 as the last report before the close: from bytes of its own, never
// outputReport (start-up may be filling that on another thread when an
// ending cannot wait), after the write under way, and with every later write
// refused.
int32_t SetButtonsOnlyModeLast();

// Writes count - 1 data bytes (1-16) to the register space at addressHigh.
// block[0] is the register offset, block[1..16] the data (all sixteen are
// sent; only the first count - 1 mean anything).
// 16 04 AH FF off size d0..d15
int32_t WriteRegisters(uint8_t addressHigh, int count, const uint8_t block[17]);

// Whether id is a data report of one of the remote's reporting modes.
bool IsDataReport(uint8_t id);

// Waits for one report and decodes it into RemoteState. A report that is not
// a data report leaves RemoteState as it was; after a failed read the buffer
// is decoded as it stands. Returns the identifier of the report read, 0 when
// the read failed.
uint8_t ReadRemoteReport();

// As ReadRemoteReport, waiting at most timeoutMs while the remote is there:
// -1, with nothing decoded, when no report came in that time.
int ReadRemoteReportWithin(int timeoutMs);

// Decodes the report in report (at least 18 bytes readable) into RemoteState:
// the buttons and the accelerometer where its mode carries them, the points
// only from a 0x33 report (the mode and format the camera set-up selects).
void DecodeRemoteReport(const uint8_t* report);
