// The Windows HID backend over a fake of its device calls: which interface it
// opens, how it names one that does not open, how its reads and writes meet
// the overlapped calls, the write form each stack takes, and the bounded
// waits that never leave the system writing into freed memory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "remote/hid_backend.h"
#include "remote/hid_channel.h"
#include "tests/fake_win32_hid.h"

// A record of the wire as gtest shows it: "WriteFile 12 00 31".
void PrintTo(const FakeWinHidWrite& write, std::ostream* out) {
    *out << (write.control ? "IOCTL_HID_SET_OUTPUT_REPORT" : "WriteFile") << std::hex;
    for (const uint8_t byte : write.bytes) *out << ' ' << (byte >> 4) << (byte & 0xF);
}

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const char kRemotePath[] = R"(\\?\hid#{00001124-0000-1000-8000-00805f9b34fb}_vid&0002057e_pid&0306#8&1&0000)";
const char kMousePath[] = R"(\\?\hid#wine_mouse#1&0000)";
const char kKeyboardPath[] = R"(\\?\hid#wine_keyboard#1&0000)";

const Bytes kReport = {0x33, 0x00, 0x80, 0x81, 0x82, 0x9A, 0x12, 0x34, 0x5A};
const Bytes kMode = {0x12, 0x00, 0x31};
// 16 04 B0 00 30 01 08: the camera's register 0x30 = 08, zeros to 22 bytes
const Bytes kRegisterWrite = [] {
    Bytes b = {0x16, 0x04, 0xB0, 0x00, 0x30, 0x01, 0x08};
    b.resize(22);
    return b;
}();
Bytes Padded(Bytes b) {
    b.resize(22);
    return b;
}

// An adapter's slot with no remote in it.
FakeWinHidDevice EmptySlot(std::string path) {
    return {std::move(path), 0x057E, 0x0306, 0, 22, 22, WriteStack::Fails, true};
}

int Write(BackendDevice* device, const Bytes& report) {
    return BackendWrite(device, report.data(), report.size());
}

class WinHidBackend : public testing::Test {
protected:
    void SetUp() override { ResetFakeWinHid(); }
    void TearDown() override {
        Close();
        CloseHidHandle(handle);
        EndLateCancels();
        // Every probe handle closed, every device list destroyed, and no
        // memory of a running operation freed or reused.
        EXPECT_EQ(TheFakeWinHid().attributeHandlesOpen, 0);
        EXPECT_EQ(TheFakeWinHid().listsOpen, 0);
        EXPECT_EQ(TheFakeWinHid().misuses, std::vector<std::string>{});
    }
    BackendDevice* OpenBackend(int index = 0) {
        device = BackendOpen(0x057E, 0x0306, index, &failure);
        return device;
    }
    void Close() {
        if (device != nullptr) BackendClose(device);
        device = nullptr;
    }
    BackendOpenFailure failure{};
    BackendDevice* device = nullptr;
    int32_t handle = -1;
};

// Wine's own virtual mouse and keyboard (and, on Windows, any keyboard or
// mouse) refuse read/write opens: only the remote is opened that way.
TEST_F(WinHidBackend, OpensOnlyTheRemoteForReadingAndWriting) {
    TheFakeWinHid().devices = {{kMousePath, 0x845E, 0x0001, ERROR_ACCESS_DENIED},
                               {kKeyboardPath, 0x845E, 0x0002, ERROR_ACCESS_DENIED},
                               {kRemotePath}};
    CaptureStderr();
    handle = OpenHidHandle(0x057E, 0x0306);
    EXPECT_GE(handle, 0);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_STREQ(LastOpenFailure(), "");
    EXPECT_EQ(TheFakeWinHid().readWriteOpens, std::vector<std::string>{kRemotePath});
}

TEST_F(WinHidBackend, FindsNothingAmongOtherDevices) {
    TheFakeWinHid().devices = {{kMousePath, 0x845E, 0x0001}, {kRemotePath, 0x057E, 0x0330}};
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1);
    EXPECT_STREQ(LastOpenFailure(), "");
    EXPECT_TRUE(TheFakeWinHid().readWriteOpens.empty());
}

