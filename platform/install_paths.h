// Where the files that come with the program are.
#pragma once

#include <string>

// The udev rule that lets the user open the remote: the copy installed with
// this program (<prefix>/lib/udev/rules.d beside <prefix>/bin), or, for a
// program run from its build tree, the one in the source tree.
std::string UdevRulePath();

// What the user can do about a remote that exists but may not be opened, as
// one sentence (on Linux: install the udev rule and reconnect the remote).
std::string DeviceAccessAdvice();
