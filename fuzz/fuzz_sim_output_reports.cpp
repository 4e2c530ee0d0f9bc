// Arbitrary output reports to the simulated remote: any identifier, any
// length, register writes (16) with any size byte, mode changes (12) with any
// mode. After each write the remote's input reports may be read, never
// waiting.
//
// Input: byte 0 picks the scenario (idle, still or demo) and the report rate;
// then a run of writes, each a header byte and up to 63 bytes after it.
// Header bits 0-5: the write's length (0-63). Bit 6: write as the channel does,
// ReportLength(identifier) bytes of a zeroed buffer holding those bytes. Bit
// 7: afterwards read every report the remote has queued.
//
// Checked: a write of fewer than two bytes is refused and any other accepted
// whole; the remote records exactly the accepted writes, in order; every
// input report is one the remote sends (20, 21, 22 or a data report) at that
// report's length, at most 22 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "remote/hid_backend.h"
#include "remote/hid_channel.h"
#include "sim/sim_remote.h"

namespace {

constexpr int kReportRates[3] = {1, 100, 1000};
constexpr int kMostReadsAtOnce = 200;  // well above the remote's queue of 64

// Idle (no events), four points held still, or the demo's moving points.
Scenario PickScenario(uint8_t choice) {
    Scenario scenario;
    if (choice % 3 == 1) BuiltInScenario("still", &scenario);
    if (choice % 3 == 2) BuiltInScenario("demo", &scenario);
    scenario.rate = kReportRates[choice / 3 % 3];
    return scenario;
}

void CheckInputReport(const uint8_t* report, int length) {
    FUZZ_CHECK(length >= 1 && length <= 22);
    switch (report[0]) {
    case 0x20:  // BB BB LF 00 00 VV, LF: battery low, extension, camera on, the LEDs
        FUZZ_CHECK(length == 7);
        FUZZ_CHECK((report[3] & 0x04) == 0 && report[4] == 0 && report[5] == 0);
        break;
    case 0x21:  // BB BB SE AH AL d0..d15: E 0, or 7 (no such peripheral)
        FUZZ_CHECK(length == 22);
        FUZZ_CHECK((report[3] & 0x0F) == 0x00 || (report[3] & 0x0F) == 0x07);
        break;
    case 0x22:  // BB BB RR EE: EE 00 or 07 (camera not enabled, or no extension)
        FUZZ_CHECK(length == 5);
        FUZZ_CHECK(report[4] == 0x00 || report[4] == 0x07);
        break;
    case 0x30:
        FUZZ_CHECK(length == 3);
        break;
    case 0x31:
        FUZZ_CHECK(length == 6);
        break;
    case 0x32:
        FUZZ_CHECK(length == 11);
        break;
    case 0x33:  // BB BB AX AY AZ + 12 IR bytes, in whichever format the camera was set to
        FUZZ_CHECK(length == 18);
        break;
    case 0x34: case 0x35: case 0x36: case 0x37: case 0x3D:
        FUZZ_CHECK(length == 22);
        break;
    default:
        FUZZ_CHECK(!"an input report the remote never sends");
    }
}

void ReadQueued(BackendDevice* device) {
    uint8_t buffer[kReportBufferSize];
    for (int i = 0; i < kMostReadsAtOnce; ++i) {
        const int got = BackendRead(device, buffer, sizeof buffer, 0);
        FUZZ_CHECK(got >= 0);
        if (got == 0) return;
        CheckInputReport(buffer, got);
    }
    FUZZ_CHECK(!"the remote keeps more reports than its queue holds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    SimUseScenario(PickScenario(data[0]));
    BackendDevice* device = BackendOpen(0x057E, 0x0306, 0, nullptr);
    FUZZ_CHECK(device != nullptr);

    std::vector<std::vector<uint8_t>> accepted;
    std::size_t at = 1;
    while (at < size) {
        const uint8_t header = data[at++];
        const std::size_t given = std::min<std::size_t>(header & 0x3F, size - at);
        std::vector<uint8_t> report(data + at, data + at + given);
        at += given;
        if (header & 0x40) {
            uint8_t buffer[kReportBufferSize] = {};
            std::copy(report.begin(), report.end(), buffer);
            report.assign(buffer, buffer + ReportLength(buffer[0]));
        }
        const int written = BackendWrite(device, report.data(), report.size());
        if (report.size() < 2) {
            FUZZ_CHECK(written == -1);
        } else {
            FUZZ_CHECK(written == static_cast<int>(report.size()));
            accepted.push_back(report);
        }
        if (header & 0x80) ReadQueued(device);
    }
    ReadQueued(device);

    const std::vector<SimOutput> outputs = SimOutputs();
    FUZZ_CHECK(outputs.size() == accepted.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        FUZZ_CHECK(!outputs[i].close && outputs[i].bytes == accepted[i]);
        FUZZ_CHECK(outputs[i].ms >= 0 && (i == 0 || outputs[i - 1].ms <= outputs[i].ms));
    }
    BackendClose(device);
    return 0;
}