// The first matching interface that opens is used; one that does not is
// named with the system's reason only when none opens.
TEST_F(WinHidBackend, NamesARemoteThatDoesNotOpenWithTheSystemsReason) {
    TheFakeWinHid().devices = {{kRemotePath, 0x057E, 0x0306, ERROR_SHARING_VIOLATION}};
    EXPECT_EQ(OpenHidHandle(0x057E, 0x0306), -1);
    const std::string said = LastOpenFailure();
    EXPECT_EQ(said.find(std::string("Tavolen cannot open the Wii-Remote at ") + kRemotePath + ": "),
              0u) << said;
    // The system's own words for the error (they differ between Windows and
    // Wine), without their full stop and line break.
    char reason[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_SHARING_VIOLATION, 0, reason, sizeof reason, nullptr);
    const std::string words(reason, std::strcspn(reason, ".\r\n"));
    ASSERT_FALSE(words.empty());
    EXPECT_NE(said.find(": " + words + ". "), std::string::npos) << said;
    EXPECT_EQ(said.find(".."), std::string::npos) << said;
    EXPECT_EQ(said.find("udev"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos) << said;
    EXPECT_EQ(said.find('\r'), std::string::npos) << said;

    TheFakeWinHid().devices.push_back({std::string(kRemotePath) + "-second"});
    handle = OpenHidHandle(0x057E, 0x0306);
    EXPECT_GE(handle, 0);
    EXPECT_STREQ(LastOpenFailure(), "");
}

// One read per case, straight through the backend, with a 50 ms timeout. Only
// the backend's own cancel of a read whose time ran out is "nothing came";
// every other failure is a lost device. A cancel that never ends leaves the
// read's memory with the system, and the device refuses every later call.
TEST_F(WinHidBackend, ReadsKeepEveryReportAndTellTimeoutsFromLosses) {
    struct Case {
        const char* name;
        std::vector<FakeWinHidReport> reads;
        bool lost;
        int cancelDelayMs;
        int result;
        int cancels;
        int writeAfter;  // what a write of 12 00 31 gets afterwards
    } const cases[] = {
        {"waiting report", {{Arrival::Waiting, kReport}}, false, 0, 9, 0, 3},
        {"nothing comes", {}, false, 0, 0, 1, 3},
        {"report lands as the read is cancelled", {{Arrival::AtCancel, kReport}}, false, 0, 9, 1, 3},
        {"cancel ends 100 ms late", {}, false, 100, 0, 1, 3},
        {"device gone", {}, true, 0, -1, 0, 3},
        {"read fails", {{Arrival::Fails, {}, ERROR_DEVICE_NOT_CONNECTED}}, false, 0, -1, 0, 3},
        {"read aborted, not by the backend", {{Arrival::Fails, {}, ERROR_OPERATION_ABORTED}}, false, 0, -1, 0, 3},
        {"cancel never ends", {}, false, -1, -1, 1, -1},
    };
    for (const Case& c : cases) {
        ResetFakeWinHid();
        TheFakeWinHid().devices = {{kRemotePath}};
        ASSERT_NE(OpenBackend(), nullptr) << c.name;
        TheFakeWinHid().reads.assign(c.reads.begin(), c.reads.end());
        TheFakeWinHid().lost = c.lost;
        TheFakeWinHid().cancelDelayMs = c.cancelDelayMs;
        uint8_t buffer[kReportBufferSize] = {};
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(BackendRead(device, buffer, sizeof buffer, 50), c.result) << c.name;
        const Clock::duration took = Clock::now() - start;
        if (c.result > 0) {
            EXPECT_EQ(Bytes(buffer, buffer + c.result), kReport) << c.name;
        }
        if (c.cancels > 0) {
            EXPECT_GE(took, std::chrono::milliseconds(45)) << c.name;
        }
        EXPECT_LT(took, std::chrono::seconds(2)) << c.name;
        EXPECT_EQ(TheFakeWinHid().cancels, c.cancels) << c.name;
        EXPECT_EQ(Write(device, kMode), c.writeAfter) << c.name;
        Close();
        EXPECT_EQ(TheFakeWinHid().deviceCloses, 1) << c.name;
        EndLateCancels();
        EXPECT_EQ(TheFakeWinHid().misuses, std::vector<std::string>{}) << c.name;
    }
}

// Two writes on each kind of stack: the bytes that reach the remote, the call
// that carried them, and the form kept. WriteFile first carries the report's
// own length; only a refusal (ERROR_INVALID_USER_BUFFER) moves on to the
// padded report, then to the control channel; any other failure ends there.
// A form that never ends is given up after its 1 s: not delivered (-2).
TEST_F(WinHidBackend, EachStackGetsTheFirstWriteFormItTakesAndKeepsIt) {
    struct Case {
        const char* name;
        WriteStack stack;
        bool setOutputReportFails;
        std::vector<Bytes> reports;
        std::vector<int> results;
        std::vector<FakeWinHidWrite> wire;
        const char* form;
        int writeFileCalls;
        bool setOutputReportNeverEnds = false;
    } const cases[] = {
        {"sends any length", WriteStack::SendsAnyLength, false, {kMode, kRegisterWrite}, {3, 22},
         {{kMode}, {kRegisterWrite}}, "exact", 2},
        {"refuses short buffers", WriteStack::RefusesShort, false, {kMode, kRegisterWrite}, {3, 22},
         {{Padded(kMode)}, {kRegisterWrite}}, "padded", 3},
        {"a full-length report first settles nothing", WriteStack::RefusesShort, false,
         {kRegisterWrite, kMode}, {22, 3}, {{kRegisterWrite}, {Padded(kMode)}}, "padded", 3},
        {"refuses every WriteFile", WriteStack::RefusesAll, false, {kMode, kRegisterWrite}, {3, 22},
         {{Padded(kMode), true}, {kRegisterWrite, true}}, "control", 2},
        {"refuses every form", WriteStack::RefusesAll, true, {kMode, kRegisterWrite}, {-1, -1},
         {}, "", 3},
        {"send fails: no other form", WriteStack::Fails, false, {kMode, kRegisterWrite}, {-1, -1},
         {}, "", 2},
        {"the control channel never ends", WriteStack::RefusesAll, false, {kMode, kMode}, {-2, -2}, {}, "", 4, true},
    };
    for (const Case& c : cases) {
        ResetFakeWinHid();
        TheFakeWinHid().devices = {{kRemotePath, 0x057E, 0x0306, 0, 22, 22, c.stack}};
        TheFakeWinHid().setOutputReportFails = c.setOutputReportFails;
        TheFakeWinHid().setOutputReportNeverEnds = c.setOutputReportNeverEnds;
        ASSERT_NE(OpenBackend(), nullptr) << c.name;
        std::vector<int> results;
        for (const Bytes& report : c.reports) results.push_back(Write(device, report));
        EXPECT_EQ(results, c.results) << c.name;
        EXPECT_EQ(TheFakeWinHid().writes, c.wire) << c.name;
        EXPECT_STREQ(BackendWriteForm(device), c.form) << c.name;
        EXPECT_EQ(TheFakeWinHid().writeFileCalls, c.writeFileCalls) << c.name;
        Close();
    }
}

// A write that has not ended after 1 s is cancelled, and the caller waits at
// most 250 ms more: not delivered (-2). When the cancel outlives that, lost (-1), and the
// write's OVERLAPPED, buffer and event stay alive (the fake reports any of
// them freed or reused while the write runs) until the system ends it; they
// are released by a later open or close once it has.
TEST_F(WinHidBackend, AWriteThatDoesNotEndIsGivenUpWithinItsBoundAndKeepsItsMemory) {
    struct Case {
        const char* name;
        int cancelDelayMs;
        int written;    // what each of two writes gets
        int readAfter;  // a waiting report: lost devices refuse it
        int writeFileCalls;  // after a second write: a lost device makes none
        int endedLate;
    } const cases[] = {
        {"cancel ends at once", 0, -2, 9, 2, 0},
        {"cancel ends 500 ms late", 500, -1, -1, 1, 1},
        {"cancel never ends", -1, -1, -1, 1, 0},
    };
    for (const Case& c : cases) {
        ResetFakeWinHid();
        TheFakeWinHid().devices = {{kRemotePath, 0x057E, 0x0306, 0, 22, 22, WriteStack::NeverEnds}};
        TheFakeWinHid().cancelDelayMs = c.cancelDelayMs;
        ASSERT_NE(OpenBackend(), nullptr) << c.name;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(Write(device, kMode), c.written) << c.name;
        const Clock::duration took = Clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(950)) << c.name;
        EXPECT_LT(took, std::chrono::milliseconds(2750)) << c.name;
        EXPECT_EQ(TheFakeWinHid().cancels, 1) << c.name;
        EXPECT_STREQ(BackendWriteForm(device), "") << c.name;
        TheFakeWinHid().reads = {{Arrival::Waiting, kReport}};
        uint8_t buffer[kReportBufferSize];
        EXPECT_EQ(BackendRead(device, buffer, sizeof buffer, 50), c.readAfter) << c.name;
        EXPECT_EQ(Write(device, kMode), c.written) << c.name;
        EXPECT_EQ(TheFakeWinHid().writeFileCalls, c.writeFileCalls) << c.name;
        Close();
        EndLateCancels();
        ASSERT_NE(OpenBackend(), nullptr) << c.name;
        Close();
        EXPECT_EQ(TheFakeWinHid().endedLate, c.endedLate) << c.name;
        EXPECT_EQ(TheFakeWinHid().releasedAfterLateEnd, c.endedLate) << c.name;
        EXPECT_EQ(TheFakeWinHid().misuses, std::vector<std::string>{}) << c.name;
    }
}

