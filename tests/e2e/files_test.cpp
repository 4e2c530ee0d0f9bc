// The files a run is given: one file under two names (a link, a hard link,
// another spelling) is refused whichever option names it, and a refused run
// leaves nothing it made; two files run.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "program_fixture.h"

namespace e2e {
namespace {

const char kScript[] = "0 ir 1 300 200\n";

struct FileArguments {
    const char* name;
    // After --script DIR/script.txt. DIR/x is x in the test's directory;
    // LONG/x is the same in Windows' \\?\ form.
    std::vector<std::string> args;
    // 2: refused; 1: a whole run (there is no display); 0: the spelling
    // does not exist on that system. Linux, then Windows under Wine.
    int linuxCode, windowsCode;
};

const FileArguments kFileArguments[] = {
    {"LogIsTheScript", {"--log", "DIR/script.txt"}, 2, 2},
    {"LogIsALinkToTheScript", {"--log", "DIR/link.txt"}, 2, 2},
    {"LogIsAHardLinkOfTheScript", {"--log", "DIR/hard.txt"}, 2, 2},
    {"LogIsTheScriptWithADot", {"--log", "DIR/./script.txt"}, 2, 2},
    {"LogIsTheScriptThroughAFolder", {"--log", "DIR/sub/../script.txt"}, 2, 2},
    {"LogIsTheScriptInCapitals", {"--log", "DIR/SCRIPT.TXT"}, 1, 2},
    {"LogIsTheScriptWithATrailingDot", {"--log", "DIR/script.txt."}, 1, 2},
    {"LogIsTheScriptWithATrailingSpace", {"--log", "DIR/script.txt "}, 1, 2},
    {"LogIsTheScriptInTheLongForm", {"--log", "LONG/script.txt"}, 0, 2},
    {"LogIsTheRecording", {"--record", "DIR/new.txt", "--log", "DIR/new.txt"}, 2, 2},
    {"LogIsTheRecordingThroughAFolder", {"--record", "DIR/new.txt", "--log", "DIR/sub/../new.txt"}, 2, 2},
    {"LogIsTheRecordingInCapitals", {"--record", "DIR/new.txt", "--log", "DIR/NEW.TXT"}, 1, 2},
    {"LogIsALinkToTheRecordingToBe", {"--record", "DIR/new.txt", "--log", "DIR/to-new.txt"}, 2, 2},
    {"RecordingAndALogWithNoFolder", {"--record", "DIR/new.txt", "--log", "/nonexistent/folder/x.log"}, 2, 2},
    {"LogIsAPipeNobodyReads", {"--record", "DIR/new.txt", "--log", "DIR/fifo"}, 2, 0},
    {"LogIsACopyOfTheScript", {"--log", "DIR/copy.txt"}, 1, 1},
    {"LogIsALinkToAFileToBe", {"--log", "DIR/to-new.txt"}, 1, 1},
    {"ThreeFiles", {"--log", "DIR/other.log", "--record", "DIR/recording.txt"}, 1, 1},
};

void PrintTo(const FileArguments& c, std::ostream* out) { *out << c.name; }

class FileArgumentsTest : public ProgramTest, public ::testing::WithParamInterface<FileArguments> {};

TEST_P(FileArgumentsTest, OneFileUnderTwoNamesIsRefusedAndLeavesNothingBehind) {
    const FileArguments& c = GetParam();
    const int code = UnderWine() ? c.windowsCode : c.linuxCode;
    if (code == 0) GTEST_SKIP() << "no such spelling here";
    namespace fs = std::filesystem;
    const std::string script = Script(kScript)[1];
    fs::create_directory(Dir().File("sub"));
    fs::create_symlink(script, Dir().File("link.txt"));
    fs::create_hard_link(script, Dir().File("hard.txt"));
    fs::copy_file(script, Dir().File("copy.txt"));
    fs::create_symlink(Dir().File("new.txt"), Dir().File("to-new.txt"));
    ASSERT_EQ(mkfifo(Dir().File("fifo").c_str(), 0600), 0);
    std::vector<std::string> args = {"--script", script};
    std::string log;
    for (std::string arg : c.args) {
        if (arg.rfind("DIR/", 0) == 0) arg = Dir().File(arg.substr(4));
        if (arg.rfind("LONG/", 0) == 0) {
            arg = "\\\\?\\Z:" + Dir().File(arg.substr(5));
            std::replace(arg.begin(), arg.end(), '/', '\\');
        }
        if (args.back() == "--log") log = arg;
        args.push_back(arg);
    }
    Run& run = LaunchExactly(args, "run");
    ASSERT_TRUE(EndsWith(run, code));
    std::string err = Stderr(run);
    std::erase(err, '\r');  // Windows' text mode
    EXPECT_EQ(ReadFile(script), kScript);  // the script is never written
    if (code == 2) {
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(fs::exists(Dir().File("new.txt")));
        EXPECT_FALSE(fs::exists(Dir().File("other.log")));
        return;
    }
    EXPECT_EQ(err, "Tavolen cannot open its window.\n");
    std::string problem;
    const std::optional<std::vector<LogLine>> lines = ParseLog(ReadFile(log), &problem);
    ASSERT_TRUE(lines.has_value()) << problem;
    EXPECT_TRUE(IsWholeRunSequence(*lines));
    if (fs::exists(Dir().File("recording.txt"))) {
        EXPECT_EQ(ReadFile(Dir().File("recording.txt")).rfind("# A Wii Remote session", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, FileArgumentsTest, ::testing::ValuesIn(kFileArguments),
                         [](const auto& info) { return std::string(info.param.name); });

// A recording on a disk that fills up: one line saying where it stopped, the
// file cut back to its last whole line, which replays, and exit code 3.
TEST_F(ProgramTest, ARecordingOnAFullDiskEndsAtItsLastWholeLineAndTheRunWithThree) {
    if (geteuid() != 0) GTEST_SKIP() << "a small file system takes root to mount";
    const std::string full = Dir().File("full"), recording = full + "/session.txt";
    std::filesystem::create_directory(full);
    ASSERT_EQ(mount("tavolen-full", full.c_str(), "tmpfs", 0, "size=8k"), 0);
    const std::unique_ptr<const char, void (*)(const char*)> unmount(full.c_str(), [](const char* at) { umount2(at, MNT_DETACH); });
    WriteFile(full + "/filler", std::string(4096, 'x'));  // one page of two left
    ASSERT_NO_FATAL_FAILURE(StartDisplay());
    std::vector<std::string> args = Script("0 ir 1 300 200\n2500 buttons 00 80\n");
    args.insert(args.end(), {"--record", recording});
    Run& run = Launch(args);
    ASSERT_TRUE(EndsWith(run, 3));
    std::string err = Stderr(run);
    std::erase(err, '\r');  // Windows' text mode
    EXPECT_EQ(err.rfind("Tavolen cannot write the recording " + recording + ": ", 0), 0u) << err;
    EXPECT_NE(err.find(" ms into the session, and replays up to there.\n"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(ReadFile(recording).back(), '\n');
    StopDisplay();
    Run& replay = LaunchExactly({"--script", recording, "--log", Dir().File("replay.log")}, "replay");
    ASSERT_TRUE(EndsWith(replay, 1));  // no display: found, probed and set up in full
    EXPECT_TRUE(IsWholeRunSequence(FinalLog(replay)));
}

}  // namespace
}  // namespace e2e
