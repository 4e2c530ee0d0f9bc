// private-lock-place DIR COMMAND [ARGUMENT...]
//
// Runs a command with a lock place of its own: DIR is bound over the places
// where Tavolen keeps its single-instance lock (/tmp/tavolen-<uid>, and
// /run/user/<uid> when it exists), in a mount namespace of the command's own
// (inside a user namespace that maps only the caller's own user, when the
// caller is not root). The programs choose their lock's place from the user
// alone, so tests that run at the same time (ctest -j, other checkouts on the
// machine) would otherwise all meet one lock; this way each test meets its
// own, and the programs under test run exactly as shipped.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "private-lock-place: %s: %s\n", what.c_str(), std::strerror(errno));
    _exit(125);
}

void WriteProcFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) Fail(path);
    close(fd);
}

void Bind(const char* dir, const std::string& over) {
    if (mount(dir, over.c_str(), nullptr, MS_BIND, nullptr) != 0) Fail("bind over " + over);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: private-lock-place DIR COMMAND [ARGUMENT...]\n", stderr);
        return 125;
    }
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    // The mount point must exist: it is the place the programs make themselves.
    const std::string temp = "/tmp/tavolen-" + std::to_string(uid);
    if (mkdir(temp.c_str(), 0700) != 0 && errno != EEXIST) Fail(temp);
    if (unshare(CLONE_NEWNS | (uid == 0 ? 0 : CLONE_NEWUSER)) != 0) Fail("unshare");
    if (uid != 0) {
        WriteProcFile("/proc/self/setgroups", "deny");
        WriteProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
        WriteProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    }
    // Nothing mounted here may reach the rest of the machine.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("private mounts");
    Bind(argv[1], temp);
    const std::string runUser = "/run/user/" + std::to_string(uid);
    struct stat info {};
    if (stat(runUser.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) Bind(argv[1], runUser);
    execvp(argv[2], argv + 2);
    Fail(argv[2]);
}
