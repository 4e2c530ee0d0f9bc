#include "platform/install_paths.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <system_error>

std::string UdevRulePath() {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        const std::filesystem::path installed = std::filesystem::path(self).parent_path() /
                                                "../lib/udev/rules.d/60-tavolen.rules";
        std::error_code error;
        if (std::filesystem::exists(installed, error)) {
            return std::filesystem::weakly_canonical(installed, error).string();
        }
    }
    return TAVOLEN_SOURCE_UDEV_RULE;
}

std::string DeviceAccessAdvice() {
    return "It needs the udev rule " + UdevRulePath() +
           " (see tavolen(1)); reconnect the remote after installing it.";
}
