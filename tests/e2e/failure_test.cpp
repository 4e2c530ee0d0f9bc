// Runs that go wrong: no remote, a remote that does not answer the probe, a
// remote lost while the view is open, no display, and a bad command line.
#include <X11/keysym.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>

#include "program_fixture.h"

namespace e2e {
namespace {

struct StartFailure {
    const char* name;
    std::vector<std::string> args;  // options, or empty to use `script`
    const char* script;
    const char* message;
    std::vector<std::string> log;   // the log's reports, without times
};

const StartFailure kStartFailures[] = {
    {"AbsentScenario", {"--scenario", "absent"}, "", "Wii-Remote not found.", {}},
    {"AbsentScript", {}, "absent\n", "Wii-Remote not found.", {}},
    {"SilentScenario", {"--scenario", "silent"}, "", "Wii-Remote cannot open.",
     {"12 00 31", "12 00 30", "close"}},
    {"SilentScript", {}, "0 silent\n", "Wii-Remote cannot open.", {"12 00 31", "12 00 30", "close"}},
    {"AccelXZero", {}, "0 accel 0 128 154\n", "Wii-Remote cannot open.",
     {"12 00 31", "12 00 30", "close"}},
    {"FirstReportAfterProbe", {}, "0 silent\n150 resume\n", "Wii-Remote cannot open.",
     {"12 00 31", "12 00 30", "close"}},
};

void PrintTo(const StartFailure& c, std::ostream* out) { *out << c.name; }

class StartFailureTest : public ProgramTest,
                         public ::testing::WithParamInterface<std::tuple<StartFailure, bool>> {};

TEST_P(StartFailureTest, ReportsTheFaultAndEndsWithOne) {
    const auto& [c, withDisplay] = GetParam();
    if (withDisplay) {
        ASSERT_NO_FATAL_FAILURE(StartDisplay());
    }
    Run& run = Launch(c.args.empty() ? Script(c.script) : c.args);

    if (withDisplay) {
        // The box waits for its OK: the program must not end on its own.
        const std::optional<XClient::Window> box = X().WaitForWindow("Error", kStartDeadline);
        ASSERT_TRUE(box.has_value()) << "no Error box; stderr: " << Stderr(run);
        std::this_thread::sleep_for(milliseconds(1000));
        EXPECT_TRUE(run.process->Running()) << "ended before the box's OK";
        EXPECT_TRUE(X().FindWindows("Tavolen").empty());
        // The remote is put back before the box waits for the user.
        EXPECT_EQ(Reports(FinalLog(run)), c.log);
        X().SendKey(*box, XK_Return);
    }
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_EQ(CountLines(Stderr(run), c.message), 1) << Stderr(run);
    EXPECT_EQ(Reports(FinalLog(run)), c.log);
}

INSTANTIATE_TEST_SUITE_P(Remotes, StartFailureTest,
                         ::testing::Combine(::testing::ValuesIn(kStartFailures), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "WithDisplay" : "NoDisplay");
                         });

TEST_F(ProgramTest, DisconnectedRemoteLeavesAnIdleWindowThatEscapeEnds) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script("0 ir 1 300 200\n2000 disconnect\n"));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    ASSERT_TRUE(WaitFor([&] { return CountLines(Stderr(run), "Wii-Remote disconnected.") > 0; },
                        kStartDeadline))
        << "stderr: " << Stderr(run);

    const std::optional<double> before = CpuSeconds(run.process->pid());
    std::this_thread::sleep_for(milliseconds(1000));
    const std::optional<double> after = CpuSeconds(run.process->pid());
    ASSERT_TRUE(before && after);
    EXPECT_LT(*after - *before, 0.3) << "processor seconds used in the second after the loss";

    EXPECT_TRUE(run.process->Running());
    EXPECT_EQ(X().FindWindows("Tavolen").size(), 1u);
    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(run, 0));
    EXPECT_EQ(CountLines(Stderr(run), "Wii-Remote disconnected."), 1) << Stderr(run);
}

// A window system asked for that cannot start (Wayland, on an X display
// without a compositor) is named in the one line; the remote is put back.
TEST_F(ProgramTest, AVideoDriverThatCannotStartIsNamed) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    std::vector<std::string> args = Script("0 ir 1 300 200\n");
    args.insert(args.end(), {"--log", Dir().File("tavolen.log")});
    Run& run = LaunchExactly(args, "tavolen", TAVOLEN_SIM,
                             {{"SDL_VIDEODRIVER", "wayland"}, {"WAYLAND_DISPLAY", ""}});
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_EQ(Stderr(run), "Tavolen cannot open its window (SDL_VIDEODRIVER=wayland: wayland not available).\n");
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
}

// Refused before anything else: exit code 2, one line on stderr, no log line
// and nothing in the runtime directory (no lock taken).
struct BadStart {
    const char* name;
    std::vector<std::string> args;  // "SCRIPT" stands for the script's path
    const char* script;
};

