// The real remote, through hidapi's hidraw backend.
#include <hidapi/hidapi.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "remote/hid_backend.h"
#include "remote/kernel_driver.h"

// hidapi 0.13 keeps one error string per device and frees and replaces it in
// both hid_read_timeout and hid_write, so a read and a write at once on one
// device can free it twice. Calls on a device therefore go one at a time; a
// write that waits goes before the next read, so it waits at most for the
// rest of one read slice, and a silent remote still costs one blocking read
// per slice.
struct BackendDevice {
    explicit BackendDevice(hid_device* opened) : hid(opened) {}
    hid_device* hid;
    std::mutex mutex;
    std::condition_variable idle;  // busy went false
    bool busy = false;             // a hidapi call on hid is under way
    int writersWaiting = 0;
    std::atomic<bool> wrote{false};  // a write went through (hidraw sends it as it is)
};

namespace {

// Runs call with the device to itself; writes go first.
template <class Call>
int Exclusively(BackendDevice* device, bool isWrite, Call call) {
    std::unique_lock lock(device->mutex);
    if (isWrite) ++device->writersWaiting;
    device->idle.wait(lock, [&] { return !device->busy && (isWrite || device->writersWaiting == 0); });
    if (isWrite) --device->writersWaiting;
    device->busy = true;
    lock.unlock();
    const int result = call(device->hid);
    lock.lock();
    device->busy = false;
    device->idle.notify_all();
    return result;
}

void CopyText(char* to, std::size_t size, const char* text) {
    std::snprintf(to, size, "%s", text);
}

// hidapi's own account of the last failure without a device, or errno's.
void DescribeOpenFailure(int savedErrno, char* reason, std::size_t size) {
    if (savedErrno != 0) {
        CopyText(reason, size, std::strerror(savedErrno));
        return;
    }
    const wchar_t* text = hid_error(nullptr);
    if (text == nullptr || *text == L'\0') {
        CopyText(reason, size, "unknown error");
        return;
    }
    std::snprintf(reason, size, "%ls", text);
}

}  // namespace

// An adapter for Wii Remotes shows one node per slot; index counts the
// nodes that open, in hidapi's order, and those before it are closed again.
BackendDevice* BackendOpen(int vendor, int product, int index, BackendOpenFailure* failure) {
    failure->node[0] = '\0';
    failure->reason[0] = '\0';
    if (hid_init() != 0) return nullptr;
    hid_device_info* list = hid_enumerate(static_cast<unsigned short>(vendor),
                                          static_cast<unsigned short>(product));
    hid_device* device = nullptr;
    const char* openedPath = nullptr;
    int opened = 0;
    for (hid_device_info* info = list; info != nullptr && device == nullptr; info = info->next) {
        errno = 0;
        device = hid_open_path(info->path);
        if (device != nullptr && opened++ < index) {
            hid_close(device);
            device = nullptr;
            continue;
        }
        if (device != nullptr) openedPath = info->path;
        if (device == nullptr && failure->node[0] == '\0') {
            const int savedErrno = errno;
            CopyText(failure->node, sizeof failure->node, info->path);
            DescribeOpenFailure(savedErrno, failure->reason, sizeof failure->reason);
        }
    }
    if (device != nullptr) {
        failure->node[0] = '\0';
        WarnAboutKernelRemoteDriver("/sys", openedPath);
    }
    hid_free_enumeration(list);
    return device != nullptr ? new BackendDevice(device) : nullptr;
}

int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
    return Exclusively(device, false, [&](hid_device* hid) {
        return hid_read_timeout(hid, buffer, capacity, timeoutMs);
    });
}

// An adapter's empty slot refuses every write (EPIPE).
int BackendWrite(BackendDevice* device, const uint8_t* buffer, std::size_t length) {
    const int written =
        Exclusively(device, true, [&](hid_device* hid) { return hid_write(hid, buffer, length); });
    if (written >= 0) device->wrote.store(true, std::memory_order_relaxed);
    return written;
}

const char* BackendWriteForm(BackendDevice* device) {
    return device->wrote.load(std::memory_order_relaxed) ? "exact" : "";
}

// The channel closes only once no read or write is under way.
void BackendClose(BackendDevice* device) {
    hid_close(device->hid);
    delete device;
}
