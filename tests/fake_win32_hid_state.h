// What the two halves of the Windows HID fake share: the devices' handles
// (fake_win32_hid.cpp) and the overlapped operations on them
// (fake_win32_hid_io.cpp), all behind one lock.
#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "tests/fake_win32_hid.h"

namespace fakewinhid {

// One handle the fake gave out; its address is the HANDLE.
struct FakeHandle {
    bool inUse = false;
    std::size_t device = 0;
    bool readWrite = false;
};

// One overlapped operation on a fake handle, from its start until the
// system would be done with its memory.
struct Operation {
    enum State { Free, Pending, EndedLate } state = Free;
    unsigned serial = 0;  // tells a late cancel which operation it ends
    FakeHandle* handle = nullptr;  // nullptr once that handle is closed
    OVERLAPPED* overlapped = nullptr;
    uint8_t* buffer = nullptr;
    DWORD size = 0;
    HANDLE event = nullptr;
    bool read = false;
    bool cancelled = false;   // a cancel was asked for
    bool memoryGone = false;  // freed or closed under it: never written again
};

// Everything lives as long as the process: operator delete may run during
// the process's exit.
struct State {
    std::recursive_mutex mutex;
    FakeWinHid fake;
    FakeHandle handles[16];
    Operation operations[32];
    unsigned serials = 0;
    std::vector<std::thread> timers;  // late cancels
};
State& TheState();

// The fake's handle at this address, or nullptr.
FakeHandle* Find(HANDLE handle);

// The system's own function, for calls on what is not the fake's.
template <class Function>
Function System(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// From the operations' half, for CloseHandle and the reset: a device
// handle closes (what runs on it is cancelled), any other handle closes,
// every operation is forgotten.
void CancelOnClose(FakeHandle* handle);
void CheckEventClosed(HANDLE handle);
void ForgetOperations();

}  // namespace fakewinhid
