// A stand-in for the hidapi calls the real backend makes: devices are
// described by the test, writes are recorded, reads come from a script.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct FakeHidDevice {
    std::string path;
    int openErrno = 0;   // non-zero: opening fails with this errno
    int writeErrno = 0;  // non-zero: writes fail with this errno (EPIPE: an adapter's empty slot)
};

struct FakeHid {
    std::vector<FakeHidDevice> devices;           // what hid_enumerate finds
    std::vector<std::vector<uint8_t>> writes;     // what hid_write sent on
    std::deque<std::vector<uint8_t>> reads;       // what hid_read_timeout returns
    bool readFails = false;                       // reads fail like a lost device
    int readCalls = 0;
    int closes = 0;
    std::string openedPath;                       // the last device opened
    // hidapi may not be entered twice at once on one device: a call that
    // finds another under way counts an overlap.
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    // Set by a test while it writes: reads that begin meanwhile count here.
    std::atomic<bool> writing{false};
    std::atomic<int> readsBegunWhileWriting{0};
};

// The fake's state; tests reset it with ResetFakeHid().
FakeHid& TheFakeHid();
void ResetFakeHid();
