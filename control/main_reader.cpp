#include "control/main_reader.h"

#include "control/reader_gate.h"
#include "control/spin_delay.h"
#include "control/startup.h"
#include "remote/remote_reports.h"
#include "view/sensor_view.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint8_t kHomeAlone = 0x80;
constexpr int32_t kUnseen = 1023;

// Closed by the first ShutDownRemote; the reader does not start reading after it.
ReaderGate readerGate(readingEnabled);

}  // namespace

void MainReader() {
    // The view is created meanwhile; no request comes before this wait ends.
    SpinDelay(500);
    WaitForProbeReader();
    if (!readerGate.Open()) return;
    while (readingEnabled.load(kRelaxed) != 0) {
        ReadRemoteReport();
        // The whole byte: HOME with any other button of that byte does not close.
        if (RemoteState.buttons2.load(kRelaxed) == kHomeAlone) RequestClose();
        // Points 3 and 4 alone do not repaint: the view keeps its last frame.
        if (RemoteState.ir[0].x.load(kRelaxed) != kUnseen ||
            RemoteState.ir[1].x.load(kRelaxed) != kUnseen) {
            RequestRepaint();
        }
    }
}

void ShutDownRemote() {
    if (!readerGate.Close()) return;  // sets readingEnabled to 0
    SetButtonsOnlyMode();
    CloseHidHandle(deviceHandle.load(kRelaxed));
}
