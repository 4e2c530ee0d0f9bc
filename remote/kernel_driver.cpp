#include "remote/kernel_driver.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace

bool IsBoundToKernelRemoteDriver(const char* sysfsRoot, const char* node, char* hidDevice,
                                 std::size_t size) {
    // /sys/class/hidraw/hidrawN/device is the HID device; its driver link
    // names the driver bound to it.
    char link[PATH_MAX];
    char target[PATH_MAX];
    if (std::snprintf(link, sizeof link, "%s/class/hidraw/%s/device/driver", sysfsRoot,
                      BaseName(node)) >= static_cast<int>(sizeof link)) {
        return false;
    }
    if (realpath(link, target) == nullptr || std::strcmp(BaseName(target), "wiimote") != 0) {
        return false;
    }
    link[std::strlen(link) - std::strlen("/driver")] = '\0';
    if (realpath(link, target) == nullptr) return false;
    std::snprintf(hidDevice, size, "%s", BaseName(target));
    return true;
}

void WarnAboutKernelRemoteDriver(const char* sysfsRoot, const char* node) {
    char hidDevice[256];
    if (!IsBoundToKernelRemoteDriver(sysfsRoot, node, hidDevice, sizeof hidDevice)) return;
    std::fprintf(stderr,
                 "Tavolen: the kernel's wiimote driver is bound to the remote (%s) and may "
                 "change its reporting mode; unload it with 'sudo modprobe -r hid_wiimote' "
                 "(keep it off with 'blacklist hid_wiimote' in /etc/modprobe.d/) and connect "
                 "the remote again.\n",
                 hidDevice);
    std::fflush(stderr);
}
