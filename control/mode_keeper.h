// What the main reader does to keep the remote in reporting mode 0x33 with
// its camera set up, beside other programs that set modes of their own: the
// kernel's driver sets its mode after every status report, and sets modes and
// rewrites or switches off the camera when a program opens or closes the
// remote's input devices. Decided from the reports read and the time alone.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "remote/remote_reports.h"

enum class ModeAction {
    None,
    SendMode,     // 12 00 33 again
    SetUpCamera,  // the whole camera set-up again, ending in 12 00 33
};

class ModeKeeper {
public:
    using Ms = std::chrono::milliseconds;  // since any fixed moment

    // A remote that sends nothing for this long is told its mode again; a
    // set-up follows another no sooner; and for this long after the mode was
    // asked for, reports of another mode may still be from before it.
    static constexpr Ms kLimit{1000};

    // now: the set-up's mode has just been sent.
    explicit ModeKeeper(Ms now) : askedAt_(now), heardAt_(now), setUpAt_(now) {}

    // A report with identifier id came at now. A status report is answered
    // with the mode at once: the remote sends no data after one until it is
    // told a mode. A data report of another mode than 0x33, once the remote
    // has shown 0x33 (or the time for reports from before has passed), means
    // another program set the mode, and perhaps the camera: the set-up again,
    // and once more a second later, as that program may have been in the
    // middle of its own set-up (the kernel's driver sets its mode first) and
    // have written registers after Tavolen's.
    ModeAction NoteReport(uint8_t id, Ms now) {
        heardAt_ = now;
        if (id == kReportStatus) return Ask(ModeAction::SendMode, now);
        if (id == kReportButtonsAccelIr) {
            ownModeSeen_ = true;
        } else if (IsDataReport(id) && (ownModeSeen_ || now - askedAt_ >= kLimit)) {
            setUpsOwed_ = 2;
        }
        return TakeDueSetUp(now);
    }

    // The wait for a report ran out at now: a set-up that has come due, else
    // after a silence of kLimit the mode again (a status report may have been
    // lost), once each kLimit for as long as it lasts.
    ModeAction NoteTimeout(Ms now) {
        const ModeAction due = TakeDueSetUp(now);
        if (now - heardAt_ < kLimit) return due;
        heardAt_ = now;  // the silence is answered, by the set-up or the mode
        return due != ModeAction::None ? due : Ask(ModeAction::SendMode, now);
    }

    // The commands of action, just asked for, have all gone out at now (a
    // set-up takes some 70 ms): the times count from here.
    void NoteSent(ModeAction action, Ms now) {
        if (action == ModeAction::None) return;
        askedAt_ = now;
        if (action == ModeAction::SetUpCamera) setUpAt_ = now;
    }

    // How long the reader may wait for a report before NoteTimeout is due.
    Ms FindWaitLimit(Ms now) const {
        Ms until = heardAt_ + kLimit;
        if (setUpsOwed_ > 0) until = std::min(until, setUpAt_ + kLimit);
        return std::max(until - now, Ms{0});
    }

private:
    ModeAction Ask(ModeAction action, Ms now) {
        askedAt_ = now;
        ownModeSeen_ = false;
        return action;
    }

    ModeAction TakeDueSetUp(Ms now) {
        if (setUpsOwed_ == 0 || now - setUpAt_ < kLimit) return ModeAction::None;
        --setUpsOwed_;
        setUpAt_ = now;
        return Ask(ModeAction::SetUpCamera, now);
    }

    Ms askedAt_;                // the mode was last asked for (a set-up asks too)
    Ms heardAt_;                // the last report came, or the last silence was answered
    Ms setUpAt_;                // the last set-up
    bool ownModeSeen_ = false;  // a report of the own mode came since askedAt_
    int setUpsOwed_ = 0;        // set-ups owed since another mode was seen; each no sooner than setUpAt_ + kLimit
};
