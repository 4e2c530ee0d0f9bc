// The single-instance lock: one holder at a time, one place per user, only in
// a directory that belongs to the user alone, and never kept by a child.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/lock_directory_posix.h"
#include "platform/single_instance.h"

namespace {

namespace fs = std::filesystem;

class SingleInstance : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavolen-lock-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        for (const char* name : {"runtime", "run-user", "open", "tmp"}) fs::create_directory(root / name);
        chmod((root / "runtime").c_str(), 0700);
        chmod((root / "run-user").c_str(), 0700);
        chmod((root / "open").c_str(), 0755);
        fs::create_directory_symlink(root / "runtime", root / "link");
        lockDir = (root / "runtime").string();
    }
    void TearDown() override { fs::remove_all(root); }

    // Takes the lock in a child process that ends at once; its result.
    InstanceLock TakeInAnotherProcess(const char* name) {
        const pid_t child = fork();
        if (child == 0) _exit(static_cast<int>(AcquireLockIn(lockDir, name)));
        int status = 0;
        waitpid(child, &status, 0);
        return static_cast<InstanceLock>(WEXITSTATUS(status));
    }

    fs::path root;
    std::string lockDir;  // the tests' own: the user's real lock stays untouched
};

TEST_F(SingleInstance, ChoosesTheUsersRunDirectoryElseItsOwnTempDir) {
    const std::string tempFallback = (root / "tmp").string() + "/tavolen-" + std::to_string(getuid());
    struct Case {
        const char* runUser;  // relative to root
        bool fallsBack;
    } const cases[] = {
        {"run-user", false},
        {"open", true},     // others may write there
        {"link", true},     // a link is not the directory
        {"missing", true},
    };
    for (const Case& c : cases) {
        const std::string runUser = (root / c.runUser).string();
        EXPECT_EQ(ChooseLockDirectory(runUser.c_str(), (root / "tmp").c_str()), c.fallsBack ? tempFallback : runUser)
            << c.runUser;
    }
    EXPECT_EQ(fs::status(tempFallback).permissions() & fs::perms::all, fs::perms::owner_all);
    // Somebody planted the fallback directory as a link to a place of theirs,
    // or made it open to all.
    fs::create_directory(root / "planted");
    fs::create_directory_symlink(root / "open", root / "planted" / ("tavolen-" + std::to_string(getuid())));
    EXPECT_EQ(ChooseLockDirectory((root / "missing").c_str(), (root / "planted").c_str()), "");
    chmod(tempFallback.c_str(), 0777);
    EXPECT_EQ(ChooseLockDirectory((root / "missing").c_str(), (root / "tmp").c_str()), "");
}

TEST_F(SingleInstance, OneHolderAtATime) {
    EXPECT_EQ(AcquireLockIn(lockDir, "a-lock"), InstanceLock::Acquired);
    EXPECT_EQ(TakeInAnotherProcess("a-lock"), InstanceLock::HeldElsewhere);
    EXPECT_EQ(TakeInAnotherProcess("another-lock"), InstanceLock::Acquired);
    EXPECT_EQ(fs::status(root / "runtime" / "a-lock").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(SingleInstance, AChildOfTheHolderDoesNotKeepItOnceTheHolderIsGone) {
    int toTest[2];
    ASSERT_EQ(pipe(toTest), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        if (AcquireLockIn(lockDir, "held-lock") != InstanceLock::Acquired) _exit(1);
        const pid_t orphan = fork();  // as a box or helper process would be
        if (orphan == 0) {
            sleep(30);
            _exit(0);
        }
        [[maybe_unused]] const ssize_t sent = write(toTest[1], &orphan, sizeof orphan);
        _exit(0);  // the holder goes, its child stays
    }
    pid_t orphan = -1;
    ASSERT_EQ(read(toTest[0], &orphan, sizeof orphan), static_cast<ssize_t>(sizeof orphan));
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_EQ(kill(orphan, 0), 0) << "the child should still run";
    EXPECT_EQ(TakeInAnotherProcess("held-lock"), InstanceLock::Acquired);
    kill(orphan, SIGKILL);
    close(toTest[0]);
    close(toTest[1]);
}

TEST_F(SingleInstance, FailsRatherThanFollowALinkedLockFile) {
    fs::create_symlink(root / "elsewhere", root / "runtime" / "file-lock");
    EXPECT_EQ(AcquireLockIn(lockDir, "file-lock"), InstanceLock::Failed);
    EXPECT_FALSE(fs::exists(root / "elsewhere"));
}

}  // namespace
