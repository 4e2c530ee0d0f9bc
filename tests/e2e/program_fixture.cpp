#include "program_fixture.h"

#include <signal.h>
#include <sys/stat.h>

#include <sstream>

// The command that starts the programs; none runs them directly.
#ifndef TAVOLEN_RUNNER
#define TAVOLEN_RUNNER ""
#endif
// The command that gives a Linux program the test's own lock place; the
// Windows programs' lock is their Wine session's.
#ifndef PRIVATE_LOCK_PLACE
#define PRIVATE_LOCK_PLACE ""
#endif

namespace e2e {

namespace {

// A report the remote must receive: its leading bytes and its whole length.
// Register writes are always 22 bytes long, but only the bytes up to the
// size's data mean anything.
struct ExpectedReport {
    std::vector<uint8_t> bytes;
    std::size_t length;
};

const std::vector<ExpectedReport> kRunSequence = {
    {{0x12, 0x00, 0x31}, 3},                                                  // buttons + accel
    {{0x11, 0x10}, 2},                                                        // LED 1
    {{0x13, 0x04}, 2},                                                        // camera clock
    {{0x1A, 0x04}, 2},                                                        // camera on
    {{0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01}, 22},                               // control
    {{0x16, 0x04, 0xB0, 0xFF, 0x00, 0x07, 0x02, 0x00, 0x00, 0x71, 0x01, 0x00, 0xC8}, 22},
    {{0x16, 0x04, 0xB0, 0xFF, 0x07, 0x02, 0x00, 0x36}, 22},                   // sensitivity
    {{0x16, 0x04, 0xB0, 0xFF, 0x1A, 0x02, 0x35, 0x03}, 22},                   // sensitivity
    {{0x16, 0x04, 0xB0, 0xFF, 0x33, 0x01, 0x03}, 22},                         // extended mode
    {{0x16, 0x04, 0xB0, 0xFF, 0x30, 0x01, 0x08}, 22},                         // control
    {{0x12, 0x00, 0x33}, 3},                                                  // buttons + accel + IR
    {{0x12, 0x00, 0x30}, 3},                                                  // buttons only
};

bool Matches(const LogLine& line, const ExpectedReport& expected) {
    if (line.close || line.bytes.size() != expected.length) return false;
    return std::equal(expected.bytes.begin(), expected.bytes.end(), line.bytes.begin());
}

std::string Describe(const ExpectedReport& expected) {
    return Hex(expected.bytes) + (expected.bytes.size() < expected.length ? " ..." : "") + " (" +
           std::to_string(expected.length) + " bytes)";
}

std::string WholeLog(const std::vector<LogLine>& log) {
    std::string text;
    for (const LogLine& line : log) text += "\n  " + line.text;
    return text.empty() ? " (empty)" : text;
}

}  // namespace

std::vector<std::string> ExpectedView(int width, int height, const std::vector<Centre>& centres) {
    std::vector<std::string> rows(static_cast<std::size_t>(height),
                                  std::string(static_cast<std::size_t>(width), 'W'));
    auto black = [&](int x, int y) {
        if (x >= 0 && x < width && y >= 0 && y < height) rows[y][x] = 'B';
    };
    for (const Centre& centre : centres) {
        for (int d = -4; d <= 4; ++d) {
            black(centre.x + d, centre.y);
            black(centre.x, centre.y + d);
        }
    }
    return rows;
}

std::string DescribeDifferences(const std::vector<std::string>& expected,
                                const std::vector<std::string>& actual) {
    std::ostringstream out;
    if (expected.size() != actual.size() || (!actual.empty() && actual[0].size() != expected[0].size())) {
        out << "size " << (actual.empty() ? 0 : actual[0].size()) << "x" << actual.size()
            << ", expected " << (expected.empty() ? 0 : expected[0].size()) << "x"
            << expected.size();
        return out.str();
    }
    int count = 0;
    for (std::size_t y = 0; y < expected.size(); ++y) {
        for (std::size_t x = 0; x < expected[y].size(); ++x) {
            if (expected[y][x] == actual[y][x]) continue;
            if (count < 24) {
                out << " (" << x << "," << y << ") is " << actual[y][x] << " not "
                    << expected[y][x] << ";";
            }
            ++count;
        }
    }
    return std::to_string(count) + " pixels differ (W white, B black, ? other):" + out.str();
}

::testing::AssertionResult IsWholeRunSequence(const std::vector<LogLine>& log) {
    const std::size_t wanted = kRunSequence.size() + 1;
    for (std::size_t i = 0; i < log.size() && i < wanted; ++i) {
        const bool ok = i < kRunSequence.size() ? Matches(log[i], kRunSequence[i]) : log[i].close;
        if (!ok) {
            return ::testing::AssertionFailure()
                   << "report " << i + 1 << " is '" << log[i].text << "', expected "
                   << (i < kRunSequence.size() ? Describe(kRunSequence[i]) : "close")
                   << "; the log:" << WholeLog(log);
        }
    }
    if (log.size() != wanted) {
        return ::testing::AssertionFailure() << log.size() << " log lines, expected " << wanted
                                             << "; the log:" << WholeLog(log);
    }
    for (std::size_t i = 1; i < log.size(); ++i) {
        if (log[i].ms < log[i - 1].ms) {
            return ::testing::AssertionFailure() << "time goes back at line " << i + 1
                                                 << "; the log:" << WholeLog(log);
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> Reports(const std::vector<LogLine>& log) {
    std::vector<std::string> reports;
    for (const LogLine& line : log) reports.push_back(line.close ? "close" : Hex(line.bytes));
    return reports;
}

int CountLines(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    std::string current;
    int count = 0;
    while (std::getline(in, current)) count += current == line ? 1 : 0;
    return count;
}

std::string ProgramTest::MakeRuntimeDir(const TempDir& dir) {
    const std::string path = dir.File("runtime");
    mkdir(path.c_str(), 0700);
    return path;
}

void ProgramTest::StartDisplay() {
    xvfb_ = std::make_unique<Xvfb>(dir_.File("xvfb.err"));
    ASSERT_FALSE(xvfb_->display().empty())
        << "Xvfb did not start: " << ReadFile(dir_.File("xvfb.err"));
    client_ = std::make_unique<XClient>(xvfb_->display());
    ASSERT_TRUE(client_->connected()) << "cannot connect to " << xvfb_->display();
}

bool ProgramTest::UnderWine() { return std::string(TAVOLEN_RUNNER) != ""; }

void ProgramTest::SignalDisplay(int signal) {
    if (xvfb_ != nullptr && xvfb_->pid() > 0) kill(xvfb_->pid(), signal);
}

void ProgramTest::StopDisplay() {
    client_.reset();
    xvfb_.reset();
}

std::vector<std::string> ProgramTest::Script(const std::string& text, const std::string& name) {
    const std::string path = dir_.File(name + ".txt");
    WriteFile(path, text);
    return {"--script", path};
}

ProgramTest::Run& ProgramTest::Launch(const std::vector<std::string>& args,
                                      const std::string& name) {
    std::vector<std::string> all = args;
    all.push_back("--log");
    all.push_back(dir_.File(name + ".log"));
    return LaunchExactly(all, name);
}

ProgramTest::Run& ProgramTest::LaunchExactly(const std::vector<std::string>& args,
                                             const std::string& name, const std::string& program,
                                             const std::map<std::string, std::string>& env) {
    Process::Options options;
    if (std::string(PRIVATE_LOCK_PLACE) != "") options.argv = {PRIVATE_LOCK_PLACE, runtimeDir_};
    // The runner's words, '|' between them (Wine's, for the Windows programs).
    std::istringstream runner(TAVOLEN_RUNNER);
    for (std::string word; std::getline(runner, word, '|');) {
        if (!word.empty()) options.argv.push_back(word);
    }
    options.argv.push_back(program);
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = BaseEnvironment();
    options.env["XDG_RUNTIME_DIR"] = runtimeDir_;
    if (xvfb_ != nullptr) options.env["DISPLAY"] = xvfb_->display();
    for (const auto& [variable, value] : env) {
        if (value.empty()) options.env.erase(variable);
        else options.env[variable] = value;
    }
    options.closeStandardStreams = closeStandardStreams_;
    options.stdoutPath = dir_.File(name + ".out");
    options.stderrPath = dir_.File(name + ".err");
    Run& run = runs_.emplace_back();
    run.name = name;
    run.logPath = dir_.File(name + ".log");
    run.stderrPath = options.stderrPath;
    run.process = std::make_unique<Process>(options);
    return run;
}

std::vector<LogLine> ProgramTest::FinalLog(const Run& run) const {
    std::string error;
    std::optional<std::vector<LogLine>> log = ParseLog(LogText(run), &error);
    if (!log) {
        ADD_FAILURE() << run.name << "'s log is malformed: " << error;
        return {};
    }
    return *log;
}

::testing::AssertionResult ProgramTest::EndsWith(Run& run, int code) {
    const std::optional<int> status = run.process->WaitExit(kExitDeadline);
    if (!status) {
        return ::testing::AssertionFailure()
               << run.name << " still runs after " << kExitDeadline.count()
               << " ms; its stderr: " << Stderr(run);
    }
    if (*status != code) {
        return ::testing::AssertionFailure()
               << run.name << " ended with " << *status << " (negative: a signal), expected "
               << code << "; its stderr: " << Stderr(run);
    }
    return ::testing::AssertionSuccess();
}

void ProgramTest::CheckRecordingRoundTrip(
    const std::string& script, double homeMs,
    const std::function<::testing::AssertionResult(XClient::Window)>& checkView,
    const std::string& recordingName) {
    const std::string recording = dir_.File(recordingName);
    std::vector<std::string> args = Script(script);
    args.insert(args.end(), {"--record", recording});
    Run& original = Launch(args, "original");
    ASSERT_TRUE(EndsWith(original, 0));
    const std::string recorded = ReadFile(recording);
    EXPECT_NE(recorded.find("\n# write form exact\nrecorded\n"), std::string::npos) << recorded.substr(0, 400);
    if (!UnderWine()) {
        // The replay line, pasted into a shell, names the recording (control characters as '?').
        const std::size_t from = recorded.find(" --script ") + 10;
        Process::Options shell;
        shell.argv = {"/bin/sh", "-c", "printf %s " + recorded.substr(from, recorded.find('\n', from) - from)};
        shell.stdoutPath = dir_.File("replay-line.out");
        ASSERT_EQ(Process(shell).WaitExit(kExitDeadline), 0);
        std::string masked = recording;
        for (char& c : masked) c = static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        EXPECT_EQ(ReadFile(shell.stdoutPath), masked);
    }

    Run& replay = LaunchExactly({"--script", recording, "--log", dir_.File("replay.log")}, "replay");
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    EXPECT_TRUE(checkView(view));
    ASSERT_TRUE(EndsWith(replay, 0));
    const std::vector<LogLine> replayLog = FinalLog(replay);
    EXPECT_TRUE(IsWholeRunSequence(replayLog));
    EXPECT_EQ(Reports(replayLog), Reports(FinalLog(original)));
    ASSERT_GE(replayLog.size(), 2u);
    // The recording counts from the remote's first write taken, the simulated
    // remote from its opening: under an emulator or a sanitizer the replay
    // plays a few ms early, and the shutdown's write may wait for a processor.
    const double putBackMs = replayLog[replayLog.size() - 2].ms;  // 12 00 30
    EXPECT_GE(putBackMs, homeMs - 50);
    EXPECT_LT(putBackMs, homeMs + 500) << "HOME was pressed at " << homeMs << " ms";
}

XClient::Window ProgramTest::WaitForView() {
    const std::optional<XClient::Window> window = X().WaitForWindow("Tavolen", kStartDeadline);
    if (!window) {
        ADD_FAILURE() << "no window titled Tavolen after " << kStartDeadline.count()
                      << " ms; stderr of the runs:"
                      << [&] {
                             std::string all;
                             for (const Run& run : runs_) all += "\n" + run.name + ": " + Stderr(run);
                             return all;
                         }();
        return 0;
    }
    return *window;
}

::testing::AssertionResult ProgramTest::ShowsEventually(
    XClient::Window window, const std::function<std::vector<std::string>()>& expected,
    const std::function<void()>& nudge) {
    std::optional<std::vector<std::string>> last;
    std::vector<std::string> wanted;
    const bool shown = WaitFor(
        [&] {
            if (nudge) nudge();
            wanted = expected();
            // Give the program time to draw before nudging it again.
            return WaitFor(
                [&] {
                    std::optional<std::vector<std::string>> snapshot = X().Snapshot(window);
                    if (snapshot) last = std::move(snapshot);
                    return last && *last == wanted;
                },
                milliseconds(nudge ? 500 : 0));
        },
        kStartDeadline);
    if (shown) return ::testing::AssertionSuccess();
    if (!last) return ::testing::AssertionFailure() << "the window's pixels could not be read";
    return ::testing::AssertionFailure()
           << "after " << kStartDeadline.count()
           << " ms the window still differs: " << DescribeDifferences(wanted, *last);
}

::testing::AssertionResult ProgramTest::ShowsEventually(XClient::Window window,
                                                        const std::vector<std::string>& expected,
                                                        const std::function<void()>& nudge) {
    return ShowsEventually(window, [&] { return expected; }, nudge);
}

}  // namespace e2e
