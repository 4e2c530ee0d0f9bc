// Where the files that come with the program are.
#pragma once

#include <string>

// The udev rule that lets the user open the remote: the copy installed with
// this program (<prefix>/lib/udev/rules.d beside <prefix>/bin), or, for a
// program run from its build tree, the one in the source tree.
std::string UdevRulePath();
