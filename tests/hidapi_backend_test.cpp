// The real backend over a fake of the hidapi calls: what the channel sends to
// a hidraw device, and how it reports a device it cannot open or has lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/install_paths.h"
#include "remote/hid_channel.h"
#include "tests/fake_hidapi.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

class HidapiBackend : public testing::Test {
protected:
    void SetUp() override { ResetFakeHid(); }
    void TearDown() override { CloseHidHandle(handle); }
    int32_t OpenRemote() { return handle = OpenHidHandle(0x057E, 0x0306); }
    int32_t handle = -1;
};

TEST_F(HidapiBackend, WritesTheLengthTheRemoteExpectsForEachReport) {
    TheFakeHid().devices = {{"/dev/hidraw0"}};
    ASSERT_GE(OpenRemote(), 0);
    struct Case {
        uint8_t id;
        size_t length;
    } const cases[] = {
        {0x10, 2}, {0x11, 2}, {0x12, 3}, {0x13, 2}, {0x14, 2}, {0x15, 2},
        {0x16, 22}, {0x17, 7}, {0x18, 22}, {0x19, 2}, {0x1A, 2}, {0x40, 22},
    };
    for (const Case& c : cases) {
        uint8_t report[kReportBufferSize] = {c.id, 0x55};
        int32_t written = -7;
        EXPECT_EQ(WriteReport(handle, report, &written), static_cast<int32_t>(c.length));
        EXPECT_EQ(written, static_cast<int32_t>(c.length));
    }
    ASSERT_EQ(TheFakeHid().writes.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(TheFakeHid().writes[i].size(), cases[i].length) << "report " << int{cases[i].id};
        EXPECT_EQ(TheFakeHid().writes[i][0], cases[i].id);
    }
}

TEST_F(HidapiBackend, NamesADeviceItCannotOpenAndPointsToTheUdevRule) {
    TheFakeHid().devices = {{"/dev/hidraw3", EACCES}};
    EXPECT_EQ(OpenRemote(), -1);
    const std::string said = LastOpenFailure();
    EXPECT_NE(said.find("/dev/hidraw3"), std::string::npos) << said;
    EXPECT_NE(said.find("Permission denied"), std::string::npos) << said;
    EXPECT_NE(said.find(UdevRulePath()), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos) << said;
}

TEST_F(HidapiBackend, OpensTheFirstMatchingDeviceThatOpensQuietly) {
    TheFakeHid().devices = {{"/dev/hidraw1", EACCES}, {"/dev/hidraw2"}};
    CaptureStderr();
    EXPECT_GE(OpenRemote(), 0);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(TheFakeHid().openedPath, "/dev/hidraw2");
    EXPECT_STREQ(LastOpenFailure(), "");
}

// An adapter's slots, in hidapi's order: the index counts the nodes that
// open; an empty slot's writes fail with EPIPE and are only refused, not a
// lost remote.
TEST_F(HidapiBackend, CountsTheNodesThatOpenAndRefusesAnEmptySlotsWrites) {
    TheFakeHid().devices = {{"/dev/hidraw0", 0, EPIPE}, {"/dev/hidraw1", EACCES},
                            {"/dev/hidraw2", 0, EPIPE}, {"/dev/hidraw3"}};
    const char* const kOpened[] = {"/dev/hidraw0", "/dev/hidraw2", "/dev/hidraw3"};
    uint8_t mode[kReportBufferSize] = {0x12, 0x00, 0x31};
    int32_t moved;
    CaptureStderr();
    for (int index = 0; index < 3; ++index) {
        handle = OpenHidHandle(0x057E, 0x0306, index);
        ASSERT_GE(handle, 0) << index;
        EXPECT_EQ(TheFakeHid().openedPath, kOpened[index]);
        EXPECT_EQ(WriteReport(handle, mode, &moved), index == 2 ? 3 : -1) << index;
        CloseHidHandle(handle);
    }
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306, 3), -1);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(TheFakeHid().writes, (std::vector<std::vector<uint8_t>>{{0x12, 0x00, 0x31}}));
}

TEST_F(HidapiBackend, FindsNothingWhenNoRemoteIsThere) {
    CaptureStderr();
    EXPECT_EQ(OpenRemote(), -1);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_STREQ(LastOpenFailure(), "");
}

TEST_F(HidapiBackend, CopiesAReportAndItsLength) {
    TheFakeHid().devices = {{"/dev/hidraw0"}};
    TheFakeHid().reads = {{0x31, 0x00, 0x80, 0x81, 0x82, 0x9A}};
    ASSERT_GE(OpenRemote(), 0);
    uint8_t buffer[kReportBufferSize] = {};
    int32_t got = 0;
    EXPECT_EQ(ReadReport(handle, buffer, &got), 6);
    EXPECT_EQ(got, 6);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 7),
              (std::vector<uint8_t>{0x31, 0x00, 0x80, 0x81, 0x82, 0x9A, 0x00}));
}

TEST_F(HidapiBackend, ALostDeviceWaitsForTheCloseInsteadOfSpinning) {
    TheFakeHid().devices = {{"/dev/hidraw0"}};
    TheFakeHid().readFails = true;
    ASSERT_GE(OpenRemote(), 0);
    CaptureStderr();
    int32_t results[3] = {0, 0, 0};
    uint8_t buffer[kReportBufferSize];
    std::thread reader([&] {
        int32_t got = 0;
        results[0] = ReadReport(handle, buffer, &got);
        results[1] = ReadReport(handle, buffer, &got);  // the handle is closed now
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int32_t written = 0;
    const uint8_t mode[kReportBufferSize] = {0x12, 0x00, 0x30};
    results[2] = WriteReport(handle, mode, &written);
    CloseHidHandle(handle);
    reader.join();
    handle = -1;
    EXPECT_EQ(GetCapturedStderr(), "Wii-Remote disconnected.\n");
    EXPECT_EQ(TheFakeHid().readCalls, 1);
    EXPECT_EQ(results[0], -1);
    EXPECT_EQ(results[1], -1);
    EXPECT_EQ(results[2], -1);
    EXPECT_TRUE(TheFakeHid().writes.empty());
    EXPECT_EQ(TheFakeHid().closes, 1);
}

TEST_F(HidapiBackend, ReadsAndWritesTakeTurnsAndAWriteWaitsOneReadSliceAtMost) {
    TheFakeHid().devices = {{"/dev/hidraw0"}};
    ASSERT_GE(OpenRemote(), 0);
    // The remote is silent: every read waits its whole slice in hidapi.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        uint8_t buffer[kReportBufferSize];
        int32_t got = 0;
        while (!stop) ReadReport(handle, buffer, &got);
    });
    const uint8_t mode[kReportBufferSize] = {0x12, 0x00, 0x33};
    for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 7 * i));
        int32_t written = 0;
        TheFakeHid().writing = true;
        EXPECT_EQ(WriteReport(handle, mode, &written), 3);
        TheFakeHid().writing = false;
    }
    stop = true;
    CloseHidHandle(handle);  // ends the waiting read
    reader.join();
    handle = -1;
    EXPECT_EQ(TheFakeHid().overlaps, 0);
    EXPECT_EQ(TheFakeHid().writes.size(), 8u);
    // Only a read that slipped in before the write queued itself.
    EXPECT_LE(TheFakeHid().readsBegunWhileWriting, 8);
    // About 2 s of 50 ms slices at most: no polling while the remote is silent.
    EXPECT_LT(TheFakeHid().readCalls, 60);
}

}  // namespace