// An adapter shows a HID interface with the remote's identifiers for each of
// its slots; empty slots fail writes and never send. Index n is the n-th
// matching interface that opens, in the system's order.
TEST_F(WinHidBackend, OpensTheIndexthMatchingInterfaceThatOpens) {
    const std::string slot[] = {"adapter#slot1", "adapter#slot2", "adapter#slot3", "adapter#slot4"};
    struct Case {
        int index;
        const char* opened;  // nullptr: none
        int write;           // 12 00 31
        int read;            // with a report waiting for the remote
    } const cases[] = {
        {0, "adapter#slot1", -1, 0},
        {1, "adapter#slot3", 3, 9},
        {2, "adapter#slot4", -1, 0},
        {3, nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        ResetFakeWinHid();
        TheFakeWinHid().devices = {{kMousePath, 0x845E, 0x0001},
                                   EmptySlot(slot[0]),
                                   {slot[1], 0x057E, 0x0306, ERROR_SHARING_VIOLATION},
                                   {slot[2]},
                                   EmptySlot(slot[3])};
        TheFakeWinHid().reads = {{Arrival::Waiting, kReport}};
        OpenBackend(c.index);
        if (c.opened == nullptr) {
            EXPECT_EQ(device, nullptr);
            EXPECT_EQ(failure.node, slot[1]);
            EXPECT_NE(failure.reason[0], '\0');
            continue;
        }
        ASSERT_NE(device, nullptr) << c.index;
        EXPECT_EQ(TheFakeWinHid().readWriteOpens.back(), c.opened) << c.index;
        EXPECT_EQ(failure.node[0], '\0') << c.index;
        EXPECT_EQ(Write(device, kMode), c.write) << c.index;
        uint8_t buffer[kReportBufferSize];
        EXPECT_EQ(BackendRead(device, buffer, sizeof buffer, 50), c.read) << c.index;
        Close();
        EXPECT_EQ(TheFakeWinHid().deviceCloses, c.index + 1) << c.index;
    }
}

TEST_F(WinHidBackend, CloseEndsAWaitingReadAndClosesTheDeviceOnce) {
    TheFakeWinHid().devices = {{kRemotePath}};
    handle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
    int32_t result = 0, got = -5;
    uint8_t buffer[kReportBufferSize];
    std::thread reader([&] { result = ReadReport(handle, buffer, &got); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    CloseHidHandle(handle);
    reader.join();
    CloseHidHandle(handle);
    handle = -1;
    EXPECT_EQ(result, -1);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(TheFakeWinHid().deviceCloses, 1);
    EXPECT_GE(TheFakeWinHid().cancels, 1);
}

// A lost remote is said once; the reader then waits for the close instead of
// reading again.
TEST_F(WinHidBackend, ALostRemoteIsSaidOnceAndRefusesWrites) {
    TheFakeWinHid().devices = {{kRemotePath}};
    TheFakeWinHid().lost = true;
    handle = OpenHidHandle(0x057E, 0x0306);
    ASSERT_GE(handle, 0);
    CaptureStderr();
    int32_t result = 0, got = 0;
    uint8_t buffer[kReportBufferSize];
    std::thread reader([&] { result = ReadReport(handle, buffer, &got); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint8_t mode[kReportBufferSize] = {0x12, 0x00, 0x30};
    int32_t written = 0;
    EXPECT_EQ(WriteReport(handle, mode, &written), -1);
    CloseHidHandle(handle);
    reader.join();
    handle = -1;
    EXPECT_EQ(GetCapturedStderr(), "Wii-Remote disconnected.\n");
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(TheFakeWinHid().writes.empty());
    EXPECT_EQ(TheFakeWinHid().deviceCloses, 1);
}

// Through the channel, writes go one at a time whatever the threads (the fake
// reports an OVERLAPPED or buffer reused while its write runs), nothing follows
// the last report, and a write not delivered in time keeps the remote.
TEST_F(WinHidBackend, WritesGoOneAtATimeAndOnlyAFailureLosesTheRemote) {
    const uint8_t led[kReportBufferSize] = {0x11, 0x10}, putBack[kReportBufferSize] = {0x12, 0x00, 0x30};
    struct Case {
        const char* name;
        WriteStack stack;  // after a first 11 10 went through (none when writers is 2)
        int writers;       // threads that write 11 10 at once
        int result;        // what each of them gets
        int putBack;       // the last report, 12 00 30, once the stack takes writes again
        const char* said;
    } const cases[] = {
        {"two writes at once that never end", WriteStack::NeverEnds, 2, -2, 3, ""},
        {"not delivered after a write went through", WriteStack::NeverEnds, 1, -2, 3, ""},
        {"failed after a write went through", WriteStack::Fails, 1, -1, -1, "Wii-Remote disconnected.\n"},
    };
    for (const Case& c : cases) {
        ResetFakeWinHid();
        TheFakeWinHid().devices = {{kRemotePath}};
        handle = OpenHidHandle(0x057E, 0x0306);
        std::vector<int32_t> results(static_cast<std::size_t>(c.writers)), moved(results.size() + 1);  // a counter each
        if (c.writers == 1) WriteReport(handle, led, &moved.back());
        CaptureStderr();
        TheFakeWinHid().devices[0].stack = c.stack;
        std::vector<std::jthread> writers;
        for (std::size_t i = 0; i < results.size(); ++i) {
            writers.emplace_back([&, i] { results[i] = WriteReport(handle, led, &moved[i]); });
        }
        writers.clear();  // joins them
        TheFakeWinHid().devices[0].stack = WriteStack::SendsAnyLength;
        EXPECT_EQ(WriteLastReport(handle, putBack, &moved.back()), c.putBack) << c.name;
        EXPECT_EQ(WriteReport(handle, led, &moved.back()), -1) << c.name << ": a write after the last";
        CloseHidHandle(handle);
        EXPECT_EQ(GetCapturedStderr(), c.said) << c.name;
        EXPECT_EQ(results, std::vector<int32_t>(results.size(), c.result)) << c.name;
        EXPECT_EQ(TheFakeWinHid().misuses, std::vector<std::string>{}) << c.name;
    }
}

}  // namespace