const BadStart kBadStarts[] = {
    {"UnknownOption", {"--bogus"}, ""},
    {"StrayArgument", {"demo"}, ""},
    {"MissingValue", {"--scenario"}, ""},
    {"UnknownScenario", {"--scenario", "nosuch"}, ""},
    {"ScenarioTwice", {"--scenario", "still", "--scenario", "demo"}, ""},
    {"ScriptAndScenario", {"--script", "SCRIPT", "--scenario", "demo"}, "0 ir 1 1 1\n"},
    {"MissingScript", {"--script", "/nonexistent/tavolen-script.txt"}, ""},
    {"PointNumberFive", {"--script", "SCRIPT"}, "0 ir 5 100 100\n"},
    {"PointNumberZero", {"--script", "SCRIPT"}, "0 ir 0 100 100\n"},
    {"XTooLarge", {"--script", "SCRIPT"}, "0 ir 1 1024 0\n"},
    {"YTooLarge", {"--script", "SCRIPT"}, "0 ir 1 0 768\n"},
    {"TimeGoesBack", {"--script", "SCRIPT"}, "100 silent\n50 resume\n"},
    {"FractionalTime", {"--script", "SCRIPT"}, "1.5 silent\n"},
    {"MissingTime", {"--script", "SCRIPT"}, "ir 1 10 10\n"},
    {"BadHexButton", {"--script", "SCRIPT"}, "0 buttons 00 8G\n"},
    {"AccelTooLarge", {"--script", "SCRIPT"}, "0 accel 256 128 154\n"},
    {"AbsentAfterAnEvent", {"--script", "SCRIPT"}, "0 silent\nabsent\n"},
    {"UnknownEvent", {"--script", "SCRIPT"}, "# fine\n\n0 wobble\n"},
    // Files that cannot be scripts or logs.
    {"LogIsADirectory", {"--log", "DIR"}, ""},
    {"ScriptIsADirectory", {"--script", "DIR"}, ""},
    {"ScriptLargerThan16MiB", {"--script", "BIG"}, ""},
    {"ScriptThatNeverEnds", {"--script", "/dev/zero"}, ""},
    {"RecordIntoAnExistingFile", {"--record", "SCRIPT"}, "0 ir 1 1 1\n"},
    {"RecordIntoNoFolder", {"--record", "/nonexistent/folder/session.txt"}, ""},
    {"RecordTwice", {"--record", "DIR/a.txt", "--record", "DIR/b.txt"}, ""},
    {"LongUnknownEvent", {"--script", "SCRIPT"}, "0 \x1b[2J" "wobblewobblewobblewobblewobblewobblewobblewobblewobblewobble\n"},
};

void PrintTo(const BadStart& c, std::ostream* out) { *out << c.name; }

class BadStartTest : public ProgramTest, public ::testing::WithParamInterface<BadStart> {};

TEST_P(BadStartTest, EndsWithTwoAndOneLineOnStderr) {
    const BadStart& c = GetParam();
    namespace fs = std::filesystem;
    const std::string script = Script(c.script)[1];
    const std::string big = Dir().File("big.txt");
    fs::resize_file((WriteFile(big, "0 silent\n"), big), 17 * 1024 * 1024);
    std::vector<std::string> args;
    if (std::find(c.args.begin(), c.args.end(), "--log") == c.args.end()) {
        args = {"--log", Dir().File("tavolen.log")};
    }
    const std::map<std::string, std::string> stand = {
        {"SCRIPT", script}, {"BIG", big}, {"DIR", Dir().path()}};
    for (std::string arg : c.args) {
        if (arg.rfind("DIR/", 0) == 0) arg = Dir().File(arg.substr(4));
        args.push_back(stand.count(arg) ? stand.at(arg) : arg);
    }
    Run& run = LaunchExactly(args, "tavolen");
    ASSERT_TRUE(EndsWith(run, 2));
    const std::string err = Stderr(run);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_GT(err.size(), 1u);
    EXPECT_EQ(err.back(), '\n');
    // No more than 60 characters of the offending text, and no control bytes.
    EXPECT_EQ(err.find("wobblewobblewobblewobblewobblewobblewobblewobblewobblewobble"), std::string::npos);
    EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
    EXPECT_EQ(LogText(run), "");
    EXPECT_EQ(ReadFile(script), c.script);  // the script is never written
    for (const std::string& arg : c.args) {
        if (arg.rfind("DIR/", 0) == 0) {
            EXPECT_FALSE(fs::exists(Dir().File(arg.substr(4)))) << arg;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(RuntimeDir()));
}

INSTANTIATE_TEST_SUITE_P(CommandLines, BadStartTest, ::testing::ValuesIn(kBadStarts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
