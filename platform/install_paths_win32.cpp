#include "platform/install_paths.h"

// Windows needs no rule to let the user open a HID device: a remote that is
// there but does not open is usually held by another program, or half
// paired.
std::string DeviceAccessAdvice() {
    return "Close other programs that use the remote, or remove it in Windows' Bluetooth "
           "settings and pair it again.";
}
