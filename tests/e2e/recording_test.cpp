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
    CheckRecordingRoundTrip("0 ir 1 100 100\n"
                            "250 ir 1 600 400\n"
                            "250 ir 2 200 100\n"
                            "1500 buttons 00 80\n",
                            1500, [&](XClient::Window view) {
                                return ShowsEventually(view, ExpectedView(kWidth, kHeight, {{300, 200}, {100, 50}}));
                            });
}

// A name that holds a newline and an escape still gives a header of one line
// per field, with spaces and quotes a replay line that a shell takes whole,
// and the recording replays.
TEST_F(ProgramTest, ARecordingWhoseNameHoldsControlCharactersReplays) {
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    CheckRecordingRoundTrip(
        "0 ir 1 100 100\n1000 buttons 00 80\n", 1000,
        [&](XClient::Window view) { return ShowsEventually(view, ExpectedView(kWidth, kHeight, {{50, 50}})); },
        "new\nline\x1b[2J it's \"$HOME\".txt");
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
