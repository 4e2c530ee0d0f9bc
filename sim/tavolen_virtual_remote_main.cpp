// tavolen-virtual-remote: the simulated remote as a HID device of the whole
// system (Linux, /dev/uhid). The kernel's drivers bind to it and any program
// opens it as it would a remote paired over Bluetooth; it plays a script or a
// recording as tavolen-sim does and logs every output report it is sent, by
// a driver or by a program.
//
//   tavolen-virtual-remote [--script FILE | --scenario NAME] [--log FILE] [--bus bluetooth|usb]
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "control/command_line.h"
#include "platform/end_requests.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/standard_streams.h"
#include "platform/threads.h"
#include "platform/virtual_hid.h"
#include "remote/hid_backend.h"
#include "remote/printable_text.h"
#include "sim/sim_log.h"
#include "sim/sim_remote.h"

namespace {

constexpr const char* kProgram = "tavolen-virtual-remote";
constexpr const char* kUsage =
    "usage: tavolen-virtual-remote [--script FILE | --scenario NAME] [--log FILE] [--bus bluetooth|usb]";
constexpr const char* kHelp =
    "usage: tavolen-virtual-remote [--script FILE | --scenario NAME] [--log FILE] [--bus bluetooth|usb]\n"
    "Puts a simulated Wii Remote on this system as a HID device (through /dev/uhid), for\n"
    "the kernel's drivers and every program, until it is stopped or the script disconnects it.\n"
    "  --script FILE    play the events of a scenario script or a recording (see tavolen(1))\n"
    "  --scenario NAME  a built-in scenario: demo (the default), still, silent\n"
    "  --log FILE       write every output report the remote receives to FILE\n"
    "  --bus NAME       bluetooth (the default, as a paired remote) or usb (as an adapter's slot)\n"
    "  --help, --version";

constexpr int kVendorNintendo = 0x057E;
constexpr uint16_t kBusBluetooth = 0x05;
constexpr uint16_t kBusUsb = 0x03;
constexpr uint16_t kProductPlus = 0x0330;

// The report identifiers the remote declares, with their lengths after the
// identifier: outputs first, then inputs.
struct DeclaredReport {
    uint8_t id;
    uint8_t length;
    bool output;
};
constexpr DeclaredReport kDeclaredReports[] = {
    {0x10, 1, true},   {0x11, 1, true},   {0x12, 2, true},   {0x13, 1, true},   {0x14, 1, true},
    {0x15, 1, true},   {0x16, 21, true},  {0x17, 6, true},   {0x18, 21, true},  {0x19, 1, true},
    {0x1A, 1, true},   {0x20, 6, false},  {0x21, 21, false}, {0x22, 4, false},  {0x30, 2, false},
    {0x31, 5, false},  {0x32, 10, false}, {0x33, 17, false}, {0x34, 21, false}, {0x35, 21, false},
    {0x36, 21, false}, {0x37, 21, false}, {0x3D, 21, false}, {0x3E, 21, false}, {0x3F, 21, false},
};

// One vendor-defined collection of 8-bit fields, a report of each
// identifier with its length.
std::vector<uint8_t> BuildReportDescriptor() {
    std::vector<uint8_t> descriptor = {
        0x06, 0x00, 0xFF,  // usage page: vendor defined
        0x09, 0x01,        // usage 1
        0xA1, 0x01,        // collection: application
        0x15, 0x00,        // logical minimum 0
        0x26, 0xFF, 0x00,  // logical maximum 255
        0x75, 0x08,        // report size: 8 bits
    };
    for (const DeclaredReport& report : kDeclaredReports) {
        // report id, report count, usage 1, output or input (data, variable)
        descriptor.insert(descriptor.end(), {0x85, report.id, 0x95, report.length, 0x09, 0x01,
                                             static_cast<uint8_t>(report.output ? 0x91 : 0x81), 0x02});
    }
    descriptor.push_back(0xC0);  // end of the collection
    return descriptor;
}

// A locally administered address of its own, so that two remotes at once
// are two devices to the system.
std::string MakeUniqueAddress() {
    std::random_device random;
    char address[18];
    std::snprintf(address, sizeof address, "02:%02x:%02x:%02x:%02x:%02x", random() & 0xFF, random() & 0xFF,
                  random() & 0xFF, random() & 0xFF, random() & 0xFF);
    return address;
}

const char* logPath = nullptr;
std::FILE* openLog = nullptr;
bool logCreated = false;  // this run made the log: a refusal removes it

// Refused or failed before the device existed: one line, nothing left behind.
[[noreturn]] void Fail(const std::string& what, int code) {
    if (openLog != nullptr && logCreated) RemoveOpenFile(openLog, logPath);
    std::fprintf(stderr, "%s: %s\n", kProgram, MaskControlCharacters(what).c_str());
    EndProcess(code);
}

// The device, once made; read by the end-request thread.
std::atomic<VirtualHid*> virtualHid{nullptr};
// Set by the first request to end (a signal), before the device may exist.
std::atomic<bool> endRequested{false};
// The simulated remote behind the device; set before the sender starts.
BackendDevice* remote = nullptr;
// The sender could not hand a report to the system.
std::atomic<bool> deviceFailed{false};
// Set as the main loop ends: a report the sender then cannot hand over went
// to a device being removed on purpose, not to a failed one.
std::atomic<bool> removing{false};

// On the end-request thread: the main loop ends and destroys the device.
void RequestEnd() {
    endRequested.store(true);
    if (VirtualHid* hid = virtualHid.load()) InterruptVirtualHid(hid);
}

// Hands every report the remote sends to the system, until the remote is
// lost (the script's disconnect) or the device fails.
void SendInputReports() {
    uint8_t report[64];
    VirtualHid* hid = virtualHid.load();
    for (;;) {
        const int got = BackendRead(remote, report, sizeof report, -1);
        if (got < 0) break;
        if (got > 0 && !WriteVirtualHidInput(hid, report, static_cast<std::size_t>(got))) {
            if (!removing.load()) deviceFailed.store(true);
            break;
        }
    }
    InterruptVirtualHid(hid);
}

}  // namespace

