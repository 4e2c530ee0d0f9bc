// tavolen-sim.exe and tavolen.exe under Wine, each test on an Xvfb of its
// own: how a run ends, what the window is and shows, and the failures. Wine
// draws the window's frame itself, so the X window is the whole outer
// window and the client area lies inside it.
#include <X11/keysym.h>

#include <sstream>
#include <thread>

#include "program_fixture.h"

namespace e2e {
namespace {

const char kOnePoint[] = "0 ir 1 300 200\n";

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

class WineTest : public ProgramTest {
protected:
    // Standard error as Linux would show it: Windows' text mode ends its
    // lines with "\r\n".
    std::string Said(const Run& run) const {
        std::string text = Stderr(run);
        std::erase(text, '\r');
        return text;
    }

    // Standard output, likewise.
    std::string Printed(const Run& run) const {
        std::string text = Stdout(run);
        std::erase(text, '\r');
        return text;
    }

    // Runs win-probe with command on the test's display; its output.
    std::string Probe(const std::string& command) {
        const std::string name = "probe-" + std::to_string(++probes_);
        Run& run = LaunchExactly({command}, name, WIN_PROBE);
        EXPECT_TRUE(EndsWith(run, 0)) << "win-probe " << command;
        return Printed(run);
    }

    // The view's client area in screen pixels, as Windows tells it.
    Rect ClientArea() {
        std::istringstream lines(Probe("window"));
        Rect client;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string key;
            if (words >> key && key == "client") {
                words >> client.x >> client.y >> client.width >> client.height;
            }
        }
        return client;
    }

    // Polls the client area's pixels until they show exactly these crosses.
    ::testing::AssertionResult ClientShows(XClient::Window view, const std::vector<Centre>& centres) {
        const Rect client = ClientArea();
        const std::optional<XClient::Geometry> outer = X().GetGeometry(view);
        if (client.width <= 0 || !outer) return ::testing::AssertionFailure() << "no client area";
        const std::vector<std::string> expected = ExpectedView(client.width, client.height, centres);
        std::vector<std::string> shown;
        const bool same = WaitFor(
            [&] {
                const std::optional<std::vector<std::string>> all = X().Snapshot(view);
                if (!all) return false;
                shown.clear();
                for (int y = 0; y < client.height; ++y) {
                    const std::string& row = (*all)[static_cast<std::size_t>(client.y - outer->y + y)];
                    shown.push_back(row.substr(static_cast<std::size_t>(client.x - outer->x),
                                               static_cast<std::size_t>(client.width)));
                }
                return shown == expected;
            },
            kStartDeadline);
        if (same) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << DescribeDifferences(expected, shown);
    }

private:
    int probes_ = 0;
};

TEST_F(WineTest, WindowIsWnd001At1010Outer520By420HoldingTheWholeField) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(kOnePoint));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    const std::optional<XClient::Geometry> outer = X().GetGeometry(view);
    ASSERT_TRUE(outer.has_value());
    EXPECT_EQ((std::vector{outer->x, outer->y, outer->width, outer->height}),
              (std::vector{10, 10, 520, 420}));

    std::istringstream facts(Probe("window"));
    std::map<std::string, std::string> fact;
    for (std::string key, value; facts >> key >> value;) fact[key] = value;
    const unsigned long style = std::stoul(fact["style"], nullptr, 16);
    EXPECT_EQ(style & 0x00FF0000ul, 0x00CF0000ul) << fact["style"];
    EXPECT_EQ(fact["classstyle"], "00000003");  // redraw on width and height changes
    const Rect client = ClientArea();
    EXPECT_GE(client.width, 512);
    EXPECT_GE(client.height, 384);

    X().SendKey(view, XK_Escape);
    EXPECT_TRUE(EndsWith(run, 0));
}

enum class Ending { Escape, CloseBox, HomeButton, TaskKill, LogOff, OutsideQuit };

struct EndingCase {
    const char* name;
    const char* script;
    Ending ending;
};

const EndingCase kEndings[] = {
    {"Escape", kOnePoint, Ending::Escape},
    {"CloseBox", kOnePoint, Ending::CloseBox},
    {"HomeButton", "0 ir 1 300 200\n1500 buttons 00 80\n", Ending::HomeButton},
    {"WmCloseFromTaskkill", kOnePoint, Ending::TaskKill},
    {"LogOff", kOnePoint, Ending::LogOff},
    {"QuitPostedFromOutside", kOnePoint, Ending::OutsideQuit},
};

void PrintTo(const EndingCase& c, std::ostream* out) { *out << c.name; }

