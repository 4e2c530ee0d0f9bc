// A HID device made by this program that the whole system sees as real
// hardware: the kernel binds its drivers to it, and every program opens its
// nodes. Linux only, through /dev/uhid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct VirtualHidIdentity {
    uint16_t bus = 0;                 // 0x05 Bluetooth, 0x03 USB
    uint32_t vendor = 0;
    uint32_t product = 0;
    const char* name = "";            // the device's name
    const char* uniq = "";            // its unique address or serial
    const uint8_t* descriptor = nullptr;  // the report descriptor
    std::size_t descriptorLength = 0;
};

struct VirtualHid;

// Makes the device. nullptr on failure, with *failure one line that names
// the node and what to do about it.
VirtualHid* CreateVirtualHid(const VirtualHidIdentity& identity, std::string* failure);

// Waits for the next output report a driver or a program sends the device
// and returns its length (cut at capacity); 0 once InterruptVirtualHid was
// called; -1 when the device failed. Requests to get or set a report are
// refused as they come (the device has no feature reports).
int ReadVirtualHidOutput(VirtualHid* hid, uint8_t* buffer, std::size_t capacity);

// Sends one input report; false when it could not.
bool WriteVirtualHidInput(VirtualHid* hid, const uint8_t* report, std::size_t length);

// Makes a waiting ReadVirtualHidOutput return 0, and every later one. From
// any thread.
void InterruptVirtualHid(VirtualHid* hid);

// Removes the device; its nodes' readers then fail. A second call does
// nothing, and later writes fail. The object itself stays valid.
void DestroyVirtualHid(VirtualHid* hid);
