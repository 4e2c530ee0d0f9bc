// Decoding of input reports into RemoteState and the bytes of each command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "remote/remote_reports.h"
#include "sim/sim_remote.h"

namespace {

struct Decoded {
    int buttons1, buttons2, accelX, accelY, accelZ;
    int ir[4][2];
    bool operator==(const Decoded&) const = default;
};

Decoded ReadState() {
    Decoded d{RemoteState.buttons1, RemoteState.buttons2, RemoteState.accelX,
              RemoteState.accelY, RemoteState.accelZ, {}};
    for (int k = 0; k < 4; ++k) {
        d.ir[k][0] = RemoteState.ir[k].x;
        d.ir[k][1] = RemoteState.ir[k].y;
    }
    return d;
}

// A state that no report below produces, so every field shows whether it
// was written.
void FillState() {
    RemoteState.buttons1 = 0xEE;
    RemoteState.buttons2 = 0xEE;
    RemoteState.accelX = RemoteState.accelY = RemoteState.accelZ = 0xEE;
    for (IrPoint& p : RemoteState.ir) p.x = p.y = 555;
}

struct DecodeCase {
    const char* what;
    std::vector<uint8_t> report;
    Decoded expected;
};

constexpr int kOld = 0xEE;
constexpr int kOldPoint = 555;

// BB BB AX AY AZ, then points (274, 308), unseen, (0, 0), (767, 770)
const std::vector<uint8_t> kFull = {0x00, 0x01, 0x80, 0x81, 0x9A, 0x12, 0x34, 0x5A, 0xFF,
                                    0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x02, 0xE0};

std::vector<uint8_t> WithId(uint8_t id) {
    std::vector<uint8_t> r(1 + kFull.size(), id);
    std::copy(kFull.begin(), kFull.end(), r.begin() + 1);
    return r;
}

TEST(DecodeRemoteReport, TakesTheFieldsTheIdentifierCarries) {
    const int both[4][2] = {{274, 308}, {1023, 1023}, {0, 0}, {767, 770}};
    const int old[4][2] = {{kOldPoint, kOldPoint}, {kOldPoint, kOldPoint},
                           {kOldPoint, kOldPoint}, {kOldPoint, kOldPoint}};
    auto points = [](const int (&p)[4][2]) {
        Decoded d{};
        std::memcpy(d.ir, p, sizeof d.ir);
        return d;
    };
    auto with = [](Decoded d, int b1, int b2, int ax, int ay, int az) {
        d.buttons1 = b1, d.buttons2 = b2, d.accelX = ax, d.accelY = ay, d.accelZ = az;
        return d;
    };
    const DecodeCase cases[] = {
        {"30 buttons only", WithId(0x30), with(points(old), 0x00, 0x01, kOld, kOld, kOld)},
        {"31 adds the accelerometer", WithId(0x31), with(points(old), 0x00, 0x01, 0x80, 0x81, 0x9A)},
        // Points only from 0x33: the IR bytes of other modes are another format.
        {"32 buttons, extension bytes", WithId(0x32), with(points(old), 0x00, 0x01, kOld, kOld, kOld)},
        {"33 everything", WithId(0x33), with(points(both), 0x00, 0x01, 0x80, 0x81, 0x9A)},
        {"37 accelerometer, basic IR", WithId(0x37), with(points(old), 0x00, 0x01, 0x80, 0x81, 0x9A)},
        {"3D extension bytes only", WithId(0x3D), with(points(old), kOld, kOld, kOld, kOld, kOld)},
        {"3F interleaved", WithId(0x3F), with(points(old), 0x00, 0x01, kOld, kOld, kOld)},
        {"20 status", WithId(0x20), with(points(old), kOld, kOld, kOld, kOld, kOld)},
        {"21 memory data", WithId(0x21), with(points(old), kOld, kOld, kOld, kOld, kOld)},
        {"22 acknowledge", WithId(0x22), with(points(old), kOld, kOld, kOld, kOld, kOld)},
        {"40 not a data report", WithId(0x40), with(points(old), kOld, kOld, kOld, kOld, kOld)},
    };
    for (const DecodeCase& c : cases) {
        FillState();
        DecodeRemoteReport(c.report.data());
        EXPECT_EQ(ReadState(), c.expected) << c.what;
    }
}

TEST(DecodeRemoteReport, PointsUseTheHighBitsOfTheThirdByte) {
    struct Case {
        uint8_t b0, b1, b2;
        int x, y;
    } const cases[] = {
        {0xFF, 0xFF, 0xFF, 1023, 1023},  // unseen
        {0x12, 0x34, 0x5A, 274, 308},
        {0x00, 0x00, 0x00, 0, 0},
        {0x00, 0x00, 0x0F, 0, 0},       // size bits are not position
        {0xFF, 0xFF, 0x30, 1023, 255},
        {0xFF, 0xFF, 0xC0, 255, 1023},
    };
    for (const Case& c : cases) {
        uint8_t report[18] = {0x33};
        report[6] = c.b0, report[7] = c.b1, report[8] = c.b2;
        DecodeRemoteReport(report);
        EXPECT_EQ(RemoteState.ir[0].x, c.x) << std::hex << int{c.b2};
        EXPECT_EQ(RemoteState.ir[0].y, c.y) << std::hex << int{c.b2};
    }
}

// The commands as the remote receives them, through the channel.
class Commands : public testing::Test {
protected:
    void SetUp() override {
        SimUseScenario(Scenario{});
        deviceHandle = OpenHidHandle(0x057E, 0x0306);
        ASSERT_GE(deviceHandle, 0);
    }
    void TearDown() override {
        CloseHidHandle(deviceHandle);
        deviceHandle = -1;
    }
    static std::vector<std::vector<uint8_t>> Received() {
        std::vector<std::vector<uint8_t>> out;
        for (const SimOutput& o : SimOutputs())
            if (!o.close) out.push_back(o.bytes);
        return out;
    }
};

TEST_F(Commands, SendTheirBytes) {
    SetLeds(0x10);
    SetReportingMode(0x00, 0x33);
    SetIrCameraEnable(0x04);
    SetIrCameraEnable2(0x04);
    SetButtonsOnlyMode();
    SetButtonsAccelMode();
    const std::vector<std::vector<uint8_t>> expected = {
        {0x11, 0x10}, {0x12, 0x00, 0x33}, {0x13, 0x04}, {0x1A, 0x04},
        {0x12, 0x00, 0x30}, {0x12, 0x00, 0x31},
    };
    EXPECT_EQ(Received(), expected);
}

TEST_F(Commands, WriteRegistersSendsSizeAsDataCountAndAllSixteenPositions) {
    uint8_t block[17];
    for (int i = 0; i < 17; ++i) block[i] = static_cast<uint8_t>(0xA0 + i);
    block[0] = 0x30;
    block[1] = 0x01;
    WriteRegisters(0xB0, 2, block);
    std::vector<uint8_t> expected = {0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01};
    expected.insert(expected.end(), block + 1, block + 17);
    ASSERT_EQ(Received().size(), 1u);
    EXPECT_EQ(Received()[0], expected);
}

TEST_F(Commands, AReportBehindALongerOneKeepsItsStaleBytesInTheBuffer) {
    uint8_t block[17] = {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    WriteRegisters(0xB0, 17, block);
    SetReportingMode(0x00, 0x33);
    // Only the report's own length leaves; the rest of the buffer is as it was.
    EXPECT_EQ(Received().back(), (std::vector<uint8_t>{0x12, 0x00, 0x33}));
    EXPECT_EQ(outputReport[3], 0xFF);
    EXPECT_EQ(outputReport[5], 16);
}

TEST(ReadRemoteReport, AFailedReadDecodesTheBufferAsItStands) {
    deviceHandle = -1;  // nothing open: the read fails at once
    FillState();
    const uint8_t left[] = {0x31, 0x00, 0x80, 0x10, 0x20, 0x30};
    std::memcpy(inputReport, left, sizeof left);
    ReadRemoteReport();
    EXPECT_EQ(RemoteState.buttons2, 0x80);
    EXPECT_EQ(RemoteState.accelX, 0x10);
    EXPECT_EQ(RemoteState.ir[0].x, kOldPoint);
}

}  // namespace
