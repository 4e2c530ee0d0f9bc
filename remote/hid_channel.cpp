#include "remote/hid_channel.h"

#include <algorithm>
#include <chrono>
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
    bool writing = false;             // a write is inside the backend: the next one waits
    bool sealed = false;              // the last report was asked for: no write after it
    bool lost = false;                // a read failed, or a write after one was accepted
    bool accepted = false;            // a write went through: the remote is there
    int vendor = 0, product = 0;      // as opened, for the recording
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

// Called with the channel's lock held; says the loss once.
void MarkLost(Slot& slot) {
    if (slot.lost) return;
    slot.lost = true;
    std::fputs("Wii-Remote disconnected.\n", stderr);
    std::fflush(stderr);
    channel.value.changed.notify_all();
}

// A read of at most timeoutMs (forever when negative): the report's length,
// 0 when none came in time, -1 when the handle is closed or not open.
int32_t ReadFromSlot(int32_t handle, uint8_t* buffer, int32_t* bytesRead, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    *bytesRead = 0;
    std::unique_lock lock(channel.value.mutex);
    Slot* slot = FindSlot(handle);
    if (slot == nullptr) return -1;
    ++slot->users;
    uint8_t report[kReportBufferSize];
    int length = -1;
    while (!slot->closing) {
        if (slot->lost) {
            // A lost device sends nothing: wait for the close like a quiet one.
            channel.value.changed.wait(lock);
            continue;
        }
        int sliceMs = kReadSliceMs;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                length = 0;
                break;
            }
            sliceMs = static_cast<int>(std::min<long long>(left, kReadSliceMs));
        }
        lock.unlock();
        const int got = BackendRead(slot->device, report, sizeof report, sliceMs);
        lock.lock();
        if (got > 0) {
            length = got;
            // While the read still counts, so that a close (and the
            // 12 00 30 before it) cannot come between the report and its
            // place in the recording.
            RecordInput(report, static_cast<std::size_t>(length));
            break;
        }
        if (got < 0) MarkLost(*slot);
    }
    --slot->users;
    channel.value.changed.notify_all();
    lock.unlock();
    if (length <= 0) return length;
    std::memcpy(buffer, report, static_cast<std::size_t>(length));
    *bytesRead = length;
    return length;
}

}  // namespace

const char* LastOpenFailure() { return lastOpenFailure; }

std::size_t ReportLength(uint8_t reportId) {
    for (const PayloadLength& entry : kPayloadLengths) {
        if (entry.reportId == reportId) return 1 + entry.payload;
    }
    return 1 + kDefaultPayload;
}

int32_t OpenHidHandle(int vendor, int product, int index) {
    BackendOpenFailure failure{};
    BackendDevice* device = BackendOpen(vendor, product, index, &failure);
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
            slot.vendor = vendor;
            slot.product = product;
            return handle;
        }
    }
    BackendClose(device);
    return -1;
}

int32_t ReadReport(int32_t handle, uint8_t* buffer, int32_t* bytesRead) {
    return ReadFromSlot(handle, buffer, bytesRead, -1);
}

int32_t ReadReportWithin(int32_t handle, uint8_t* buffer, int32_t* bytesRead, int timeoutMs) {
    return ReadFromSlot(handle, buffer, bytesRead, std::max(timeoutMs, 0));
}

namespace {

// One write at a time per device: a backend has one buffer and one pending
// operation for writes. last seals the device: a write waiting meanwhile, and
// every later one, is refused.
int32_t WriteToSlot(int32_t handle, const uint8_t* buffer, int32_t* bytesWritten, bool last) {
    *bytesWritten = 0;
    std::unique_lock lock(channel.value.mutex);
    Slot* slot = FindSlot(handle);
    if (slot == nullptr || slot->sealed) return -1;
    if (last) slot->sealed = true;
    channel.value.changed.wait(lock, [&] { return slot->closing || slot->lost || !slot->writing; });
    if (slot->closing || slot->lost || (slot->sealed && !last)) return -1;
    slot->writing = true;
    ++slot->users;
    lock.unlock();
    const std::size_t length = ReportLength(buffer[0]);
    const int written = BackendWrite(slot->device, buffer, length);
    lock.lock();
    slot->writing = false;
    --slot->users;
    // A write that was not delivered in time leaves the remote as it was: one
    // out of range for a moment comes back. Only a failure after the remote
    // took a write says it is gone.
    if (written < 0 && written != kBackendTimedOut && slot->accepted) MarkLost(*slot);
    if (written >= 0) {
        // The recording begins with the first write the remote took: an
        // adapter's empty slot, opened and refused, leaves nothing in it.
        if (!slot->accepted) RecordOpened(slot->vendor, slot->product, BackendWriteForm(slot->device));
        slot->accepted = true;
        RecordOutput(buffer, length);
        *bytesWritten = written;
    }
    channel.value.changed.notify_all();
    if (written == kBackendTimedOut) return kWriteTimedOut;
    return written < 0 ? -1 : written;
}

}  // namespace

int32_t WriteReport(int32_t handle, const uint8_t* buffer, int32_t* bytesWritten) {
    return WriteToSlot(handle, buffer, bytesWritten, false);
}

int32_t WriteLastReport(int32_t handle, const uint8_t* buffer, int32_t* bytesWritten) {
    return WriteToSlot(handle, buffer, bytesWritten, true);
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
