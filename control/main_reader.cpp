#include "control/main_reader.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "control/reader_gate.h"
#include "control/spin_delay.h"
#include "control/startup.h"
#include "remote/remote_reports.h"
#include "view/sensor_view.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint8_t kHomeAlone = 0x80;
constexpr int32_t kUnseen = 1023;
// A remote that sends nothing for this long is told its mode again.
constexpr auto kSilenceLimit = std::chrono::milliseconds(1000);

// Closed by the first ShutDownRemote; the reader does not start reading after it.
ReaderGate readerGate(readingEnabled);

// Held while a command of the shutdown or a mode re-send is sent: they share
// outputReport, and a lost display can start the shutdown on the reader.
std::mutex commandMutex;

}  // namespace

void MainReader() {
    // The view is created meanwhile; no request comes before this wait ends.
    SpinDelay(500);
    WaitForProbeReader();
    if (!readerGate.Open()) return;
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastHeard = Clock::now();
    while (readingEnabled.load(kRelaxed) != 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastHeard + kSilenceLimit - Clock::now());
        const int id = ReadRemoteReportWithin(static_cast<int>(std::max<long long>(left.count(), 0)));
        if (id < 0) {
            // Silence: a status report that never reached us (dropped from a
            // full queue, or during a stall) leaves the remote holding its
            // data; one that is there answers the mode at once, and one that
            // is gone fails the write, which makes it lost.
            RequestReportingMode();
            lastHeard = Clock::now();
            continue;
        }
        lastHeard = Clock::now();
        // The remote sends a status report unasked when an extension is
        // plugged in or pulled out, and then no data until a mode is set.
        if (id == kReportStatus) RequestReportingMode();
        // The whole byte: HOME with any other button of that byte does not close.
        if (RemoteState.buttons2.load(kRelaxed) == kHomeAlone) RequestEndFromRemote();
        // Points 3 and 4 alone do not repaint: the view keeps its last frame.
        if (RemoteState.ir[0].x.load(kRelaxed) != kUnseen ||
            RemoteState.ir[1].x.load(kRelaxed) != kUnseen) {
            RequestRepaint();
        }
    }
}

void ShutDownRemote() {
    {
        std::lock_guard lock(commandMutex);
        if (!readerGate.Close()) return;  // sets readingEnabled to 0
        SetButtonsOnlyModeLast();
    }
    CloseHidHandle(deviceHandle.load(kRelaxed));
}

void ShutDownRemoteUnlessBusy() {
    std::unique_lock lock(commandMutex, std::try_to_lock);
    if (!lock.owns_lock() || !readerGate.Close()) return;
    SetButtonsOnlyModeLast();
    lock.unlock();
    CloseHidHandle(deviceHandle.load(kRelaxed));
}

void ResendReportingMode() {
    std::lock_guard lock(commandMutex);
    if (readerGate.IsClosed()) return;
    SetReportingMode(0x00, kReportButtonsAccelIr);
}