class WineEndingTest : public WineTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(WineEndingTest, SendsTheWholeSequenceOnceAndEndsWithZero) {
    const EndingCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(c.script));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    switch (c.ending) {
    case Ending::Escape:
        X().SendKey(view, XK_Escape);
        break;
    case Ending::CloseBox:
        X().SendCloseRequest(view);
        break;
    case Ending::HomeButton:
        break;  // the script presses it
    case Ending::TaskKill:
        // Without /F taskkill asks the program's windows to close (WM_CLOSE).
        EXPECT_TRUE(EndsWith(LaunchExactly({"/IM", "tavolen-sim.exe"}, "taskkill", "taskkill"), 0));
        break;
    case Ending::LogOff:
        EXPECT_EQ(Probe("end-session"), "query-end-session 1\n");
        break;
    case Ending::OutsideQuit:
        EXPECT_EQ(Probe("quit"), "");
        break;
    }
    ASSERT_TRUE(EndsWith(run, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
}

INSTANTIATE_TEST_SUITE_P(Endings, WineEndingTest, ::testing::ValuesIn(kEndings),
                         [](const auto& info) { return std::string(info.param.name); });

struct CrossCase {
    const char* name;
    const char* script;
    std::vector<Centre> centres;  // in client pixels
    bool enlarged = false;        // the window made 640 x 640 first
};

const CrossCase kCrosses[] = {
    {"ArmsFrom146To154And96To104", "0 ir 1 300 200\n", {{150, 100}}},
    {"OriginShowsOnlyInnerArms", "0 ir 1 0 0\n0 ir 2 600 400\n", {{0, 0}, {300, 200}}},
    {"X1021And1020BothAt510", "0 ir 1 1021 100\n0 ir 2 1020 700\n", {{510, 50}, {510, 350}}},
    {"BottomRightCorner", "0 ir 1 1023 767\n0 ir 2 2 2\n", {{511, 383}, {1, 1}}},
    {"FromTheLeftEdgeToTheTopEdge", "0 ir 1 2 300\n1500 ir 1 700 2\n", {{350, 1}}},
    // The whole window, unseen points too: (1023, 1023) lands on (511, 511).
    {"EnlargedShowsUnseenPointsToo", kOnePoint, {{150, 100}, {511, 511}}, true},
};

void PrintTo(const CrossCase& c, std::ostream* out) { *out << c.name; }

class WineCrossTest : public WineTest, public ::testing::WithParamInterface<CrossCase> {};

TEST_P(WineCrossTest, DrawsANinePixelCrossPerSeenPointOnWhite) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(GetParam().script));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    if (GetParam().enlarged) {
        EXPECT_EQ(Probe("enlarge"), "");
    }
    EXPECT_TRUE(ClientShows(view, GetParam().centres));
    X().SendKey(view, XK_Escape);
    EXPECT_TRUE(EndsWith(run, 0));
}

INSTANTIATE_TEST_SUITE_P(Points, WineCrossTest, ::testing::ValuesIn(kCrosses),
                         [](const auto& info) { return std::string(info.param.name); });

// A session recorded with --record and replayed with --script, as on Linux.
TEST_F(WineTest, AReplayedRecordingSendsTheSameReportsEndsAtTheSameMomentAndShowsTheSame) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    CheckRecordingRoundTrip("0 ir 1 100 100\n"
                            "250 ir 1 600 400\n"
                            "250 ir 2 200 100\n"
                            "1500 buttons 00 80\n",
                            1500, [&](XClient::Window view) { return ClientShows(view, {{300, 200}, {100, 50}}); });
}

TEST_F(WineTest, NotFoundBoxWaitsForReturnThenEndsWithOne) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch({"--scenario", "absent"});
    const std::optional<XClient::Window> box = X().WaitForWindow("Error", kStartDeadline);
    ASSERT_TRUE(box.has_value()) << "no Error box; stderr: " << Said(run);
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_TRUE(run.process->Running()) << "ended before the box's OK";
    // Wine can drop a key that comes while it still arranges the box's focus:
    // press again, as a user would, until the box goes.
    WaitFor(
        [&] {
            X().SendKey(*box, XK_Return);
            return WaitFor([&] { return !run.process->Running(); }, milliseconds(2000));
        },
        kExitDeadline);
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_EQ(CountLines(Said(run), "Wii-Remote not found."), 1) << Said(run);
    EXPECT_EQ(LogText(run), "");
}

TEST_F(WineTest, SecondInstanceEndsAtOnceAndLeavesTheFirstRunning) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& first = Launch(Script(kOnePoint), "first");
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    Run& second = Launch(Script(kOnePoint, "second-script"), "second");
    ASSERT_TRUE(EndsWith(second, 0));
    EXPECT_EQ(LogText(second), "") << "the second instance opened the remote";
    EXPECT_EQ(Said(second), "");
    EXPECT_TRUE(first.process->Running());
    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(first, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(first)));
}

