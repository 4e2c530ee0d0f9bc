// The Windows HID backend over a fake of its device calls: which interface it
// opens, how it names one that does not open, and how its reads and writes
// meet the overlapped calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "remote/hid_backend.h"
#include "remote/hid_channel.h"
#include "tests/fake_win32_hid.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char kRemotePath[] = R"(\\?\hid#{00001124-0000-1000-8000-00805f9b34fb}_vid&0002057e_pid&0306#8&1&0000)";
const char kMousePath[] = R"(\\?\hid#wine_mouse#1&0000)";
const char kKeyboardPath[] = R"(\\?\hid#wine_keyboard#1&0000)";

class WinHidBackend : public testing::Test {
protected:
    void SetUp() override { ResetFakeWinHid(); }
    void TearDown() override {
        if (device != nullptr) BackendClose(device);
        CloseHidHandle(handle);
        // Every probe handle closed and every device list destroyed.
        EXPECT_EQ(TheFakeWinHid().attributeHandlesOpen, 0);
        EXPECT_EQ(TheFakeWinHid().listsOpen, 0);
    }
    BackendDevice* OpenBackend() {
        BackendOpenFailure failure{};
        device = BackendOpen(0x057E, 0x0306, 0, &failure);
        return device;
    }
    BackendDevice* device = nullptr;
    int32_t handle = -1;
};

// Wine's own virtual mouse and keyboard (and, on Windows, any keyboard or
// mouse) refuse read/write opens: only the remote is opened that way.
TEST_F(WinHidBackend, OpensOnlyTheRemoteForReadingAndWriting) {
    TheFakeWinHid().devices = {{kMousePath, 0x845E, 0x0001, ERROR_ACCESS_DENIED},
                               {kKeyboardPath, 0x845E, 0x0002, ERROR_ACCESS_DENIED},
                               {kRemotePath}};
    CaptureStderr();
    handle = OpenHidHandle(0x057E, 0x0306);
    EXPECT_GE(handle, 0);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_STREQ(LastOpenFailure(), "");
    EXPECT_EQ(TheFakeWinHid().readWriteOpens, std::vector<std::string>{kRemotePath});
}

TEST_F(WinHidBackend, FindsNothingAmongOtherDevices) {
    TheFakeWinHid().devices = {{kMousePath, 0x845E, 0x0001}, {kRemotePath, 0x057E, 0x0330}};
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1);
    EXPECT_STREQ(LastOpenFailure(), "");
    EXPECT_TRUE(TheFakeWinHid().readWriteOpens.empty());
}

// The first matching interface that opens is used; one that does not is
// named with the system's reason only when none opens.
TEST_F(WinHidBackend, NamesARemoteThatDoesNotOpenWithTheSystemsReason) {
    TheFakeWinHid().devices = {{kRemotePath, 0x057E, 0x0306, ERROR_SHARING_VIOLATION}};
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1);
    const std::string said = LastOpenFailure();
    EXPECT_EQ(said.find(std::string("Tavolen cannot open the Wii-Remote at ") + kRemotePath + ": "),
              0u) << said;
    // The system's own words for the error (they differ between Windows and
    // Wine), without their full stop and line break.
    char reason[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_SHARING_VIOLATION, 0, reason, sizeof reason, nullptr);
    const std::string words(reason, std::strcspn(reason, ".\r\n"));
    ASSERT_FALSE(words.empty());
    EXPECT_NE(said.find(": " + words + ". "), std::string::npos) << said;
    EXPECT_EQ(said.find(".."), std::string::npos) << said;
    EXPECT_EQ(said.find("udev"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos) << said;
    EXPECT_EQ(said.find('\r'), std::string::npos) << said;

    TheFakeWinHid().devices.push_back({std::string(kRemotePath) + "-second"});
    handle = OpenHidHandle(0x057E, 0x0306);
    EXPECT_GE(handle, 0);
    EXPECT_STREQ(LastOpenFailure(), "");
}

