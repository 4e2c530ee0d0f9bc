// The remote's memory and peripheral registers as far as programs on a real
// system touch them: the camera's registers, the identifier an extension (or
// the Plus's built-in Motion Plus) answers with, and the remote's error 7 for
// a peripheral that is not there. Called with the remote's lock held.
#include <algorithm>
#include <cstring>

#include "sim/sim_state.h"

namespace sim {
namespace {

// What a peripheral answers at offsets FA-FF: its identifier.
constexpr uint8_t kIdentifierOffset = 0xFA;
constexpr uint8_t kNunchukIdentifier[6] = {0x00, 0x00, 0xA4, 0x20, 0x00, 0x00};
constexpr uint8_t kMotionPlusIdentifier[6] = {0x00, 0x00, 0xA6, 0x20, 0x00, 0x05};

enum class Peripheral { Memory, Camera, Extension, MotionPlus, Other };

// SS AH: space 0x04 are the peripherals' registers, chosen by AH; the rest
// is the remote's own memory.
Peripheral PeripheralAt(uint8_t space, uint8_t addressHigh) {
    if ((space & kSim.spaceRegisters) == 0) return Peripheral::Memory;
    if (addressHigh == kSim.cameraAddressHigh) return Peripheral::Camera;
    if (addressHigh == kSim.extensionAddressHigh) return Peripheral::Extension;
    if (addressHigh == kSim.motionPlusAddressHigh) return Peripheral::MotionPlus;
    return Peripheral::Other;
}

// Whether the peripheral answers at all: the camera once enabled twice, an
// extension while plugged in, the Motion Plus only inside a Plus.
bool Answers(const SimState& sim, Peripheral peripheral) {
    switch (peripheral) {
    case Peripheral::Camera:
        return sim.cameraEnabled && sim.cameraEnabled2;
    case Peripheral::Extension:
        return sim.extension;
    case Peripheral::MotionPlus:
        return sim.scenario.product == kSim.productPlus;
    case Peripheral::Memory:
    case Peripheral::Other:
        return true;
    }
    return true;
}

// One register's value; the camera keeps what was written, a peripheral
// gives its identifier, everything else reads as zero.
uint8_t ReadRegister(const SimState& sim, Peripheral peripheral, uint8_t offset) {
    if (peripheral == Peripheral::Camera) return sim.cameraRegisters[offset];
    if (offset < kIdentifierOffset) return 0x00;
    if (peripheral == Peripheral::Extension) return kNunchukIdentifier[offset - kIdentifierOffset];
    if (peripheral == Peripheral::MotionPlus) return kMotionPlusIdentifier[offset - kIdentifierOffset];
    return 0x00;
}

}  // namespace

bool IsCameraOn(const SimState& sim) {
    const uint8_t format = sim.cameraRegisters[kSim.cameraFormat];
    return sim.cameraEnabled && sim.cameraEnabled2 &&
           sim.cameraRegisters[kSim.cameraControl] == kSim.cameraReady &&
           (format == kSim.formatBasic || format == kSim.formatExtended);
}

// 16 SS AH AM AL size d0..d15. The camera keeps what it is sent, by AL;
// other peripherals that answer take their writes without keeping them.
uint8_t WriteRegisters(SimState& sim, const uint8_t* report, std::size_t length) {
    if (length < 6) return kSim.errorNone;
    const Peripheral peripheral = PeripheralAt(report[1], report[2]);
    if (!Answers(sim, peripheral)) return kSim.errorNoAnswer;
    if (peripheral != Peripheral::Camera) return kSim.errorNone;
    const std::size_t size = report[5];
    if (size == 0 || size > kSim.maxWriteData) return kSim.errorNone;
    const std::size_t available = std::min(size, length - 6);
    for (std::size_t i = 0; i < available; ++i) {
        sim.cameraRegisters[static_cast<uint8_t>(report[4] + i)] = report[6 + i];
    }
    return kSim.errorNone;
}

// 17 SS AH AM AL SH SL, answered by 21 BB BB SE AM AL d0..d15 reports of up
// to 16 bytes each (S: bytes in this one - 1, E: error), AM AL counting on;
// a peripheral that does not answer gives one report with error 7.
void AnswerRegisterRead(SimState& sim, const uint8_t* report, std::size_t length) {
    if (length < 7 || sim.scenario.recorded) return;
    const Peripheral peripheral = PeripheralAt(report[1], report[2]);
    const bool answers = Answers(sim, peripheral);
    unsigned address = static_cast<unsigned>(report[3]) << 8 | report[4];
    std::size_t left = static_cast<std::size_t>(report[5]) << 8 | report[6];
    // More than the reader's queue can hold would only be dropped.
    for (std::size_t sent = 0; left > 0 && sent < kSim.queueLimit; ++sent) {
        const std::size_t size = std::min(left, kSim.maxWriteData);
        uint8_t answer[kSim.maxInputLength] = {kSim.idReadData, sim.buttons[0], sim.buttons[1]};
        answer[3] = static_cast<uint8_t>((size - 1) << 4 | (answers ? kSim.errorNone : kSim.errorNoAnswer));
        answer[4] = static_cast<uint8_t>(address >> 8);
        answer[5] = static_cast<uint8_t>(address);
        for (std::size_t i = 0; answers && i < size; ++i) {
            answer[6 + i] = ReadRegister(sim, peripheral, static_cast<uint8_t>(address + i));
        }
        EnqueueReport(sim, answer, sizeof answer);
        if (!answers) return;
        address = (address + size) & 0xFFFF;
        left -= size;
    }
}

}  // namespace sim
