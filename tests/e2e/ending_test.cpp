// Endings from outside the window: signals at each stage of a run, a display
// that goes away, a program killed while its error box is shown, a second
// instance given the first's log, and the programs' own options.
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

#include "program_fixture.h"

namespace e2e {
namespace {

const char kOnePoint[] = "0 ir 1 300 200\n";

::testing::AssertionResult PutBackOnceAndClosedOnce(const std::vector<LogLine>& log) {
    const std::vector<std::string> reports = Reports(log);
    const auto count = [&](const std::string& r) { return std::count(reports.begin(), reports.end(), r); };
    if (reports.size() < 3 || reports[reports.size() - 2] != "12 00 30" || reports.back() != "close" ||
        count("12 00 30") != 1 || count("close") != 1) {
        std::string all;
        for (const std::string& r : reports) all += "\n  " + r;
        return ::testing::AssertionFailure() << "the log does not end with one 12 00 30 and one close:" << all;
    }
    return ::testing::AssertionSuccess();
}

// When the signal goes: as soon as the log shows the stage's first report.
struct Stage {
    const char* name;
    const char* firstReport;  // "" for "while running": the window shown and the reader reading
};
const Stage kStages[] = {{"Probe", "12 00 31"}, {"CameraSetUp", "13 04"}, {"Running", ""}};

struct EndSignal {
    const char* name;
    int number;
};
const EndSignal kSignals[] = {{"Hup", SIGHUP},   {"Term", SIGTERM}, {"Int", SIGINT},
                              {"Quit", SIGQUIT}, {"Usr1", SIGUSR1}, {"Alrm", SIGALRM}};

void PrintTo(const EndSignal& s, std::ostream* out) { *out << s.name; }
void PrintTo(const Stage& s, std::ostream* out) { *out << s.name; }

class SignalTest : public ProgramTest,
                   public ::testing::WithParamInterface<std::tuple<EndSignal, Stage>> {};

TEST_P(SignalTest, PutsTheRemoteBackAndEndsWithZero) {
    const auto& [signal, stage] = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(kOnePoint));
    if (stage.firstReport[0] != '\0') {
        ASSERT_TRUE(WaitFor([&] { return LogText(run).find(stage.firstReport) != std::string::npos; },
                            kStartDeadline));
    } else {
        ASSERT_NE(WaitForView(), 0u);
        std::this_thread::sleep_for(milliseconds(800));  // past the reader's start delay
    }
    kill(run.process->pid(), signal.number);
    ASSERT_TRUE(EndsWith(run, 0));
    EXPECT_TRUE(PutBackOnceAndClosedOnce(FinalLog(run)));
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalTest,
                         ::testing::Combine(::testing::ValuesIn(kSignals), ::testing::ValuesIn(kStages)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "During" +
                                    std::get<1>(info.param).name;
                         });

TEST_F(ProgramTest, APipeClosedUnderTheProgramDoesNotEndIt) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(kOnePoint));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    kill(run.process->pid(), SIGPIPE);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_TRUE(run.process->Running());
    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(run, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
}

// Started with standard input, output and error closed, the program opens
// them on the null device first: the display's connection does not become
// descriptor 2, where a line for the user would land inside it. Escape and a
// signal end it as usual.
class ClosedStreamsTest : public ProgramTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ClosedStreamsTest, OpensThemOnTheNullDeviceAndEndsAsUsual) {
    const bool bySignal = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    CloseStandardStreams();
    Run& run = Launch(Script(kOnePoint));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    for (int fd = 0; fd <= 2; ++fd) {
        const std::string link = "/proc/" + std::to_string(run.process->pid()) + "/fd/" + std::to_string(fd);
        EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/null") << link;
    }
    if (bySignal) kill(run.process->pid(), SIGTERM);
    else X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(run, 0));
    EXPECT_TRUE(PutBackOnceAndClosedOnce(FinalLog(run)));
}

