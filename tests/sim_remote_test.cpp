// The simulated remote driven through the backend calls directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "remote/hid_backend.h"
#include "sim/sim_remote.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const Bytes kIdle31 = {0x31, 0x00, 0x00, 128, 128, 154};  // default buttons and accelerometer

// 16 SS AH AM AL size d0..d15, padded to 22 bytes as the channel sends it.
Bytes RegisterWrite(Bytes head) {
    head.resize(22, 0x00);
    return head;
}

class SimRemote : public testing::Test {
protected:
    void Open(const char* script) {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(ParseScenario(script, "test", &scenario, &error)) << error;
        SimUseScenario(scenario);
        device = BackendOpen(0x057E, scenario.product, 0, nullptr);
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override {
        if (device != nullptr) BackendClose(device);
        SimUseLog(nullptr);
    }
    int Write(const Bytes& report) { return BackendWrite(device, report.data(), report.size()); }
    Bytes Read(int timeoutMs) {
        uint8_t buffer[64];
        const int got = BackendRead(device, buffer, sizeof buffer, timeoutMs);
        return got > 0 ? Bytes(buffer, buffer + got) : Bytes{};
    }
    std::vector<Bytes> Drain() {
        std::vector<Bytes> reports;
        for (Bytes r = Read(0); !r.empty(); r = Read(0)) reports.push_back(r);
        return reports;
    }
    BackendDevice* device = nullptr;
};

TEST_F(SimRemote, OnlyAPresentRemoteWithTheRightIdentifiersIsFound) {
    const std::tuple<bool, int, int> kMissing[] = {{false, 0x057E, 0x0330}, {false, 0x057F, 0x0306}, {true, 0x057E, 0x0306}};
    for (const auto& [absent, vendor, product] : kMissing) {
        Scenario scenario;
        scenario.absent = absent;
        SimUseScenario(scenario);
        BackendOpenFailure failure;
        EXPECT_EQ(BackendOpen(vendor, product, 0, &failure), nullptr) << vendor << " " << product;
        EXPECT_STREQ(failure.node, "");
    }
}

TEST_F(SimRemote, ModeChangeSendsOneReportAtOnceInTheNewLayout) {
    Open("rate 1\n0 buttons 10 08\n0 accel 1 2 3\n");
    Bytes withIr = {0x33, 0x10, 0x08, 0x01, 0x02, 0x03};
    withIr.resize(18, 0xFF);
    Bytes withIrAndExtension = {0x37, 0x10, 0x08, 0x01, 0x02, 0x03};
    withIrAndExtension.resize(16, 0xFF);  // 10 IR bytes, then 6 extension bytes
    withIrAndExtension.resize(22, 0x00);
    const std::pair<uint8_t, Bytes> kModes[] = {
        {0x31, {0x31, 0x10, 0x08, 0x01, 0x02, 0x03}},
        {0x33, withIr},
        {0x32, {0x32, 0x10, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}},
        {0x37, withIrAndExtension},
        {0x30, {0x30, 0x10, 0x08}},
    };
    for (const auto& [mode, expected] : kModes) {
        Drain();
        ASSERT_EQ(Write({0x12, 0x00, mode}), 3);
        EXPECT_EQ(Read(1000), expected);
    }
    EXPECT_TRUE(Read(150).empty());  // mode 30 waits for a button

    ASSERT_EQ(Write({0x12, 0x00, 0x31}), 3);
    BackendClose(device);
    Open("");
    EXPECT_TRUE(SimOutputs().empty());
    EXPECT_TRUE(Read(150).empty());  // opened again: mode 30, empty queue
}

TEST_F(SimRemote, ButtonsOnlyModeReportsAChangeAndRawReportsAsGiven) {
    Open("20 raw 20 00 00 08 00 00 C8\n50 buttons 00 08\n80 buttons 00 08\n100 buttons 00 00\n");
    uint8_t small[3];  // a report is cut at the reader's capacity
    EXPECT_EQ(BackendRead(device, small, sizeof small, 2000), 3);
    EXPECT_EQ(Bytes(small, small + 3), (Bytes{0x20, 0x00, 0x00}));
    EXPECT_EQ(Read(2000), (Bytes{0x30, 0x00, 0x08}));
    EXPECT_EQ(Read(2000), (Bytes{0x30, 0x00, 0x00}));
    EXPECT_TRUE(Read(150).empty());
}

TEST_F(SimRemote, AccelModeReportsAtTheScenarioRate) {
    Open("rate 50\n");
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(Write({0x12, 0x00, 0x31}), 3);
    std::this_thread::sleep_for(milliseconds(300));
    const std::vector<Bytes> reports = Drain();
    const auto elapsedMs = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    // One at once, then one every 20 ms of the remote's clock.
    EXPECT_GE(reports.size(), 16u);
    EXPECT_LE(reports.size(), static_cast<std::size_t>(2 + elapsedMs / 20));
    for (const Bytes& r : reports) EXPECT_EQ(r, kIdle31);
}

TEST_F(SimRemote, FullQueueKeepsTheOldest64AndDropsTheNewest) {
    Open("");
    for (uint8_t i = 0; i < 70; ++i) {
        const uint8_t report[3] = {0x30, 0x00, i};
        SimInjectReport(report, sizeof report);
    }
    const std::vector<Bytes> reports = Drain();
    ASSERT_EQ(reports.size(), 64u);
    for (uint8_t i = 0; i < 64; ++i) EXPECT_EQ(reports[i][2], i);

    // After a reader's pause of seconds at 1000 reports/s the queue holds the
    // oldest, and fresh reports flow again once it reads.
    BackendClose(device);
    Open("rate 1000\n1000 buttons 00 02\n");
    ASSERT_EQ(Write({0x12, 0x00, 0x31}), 3);
    std::this_thread::sleep_for(milliseconds(1500));
    for (int i = 0; i < 64; ++i) ASSERT_EQ(Read(0), kIdle31) << i;
    EXPECT_EQ(Read(1000), (Bytes{0x31, 0x00, 0x02, 128, 128, 154}));
}

TEST_F(SimRemote, IrPointsShowOnlyAfterTheWholeCameraSetUp) {
    Open("rate 1\n0 ir 1 1023 767 15\n0 ir 2 0 0 0\n0 ir 3 300 600 5\n");
    const Bytes hidden(12, 0xFF);
    const Bytes shown = {0xFF, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0x2C, 0x58, 0x95, 0xFF, 0xFF, 0xFF};
    struct Step {
        Bytes write;
        int ack;  // EE of the 22 report, -1 for none
        bool pointsShown;
    } const kSteps[] = {
        {RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08}), 0x07, false},  // camera still off
        {{0x13, 0x04}, -1, false},
        {RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08}), 0x07, false},  // enable 2 missing
        {{0x1A, 0x04}, -1, false},  // the writes before were not kept
        {RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08}), 0x00, false},
        {RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x33, 0x00, 0x03}), 0x00, false},  // size 0
        {RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x33, 0x11, 0x03}), 0x00, false},  // size 17
        {RegisterWrite({0x16, 0x04, 0xA4, 0xFF, 0x33, 0x01, 0x03}), 0x07, false},  // no extension plugged
        {RegisterWrite({0x16, 0x00, 0xB0, 0xFF, 0x33, 0x01, 0x03}), 0x00, false},  // memory, not registers
        {RegisterWrite({0x16, 0x04, 0xB0, 0x00, 0x2F, 0x05, 0x00, 0x08, 0x00, 0x00, 0x03}), 0x00, true},
        {{0x1A, 0x02}, 0x00, false},  // asks for an acknowledge, and turns enable 2 off
        {{0x1A, 0x04}, -1, true},
        {RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x01}), 0x00, false},
        {RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08}), 0x00, true},
    };
    for (const Step& step : kSteps) {
        SCOPED_TRACE(testing::PrintToString(step.write));
        Drain();
        ASSERT_EQ(Write(step.write), static_cast<int>(step.write.size()));
        std::vector<Bytes> expectedAcks;
        if (step.ack >= 0) expectedAcks.push_back({0x22, 0x00, 0x00, step.write[0], static_cast<uint8_t>(step.ack)});
        EXPECT_EQ(Drain(), expectedAcks);
        ASSERT_EQ(Write({0x12, 0x00, 0x33}), 3);
        const Bytes report = Read(1000);
        ASSERT_EQ(report.size(), 18u);
        EXPECT_EQ(Bytes(report.begin() + 6, report.end()), step.pointsShown ? shown : hidden);
    }
    // The basic format: X1 Y1 (y1 x1 y2 x2 high bits) X2 Y2 for points 1 and 2, then 3 and 4.
    ASSERT_EQ(Write(RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x33, 0x01, 0x01})), 22);
    Drain();
    ASSERT_EQ(Write({0x12, 0x00, 0x33}), 3);
    const Bytes report = Read(1000);
    EXPECT_EQ(Bytes(report.begin() + 6, report.end()),
              (Bytes{0xFF, 0xFF, 0xB0, 0x00, 0x00, 0x2C, 0x58, 0x9F, 0xFF, 0xFF, 0xFF, 0xFF}));
}

