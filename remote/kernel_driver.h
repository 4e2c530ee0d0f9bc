// What the kernel has bound to the device behind a hidraw node. The kernel's
// own Wii Remote driver ("wiimote") sets reporting modes itself, behind this
// tool's back: after every status report, and when its input devices are
// opened or closed (then it also sets up or switches off the camera).
#pragma once

#include <cstddef>

// True when the HID device behind node (e.g. "/dev/hidraw3") is bound to the
// kernel's wiimote driver; its HID name (e.g. "0005:057E:0306.0004") is then
// copied to hidDevice. sysfsRoot is "/sys" but for tests.
bool IsBoundToKernelRemoteDriver(const char* sysfsRoot, const char* node, char* hidDevice,
                                 std::size_t size);

// Says on standard error, once, that the kernel's driver is bound to the
// remote at node and what that means for the picture; nothing when it is not
// bound.
void WarnAboutKernelRemoteDriver(const char* sysfsRoot, const char* node);
