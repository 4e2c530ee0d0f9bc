#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

bool WaitFor(const std::function<bool()>& done, milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (true) {
        if (done()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

// ---------------------------------------------------------------------------
// Files

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") +
                          "/tavolen-e2e-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    }
    chmod(pattern.c_str(), 0700);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::map<std::string, std::string> BaseEnvironment() {
    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto eq = text.find('=');
        if (eq == std::string::npos) continue;
        env[text.substr(0, eq)] = text.substr(eq + 1);
    }
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "XDG_RUNTIME_DIR",
                             "XAUTHORITY"}) {
        env.erase(name);
    }
    return env;
}

// ---------------------------------------------------------------------------
// Processes

Process::Process(const Options& options) {
    // Everything the child needs is made before the fork: between fork and
    // exec it may only make system calls.
    std::vector<char*> argv;
    for (const std::string& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (const auto& [name, value] : options.env) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int out = open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Above 3, so that dup2 to 3 always makes a fresh descriptor without
    // close-on-exec.
    const int passed = options.passFd >= 0 ? fcntl(options.passFd, F_DUPFD_CLOEXEC, 10) : -1;
    const pid_t parent = getpid();
    sigset_t none;
    sigemptyset(&none);

    const pid_t child = (out < 0 || err < 0 || in < 0) ? -1 : fork();
    if (child == 0) {
        // A group of its own, so that Kill reaches whatever it starts too;
        // and killed with this process should the test die without cleaning up.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (options.closeStandardStreams) {
            close(0);
            close(1);
            close(2);
        } else if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(127);
        }
        if (passed >= 0 && dup2(passed, 3) < 0) _exit(127);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    const int forkError = errno;
    for (int fd : {out, err, in, passed}) {
        if (fd >= 0) close(fd);
    }
    if (child < 0) {
        throw std::runtime_error("cannot start " + options.argv[0] + ": " + std::strerror(forkError));
    }
    pid_ = child;
    // The child's own setpgid may not have run yet; make sure before anyone
    // signals the group.
    setpgid(child, child);
}

Process::~Process() { Kill(); }

bool Process::Running() {
    if (status_) return false;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done != pid_) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1 - WTERMSIG(status);
    return false;
}

std::optional<int> Process::WaitExit(milliseconds deadline) {
    WaitFor([this] { return !Running(); }, deadline);
    return status_;
}

void Process::Kill() {
    if (pid_ <= 0 || status_) return;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = -1 - SIGKILL;
}

std::optional<double> CpuSeconds(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    // From the state (field 3) on: utime and stime are fields 14 and 15.
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::stoull(field);
        if (number == 15) stime = std::stoull(field);
    }
    if (!fields) return std::nullopt;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// ---------------------------------------------------------------------------
// Xvfb

Xvfb::Xvfb(const std::string& stderrPath) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    Process::Options options;
    options.argv = {"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24",
                    "-nolisten", "tcp"};
    options.env = BaseEnvironment();
    options.stderrPath = stderrPath;
    options.passFd = pipeFds[1];
    try {
        server_.emplace(options);
    } catch (const std::exception&) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return;
    }
    close(pipeFds[1]);

    // The server writes its display number and a newline once it listens.
    std::string number;
    const auto end = Clock::now() + kStartDeadline;
    while (Clock::now() < end) {
        pollfd ready{pipeFds[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char c;
        const ssize_t got = read(pipeFds[0], &c, 1);
        if (got <= 0) break;
        if (c == '\n') {
            display_ = ":" + number;
            break;
        }
        number += c;
    }
    close(pipeFds[0]);
}

Xvfb::~Xvfb() {
    if (!server_) return;
    if (server_->Running()) {
        kill(server_->pid(), SIGTERM);
        server_->WaitExit(milliseconds(5000));
    }
    server_.reset();
}

// ---------------------------------------------------------------------------
// The log

namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// "<ms with three decimals> close" or "<ms> XX XX ..." in upper-case hex.
bool ParseLogLine(LogLine* line) {
    const std::string& text = line->text;
    const std::size_t space = text.find(' ');
    const std::size_t dot = text.find('.');
    if (space == std::string::npos || dot == std::string::npos || dot == 0 || dot + 4 != space) {
        return false;
    }
    for (std::size_t i = 0; i < space; ++i) {
        if (i != dot && (text[i] < '0' || text[i] > '9')) return false;
    }
    line->ms = std::stod(text.substr(0, space));
    const std::string rest = text.substr(space + 1);
    if (rest == "close") {
        line->close = true;
        return true;
    }
    if (rest.empty() || (rest.size() + 1) % 3 != 0) return false;
    for (std::size_t i = 0; i < rest.size(); i += 3) {
        if (!IsUpperHex(rest[i]) || !IsUpperHex(rest[i + 1])) return false;
        if (i + 2 < rest.size() && rest[i + 2] != ' ') return false;
        line->bytes.push_back(static_cast<uint8_t>(std::stoul(rest.substr(i, 2), nullptr, 16)));
    }
    return true;
}

}  // namespace

std::optional<std::vector<LogLine>> ParseLog(const std::string& text, std::string* error) {
    std::vector<LogLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            *error = "unterminated last line '" + text.substr(start) + "'";
            return std::nullopt;
        }
        LogLine line;
        line.text = text.substr(start, end - start);
        start = end + 1;
        if (!ParseLogLine(&line)) {
            *error = "line " + std::to_string(lines.size() + 1) + " '" + line.text +
                     "' is not '<ms> <hex bytes>' nor '<ms> close'";
            return std::nullopt;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[4];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        if (!text.empty()) text += ' ';
        text += pair;
    }
    return text;
}

}  // namespace e2e