// 17 SS AH AM AL SH SL, answered by 21 BB BB SE AM AL d0..d15 reports.
TEST_F(SimRemote, RegisterReadsAnswerWhatIsThere) {
    const auto Answer = [](uint8_t se, uint8_t am, uint8_t al, Bytes data) {
        data.insert(data.begin(), {0x21, 0x00, 0x00, se, am, al});
        data.resize(22, 0x00);
        return data;
    };
    const struct {
        const char* script;
        Bytes read;
        std::vector<Bytes> answers;
    } kReads[] = {
        {"", {0x17, 0x04, 0xA4, 0x00, 0xFA, 0x00, 0x06}, {Answer(0x57, 0x00, 0xFA, {})}},  // no extension
        {"0 extension on\n", {0x17, 0x04, 0xA4, 0x00, 0xFA, 0x00, 0x06}, {Answer(0x50, 0x00, 0xFA, {0, 0, 0xA4, 0x20, 0, 0})}},
        {"", {0x17, 0x04, 0xA6, 0x00, 0xFA, 0x00, 0x06}, {Answer(0x57, 0x00, 0xFA, {})}},  // no Motion Plus
        {"product 0330\n", {0x17, 0x04, 0xA6, 0x00, 0xFA, 0x00, 0x06}, {Answer(0x50, 0x00, 0xFA, {0, 0, 0xA6, 0x20, 0, 5})}},
        {"", {0x17, 0x04, 0xB0, 0x00, 0x30, 0x00, 0x01}, {Answer(0x07, 0x00, 0x30, {})}},  // camera not enabled
        {"", {0x17, 0x00, 0x00, 0x0F, 0xF8, 0x00, 0x14}, {Answer(0xF0, 0x0F, 0xF8, {}), Answer(0x30, 0x10, 0x08, {})}},
    };
    for (const auto& row : kReads) {
        SCOPED_TRACE(testing::PrintToString(row.read));
        Open(row.script);
        ASSERT_EQ(Write({0x12, 0x00, 0x30}), 3);  // after the status report of an extension
        Drain();
        ASSERT_EQ(Write(row.read), 7);
        EXPECT_EQ(Drain(), row.answers);
        BackendClose(device);
        device = nullptr;
    }
}

