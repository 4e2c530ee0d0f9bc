// The main reader against the simulated remote, with a stand-in for the view
// that records the reader's requests and closes the way the view does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "control/main_reader.h"
#include "control/startup.h"
#include "remote/ir_setup.h"
#include "remote/remote_reports.h"
#include "sim/sim_remote.h"
#include "view/sensor_view.h"

namespace {

using Clock = std::chrono::steady_clock;
Clock::time_point opened;
std::mutex requestsMutex;
std::vector<double> repaintsAt;  // ms since the remote was opened
std::vector<double> closesAt;

double SinceOpen() {
    return std::chrono::duration<double, std::milli>(Clock::now() - opened).count();
}

}  // namespace

// Start-up's stage 8 is not run here.
bool CreateSensorView() { return false; }
const char* SensorViewFailure() { return ""; }
int RunSensorView() { return 0; }

void RequestRepaint() {
    std::lock_guard lock(requestsMutex);
    repaintsAt.push_back(SinceOpen());
}

void RequestClose() {
    {
        std::lock_guard lock(requestsMutex);
        closesAt.push_back(SinceOpen());
    }
    ShutDownRemote();  // what the view's destroy handler does
}

namespace {

int CountBetween(const std::vector<double>& times, double from, double to) {
    int n = 0;
    for (double t : times) n += t >= from && t < to;
    return n;
}

// One run from set-up to HOME: which reports ask for a repaint, which buttons
// close, and what the remote receives at the end.
TEST(MainReader, RepaintsForPointsOneAndTwoAndClosesOnHomeAlone) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenario("0 ir 3 100 100\n"
                              "0 ir 4 900 700\n"
                              "1200 buttons 00 88\n"   // HOME with A
                              "1300 buttons 00 A0\n"   // HOME with an unknown bit
                              "1400 buttons 00 00\n"
                              "1500 ir 4 10 10\n"      // point 4 moves: no repaint
                              "2000 ir 1 300 200\n"
                              "2500 buttons 00 80\n",  // HOME alone
                              "reader", &scenario, &error))
        << error;
    SimUseScenario(scenario);
    opened = Clock::now();
    deviceHandle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(deviceHandle, 0);
    SetUpIrCamera();
    std::thread reader(MainReader);
    reader.join();  // ends by itself once HOME has shut the remote down

    std::lock_guard lock(requestsMutex);
    ASSERT_EQ(closesAt.size(), 1u);
    EXPECT_GE(closesAt[0], 2500);
    // Before the camera's first points the state is all zeros: repaints.
    EXPECT_GT(CountBetween(repaintsAt, 0, 1000), 0);
    EXPECT_EQ(CountBetween(repaintsAt, 1000, 2000), 0);
    // Point 1 seen: one request per report, about 50 in 500 ms.
    EXPECT_GT(CountBetween(repaintsAt, 2000, 2500), 25);

    const std::vector<SimOutput> sent = SimOutputs();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2].bytes, (std::vector<uint8_t>{0x12, 0x00, 0x30}));
    EXPECT_TRUE(sent.back().close);
    int closes = 0;
    for (const SimOutput& o : sent) closes += o.close;
    EXPECT_EQ(closes, 1);

    ShutDownRemote();  // a second shutdown repeats nothing
    EXPECT_EQ(SimOutputs().size(), sent.size());
}

}  // namespace
