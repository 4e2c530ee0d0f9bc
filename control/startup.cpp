#include "control/startup.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "control/main_reader.h"
#include "control/spin_delay.h"
#include "platform/clock.h"
#include "platform/end_requests.h"
#include "platform/lost_display.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "platform/threads.h"
#include "platform/wait_wake.h"
#include "remote/ir_setup.h"
#include "remote/remote_reports.h"
#include "remote/session_recorder.h"
#include "view/sensor_view.h"

std::atomic<uint8_t> readingEnabled{0};

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr int kVendorNintendo = 0x057E;
constexpr int kProductRemote = 0x0306;
constexpr int kProductRemotePlus = 0x0330;  // the later model, same protocol here
constexpr uint8_t kPlayerLed1 = 0x10;
constexpr double kProbeWindowMs = 100;
// How long one read of the probe reader waits, so that it notices the end of
// the window soon even when nothing comes.
constexpr int kProbeReadMs = 10;

// 1 from the probe reader's first pass through its loop until it leaves it.
std::atomic<uint8_t> probeReaderActive{0};

// 0 from the probe reader's start until its thread has left its loop; the
// main reader waits for 1 so that one thread at a time reads.
std::atomic<int> probeReaderDone{1};

// Decodes every report that comes within the window: the first one may be a
// button's data report without the accelerometer, a status report or an
// acknowledgement.
void ProbeReader() {
    while (readingEnabled.load(kRelaxed) != 0) {
        probeReaderActive.store(1, kRelaxed);
        ReadRemoteReportWithin(kProbeReadMs);
    }
    probeReaderActive.store(0, kRelaxed);
    probeReaderDone.store(1, std::memory_order_release);
    WakeAllWaiters(probeReaderDone);
}

// Set by the first request to end that comes from outside the window (a
// signal, a console's Ctrl+C) or from the remote's HOME; start-up looks at it
// between its stages.
// Stored and loaded sequentially consistent, as the view publishes that it is
// open and RequestClose looks for that: a request landing as the view opens
// is seen by RequestClose or by start-up's look after CreateSensorView.
std::atomic<bool> endRequested{false};

// How long the close path has, after a request from outside, to end the
// process before the end-request thread ends it itself.
constexpr auto kEndGrace = std::chrono::seconds(2);

// The code the close path ends with after a request from outside: 0, or 1
// once start-up has met a failure (an error box's path ends with 1). Written
// by start-up, read by the end-request thread.
std::atomic<int> endCode{0};

void ShowFailure(const char* text) {
    endCode.store(1);
    ShowErrorMessage(text);
}

// The close path's own way: a box shown goes away and its path ends the
// program; an open view closes through its destroy handler; otherwise
// start-up sees the request at its next stage.
void BeginClosePath() {
    DismissErrorMessages();
    RequestClose();
}

// On the end-request thread, for every request; never returns. The close
// path may be stuck where it cannot be reached (a display that no longer
// answers, a write that waits for ever): once the grace time has passed, the
// remote is put back from here, unless a shutdown is under way, and the
// process ends with the close path's code.
void RequestEnd() {
    static std::atomic<bool> begun{false};
    endRequested.store(true);
    if (!begun.exchange(true) && !StartDetachedThread(BeginClosePath)) BeginClosePath();
    std::this_thread::sleep_for(kEndGrace);
    static std::mutex endingHere;  // the first request past its grace ends it
    endingHere.lock();
    ShutDownRemoteUnlessBusy();
    const int code = FinishRecording(endCode.load());
    // Not EndProcess: flushing could wait on the very stream that is stuck.
    std::_Exit(code);
}

bool EndRequested() { return endRequested.load(); }

// The end asked for during start-up: the remote, if open, goes back to
// buttons-only mode and is released, as after the close box.
int EndDuringStartUp() {
    ShutDownRemote();
    return 0;
}

// Called by the window system's library, on the thread that found the display
// gone; the process ends here.
void EndAfterLostDisplay() {
    std::fputs("Tavolen lost its display.\n", stderr);
    ShutDownRemote();
    FinishRecording();
    EndProcess(1);
}

