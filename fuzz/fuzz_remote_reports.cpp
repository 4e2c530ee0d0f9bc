// Arbitrary input reports, of any length, through the channel and the
// decoder: the simulated remote sends the fuzzer's bytes (SimInjectReport) and
// ReadRemoteReport takes each one in.
//
// Input: a run of reports, each a header byte and up to 31 bytes after it.
// Header bits 0-4: the report's length (0-31; the remote cuts it at 22).
// Bit 7: first read every report sent so far. Whatever is left is read at the
// end, so the remote's queue is empty between inputs.
//
// After each read: the read buffer holds the report's bytes and, past them,
// what was there before; a data report is decoded from that buffer as it
// stands, any other report leaves RemoteState alone; every IR coordinate
// stays within 0-1023. Data reports are 0x30-0x37 and 0x3D-0x3F: all but 0x3D
// carry the buttons, the odd ones up to 0x37 the accelerometer, and only 0x33
// the twelve IR bytes in the format the camera set-up selects.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "remote/hid_channel.h"
#include "remote/remote_reports.h"
#include "sim/sim_remote.h"

namespace {

constexpr std::size_t kLongestInputReport = 22;
constexpr std::size_t kQueueLimit = 64;  // unread reports the remote keeps

struct Snapshot {
    uint8_t buttons1, buttons2, accelX, accelY, accelZ;
    int32_t x[4], y[4];
    bool operator==(const Snapshot&) const = default;
};

Snapshot TakeSnapshot() {
    Snapshot s{};
    s.buttons1 = RemoteState.buttons1.load();
    s.buttons2 = RemoteState.buttons2.load();
    s.accelX = RemoteState.accelX.load();
    s.accelY = RemoteState.accelY.load();
    s.accelZ = RemoteState.accelZ.load();
    for (int k = 0; k < 4; ++k) {
        s.x[k] = RemoteState.ir[k].x.load();
        s.y[k] = RemoteState.ir[k].y.load();
    }
    return s;
}

// An idle remote in mode 30 sends nothing unasked: its queue holds exactly
// the injected reports. Opened once; every input leaves it with none unread.
bool OpenRemote() {
    SimUseScenario(Scenario{});
    deviceHandle.store(OpenHidHandle(0x057E, 0x0306));
    return deviceHandle.load() >= 0;
}

// What inputReport should hold: each read overwrites the report's own bytes.
uint8_t expectedBuffer[kReportBufferSize];

void ReadOne(const std::vector<uint8_t>& report) {
    const Snapshot before = TakeSnapshot();
    ReadRemoteReport();
    std::copy(report.begin(), report.end(), expectedBuffer);
    FUZZ_CHECK(std::memcmp(inputReport, expectedBuffer, sizeof expectedBuffer) == 0);

    const Snapshot after = TakeSnapshot();
    const uint8_t* b = expectedBuffer;
    const uint8_t id = b[0];
    if (id < 0x30 || (id > 0x37 && id < 0x3D) || id > 0x3F) {
        FUZZ_CHECK(after == before);
        return;
    }
    if (id == 0x3D) {
        FUZZ_CHECK(after.buttons1 == before.buttons1 && after.buttons2 == before.buttons2);
    } else {
        FUZZ_CHECK(after.buttons1 == b[1] && after.buttons2 == b[2]);
    }
    if (id <= 0x37 && (id & 0x01)) {
        FUZZ_CHECK(after.accelX == b[3] && after.accelY == b[4] && after.accelZ == b[5]);
    } else {
        FUZZ_CHECK(after.accelX == before.accelX && after.accelY == before.accelY &&
                   after.accelZ == before.accelZ);
    }
    for (int k = 0; k < 4; ++k) {
        FUZZ_CHECK(after.x[k] >= 0 && after.x[k] <= 1023);
        FUZZ_CHECK(after.y[k] >= 0 && after.y[k] <= 1023);
        if (id != 0x33) {
            FUZZ_CHECK(after.x[k] == before.x[k] && after.y[k] == before.y[k]);
            continue;
        }
        // x y (y9 y8 x9 x8 s3 s2 s1 s0)
        const uint8_t* point = &b[6 + 3 * k];
        FUZZ_CHECK((after.x[k] & 0xFF) == point[0] && (after.x[k] >> 8) == ((point[2] >> 4) & 3));
        FUZZ_CHECK((after.y[k] & 0xFF) == point[1] && (after.y[k] >> 8) == (point[2] >> 6));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const bool opened = OpenRemote();
    FUZZ_CHECK(opened);

    // Reports the remote has queued and the channel has not read yet. An empty
    // report is no report: the remote sends nothing for it.
    std::deque<std::vector<uint8_t>> unread;
    auto ReadAll = [&unread] {
        for (; !unread.empty(); unread.pop_front()) ReadOne(unread.front());
    };
    std::size_t at = 0;
    while (at < size) {
        const uint8_t header = data[at++];
        const std::size_t length = std::min<std::size_t>(header & 0x1F, size - at);
        const uint8_t* bytes = data + at;
        at += length;
        if (header & 0x80) ReadAll();
        SimInjectReport(bytes, length);
        if (length > 0 && unread.size() < kQueueLimit) {
            unread.emplace_back(bytes, bytes + std::min(length, kLongestInputReport));
        }
    }
    ReadAll();
    return 0;
}
