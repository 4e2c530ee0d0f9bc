// The channel's own promises, shown with the simulated remote: closing under
// a waiting read, and a remote that is lost while it is read.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "remote/hid_channel.h"
#include "sim/sim_remote.h"

namespace {

using Clock = std::chrono::steady_clock;

Scenario Parsed(const char* text) {
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, "test", &scenario, &error)) << error;
    return scenario;
}

TEST(HidChannel, CloseEndsAWaitingReadWithTheBufferUntouched) {
    SimUseScenario(Parsed("0 silent\n"));
    const int32_t handle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
    uint8_t buffer[kReportBufferSize];
    std::memset(buffer, 0xAA, sizeof buffer);
    int32_t result = 0, got = -5;
    // The device must outlive the read that waits on it: the sanitizer
    // builds catch a close that frees it under the read.
    std::thread reader([&] { result = ReadReport(handle, buffer, &got); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const Clock::time_point closed = Clock::now();
    CloseHidHandle(handle);
    const Clock::time_point closeReturned = Clock::now();
    reader.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(got, 0);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xAA);
    EXPECT_LT(closeReturned - closed, std::chrono::milliseconds(500));
    ASSERT_FALSE(SimOutputs().empty());
    EXPECT_TRUE(SimOutputs().back().close);
}

TEST(HidChannel, ClosingTwiceOrClosingNothingIsHarmless) {
    SimUseScenario(Scenario{});
    const int32_t handle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
    CloseHidHandle(handle);
    CloseHidHandle(handle);
    CloseHidHandle(-1);
    int closes = 0;
    for (const SimOutput& o : SimOutputs()) closes += o.close;
    EXPECT_EQ(closes, 1);
    uint8_t report[kReportBufferSize] = {0x11, 0x10};
    int32_t moved = 9;
    EXPECT_EQ(WriteReport(handle, report, &moved), -1);
    EXPECT_EQ(moved, 0);
}

TEST(HidChannel, AnAbsentRemoteIsNotFound) {
    SimUseScenario(Parsed("absent\n"));
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1);
}

TEST(HidChannel, ALostRemoteIsSaidOnceAndItsReaderWaitsForTheClose) {
    SimUseScenario(Parsed("0 disconnect\n"));
    const int32_t handle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
    testing::internal::CaptureStderr();
    int32_t result = 0;
    Clock::time_point returned;
    std::thread reader([&] {
        uint8_t buffer[kReportBufferSize];
        int32_t got;
        result = ReadReport(handle, buffer, &got);
        returned = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint8_t report[kReportBufferSize] = {0x12, 0x00, 0x30};
    int32_t moved;
    EXPECT_EQ(WriteReport(handle, report, &moved), -1);
    const Clock::time_point closed = Clock::now();
    CloseHidHandle(handle);
    reader.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Wii-Remote disconnected.\n");
    EXPECT_EQ(result, -1);
    EXPECT_GE(returned, closed);  // it waited instead of failing again and again
    ASSERT_EQ(SimOutputs().size(), 1u);
    EXPECT_TRUE(SimOutputs()[0].close);
}

}  // namespace
