#include "remote/ir_setup.h"

#include <cstdint>

#include "control/spin_delay.h"
#include "remote/remote_reports.h"

namespace {

// Sensitivity: the first range's bytes 6 and 8 (registers 0x06 and 0x08) and
// the second range's bytes 0 and 1 (registers 0x1A and 0x1B).
constexpr uint8_t kFirstRangeByte6 = 0xC8;
constexpr uint8_t kFirstRangeByte8 = 0x36;
constexpr uint8_t kSecondRangeByte0 = 0x35;
constexpr uint8_t kSecondRangeByte1 = 0x03;

enum class Step { Enable, Enable2, Registers, Mode };

struct ScriptStep {
    Step step;
    uint8_t value;       // Enable, Enable2: the value; Mode: the mode
    int count;           // Registers: offset + data bytes
    uint8_t block[17];   // Registers: offset, then data
    int waitMs;          // spin after the command, 0 for none
};

// 13 04 | 1A 04 | 0x30 = 01 | 0x00.. first range | 0x07.. rest of it |
// 0x1A.. second range | 0x33 = 3 (3-byte points) | 0x30 = 08 | 12 00 33
constexpr ScriptStep kScript[] = {
    {Step::Enable, 0x04, 0, {}, 10},
    {Step::Enable2, 0x04, 0, {}, 0},
    {Step::Registers, 0, 2, {0x30, 0x01}, 10},
    {Step::Registers, 0, 8, {0x00, 0x02, 0x00, 0x00, 0x71, 0x01, 0x00, kFirstRangeByte6}, 10},
    {Step::Registers, 0, 3, {0x07, 0x00, kFirstRangeByte8}, 10},
    {Step::Registers, 0, 3, {0x1A, kSecondRangeByte0, kSecondRangeByte1}, 10},
    {Step::Registers, 0, 2, {0x33, 0x03}, 10},
    {Step::Registers, 0, 2, {0x30, 0x08}, 10},
    {Step::Mode, kReportButtonsAccelIr, 0, {}, 0},
};

constexpr uint8_t kCameraRegisters = 0xB0;

}  // namespace

void SetUpIrCamera() {
    // One block for every register write: data positions past a write's size
    // keep what the previous, longer write left.
    uint8_t block[17] = {};
    for (const ScriptStep& s : kScript) {
        switch (s.step) {
        case Step::Enable:
            SetIrCameraEnable(s.value);
            break;
        case Step::Enable2:
            SetIrCameraEnable2(s.value);
            break;
        case Step::Registers:
            for (int i = 0; i < s.count; ++i) block[i] = s.block[i];
            WriteRegisters(kCameraRegisters, s.count, block);
            break;
        case Step::Mode:
            SetReportingMode(0x00, s.value);
            break;
        }
        if (s.waitMs > 0) SpinDelay(s.waitMs);
    }
}
