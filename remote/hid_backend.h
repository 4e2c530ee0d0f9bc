// What a device backend provides to the HID channel. Exactly one backend is
// linked into a program: the hidapi one for a real remote, or the simulated
// remote. The channel sends one write at a time to a device; a read may
// overlap a write (a backend whose library cannot take that serialises its
// own calls), and the channel calls BackendClose only once no read or write
// is in progress.
#pragma once

#include <cstddef>
#include <cstdint>

struct BackendDevice;  // each backend defines its own

struct BackendOpenFailure {
    char node[256];    // the device node that exists but did not open, or ""
    char reason[256];  // why it did not open, for example "Permission denied"
};

// Opens the matching interface number index (0-based, in the system's
// enumeration order, counting only interfaces that open); nullptr when there
// is no such interface. failure->node names a matching interface that exists
// but did not open (empty otherwise), as before.
BackendDevice* BackendOpen(int vendor, int product, int index, BackendOpenFailure* failure);

// The form of write this device's stack accepted: "exact" (the report's own
// length), "padded" (zero-padded to the device's output report length) or
// "control" (HidD_SetOutputReport); "" before the first accepted write.
const char* BackendWriteForm(BackendDevice* device);

// Waits up to timeoutMs for one input report. Returns its length (the report
// is cut at capacity), 0 when none came in time, -1 when the device failed:
// -1 for every failure other than the backend's own timeout.
int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs);

// What BackendWrite returns for a write that did not end within 1 s and was
// cancelled: the remote did not take it (out of range, say), but nothing
// says that it is gone.
inline constexpr int kBackendTimedOut = -2;

// Sends length bytes. Returns the bytes written; kBackendTimedOut; or -1 when
// the write failed, was refused by every form, or outlived its cancel.
int BackendWrite(BackendDevice* device, const uint8_t* buffer, std::size_t length);

void BackendClose(BackendDevice* device);