INSTANTIATE_TEST_SUITE_P(Endings, ClosedStreamsTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Signal" : "Escape"; });

// Close paths that cannot finish: a display that no longer answers (its
// server stopped), and a log whose reader no longer reads (its pipe full,
// status reports making the program write to it, so that its writes
// wait). Two seconds after the
// signal the program ends all the same; the remote is put back where its
// channel still answers (the simulated remote's writes go to the log).
class StuckEndingTest : public ProgramTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StuckEndingTest, ASignalEndsTheProgramAllTheSame) {
    const bool logStuck = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    std::string script = kOnePoint;
    for (int i = 0; logStuck && i < 600; ++i) {
        script += std::to_string(100 + 5 * i) + (i % 2 == 0 ? " extension on\n" : " extension off\n");
    }
    const std::string fifo = Dir().File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    std::vector<std::string> args = Script(script);
    if (logStuck) args.insert(args.end(), {"--log", fifo});
    Run& run = logStuck ? LaunchExactly(args, "tavolen") : Launch(args);
    ASSERT_NE(WaitForView(), 0u);
    if (logStuck) {
        EXPECT_TRUE(WaitFor([&] { int queued = 0; return ioctl(reader, FIONREAD, &queued) == 0 && queued > 4096 - 20; },
                            kStartDeadline));
    } else {
        std::this_thread::sleep_for(milliseconds(800));
        SignalDisplay(SIGSTOP);
        std::this_thread::sleep_for(milliseconds(500));
    }
    kill(run.process->pid(), SIGTERM);
    const bool ended = EndsWith(run, 0);
    SignalDisplay(SIGCONT);
    close(reader);
    ASSERT_TRUE(ended) << Stderr(run);
    if (!logStuck) {
        EXPECT_TRUE(PutBackOnceAndClosedOnce(FinalLog(run)));
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, StuckEndingTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "LogNobodyReads" : "DisplayStopped"; });

// A HOME pressed and let go while the window is still being made (the
// display does not answer meanwhile) ends the run the moment it is open.
TEST_F(ProgramTest, HomeWhileTheWindowIsBeingMadeEndsTheRunOnceItIsOpen) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    SignalDisplay(SIGSTOP);
    Run& run = Launch(Script("0 ir 1 300 200\n3000 buttons 00 80\n3200 buttons 00 00\n"));
    const bool setUp = WaitFor([&] { return LogText(run).find("12 00 33") != std::string::npos; }, kStartDeadline);
    std::this_thread::sleep_for(milliseconds(3500));  // past the press, the 12 00 33 coming at about 300 ms
    SignalDisplay(SIGCONT);
    ASSERT_TRUE(setUp);
    ASSERT_TRUE(EndsWith(run, 0)) << Stderr(run);
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
}

// Whatever the environment of a start, it meets the lock of the one running.
TEST_F(ProgramTest, EveryStartOfOneUserMeetsTheSameLock) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& first = Launch(Script(kOnePoint), "first");
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    const std::string elsewhere = Dir().File("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    const std::map<std::string, std::string> environments[] = {
        {{"XDG_RUNTIME_DIR", ""}}, {{"XDG_RUNTIME_DIR", elsewhere}}, {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", elsewhere}}};
    for (const auto& env : environments) {
        Run& other = LaunchExactly({"--scenario", "still"}, "other", TAVOLEN_SIM, env);
        EXPECT_TRUE(EndsWith(other, 0));
    }
    EXPECT_EQ(X().FindWindows("Tavolen").size(), 1u);
    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(first, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(first)));
}

// The X server ends (log-out) or the window's client is killed (xkill).
class LostDisplayTest : public ProgramTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LostDisplayTest, PutsTheRemoteBackSaysSoAndEndsWithOne) {
    const bool serverEnds = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& run = Launch(Script(kOnePoint));
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    std::this_thread::sleep_for(milliseconds(800));
    if (serverEnds) {
        StopDisplay();
    } else {
        X().KillClientOf(view);
    }
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_EQ(Stderr(run), "Tavolen lost its display.\n");
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(run)));
}