// Without a display no window can be made: the remote is put back and
// closed, and the run ends with 1.
TEST_F(WineTest, NoDisplayEndsWithOneAfterPuttingTheRemoteBack) {
    Run& run = Launch(Script(kOnePoint));
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_EQ(CountLines(Said(run), "Tavolen cannot open its window."), 1) << Said(run);
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
}

// Names outside the ANSI code page for the script, the log and the
// recording: exactly those files are read and written, and the look-alikes
// the code page makes of them stay as they were.
struct UnicodeCase {
    const char* name;
    std::vector<std::string> files;       // script, log (without ".log"), recording
    std::vector<std::string> lookAlikes;  // each character outside the code page 'O' or '?'
};

const UnicodeCase kUnicodeNames[] = {
    {"Greek", {"Ωscript.txt", "Ωmega", "Ωrec.txt"}, {"Oscript.txt", "Omega.log", "Orec.txt"}},
    {"Japanese", {"台本.txt", "日本語", "記録簿.txt"}, {"??.txt", "???.log", "???.txt"}},
};

void PrintTo(const UnicodeCase& c, std::ostream* out) { *out << c.name; }

class WineUnicodeTest : public WineTest, public ::testing::WithParamInterface<UnicodeCase> {};

TEST_P(WineUnicodeTest, OpensExactlyTheNamedFilesAndLeavesLookAlikesAlone) {
    const UnicodeCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    for (const std::string& name : c.lookAlikes) WriteFile(Dir().File(name), "untouched\n");
    const std::string script = Dir().File(c.files[0]), record = Dir().File(c.files[2]);
    WriteFile(script, "0 ir 1 300 200\n1000 buttons 00 80\n");
    Run& run = Launch({"--script", script, "--record", record}, c.files[1]);
    ASSERT_TRUE(EndsWith(run, 0)) << Said(run);
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
    EXPECT_EQ(ReadFile(record).rfind("# A Wii Remote session recorded by Tavolen", 0), 0u);
    for (const std::string& name : c.lookAlikes) EXPECT_EQ(ReadFile(Dir().File(name)), "untouched\n") << name;
}

INSTANTIATE_TEST_SUITE_P(Names, WineUnicodeTest, ::testing::ValuesIn(kUnicodeNames),
                         [](const auto& info) { return std::string(info.param.name); });

// Started as a console's prompt or the Start menu starts a window program:
// the lines show in the starter's console, and without one --help and
// --version show in a box. Ctrl+C and Ctrl+Break typed at that console later
// leave the program running; it ends later through the close path.
struct StartCase {
    const char* name;
    std::vector<std::string> how;  // win-probe start's HOW, then the arguments
    int code;
    std::string shown;  // a line of win-probe's report starts with it
};

const StartCase kStarts[] = {
    {"VersionInTheConsole", {"console", "--version"}, 0, "console: tavolen-sim " TAVOLEN_VERSION},
    {"UsageErrorInTheConsole", {"console", "--bogus"}, 2, "console: tavolen-sim: unknown option '--bogus'"},
    {"HelpInABoxWithoutConsole", {"none", "--help"}, 0, "box tavolen-sim: usage: tavolen-sim [--script"},
    {"VersionInABoxWithoutConsole", {"none", "--version"}, 0, "box tavolen-sim: tavolen-sim " TAVOLEN_VERSION},
    {"CtrlCAtTheConsoleNeitherEndsNorKills", {"ctrl-c", "--script", "", "--log", ""}, 0, "after ctrl-c: running"},
};

void PrintTo(const StartCase& c, std::ostream* out) { *out << c.name; }

class WineStartTest : public WineTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(WineStartTest, ShowsItsLinesWhereTheUserSeesThem) {
    const StartCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    std::vector<std::string> words = {"start", c.how[0], TAVOLEN_SIM};
    words.insert(words.end(), c.how.begin() + 1, c.how.end());
    const bool runs = c.how[0] == "ctrl-c";  // a whole run: the script and the log
    if (runs) {
        words[4] = Script(kOnePoint)[1];
        words[6] = Dir().File("probe.log");
    }
    Run& run = LaunchExactly(words, "probe", WIN_PROBE);
    ASSERT_TRUE(EndsWith(run, c.code));
    EXPECT_NE(("\n" + Printed(run)).find("\n" + c.shown), std::string::npos) << Printed(run);
    if (runs) {
        EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
    }
}

INSTANTIATE_TEST_SUITE_P(Starts, WineStartTest, ::testing::ValuesIn(kStarts),
                         [](const auto& info) { return std::string(info.param.name); });

// The real program over Wine's hid.dll: Wine's own virtual mouse and
// keyboard are there, no remote.
TEST_F(WineTest, RealProgramFindsNoRemoteAmongWinesOwnDevices) {
    Run& run = LaunchExactly({}, "tavolen", TAVOLEN_EXE);
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_EQ(Said(run), "Wii-Remote not found.\n");
}

}  // namespace
}  // namespace e2e
