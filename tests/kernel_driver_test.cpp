// Which driver the kernel bound to a remote, read from a fake sysfs tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "remote/kernel_driver.h"

namespace {

namespace fs = std::filesystem;

class KernelDriver : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavolen-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    // /sys/class/hidraw/<node>/device -> the HID device, whose driver link
    // points into /sys/bus/hid/drivers/<driver>.
    void AddHidraw(const std::string& node, const std::string& hidDevice, const std::string& driver) {
        const fs::path device = root / "devices/virtual/bluetooth/hci0" / hidDevice;
        fs::create_directories(device);
        fs::create_directories(root / "class/hidraw" / node);
        fs::create_directory_symlink(device, root / "class/hidraw" / node / "device");
        if (driver.empty()) return;
        fs::create_directories(root / "bus/hid/drivers" / driver);
        fs::create_directory_symlink(root / "bus/hid/drivers" / driver, device / "driver");
    }
    bool Bound(const char* node, std::string* hidDevice) {
        char name[256] = "";
        const bool bound = IsBoundToKernelRemoteDriver(root.c_str(), node, name, sizeof name);
        *hidDevice = name;
        return bound;
    }
    fs::path root;
};

TEST_F(KernelDriver, TellsTheWiimoteDriverFromOthers) {
    AddHidraw("hidraw3", "0005:057E:0306.0004", "wiimote");
    AddHidraw("hidraw4", "0005:057E:0330.0005", "hid-generic");
    AddHidraw("hidraw5", "0003:057E:0306.0006", "");
    std::string hidDevice;
    EXPECT_TRUE(Bound("/dev/hidraw3", &hidDevice));
    EXPECT_EQ(hidDevice, "0005:057E:0306.0004");
    EXPECT_FALSE(Bound("/dev/hidraw4", &hidDevice));
    EXPECT_FALSE(Bound("/dev/hidraw5", &hidDevice));
    EXPECT_FALSE(Bound("/dev/hidraw9", &hidDevice));
}

TEST_F(KernelDriver, SaysOnceWhatTheDriverDoesBesideTavolen) {
    AddHidraw("hidraw3", "0005:057E:0306.0004", "wiimote");
    AddHidraw("hidraw4", "0005:057E:0330.0005", "hid-generic");
    testing::internal::CaptureStderr();
    WarnAboutKernelRemoteDriver(root.c_str(), "/dev/hidraw4");
    WarnAboutKernelRemoteDriver(root.c_str(), "/dev/hidraw3");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("0005:057E:0306.0004"), std::string::npos) << said;
    EXPECT_NE(said.find("input devices"), std::string::npos) << said;
    EXPECT_EQ(said.find("modprobe -r"), std::string::npos) << "no remedy: without it there is no hidraw node";
}

}  // namespace
