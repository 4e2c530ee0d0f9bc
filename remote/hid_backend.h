// What a device backend provides to the HID channel. Exactly one backend is
// linked into a program: the hidapi one for a real remote, or the simulated
// remote. The channel serialises nothing (a backend whose library cannot take
// it serialises its own calls): a read may overlap a write, and the
// channel calls BackendClose only once no read or write is in progress.
#pragma once

#include <cstddef>
#include <cstdint>

struct BackendDevice;  // each backend defines its own

struct BackendOpenFailure {
    char node[256];    // the device node that exists but did not open, or ""
    char reason[256];  // why it did not open, for example "Permission denied"
};

// Opens the first device with these identifiers that opens; nullptr when
// none does. When a matching device exists but cannot be opened, *failure
// names it (failure->node is empty otherwise).
BackendDevice* BackendOpen(int vendor, int product, BackendOpenFailure* failure);

// Waits up to timeoutMs for one input report. Returns its length (the report
// is cut at capacity), 0 when none came in time, -1 when the device failed.
int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs);

// Sends length bytes. Returns the bytes written or -1.
int BackendWrite(BackendDevice* device, const uint8_t* buffer, std::size_t length);

void BackendClose(BackendDevice* device);