// One read per case, straight through the backend, with a 50 ms timeout.
TEST_F(WinHidBackend, ReadsKeepEveryReportAndTellTimeoutsFromLosses) {
    const Bytes report = {0x33, 0x00, 0x80, 0x81, 0x82, 0x9A, 0x12, 0x34, 0x5A};
    struct Case {
        const char* name;
        std::vector<FakeWinHidReport> reads;
        bool lost;
        int result;
        int cancels;
    } const cases[] = {
        {"waiting report", {{Arrival::Waiting, report}}, false, 9, 0},
        {"nothing comes", {}, false, 0, 1},
        {"report lands as the read is cancelled", {{Arrival::AtCancel, report}}, false, 9, 1},
        {"device gone", {}, true, -1, 0},
    };
    for (const Case& c : cases) {
        ResetFakeWinHid();
        TheFakeWinHid().devices = {{kRemotePath}};
        ASSERT_NE(OpenBackend(), nullptr) << c.name;
        TheFakeWinHid().reads.assign(c.reads.begin(), c.reads.end());
        TheFakeWinHid().lost = c.lost;
        uint8_t buffer[kReportBufferSize] = {};
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(BackendRead(device, buffer, sizeof buffer, 50), c.result) << c.name;
        if (c.result > 0) {
            EXPECT_EQ(Bytes(buffer, buffer + c.result), report) << c.name;
        }
        if (c.cancels > 0) {
            EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(45)) << c.name;
        }
        EXPECT_EQ(TheFakeWinHid().cancels, c.cancels) << c.name;
        BackendClose(device);
        device = nullptr;
        EXPECT_FALSE(TheFakeWinHid().closedWhileReading) << c.name;
    }
}

// Every output report leaves padded with zeros to the 22 bytes the remote
// declares; a stack that refuses WriteFile gets it through
// HidD_SetOutputReport.
TEST_F(WinHidBackend, WritesPadToTheDeclaredLengthAndFallBackToTheControlChannel) {
    struct Case {
        bool writeFileFails;
        bool setOutputReportFails;
        int32_t result;
        bool control;
    } const cases[] = {
        {false, false, 2, false},
        {true, false, 2, true},
        {true, true, -1, false},
    };
    for (const Case& c : cases) {
        ResetFakeWinHid();
        TheFakeWinHid().devices = {{kRemotePath}};
        TheFakeWinHid().writeFileFails = c.writeFileFails;
        TheFakeWinHid().setOutputReportFails = c.setOutputReportFails;
        handle = OpenHidHandle(0x057E, 0x0306);
        ASSERT_GE(handle, 0);
        const uint8_t leds[kReportBufferSize] = {0x11, 0x10, 0xEE};  // 0xEE is not part of it
        int32_t written = 0;
        EXPECT_EQ(WriteReport(handle, leds, &written), c.result);
        if (c.result < 0) {
            EXPECT_TRUE(TheFakeWinHid().writes.empty());
        } else {
            ASSERT_EQ(TheFakeWinHid().writes.size(), 1u);
            Bytes padded(22, 0x00);
            padded[0] = 0x11;
            padded[1] = 0x10;
            EXPECT_EQ(TheFakeWinHid().writes[0].bytes, padded);
            EXPECT_EQ(TheFakeWinHid().writes[0].control, c.control);
        }
        CloseHidHandle(handle);
        handle = -1;
    }
}

TEST_F(WinHidBackend, CloseEndsAWaitingReadAndClosesTheDeviceOnce) {
    TheFakeWinHid().devices = {{kRemotePath}};
    handle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
    int32_t result = 0, got = -5;
    uint8_t buffer[kReportBufferSize];
    std::thread reader([&] { result = ReadReport(handle, buffer, &got); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    CloseHidHandle(handle);
    reader.join();
    CloseHidHandle(handle);
    handle = -1;
    EXPECT_EQ(result, -1);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(TheFakeWinHid().deviceCloses, 1);
    EXPECT_FALSE(TheFakeWinHid().closedWhileReading);
    EXPECT_GE(TheFakeWinHid().cancels, 1);
}

// A lost remote is said once; the reader then waits for the close instead of
// reading again.
TEST_F(WinHidBackend, ALostRemoteIsSaidOnceAndRefusesWrites) {
    TheFakeWinHid().devices = {{kRemotePath}};
    TheFakeWinHid().lost = true;
    handle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
    CaptureStderr();
    int32_t result = 0, got = 0;
    uint8_t buffer[kReportBufferSize];
    std::thread reader([&] { result = ReadReport(handle, buffer, &got); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint8_t mode[kReportBufferSize] = {0x12, 0x00, 0x30};
    int32_t written = 0;
    EXPECT_EQ(WriteReport(handle, mode, &written), -1);
    CloseHidHandle(handle);
    reader.join();
    handle = -1;
    EXPECT_EQ(GetCapturedStderr(), "Wii-Remote disconnected.\n");
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(TheFakeWinHid().writes.empty());
    EXPECT_EQ(TheFakeWinHid().deviceCloses, 1);
}

}  // namespace
