// A session recorded with --record and replayed with --script: the replay
// sends the same reports, ends at the same moment and shows the same picture.
#include <X11/keysym.h>
#include <signal.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "program_fixture.h"

namespace e2e {
namespace {

constexpr int kWidth = 520;
constexpr int kHeight = 420;

std::vector<std::string> Reports(const std::vector<LogLine>& log) {
    std::vector<std::string> reports;
    for (const LogLine& line : log) reports.push_back(line.close ? "close" : Hex(line.bytes));
    return reports;
}

// The time of the last "<ms> raw ..." line of a recording, -1 without one.
long LastRawMs(const std::string& recording) {
    std::istringstream in(recording);
    std::string line;
    long last = -1;
    while (std::getline(in, line)) {
        if (line.find(" raw ") != std::string::npos) last = std::stol(line);
    }
    return last;
}

std::vector<std::string> WithRecording(std::vector<std::string> args, const std::string& path) {
    args.insert(args.end(), {"--record", path});
    return args;
}

TEST_F(ProgramTest, AReplayedRecordingSendsTheSameReportsEndsAtTheSameMomentAndShowsTheSame) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    const std::string recording = Dir().File("session.txt");
    Run& original = Launch(WithRecording(Script("0 ir 1 100 100\n"
                                                "250 ir 1 600 400\n"
                                                "250 ir 2 200 100\n"
                                                "1500 buttons 00 80\n"),
                                         recording),
                           "original");
    ASSERT_TRUE(EndsWith(original, 0));
    const std::string recorded = ReadFile(recording);
    EXPECT_NE(recorded.find("\nrecorded\n"), std::string::npos) << recorded.substr(0, 400);
    EXPECT_NE(recorded.find(" sent 12 00 30\n"), std::string::npos);

    Run& replay = LaunchExactly({"--script", recording, "--log", Dir().File("replay.log")}, "replay");
    const XClient::Window view = WaitForView();
    ASSERT_NE(view, 0u);
    EXPECT_TRUE(ShowsEventually(view, ExpectedView(kWidth, kHeight, {{300, 200}, {100, 50}})));
    ASSERT_TRUE(EndsWith(replay, 0));

    const std::vector<LogLine> originalLog = FinalLog(original);
    const std::vector<LogLine> replayLog = FinalLog(replay);
    EXPECT_TRUE(IsWholeRunSequence(replayLog));
    EXPECT_EQ(Reports(replayLog), Reports(originalLog));
    ASSERT_GE(replayLog.size(), 2u);
    const double homeMs = replayLog[replayLog.size() - 2].ms;  // 12 00 30
    EXPECT_GE(homeMs, 1500.0);
    EXPECT_LT(homeMs, 1520.0) << "HOME was pressed at 1500 ms";
}

TEST_F(ProgramTest, ARecordingLosesAtMostASecondWhenTheProgramIsKilled) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    const std::string recording = Dir().File("killed.txt");
    const Clock::time_point started = Clock::now();
    Run& run = Launch(WithRecording(Script("0 ir 1 300 200\n"), recording));
    ASSERT_NE(WaitForView(), 0u);
    std::this_thread::sleep_for(milliseconds(2500));
    kill(run.process->pid(), SIGKILL);
    const double killedMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    ASSERT_TRUE(EndsWith(run, -1 - SIGKILL));
    // The remote was opened a little after the start: allow 300 ms for that.
    EXPECT_GT(LastRawMs(ReadFile(recording)), killedMs - 1000 - 300);
}

TEST_F(ProgramTest, NoRemoteLeavesNoRecording) {
    const std::string recording = Dir().File("nothing.txt");
    Run& run = Launch(WithRecording({"--scenario", "absent"}, recording));
    ASSERT_TRUE(EndsWith(run, 1));
    EXPECT_FALSE(std::filesystem::exists(recording));
}

}  // namespace
}  // namespace e2e
