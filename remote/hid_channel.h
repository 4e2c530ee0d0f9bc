// The HID channel: the four operations through which everything else reaches
// the remote. One report moves per call; the caller's buffers are
// kReportBufferSize bytes and a report starts at byte 0 with its identifier.
//
// The behaviour here is the same for every backend (hidapi or the simulated
// remote): report lengths, closing under a waiting read, a lost device.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kReportBufferSize = 256;

// The remote's handle, -1 while none is open. Written by start-up, read by
// the reader threads and the shutdown.
extern std::atomic<int32_t> deviceHandle;

// Opens the index-th device with these identifiers that opens (0: the first,
// in the system's order) and returns a small non-negative handle, or -1 when
// there is no such device. An adapter shows one device per slot, empty or
// not: the caller tries the next index when a device refuses its first write.
int32_t OpenHidHandle(int vendor, int product, int index = 0);

// Why the last OpenHidHandle that returned -1 failed, as one line for the
// user when a matching device exists but did not open (its node, the reason
// and what to do); "" when that open found no matching device at all.
const char* LastOpenFailure();

// Waits for one input report and copies it into buffer (at most
// kReportBufferSize bytes). Returns the report's length, or -1 when the handle
// is not open or was closed while waiting; the buffer is then untouched.
// *bytesRead gets the bytes copied (0 on failure). A device that failed (it
// is lost: said once on standard error) sends nothing: the read waits for
// the close.
int32_t ReadReport(int32_t handle, uint8_t* buffer, int32_t* bytesRead);

// As ReadReport, but returns 0 when no report came within timeoutMs while
// the device is there (a lost device still waits for the close).
int32_t ReadReportWithin(int32_t handle, uint8_t* buffer, int32_t* bytesRead, int timeoutMs);

// What WriteReport returns for a report the remote did not take within the
// backend's bound (1 s): not delivered, and the remote is not lost for that.
inline constexpr int32_t kWriteTimedOut = -2;

// Sends one output report, as long as the remote expects for its identifier
// (ReportLength). Writes to one device go one at a time: a write waits for
// the one under way. Returns the bytes written, kWriteTimedOut, or -1. A
// device that accepted a write and then fails one is lost, as if its read had
// failed; one that never accepted any (an adapter's empty slot) is merely
// refused.
int32_t WriteReport(int32_t handle, const uint8_t* buffer, int32_t* bytesWritten);

// As WriteReport, for the last report the device gets before its close: a
// write waiting meanwhile and every later one are refused (-1), so nothing
// follows it on the wire.
int32_t WriteLastReport(int32_t handle, const uint8_t* buffer, int32_t* bytesWritten);

// Releases the device once no call is using it. A read waiting on another
// thread returns within about 100 ms. Closing -1 or a closed handle does
// nothing.
void CloseHidHandle(int32_t handle);

// Length of an output report with this identifier, identifier included.
std::size_t ReportLength(uint8_t reportId);
