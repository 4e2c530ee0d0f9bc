// The camera set-up script as the remote receives it, and what the remote's
// camera makes of it.
#include <gtest/gtest.h>

#include <vector>

#include "remote/ir_setup.h"
#include "remote/remote_reports.h"
#include "sim/sim_remote.h"

namespace {

class IrSetup : public testing::Test {
protected:
    void Open(const Scenario& scenario) {
        SimUseScenario(scenario);
        deviceHandle = OpenHidHandle(0x057E, 0x0306);
        ASSERT_GE(deviceHandle, 0);
    }
    void TearDown() override {
        CloseHidHandle(deviceHandle);
        deviceHandle = -1;
    }
};

TEST_F(IrSetup, SendsNineReportsWithTheirBytesAndWaits) {
    Open(Scenario{});
    SetUpIrCamera();
    std::vector<SimOutput> sent = SimOutputs();
    ASSERT_EQ(sent.size(), 9u);

    // The meaningful bytes of each report (register writes: up to the size
    // byte and its data), its full length, and whether a wait follows.
    struct Expected {
        std::vector<uint8_t> bytes;
        size_t length;
        bool waitAfter;
    } const expected[] = {
        {{0x13, 0x04}, 2, true},
        {{0x1A, 0x04}, 2, false},
        {{0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x01}, 22, true},
        {{0x16, 0x04, 0xB0, 0xFF, 0x00, 0x07, 0x02, 0x00, 0x00, 0x71, 0x01, 0x00, 0xC8}, 22, true},
        {{0x16, 0x04, 0xB0, 0xFF, 0x07, 0x02, 0x00, 0x36}, 22, true},
        {{0x16, 0x04, 0xB0, 0xFF, 0x1A, 0x02, 0x35, 0x03}, 22, true},
        {{0x16, 0x04, 0xB0, 0xFF, 0x33, 0x01, 0x03}, 22, true},
        {{0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08}, 22, true},
        {{0x12, 0x00, 0x33}, 3, false},
    };
    for (size_t i = 0; i < 9; ++i) {
        const std::vector<uint8_t>& bytes = sent[i].bytes;
        ASSERT_EQ(bytes.size(), expected[i].length) << "report " << i + 1;
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + expected[i].bytes.size()),
                  expected[i].bytes)
            << "report " << i + 1;
        if (i + 1 < 9) {
            const double gap = sent[i + 1].ms - sent[i].ms;
            if (expected[i].waitAfter) {
                EXPECT_GT(gap, 10.0) << "after report " << i + 1;
            } else {
                EXPECT_LT(gap, 9.0) << "after report " << i + 1;
            }
        }
    }
    EXPECT_GT(sent[8].ms - sent[0].ms, 70.0);
}

TEST_F(IrSetup, LetsTheCameraReportItsPoints) {
    Scenario scenario;
    SimEvent point;
    point.kind = SimEventKind::Ir;
    point.point = 0;
    point.x = 300;
    point.y = 700;
    point.size = 3;
    scenario.events.push_back(point);
    point.point = 2;
    point.x = 1021;
    point.y = 1;
    scenario.events.push_back(point);
    Open(scenario);

    SetUpIrCamera();
    // Reports queued before the camera was ready still carry FF bytes; the
    // points show once the set-up is complete.
    for (int i = 0; i < 200 && RemoteState.ir[0].x != 300; ++i) ReadRemoteReport();
    EXPECT_EQ(RemoteState.ir[0].x, 300);
    EXPECT_EQ(RemoteState.ir[0].y, 700);
    EXPECT_EQ(RemoteState.ir[1].x, 1023);
    EXPECT_EQ(RemoteState.ir[1].y, 1023);
    EXPECT_EQ(RemoteState.ir[2].x, 1021);
    EXPECT_EQ(RemoteState.ir[2].y, 1);
    EXPECT_EQ(inputReport[0], 0x33);
}

}  // namespace
