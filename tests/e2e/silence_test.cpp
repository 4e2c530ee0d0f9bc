// A remote that stops sending, for each reason it can: the user sees either
// "Wii-Remote disconnected." (then Escape still ends the run) or the data
// flowing again after the reporting mode was sent once more (then HOME,
// pressed late in the script, ends the run).
#include <X11/keysym.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "program_fixture.h"

namespace e2e {
namespace {

struct Silence {
    const char* name;
    const char* script;
    bool stall;        // the process stopped (Ctrl+Z) from 4 s to 7 s after its start
    int saidAfterMs;   // "Wii-Remote disconnected." not before this, -1: never said
    int minResends;    // 12 00 33 after the set-up's own
    int maxResends;
};

const Silence kSilences[] = {
    {"ReadFailure", "0 ir 1 300 200\n1500 disconnect\n", false, 1500, 0, 0},
    // Reads only time out; after a second the mode goes again and is refused.
    {"SwitchedOff", "0 ir 1 300 200\n1500 off\n", false, 2500, 0, 0},
    {"SilentButThere", "0 ir 1 300 200\n1500 silent\n4000 resume\n6000 buttons 00 80\n", false, -1, 2, 3},
    // At 200 reports a second the queue of 64 is full long before the reader
    // starts: the status report of the plug is dropped.
    {"StatusDroppedByFullQueue", "rate 200\n0 ir 1 300 200\n600 extension on\n4000 buttons 00 80\n", false,
     -1, 1, 2},
    {"StallAroundAPlug", "0 ir 1 300 200\n5000 extension on\n10000 buttons 00 80\n", true, -1, 1, 2},
};

void PrintTo(const Silence& c, std::ostream* out) { *out << c.name; }

class SilenceTest : public ProgramTest, public ::testing::WithParamInterface<Silence> {};

TEST_P(SilenceTest, IsNoticedAndEndsAsUsual) {
    const Silence& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    const Clock::time_point launched = Clock::now();
    Run& run = Launch(Script(c.script));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    if (c.stall) {
        ASSERT_LT(Clock::now(), launched + milliseconds(4000)) << "too slow to stop it before the plug";
        std::this_thread::sleep_until(launched + milliseconds(4000));
        kill(run.process->pid(), SIGSTOP);
        std::this_thread::sleep_until(launched + milliseconds(7000));
        kill(run.process->pid(), SIGCONT);
    }
    const auto said = [&] { return CountLines(Stderr(run), "Wii-Remote disconnected."); };
    if (c.saidAfterMs >= 0) {
        ASSERT_TRUE(WaitFor([&] { return said() > 0; }, kStartDeadline)) << Stderr(run);
        // The remote's time runs behind this clock: it was opened after the launch.
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
    const int resends = static_cast<int>(modes.size()) - 1;
    EXPECT_GE(resends, c.minResends);
    EXPECT_LE(resends, c.maxResends);
    for (std::size_t i = 2; i < modes.size(); ++i) {
        EXPECT_GE(modes[i] - modes[i - 1], 950) << "more than once a second";
    }
    // A lost remote refuses the 12 00 30; the remote sees only the close.
    const std::vector<std::string> reports = Reports(log);
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.back(), "close");
    EXPECT_EQ(reports[reports.size() - 2] == "12 00 30", c.saidAfterMs < 0);
}

INSTANTIATE_TEST_SUITE_P(Remotes, SilenceTest, ::testing::ValuesIn(kSilences),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