TEST_F(SimRemote, SilenceHoldsEveryReportUntilResume) {
    Open("0 silent\n1000 resume\n");
    ASSERT_EQ(Write({0x12, 0x00, 0x31}), 3);
    ASSERT_EQ(Write(RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08})), 22);
    const uint8_t injected[3] = {0x30, 0x00, 0x80};
    SimInjectReport(injected, sizeof injected);
    EXPECT_TRUE(Read(300).empty());
    EXPECT_EQ(Read(5000), kIdle31);
    EXPECT_EQ(SimOutputs().size(), 2u);  // writes are still taken
}

TEST_F(SimRemote, DisconnectFailsAtOnceAndOnlyTheCloseIsLoggedAfter) {
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    SimUseLog(log);
    Open("0 raw 30 00 07\n300 disconnect\n");
    ASSERT_EQ(Write({0x11, 0xAB}), 2);
    ASSERT_EQ(Write({0x12, 0x04, 0x33}), 3);
    std::this_thread::sleep_for(milliseconds(400));
    uint8_t buffer[32];
    for (int i = 0; i < 2; ++i) {  // the unread reports are lost with the remote
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(BackendRead(device, buffer, sizeof buffer, 10000), -1);
        EXPECT_LT(Clock::now() - start, milliseconds(1000));
    }
    EXPECT_EQ(Write({0x12, 0x00, 0x30}), -1);
    BackendClose(device);
    device = nullptr;
    SimUseLog(nullptr);

    const std::vector<SimOutput> outputs = SimOutputs();
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[1].bytes, (Bytes{0x12, 0x04, 0x33}));
    EXPECT_TRUE(outputs[2].close);
    EXPECT_GE(outputs[2].ms, 300.0);
    char text[256] = {}, expected[256];
    std::rewind(log);
    EXPECT_GT(std::fread(text, 1, sizeof text - 1, log), 0u);
    std::fclose(log);
    std::snprintf(expected, sizeof expected, "%.3f 11 AB\n%.3f 12 04 33\n%.3f close\n", outputs[0].ms,
                  outputs[1].ms, outputs[2].ms);
    EXPECT_STREQ(text, expected);
}

