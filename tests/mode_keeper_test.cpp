// What the reader does about the remote's mode: rows of steps, each a report
// (or the reader's wait running out) at a time since the set-up's mode was
// sent, what the keeper asks for, and how long the reader may then wait.
#include <gtest/gtest.h>

#include <vector>

#include "control/mode_keeper.h"

namespace {

using Ms = ModeKeeper::Ms;
constexpr ModeAction kNone = ModeAction::None, kMode = ModeAction::SendMode, kSetUp = ModeAction::SetUpCamera;
constexpr int kTimeout = -1;  // no report: the wait ran out

struct Step {
    int ms, id;  // id: the report's identifier, or kTimeout
    ModeAction action;
    int waitMs;
};

const struct {
    const char* name;
    std::vector<Step> steps;
} kCases[] = {
    {"OwnModeFlowingAsksNothing", {{10, 0x33, kNone, 1000}, {1500, 0x22, kNone, 1000}, {1600, 0x33, kNone, 1000}}},
    {"ReportsFromBeforeTheModeTookHoldAreLeftovers",
     {{5, 0x31, kNone, 1000}, {6, 0x22, kNone, 1000}, {900, 0x31, kNone, 1000}, {901, 0x33, kNone, 1000}}},
    // The driver's own 12 00 30 follows a status report: one 0x30 report.
    {"AStatusReportIsAnsweredAtOnceEveryTime",
     {{100, 0x33, kNone, 1000}, {200, 0x20, kMode, 1000}, {201, 0x30, kNone, 1000}, {210, 0x33, kNone, 1000},
      {300, 0x20, kMode, 1000}}},
    // Once at once, and once more a second later: the other program may have
    // been in the middle of its own set-up.
    {"AnotherModeAfterTheOwnSetsUpAtOnceAndASecondLater",
     {{10, 0x33, kNone, 1000}, {1200, 0x37, kSetUp, 1000}, {1300, 0x33, kNone, 900}, {2200, kTimeout, kSetUp, 100},
      {2250, 0x33, kNone, 1000}}},
    {"AnotherModeWhereTheOwnNeverCameAfterASecond", {{500, 0x31, kNone, 1000}, {1000, 0x31, kSetUp, 1000}}},
    {"ASetUpFollowsAnotherNoSoonerThanASecond",
     {{10, 0x33, kNone, 1000}, {400, 0x31, kNone, 600}, {999, kTimeout, kNone, 1}, {1000, kTimeout, kSetUp, 400},
      {1100, 0x31, kNone, 900}, {1150, 0x33, kNone, 850}, {1300, 0x31, kNone, 700}, {2000, 0x31, kSetUp, 1000}}},
    {"ASetUpDueInASilenceAnswersIt", {{10, 0x33, kNone, 1000}, {1000, 0x30, kSetUp, 1000}, {2000, kTimeout, kSetUp, 1000}}},
    {"SilenceAsksForTheModeOnceASecond",
     {{10, 0x33, kNone, 1000}, {1009, kTimeout, kNone, 1}, {1010, kTimeout, kMode, 1000}, {2010, kTimeout, kMode, 1000}}},
};

TEST(ModeKeeper, AsksForWhatTheReportsShowIsMissing) {
    for (const auto& c : kCases) {
        ModeKeeper keeper(Ms{0});
        for (const Step& s : c.steps) {
            const ModeAction action = s.id == kTimeout ? keeper.NoteTimeout(Ms{s.ms})
                                                       : keeper.NoteReport(static_cast<uint8_t>(s.id), Ms{s.ms});
            EXPECT_EQ(action, s.action) << c.name << " at " << s.ms;
            EXPECT_EQ(keeper.FindWaitLimit(Ms{s.ms}).count(), s.waitMs) << c.name << " at " << s.ms;
        }
    }
}

}  // namespace
