// What the end-to-end tests need around tavolen-sim: a private directory, a
// child process that never outlives its test, an Xvfb of its own, the
// program's log, and a connection to the display that finds windows, reads
// their pixels and sends them keys and close requests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;  // Xlib's Display

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: the suite also runs under the sanitizers on two busy cores.
constexpr milliseconds kStartDeadline{20000};
constexpr milliseconds kExitDeadline{20000};

// Polls `done` every 20 ms until it holds or `deadline` passes; returns
// whether it held.
bool WaitFor(const std::function<bool()>& done, milliseconds deadline);

// A fresh 0700 directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

// The environment a child starts with: this process's, less what decides the
// display and the lock directory, which each test sets itself.
std::map<std::string, std::string> BaseEnvironment();

// A child process in a process group of its own. Whatever happens in the test,
// the destructor kills the group and reaps the child; should the test program
// itself be killed, the kernel kills the child with it.
class Process {
public:
    struct Options {
        std::vector<std::string> argv;
        std::map<std::string, std::string> env;
        std::string stdoutPath = "/dev/null";
        std::string stderrPath = "/dev/null";
        // Descriptor of this process that the child gets as descriptor 3.
        int passFd = -1;
        // The child starts with descriptors 0, 1 and 2 closed.
        bool closeStandardStreams = false;
    };

    explicit Process(const Options& options);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // True while the child has not ended (reaps it when it has).
    bool Running();
    // The exit code once the child has ended normally; -1 - signal when a
    // signal ended it; nullopt while it still runs after `deadline`.
    std::optional<int> WaitExit(milliseconds deadline);
    void Kill();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Processor time (user + system, all threads) the process has used so far.
std::optional<double> CpuSeconds(pid_t pid);

// An Xvfb of the test's own, on a display number it picked itself.
class Xvfb {
public:
    explicit Xvfb(const std::string& stderrPath);
    ~Xvfb();

    // ":N", or empty when the server could not start.
    const std::string& display() const { return display_; }
    pid_t pid() const { return server_ ? server_->pid() : -1; }

private:
    std::optional<Process> server_;
    std::string display_;
};

// One line of the simulated remote's log.
struct LogLine {
    double ms = 0;
    bool close = false;
    std::vector<uint8_t> bytes;  // the output report, unless close
    std::string text;            // the line as written
};

// Parses the log; a line not in the log's format makes it return nullopt and
// says which in *error.
std::optional<std::vector<LogLine>> ParseLog(const std::string& text, std::string* error);

// "13 04"-style text for bytes, for messages.
std::string Hex(const std::vector<uint8_t>& bytes);

// A client connection to the test's display.
class XClient {
public:
    using Window = unsigned long;

    explicit XClient(const std::string& display);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool connected() const { return display_ != nullptr; }

    // Viewable windows whose title (_NET_WM_NAME or WM_NAME) is `title`.
    std::vector<Window> FindWindows(const std::string& title);
    // Waits for one such window.
    std::optional<Window> WaitForWindow(const std::string& title, milliseconds deadline);

    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;
    };
    std::optional<Geometry> GetGeometry(Window window);

    // A press and a release of the key with this keysym, sent to the window.
    void SendKey(Window window, unsigned long keysym);
    // What the window manager sends when the close box is clicked.
    void SendCloseRequest(Window window);
    // Covers the area of `window` with another window and takes it away, so
    // that the window must draw itself again.
    void ExposeByCovering(Window window);
    void Resize(Window window, int width, int height);
    // What xkill does: the server closes the connection that made the window.
    void KillClientOf(Window window);

    // The window's pixels, row by row: 'W' white, 'B' black, '?' any other.
    std::optional<std::vector<std::string>> Snapshot(Window window);

private:
    ::_XDisplay* display_ = nullptr;
};

}  // namespace e2e
