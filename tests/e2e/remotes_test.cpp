// Remotes as they come in the field, on Linux and under Wine alike. Starts
// without a display: the probe decodes every report of its window, whatever
// comes first, and an adapter's empty slots are passed over. Silences with
// the view open: the user sees "Wii-Remote disconnected." (Escape still ends
// the run) or the data flowing again once the mode went out anew (HOME,
// pressed late in the script, ends the run). Modes another program sets too.
#include <X11/keysym.h>
#include <signal.h>

#include <thread>

#include "program_fixture.h"

namespace e2e {
namespace {

constexpr char kNoWindow[] = "Tavolen cannot open its window.";

struct Start {
    const char* name;
    const char* script;
    const char* said;  // kNoWindow: found, probed and set up in full
    bool closed = false;  // else: opened, sent nothing, closed
};

const Start kStarts[] = {
    {"AccelDataFirst", "0 ir 1 300 200\n", kNoWindow},
    {"ButtonDataWithoutAccelFirst", "0 buttons 00 08\n", kNoWindow},  // 30 00 08, in mode 30
    {"StatusReportFirst", "0 extension on\n", kNoWindow},
    {"AcknowledgementFirst", "0 raw 22 00 00 12 00\n", kNoWindow},
    {"AdapterRemoteInSlot1", "adapter 4 1\n", kNoWindow},
    {"AdapterRemoteInSlot3", "adapter 4 3\n", kNoWindow},
    {"EmptyAdapter", "adapter 4 0\n", "Wii-Remote not found."},  // its refusals are not logged
    {"FirstWriteNotTaken", "0 away\n", "Tavolen: the Wii-Remote took no report within 1 s: it is out of "
     "range or not fully connected.\nWii-Remote cannot open.", true},
};

struct Silence {
    const char* name;
    const char* script;
    bool stall;       // the process stopped (Ctrl+Z) from 4 s to 7 s of the remote's time
    int saidAfterMs;  // "Wii-Remote disconnected." not before this; -1: never said
    int minResends, maxResends;  // 12 00 33 after the set-up's own
    int firstResendBeforeMs = 0;  // the first of them comes before this; 0: any time
};

const Silence kSilences[] = {
    {"ReadFailure", "0 ir 1 300 200\n1500 disconnect\n", false, 1500, 0, 0},
    {"SwitchedOff", "0 ir 1 300 200\n1500 off\n", false, 2500, 0, 0},  // the re-sent mode fails
    {"SilentButThere", "0 ir 1 300 200\n1500 silent\n4000 resume\n6000 buttons 00 80\n", false, -1, 2, 3},
    // The re-sent modes time out: not delivered, and not a lost remote.
    {"OutOfRangeForAWhile", "0 ir 1 300 200\n1500 away\n4000 back\n6000 buttons 00 80\n", false, -1, 0, 1},
    // At 200 reports a second the queue of 64 is full long before the reader
    // starts: the plug's status report is dropped.
    {"StatusDroppedByFullQueue", "rate 200\n600 extension on\n4000 buttons 00 80\n", false, -1, 1, 2},
    {"StallAroundAPlug", "5000 extension on\n10000 buttons 00 80\n", true, -1, 1, 2},
    // The driver answers a status report with its own mode: Tavolen's comes
    // at once, and the driver's one 0x30 report after it brings no set-up.
    {"StatusReportWithTheDriversMode", "1500 other 15 00\n1500 other 12 00 30\n3500 buttons 00 80\n", false, -1, 1, 1,
     2400},
    // Another mode streaming brings the camera set-up at once and once more a
    // second later, none sooner than a second after the last.
    {"AnotherModeStreaming", "2000 other 12 00 31\n4000 buttons 00 80\n", false, -1, 2, 2, 2900},
    {"TheDriverSettingItsModeAgainAndAgain", "2000 other 12 00 37\n2200 other 12 00 37\n2400 other 12 00 37\n"
     "2600 other 12 00 37\n5000 buttons 00 80\n", false, -1, 3, 3, 2900},
};

void PrintTo(const Start& c, std::ostream* out) { *out << c.name; }
void PrintTo(const Silence& c, std::ostream* out) { *out << c.name; }

class StartTest : public ProgramTest, public ::testing::WithParamInterface<Start> {};
class SilenceTest : public ProgramTest, public ::testing::WithParamInterface<Silence> {};

// Standard error without Windows' "\r".
std::string Said(const std::string& text) {
    std::string said = text;
    std::erase(said, '\r');
    return said;
}

TEST_P(StartTest, EndsWithOneSayingWhatStoppedIt) {
    Run& run = Launch(Script(GetParam().script));
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_EQ(Said(Stderr(run)), std::string(GetParam().said) + "\n");
    if (GetParam().said == kNoWindow) {
        EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
    } else {
        EXPECT_EQ(Reports(FinalLog(run)), std::vector<std::string>(GetParam().closed, "close"));
    }
}

TEST_P(SilenceTest, IsNoticedAndEndsAsUsual) {
    const Silence& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    const Clock::time_point launched = Clock::now();
    Run& run = Launch(Script(c.script));
    ASSERT_TRUE(WaitFor([&] { return !LogText(run).empty(); }, kStartDeadline));
    const Clock::time_point opened = Clock::now();  // the remote's time 0, a little late
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    if (c.stall) {
        ASSERT_LT(Clock::now(), opened + milliseconds(4000)) << "too slow to stop it before the plug";
        std::this_thread::sleep_until(opened + milliseconds(4000));
        kill(run.process->pid(), SIGSTOP);
        std::this_thread::sleep_until(opened + milliseconds(7000));
        kill(run.process->pid(), SIGCONT);
    }
    const auto said = [&] { return CountLines(Said(Stderr(run)), "Wii-Remote disconnected."); };
    if (c.saidAfterMs >= 0) {
        ASSERT_TRUE(WaitFor([&] { return said() > 0; }, kStartDeadline)) << Stderr(run);
        EXPECT_GE(Clock::now(), launched + milliseconds(c.saidAfterMs));
        std::this_thread::sleep_for(milliseconds(1500));  // said once, however long it lasts
        X().SendKey(view, XK_Escape);
    }
    ASSERT_TRUE(EndsWith(run, 0));
    EXPECT_EQ(said(), c.saidAfterMs >= 0 ? 1 : 0) << Stderr(run);

    const std::vector<LogLine> log = FinalLog(run);
    std::vector<double> modes;
    for (const LogLine& line : log) {
        if (Hex(line.bytes) == "12 00 33") modes.push_back(line.ms);
    }
    ASSERT_FALSE(modes.empty());
    EXPECT_GE(static_cast<int>(modes.size()) - 1, c.minResends);
    EXPECT_LE(static_cast<int>(modes.size()) - 1, c.maxResends);
    for (std::size_t i = 2; i < modes.size(); ++i) EXPECT_GE(modes[i] - modes[i - 1], 950) << "more than once a second";
    if (c.firstResendBeforeMs > 0 && modes.size() > 1) {
        EXPECT_LT(modes[1], c.firstResendBeforeMs) << "not at once";
    }
    // A lost remote never gets the 12 00 30: it sees only the close.
    const std::vector<std::string> reports = Reports(log);
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.back(), "close");
    EXPECT_EQ(reports[reports.size() - 2] == "12 00 30", c.saidAfterMs < 0);
}

INSTANTIATE_TEST_SUITE_P(Remotes, StartTest, ::testing::ValuesIn(kStarts),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Remotes, SilenceTest, ::testing::ValuesIn(kSilences),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
