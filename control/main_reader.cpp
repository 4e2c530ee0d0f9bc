#include "control/main_reader.h"

#include <chrono>
#include <mutex>

#include "control/mode_keeper.h"
#include "control/reader_gate.h"
#include "control/spin_delay.h"
#include "control/startup.h"
#include "remote/ir_setup.h"
#include "remote/remote_reports.h"
#include "view/sensor_view.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint8_t kHomeAlone = 0x80;
constexpr int32_t kUnseen = 1023;
// How long an ending that cannot wait waits for a command under way: longer
// than the camera set-up, short enough for a write that never ends.
constexpr auto kBusyWait = std::chrono::milliseconds(250);

// Closed by the first ShutDownRemote; the reader does not start reading after it.
ReaderGate readerGate(readingEnabled);

// Held while a command of the shutdown or of the reader's keeping of the mode
// is sent: they share outputReport, and the 12 00 30 of the shutdown must be
// the last report the remote gets.
std::timed_mutex commandMutex;

ModeKeeper::Ms ReadNow() {
    return std::chrono::duration_cast<ModeKeeper::Ms>(std::chrono::steady_clock::now().time_since_epoch());
}

// On the reader's thread, at once: nothing waits for another thread (the
// view's may be busy, and a wake-up of it may go through a slow display
// server), and the set-up's pauses do not hold up the view. Nothing once the
// shutdown has begun.
void KeepMode(ModeAction action) {
    if (action == ModeAction::None) return;
    std::lock_guard lock(commandMutex);
    if (readerGate.IsClosed()) return;
    if (action == ModeAction::SetUpCamera) {
        SetUpIrCamera();
    } else {
        SetReportingMode(0x00, kReportButtonsAccelIr);
    }
}

}  // namespace

void MainReader() {
    // The view is created meanwhile; no request comes before this wait ends.
    SpinDelay(500);
    WaitForProbeReader();
    if (!readerGate.Open()) return;
    ModeKeeper keeper(ReadNow());
    while (readingEnabled.load(kRelaxed) != 0) {
        const int id = ReadRemoteReportWithin(static_cast<int>(keeper.FindWaitLimit(ReadNow()).count()));
        const ModeAction action = id < 0 ? keeper.NoteTimeout(ReadNow())
                                         : keeper.NoteReport(static_cast<uint8_t>(id), ReadNow());
        KeepMode(action);
        keeper.NoteSent(action, ReadNow());
        if (id < 0) continue;
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
    std::unique_lock lock(commandMutex, kBusyWait);
    if (!lock.owns_lock() || !readerGate.Close()) return;
    SetButtonsOnlyModeLast();
    lock.unlock();
    CloseHidHandle(deviceHandle.load(kRelaxed));
}