INSTANTIATE_TEST_SUITE_P(Endings, LostDisplayTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ServerEnds" : "ClientKilled"; });

// Killed while "Wii-Remote not found." waits for its OK: the box goes with the
// program, and nothing it left behind keeps the next start from running.
class KilledWithBoxTest : public ProgramTest, public ::testing::WithParamInterface<EndSignal> {};

TEST_P(KilledWithBoxTest, TheBoxGoesAndTheNextStartRuns) {
    const EndSignal& signal = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& first = Launch({"--scenario", "absent"}, "first");
    ASSERT_TRUE(X().WaitForWindow("Error", kStartDeadline).has_value()) << Stderr(first);
    kill(first.process->pid(), signal.number);
    // A signal it takes ends it with the box's own code; SIGKILL kills it.
    ASSERT_TRUE(EndsWith(first, signal.number == SIGKILL ? -1 - SIGKILL : 1));
    EXPECT_TRUE(WaitFor([&] { return X().FindWindows("Error").empty(); }, milliseconds(5000)));

    Run& second = Launch(Script(kOnePoint), "second");
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(second, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(second)));
}

INSTANTIATE_TEST_SUITE_P(Signals, KilledWithBoxTest,
                         ::testing::Values(EndSignal{"Term", SIGTERM}, EndSignal{"Kill", SIGKILL}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, ASecondInstanceLeavesTheFirstsLogAlone) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    Run& first = Launch(Script(kOnePoint), "first");
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    Run& second = LaunchExactly({"--scenario", "still", "--log", first.logPath}, "second");
    ASSERT_TRUE(EndsWith(second, 0));
    X().SendKey(view, XK_Escape);
    ASSERT_TRUE(EndsWith(first, 0));
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(first)));
}

TEST_F(ProgramTest, ARemoteThatMayNotBeOpenedIsNamedInTheBoxAsOnStderr) {
    Run& run = Launch(Script("denied\n"));
    ASSERT_TRUE(EndsWith(run, 1));
    // The box shows exactly the line standard error gets.
    const std::string err = Stderr(run);
    EXPECT_EQ(err.rfind("Tavolen cannot open the Wii-Remote at /dev/hidraw-simulated: Permission "
                        "denied. It needs the udev rule ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// --help and --version answer on standard output; anything else given to
// tavolen is refused before it looks for a remote.
struct OptionCase {
    const char* name;
    bool simulated;
    std::vector<std::string> args;
    int code;
    const char* stdoutStart;
};

const OptionCase kOptionCases[] = {
    {"Help", false, {"--help"}, 0, "usage: tavolen "},
    {"Version", false, {"--version"}, 0, "tavolen " TAVOLEN_VERSION "\n"},
    {"SimHelp", true, {"--help"}, 0, "usage: tavolen-sim "},
    {"SimVersion", true, {"--version"}, 0, "tavolen-sim " TAVOLEN_VERSION "\n"},
    {"Unexpected", false, {"--script", "x"}, 2, ""},
};

void PrintTo(const OptionCase& c, std::ostream* out) { *out << c.name; }

class OptionTest : public ProgramTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionTest, AnswersAndEndsWithoutTheRemote) {
    const OptionCase& c = GetParam();
    Run& run = LaunchExactly(c.args, "run", c.simulated ? TAVOLEN_SIM : TAVOLEN);
    ASSERT_TRUE(EndsWith(run, c.code));
    EXPECT_EQ(Stdout(run).rfind(c.stdoutStart, 0), 0u) << Stdout(run);
    const std::string err = Stderr(run);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.code == 0 ? 0 : 1) << err;
    EXPECT_TRUE(std::filesystem::is_empty(RuntimeDir()));  // no lock taken
}

INSTANTIATE_TEST_SUITE_P(CommandLines, OptionTest, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
