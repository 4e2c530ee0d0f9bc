// The real remote, through hidapi's hidraw backend.
#include <hidapi/hidapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "remote/hid_backend.h"
#include "remote/kernel_driver.h"

namespace {

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

BackendDevice* BackendOpen(int vendor, int product, BackendOpenFailure* failure) {
    failure->node[0] = '\0';
    failure->reason[0] = '\0';
    if (hid_init() != 0) return nullptr;
    hid_device_info* list = hid_enumerate(static_cast<unsigned short>(vendor),
                                          static_cast<unsigned short>(product));
    hid_device* device = nullptr;
    const char* openedPath = nullptr;
    for (hid_device_info* info = list; info != nullptr && device == nullptr; info = info->next) {
        errno = 0;
        device = hid_open_path(info->path);
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
    return reinterpret_cast<BackendDevice*>(device);
}

int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
    return hid_read_timeout(reinterpret_cast<hid_device*>(device), buffer, capacity, timeoutMs);
}

int BackendWrite(BackendDevice* device, const uint8_t* buffer, std::size_t length) {
    return hid_write(reinterpret_cast<hid_device*>(device), buffer, length);
}

void BackendClose(BackendDevice* device) { hid_close(reinterpret_cast<hid_device*>(device)); }