int main(int argc, char** argv) {
    StartProgram(kProgram, &argc, &argv);
    KeepStandardStreamsOpen();
    WatchForEndRequests(RequestEnd);  // first: before any other thread
    if (argc == 2) AnswerHelpOrVersion(argv[1], kProgram, kHelp);
    const char* script = nullptr;
    const char* scenarioName = nullptr;
    const char* bus = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const char** target = option == "--script"     ? &script
                              : option == "--scenario" ? &scenarioName
                              : option == "--log"      ? &logPath
                              : option == "--bus"      ? &bus
                                                       : nullptr;
        if (target == nullptr) Fail("unknown option " + QuoteForMessage(option) + "; " + kUsage, 2);
        if (i + 1 >= argc) Fail(std::string(option) + " needs a value; " + kUsage, 2);
        if (*target != nullptr) Fail(std::string(option) + " given twice; " + kUsage, 2);
        *target = argv[++i];
    }
    if (script != nullptr && scenarioName != nullptr) {
        Fail(std::string("--script and --scenario exclude each other; ") + kUsage, 2);
    }
    const std::string_view busName = bus != nullptr ? bus : "bluetooth";
    if (busName != "bluetooth" && busName != "usb") Fail("--bus is bluetooth or usb, not " + QuoteForMessage(busName), 2);

    Scenario scenario;
    std::FILE* openScript = nullptr;  // until the log is compared with it
    std::string problem;
    if (script != nullptr) {
        if (!LoadScenarioFile(script, &scenario, &problem, &openScript)) Fail(problem, 2);
    } else if (!BuiltInScenario(scenarioName != nullptr ? scenarioName : "demo", &scenario)) {
        Fail("unknown scenario " + QuoteForMessage(scenarioName) + " (demo, silent, still)", 2);
    }
    // A device of the system is there and may be opened by whoever the
    // system lets; one remote, not an adapter's slots.
    if (scenario.absent || scenario.denied || scenario.adapterSlots > 0) {
        Fail(std::string("a virtual remote is always there, alone and open to whom the system allows: ") +
                 (scenario.absent ? "absent" : scenario.denied ? "denied" : "adapter") + " cannot be played",
             2);
    }
    if (logPath != nullptr) {
        openLog = OpenSimLog(logPath, openScript, FileIdentity{}, &logCreated, &problem);
        if (openLog == nullptr) Fail(problem, 2);
        SimUseLog(openLog, logPath);
    }
    if (openScript != nullptr) std::fclose(openScript);

    const std::vector<uint8_t> descriptor = BuildReportDescriptor();
    const std::string address = MakeUniqueAddress();
    VirtualHidIdentity identity;
    identity.bus = busName == "usb" ? kBusUsb : kBusBluetooth;
    identity.vendor = kVendorNintendo;
    identity.product = scenario.product;
    identity.name = scenario.product == kProductPlus ? "Nintendo RVL-CNT-01-TR" : "Nintendo RVL-CNT-01";
    identity.uniq = address.c_str();
    identity.descriptor = descriptor.data();
    identity.descriptorLength = descriptor.size();
    VirtualHid* hid = CreateVirtualHid(identity, &problem);
    if (hid == nullptr) Fail(problem, 1);

    // The remote's time 0 is the moment it appeared.
    SimUseScenario(scenario);
    remote = BackendOpen(kVendorNintendo, scenario.product, 0, nullptr);
    virtualHid.store(hid);
    if (endRequested.load()) InterruptVirtualHid(hid);
    if (remote == nullptr || !StartDetachedThread(SendInputReports)) {
        DestroyVirtualHid(hid);
        Fail("cannot start the simulated remote", 1);
    }

    uint8_t report[64];
    int got;
    while ((got = ReadVirtualHidOutput(hid, report, sizeof report)) > 0) {
        BackendWrite(remote, report, static_cast<std::size_t>(got));
    }
    removing.store(true);
    DestroyVirtualHid(hid);
    BackendClose(remote);
    if (got < 0 || deviceFailed.load()) {
        std::fprintf(stderr, "%s: the virtual device failed; the remote is gone\n", kProgram);
        EndProcess(1);
    }
    EndProcess(0);
}
