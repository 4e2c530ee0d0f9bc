// Inputs the fuzzers (fuzz/) broke the code with, replayed on what they
// broke.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "remote/hid_backend.h"
#include "sim/sim_remote.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> EmptiesThen(std::size_t empties, const Bytes& report) {
    std::vector<Bytes> reports(empties);
    reports.push_back(report);
    return reports;
}

// fuzz_remote_reports: empty injected reports before a real one. Each empty
// one took a slot in the remote's queue and read back as "nothing came in
// time"; with the queue full of them the real report was dropped, and the
// channel's read waiting for it never returned.
TEST(FuzzRegression, EmptyInputReportsAreNoReports) {
    const Bytes kSixteen = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<Bytes> kInjected[] = {
        EmptiesThen(1, {0x30, 0x00, 0x00}),
        EmptiesThen(64, {0x30}),
        EmptiesThen(64, kSixteen),
    };
    for (const std::vector<Bytes>& injected : kInjected) {
        SCOPED_TRACE(injected.size());
        SimUseScenario(Scenario{});
        BackendDevice* device = BackendOpen(0x057E, 0x0306, 0, nullptr);
        ASSERT_NE(device, nullptr);
        for (const Bytes& report : injected) SimInjectReport(report.data(), report.size());
        uint8_t buffer[64];
        const int got = BackendRead(device, buffer, sizeof buffer, 0);
        EXPECT_EQ(Bytes(buffer, buffer + std::max(got, 0)), injected.back());
        EXPECT_EQ(BackendRead(device, buffer, sizeof buffer, 0), 0);
        BackendClose(device);
    }
}

}  // namespace
