#include "tests/fake_hidapi.h"

#include <hidapi/hidapi.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

struct hid_device_ {
    int index;
};

namespace {
FakeHid fake;
hid_device openDevices[16];  // one per entry of fake.devices
}  // namespace

FakeHid& TheFakeHid() { return fake; }

void ResetFakeHid() {
    fake.devices.clear();
    fake.writes.clear();
    fake.reads.clear();
    fake.readFails = false;
    fake.readCalls = fake.closes = 0;
    fake.openedPath.clear();
    fake.inside = fake.overlaps = fake.readsBegunWhileWriting = 0;
    fake.writing = false;
}

// Marks one hidapi call on the device for its whole length.
struct InsideCall {
    InsideCall() {
        if (fake.inside.fetch_add(1) != 0) ++fake.overlaps;
    }
    ~InsideCall() { --fake.inside; }
};

extern "C" {

int HID_API_EXPORT hid_init(void) { return 0; }

struct hid_device_info HID_API_EXPORT* hid_enumerate(unsigned short, unsigned short) {
    hid_device_info* first = nullptr;
    hid_device_info** next = &first;
    for (const FakeHidDevice& device : fake.devices) {
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(device.path.c_str());
        *next = info;
        next = &info->next;
    }
    return first;
}

void HID_API_EXPORT hid_free_enumeration(struct hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
}

hid_device* HID_API_EXPORT hid_open_path(const char* path) {
    for (std::size_t i = 0; i < fake.devices.size() && i < std::size(openDevices); ++i) {
        const FakeHidDevice& device = fake.devices[i];
        if (device.path != path) continue;
        if (device.openErrno != 0) {
            errno = device.openErrno;
            return nullptr;
        }
        fake.openedPath = path;
        openDevices[i].index = static_cast<int>(i);
        return &openDevices[i];
    }
    errno = ENOENT;
    return nullptr;
}

int HID_API_EXPORT hid_write(hid_device* device, const unsigned char* data, size_t length) {
    const InsideCall call;
    if (const int refused = fake.devices[static_cast<std::size_t>(device->index)].writeErrno) {
        errno = refused;
        return -1;
    }
    fake.writes.emplace_back(data, data + length);
    return static_cast<int>(length);
}

int HID_API_EXPORT hid_read_timeout(hid_device*, unsigned char* data, size_t length,
                                    int milliseconds) {
    const InsideCall call;
    if (fake.writing) ++fake.readsBegunWhileWriting;
    ++fake.readCalls;
    if (fake.readFails) return -1;
    if (fake.reads.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return 0;
    }
    std::vector<uint8_t> report = fake.reads.front();
    fake.reads.pop_front();
    const size_t n = report.size() < length ? report.size() : length;
    std::memcpy(data, report.data(), n);
    return static_cast<int>(n);
}

void HID_API_EXPORT hid_close(hid_device*) { ++fake.closes; }

const wchar_t* HID_API_EXPORT hid_error(hid_device*) { return L"fake failure"; }

}  // extern "C"
