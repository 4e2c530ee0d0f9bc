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
    // Unloading the driver is no remedy: the kernel then binds no driver to
    // the remote at all, and makes no hidraw node for it.
    std::fprintf(stderr,
                 "Tavolen: the kernel's wiimote driver drives the remote too (%s): a battery "
                 "read (upower's, every two minutes or so) or a program opening or closing the "
                 "remote's input devices changes its mode or camera, which Tavolen then sets "
                 "again (the picture may pause up to 2 s); keep the driver loaded, as without "
                 "it there is no hidraw node.\n",
                 hidDevice);
    std::fflush(stderr);
}
