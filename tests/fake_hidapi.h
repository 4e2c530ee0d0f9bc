// A stand-in for the hidapi calls the real backend makes: devices are
// described by the test, writes are recorded, reads come from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct FakeHidDevice {
    std::string path;
    int openErrno = 0;  // non-zero: opening fails with this errno
};

struct FakeHid {
    std::vector<FakeHidDevice> devices;           // what hid_enumerate finds
    std::vector<std::vector<uint8_t>> writes;     // what hid_write received
    std::deque<std::vector<uint8_t>> reads;       // what hid_read_timeout returns
    bool readFails = false;                       // reads fail like a lost device
    int readCalls = 0;
    int closes = 0;
    std::string openedPath;
};

// The fake's state; tests reset it with ResetFakeHid().
FakeHid& TheFakeHid();
void ResetFakeHid();
