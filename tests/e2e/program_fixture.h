// The fixture every end-to-end test starts from: a private directory, the
// program runs started in it, and on demand an Xvfb with a client connection.
// Members are destroyed in reverse order, so the runs are killed (if still
// alive) before the display they use goes away.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// A cross centred on window pixel (x, y), arms four pixels either way.
struct Centre {
    int x = 0, y = 0;
};

// The picture the view should show: white with a black cross per centre,
// cut off at the edges.
std::vector<std::string> ExpectedView(int width, int height, const std::vector<Centre>& centres);

// Where a snapshot differs from the expected picture, for failure messages.
std::string DescribeDifferences(const std::vector<std::string>& expected,
                                const std::vector<std::string>& actual);

// The output reports of a normal run, from opening the remote to closing it.
::testing::AssertionResult IsWholeRunSequence(const std::vector<LogLine>& log);

// The log's reports without their times, "close" for the close.
std::vector<std::string> Reports(const std::vector<LogLine>& log);

// How often `line` occurs as a whole line of `text`.
int CountLines(const std::string& text, const std::string& line);

class ProgramTest : public ::testing::Test {
protected:
    struct Run {
        std::string name;
        std::string logPath;
        std::string stderrPath;
        std::unique_ptr<Process> process;
    };

    // Starts the test's own Xvfb and connects to it.
    void StartDisplay();
    // Ends the test's Xvfb (its own connection first) under whatever runs on it.
    void StopDisplay();
    bool HasDisplay() const { return client_ != nullptr; }
    XClient& X() { return *client_; }

    // Writes a script into the test's directory; returns the options to run it.
    std::vector<std::string> Script(const std::string& text, const std::string& name = "script");

    // Starts tavolen-sim with `args` and "--log <name>.log", on the test's
    // display if it has one (else with no display at all), with the test's
    // runtime directory as XDG_RUNTIME_DIR.
    Run& Launch(const std::vector<std::string>& args, const std::string& name = "tavolen");
    // As Launch, without adding a log option; `program` instead of tavolen-sim;
    // `env` changes the environment (an empty value unsets the variable).
    // Every run of a test meets the test's own single-instance lock.
    Run& LaunchExactly(const std::vector<std::string>& args, const std::string& name,
                       const std::string& program = TAVOLEN_SIM,
                       const std::map<std::string, std::string>& env = {});
    // Runs launched from now on start with standard input, output and error closed.
    void CloseStandardStreams() { closeStandardStreams_ = true; }
    // Sends signal to the test's Xvfb (SIGSTOP: a display that stops answering).
    void SignalDisplay(int signal);
    std::string Stdout(const Run& run) const { return ReadFile(dir_.File(run.name + ".out")); }

    std::string Stderr(const Run& run) const { return ReadFile(run.stderrPath); }
    std::string LogText(const Run& run) const { return ReadFile(run.logPath); }
    // The whole log, parsed; a malformed log fails the test.
    std::vector<LogLine> FinalLog(const Run& run) const;

    // Waits for the run to end with `code`.
    ::testing::AssertionResult EndsWith(Run& run, int code);

    // Waits for the view's window.
    XClient::Window WaitForView();

    // Polls snapshots of `window` until one equals `expected`; on failure
    // describes the last one. `nudge`, if given, runs first and again after
    // each half second without a match.
    ::testing::AssertionResult ShowsEventually(XClient::Window window,
                                               const std::vector<std::string>& expected,
                                               const std::function<void()>& nudge = {});
    // As above, for a picture that changes with each nudge.
    ::testing::AssertionResult ShowsEventually(
        XClient::Window window, const std::function<std::vector<std::string>()>& expected,
        const std::function<void()>& nudge);

    // Runs `script` recording it (--record, into recordingName in the test's
    // directory), then replays the recording:
    // both end with 0 and send the same reports, the replay's 12 00 30 comes
    // within 20 ms of homeMs, and checkView holds for the replay's window
    // while it runs.
    void CheckRecordingRoundTrip(const std::string& script, double homeMs,
                                 const std::function<::testing::AssertionResult(XClient::Window)>& checkView,
                                 const std::string& recordingName = "session.txt");

    // The programs under test are the Windows ones, run by Wine.
    static bool UnderWine();
    const std::string& RuntimeDir() const { return runtimeDir_; }
    const TempDir& Dir() const { return dir_; }

private:
    TempDir dir_;
    std::string runtimeDir_ = MakeRuntimeDir(dir_);
    std::unique_ptr<Xvfb> xvfb_;
    std::unique_ptr<XClient> client_;
    std::deque<Run> runs_;
    bool closeStandardStreams_ = false;

    static std::string MakeRuntimeDir(const TempDir& dir);
};

}  // namespace e2e