// Opens the first matching interface whose first output report (12 00 31)
// goes through, in the system's order, the remote's product before the
// Plus's. An adapter for Wii Remotes shows one interface per slot, empty or
// not; an empty slot refuses writes and is closed again. -1 when none is
// left; *failure then names one that exists but did not open, if any, and
// *slow tells that one took no write in time: a remote that is there.
int32_t OpenRemote(std::string* failure, bool* slow) {
    for (const int product : {kProductRemote, kProductRemotePlus}) {
        for (int index = 0;; ++index) {
            const int32_t handle = OpenHidHandle(kVendorNintendo, product, index);
            if (failure->empty()) *failure = LastOpenFailure();
            if (handle == -1) break;
            deviceHandle.store(handle, kRelaxed);
            const int32_t written = SetButtonsAccelMode();
            if (written >= 0) return handle;
            if (written == kWriteTimedOut) *slow = true;
            CloseHidHandle(handle);
            deviceHandle.store(-1, kRelaxed);
        }
    }
    return -1;
}

}  // namespace

bool ProbeRemote() {
    RemoteState.accelX.store(0, kRelaxed);
    readingEnabled.store(1, kRelaxed);
    probeReaderDone.store(0, kRelaxed);
    if (!StartDetachedThread(ProbeReader)) probeReaderDone.store(1, kRelaxed);
    SpinDelay(kProbeWindowMs);
    readingEnabled.store(0, kRelaxed);
    return RemoteState.accelX.load(kRelaxed) != 0;
}

void WaitForProbeReader() { WaitWhileEqual(probeReaderDone, 0); }

void RequestEndFromRemote() {
    endRequested.store(true);
    RequestClose();
}

int RunTavolen(void (*onLockTaken)()) {
    WatchForEndRequests(RequestEnd);
    OnLostDisplay(EndAfterLostDisplay);
    switch (AcquireSingleInstanceLock("tavolen-001")) {
    case InstanceLock::Acquired:
        if (onLockTaken != nullptr) onLockTaken();
        break;
    case InstanceLock::HeldElsewhere:
        return 0;
    case InstanceLock::Failed:
        ShowFailure("Tavolen cannot create its single-instance lock.");
        return 1;
    }

    std::string failure;
    bool slow = false;
    if (OpenRemote(&failure, &slow) == -1) {
        // A remote that is there but may not be opened is named, with what to
        // do; one that is there but took no report is not "not found".
        if (failure.empty() && slow) {
            std::fputs("Tavolen: the Wii-Remote took no report within 1 s: it is out of range or "
                       "not fully connected.\n", stderr);
            failure = "Wii-Remote cannot open.";
        }
        ShowFailure(failure.empty() ? "Wii-Remote not found." : failure.c_str());
        return 1;
    }
    if (EndRequested()) return EndDuringStartUp();
    const bool alive = ProbeRemote();
    if (EndRequested()) return EndDuringStartUp();
    if (!alive) {
        // The remote goes back to buttons-only mode and is released before
        // the box, which waits for the user. A thread cannot be ended safely
        // from outside, so the probe reader is given up: closing the device
        // ends its waiting read, and it leaves its loop at its next check,
        // readingEnabled being 0 by now.
        endCode.store(1);
        SetButtonsOnlyModeLast();
        CloseHidHandle(deviceHandle.load(kRelaxed));
        ShowFailure("Wii-Remote cannot open.");
        return 1;
    }
    SetLeds(kPlayerLed1);
    SetUpIrCamera();
    if (EndRequested()) return EndDuringStartUp();
    StartDetachedThread(MainReader);

    if (!CreateSensorView()) {
        // Usually a start without a display: the box could not show either.
        endCode.store(1);
        const char* why = SensorViewFailure();
        if (*why == '\0') {
            std::fputs("Tavolen cannot open its window.\n", stderr);
        } else {
            std::fprintf(stderr, "Tavolen cannot open its window (%s).\n", why);
        }
        ShutDownRemote();
        return 1;
    }
    // A request that came while the window was being made (a HOME the reader
    // saw meanwhile, too) found no view to close: close it now, on this
    // thread, before the loop runs.
    if (EndRequested()) RequestClose();
    return RunSensorView();
}
