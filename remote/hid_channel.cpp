#include "remote/hid_channel.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/immortal.h"
#include "platform/install_paths.h"
#include "remote/hid_backend.h"
#include "remote/session_recorder.h"

std::atomic<int32_t> deviceHandle{-1};

namespace {

// Output report lengths after the identifier; any identifier not listed
// carries the longest payload, 21 bytes.
struct PayloadLength {
    uint8_t reportId;
    uint8_t payload;
};
constexpr PayloadLength kPayloadLengths[] = {
    {0x10, 1},   // rumble
    {0x11, 1},   // player LEDs
    {0x12, 2},   // reporting mode: flags, mode
    {0x13, 1},   // IR camera enable
    {0x14, 1},   // speaker enable
    {0x15, 1},   // status request
    {0x16, 21},  // write registers: space, address x3, size, 16 data
    {0x17, 6},   // read registers
    {0x18, 21},  // speaker data
    {0x19, 1},   // speaker mute
    {0x1A, 1},   // IR camera enable 2
};
constexpr uint8_t kDefaultPayload = 21;

// How long a read waits in the backend before it looks for a close again.
constexpr int kReadSliceMs = 50;

// One open device. Guarded by channelMutex.
struct Slot {
    BackendDevice* device = nullptr;  // nullptr: the slot is free
    bool closing = false;             // CloseHidHandle has begun
    int users = 0;                    // reads and writes inside the backend
    bool lost = false;                // the backend's read failed: device gone
};

constexpr int kSlotCount = 8;

struct Channel {
    std::mutex mutex;
    std::condition_variable changed;  // a slot's users, closing or lost changed
    Slot slots[kSlotCount];
};

Immortal<Channel> channel;

Slot* FindSlot(int32_t handle) {
    if (handle < 0 || handle >= kSlotCount) return nullptr;
    Slot& slot = channel.value.slots[handle];
    return slot.device != nullptr && !slot.closing ? &slot : nullptr;
}

// The message LastOpenFailure returns; written by OpenHidHandle on the
// start-up thread only.
char lastOpenFailure[1024];

void SayDeviceLost() {
    std::fputs("Wii-Remote disconnected.\n", stderr);
    std::fflush(stderr);
}

}  // namespace

const char* LastOpenFailure() { return lastOpenFailure; }

std::size_t ReportLength(uint8_t reportId) {
    for (const PayloadLength& entry : kPayloadLengths) {
        if (entry.reportId == reportId) return 1 + entry.payload;
    }
    return 1 + kDefaultPayload;
}

int32_t OpenHidHandle(int vendor, int product) {
    BackendOpenFailure failure{};
    BackendDevice* device = BackendOpen(vendor, product, 0, &failure);
    lastOpenFailure[0] = '\0';
    if (device == nullptr) {
        if (failure.node[0] != '\0') {
            std::snprintf(lastOpenFailure, sizeof lastOpenFailure,
                          "Tavolen cannot open the Wii-Remote at %s: %s. %s", failure.node,
                          failure.reason, DeviceAccessAdvice().c_str());
        }
        return -1;
    }
    std::unique_lock lock(channel.value.mutex);
    for (int32_t handle = 0; handle < kSlotCount; ++handle) {
        Slot& slot = channel.value.slots[handle];
        if (slot.device == nullptr) {
            slot = Slot{};
            slot.device = device;
            lock.unlock();
            RecordOpened(vendor, product);
            return handle;
        }
    }
    BackendClose(device);
    return -1;
}

int32_t ReadReport(int32_t handle, uint8_t* buffer, int32_t* bytesRead) {
    *bytesRead = 0;
    std::unique_lock lock(channel.value.mutex);
    Slot* slot = FindSlot(handle);
    if (slot == nullptr) return -1;
    ++slot->users;
    uint8_t report[kReportBufferSize];
    int length = 0;
    while (!slot->closing) {
        if (slot->lost) {
            // A lost device sends nothing: wait for the close like a quiet one.
            channel.value.changed.wait(lock);
            continue;
        }
        lock.unlock();
        length = BackendRead(slot->device, report, sizeof report, kReadSliceMs);
        lock.lock();
        if (length > 0) break;
        if (length < 0) {
            length = 0;
            slot->lost = true;
            SayDeviceLost();
        }
    }
    --slot->users;
    channel.value.changed.notify_all();
    lock.unlock();
    if (length <= 0) return -1;
    RecordInput(report, static_cast<std::size_t>(length));
    std::memcpy(buffer, report, static_cast<std::size_t>(length));
    *bytesRead = length;
    return length;
}

int32_t WriteReport(int32_t handle, const uint8_t* buffer, int32_t* bytesWritten) {
    *bytesWritten = 0;
    std::unique_lock lock(channel.value.mutex);
    Slot* slot = FindSlot(handle);
    if (slot == nullptr || slot->lost) return -1;
    ++slot->users;
    lock.unlock();
    const int written = BackendWrite(slot->device, buffer, ReportLength(buffer[0]));
    lock.lock();
    --slot->users;
    channel.value.changed.notify_all();
    lock.unlock();
    if (written < 0) return -1;
    RecordOutput(buffer, ReportLength(buffer[0]));
    *bytesWritten = written;
    return written;
}

void CloseHidHandle(int32_t handle) {
    std::unique_lock lock(channel.value.mutex);
    Slot* slot = FindSlot(handle);
    if (slot == nullptr) return;
    slot->closing = true;
    channel.value.changed.notify_all();
    channel.value.changed.wait(lock, [slot] { return slot->users == 0; });
    BackendClose(slot->device);
    *slot = Slot{};
    lock.unlock();
    RecordClosed();
}