// A status report, unasked (extension in or out) or asked for (15), says
// what the remote is doing; after it the remote sends no data report until a
// mode is set again, and then reports in that mode at once.
TEST_F(SimRemote, AStatusReportHoldsTheDataUntilTheModeIsSetAgain) {
    const Bytes kCamera[] = {{0x13, 0x04}, {0x1A, 0x04}};
    struct Case {
        const char* script;
        Bytes mode;         // the mode before the status report
        bool camera;        // 13 04 and 1A 04 sent
        Bytes led;          // an 11 report, or none
        Bytes request;      // a 15 report, or none (the script's event then)
        Bytes status;
    } const cases[] = {
        {"200 extension on\n", {0x12, 0x00, 0x33}, true, {0x11, 0x10}, {}, {0x20, 0, 0, 0x1A, 0, 0, 0xC0}},
        {"0 extension on\n200 extension off\n", {0x12, 0x00, 0x31}, false, {0x11, 0x90}, {}, {0x20, 0, 0, 0x90, 0, 0, 0xC0}},
        {"0 battery 31\n", {0x12, 0x00, 0x31}, false, {}, {0x15, 0x00}, {0x20, 0, 0, 0x01, 0, 0, 0x1F}},
        {"200 other 15 00\n", {0x12, 0x00, 0x33}, true, {}, {}, {0x20, 0, 0, 0x08, 0, 0, 0xC0}},  // the driver asks
        {"0 buttons 00 08\n200 extension on\n300 buttons 00 00\n", {0x12, 0x00, 0x30}, true, {}, {},
         {0x20, 0x00, 0x08, 0x0A, 0, 0, 0xC0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        Open(c.script);
        if (c.camera) for (const Bytes& enable : kCamera) Write(enable);
        if (!c.led.empty()) Write(c.led);
        Write(c.mode);
        std::this_thread::sleep_for(milliseconds(250));
        if (!c.request.empty()) Write(c.request);
        std::vector<Bytes> reports = Drain();
        const auto status = std::find(reports.begin(), reports.end(), c.status);
        ASSERT_NE(status, reports.end()) << "no status report " << ::testing::PrintToString(c.status);
        EXPECT_EQ(status + 1, reports.end()) << "a report after the status report";
        std::this_thread::sleep_for(milliseconds(200));  // buttons change meanwhile in mode 30
        EXPECT_EQ(Drain(), std::vector<Bytes>{});
        Write(c.mode);
        const Bytes first = Read(1000);
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(first[0], c.mode[2]);
        BackendClose(device);
        device = nullptr;
    }
}

// A recorded session: only the script's raw reports come, at their times;
// what the remote is sent is taken and logged but not answered.
TEST_F(SimRemote, ARecordingSendsOnlyItsRawReports) {
    Open("recorded\n0 raw 31 00 00 01 02 03\n0 extension on\n300 raw 22 00 00 16 00\n");
    for (const Bytes& sent : {Bytes{0x12, 0x00, 0x31}, Bytes{0x13, 0x06}, Bytes{0x15, 0x00},
                              RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08})}) {
        ASSERT_EQ(Write(sent), static_cast<int>(sent.size()));
    }
    EXPECT_EQ(Drain(), (std::vector<Bytes>{{0x31, 0x00, 0x00, 0x01, 0x02, 0x03}}));
    EXPECT_EQ(Read(2000), (Bytes{0x22, 0x00, 0x00, 0x16, 0x00}));
    EXPECT_TRUE(Read(200).empty());
    EXPECT_EQ(SimOutputs().size(), 4u);
}

TEST_F(SimRemote, ALogThatCannotBeWrittenIsSaidOnceAndTheRemoteGoesOn) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    SimUseLog(full, "/dev/full");
    Open("");
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Write({0x11, 0x10}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tavolen-sim: cannot write the log /dev/full: No space left on device\n");
    EXPECT_EQ(SimOutputs().size(), 3u);
    SimUseLog(nullptr);
    std::fclose(full);
}

TEST_F(SimRemote, DemoPointsMoveApartAcrossTheCameraField) {
    Scenario demo;
    ASSERT_TRUE(BuiltInScenario("demo", &demo));
    SimUseScenario(demo);
    device = BackendOpen(0x057E, 0x0306, 0, nullptr);
    for (const Bytes& write : {Bytes{0x13, 0x04}, Bytes{0x1A, 0x04},
                               RegisterWrite({0x16, 0x04, 0xB0, 0xFF, 0x30, 0x04, 0x08, 0x00, 0x00, 0x03})}) {
        ASSERT_EQ(Write(write), static_cast<int>(write.size()));
    }
    ASSERT_EQ(Write({0x12, 0x00, 0x33}), 3);
    std::this_thread::sleep_for(milliseconds(400));
    std::vector<Bytes> reports = Drain();
    std::erase_if(reports, [](const Bytes& r) { return r[0] != 0x33; });
    ASSERT_GE(reports.size(), 10u);
    auto Decode = [](const Bytes& r, int i) {  // x, y of point i
        const uint8_t* ir = r.data() + 6 + 3 * i;
        return std::pair(ir[0] | (ir[2] & 0x30) << 4, ir[1] | (ir[2] & 0xC0) << 2);
    };
    for (int i = 0; i < 4; ++i) {
        const auto first = Decode(reports.front(), i);
        EXPECT_LE(first.second, 767);  // an unseen FF FF FF point decodes to y 1023
        EXPECT_NE(first, Decode(reports.back(), i)) << "point " << i + 1 << " stood still";
        for (int j = 0; j < i; ++j) EXPECT_NE(first, Decode(reports.front(), j));
    }
}

}  // namespace
