// The single-instance lock: one holder at a time, and only in a directory
// that belongs to the user alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/single_instance.h"

namespace {

namespace fs = std::filesystem;

class SingleInstance : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavolen-lock-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        runtime = root / "runtime";
        temp = root / "tmp";
        fs::create_directory(runtime);
        fs::create_directory(temp);
        chmod(runtime.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("TMPDIR", temp.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path FallbackDir() const { return temp / ("tavolen-" + std::to_string(getuid())); }
    fs::path root, runtime, temp;
};

TEST_F(SingleInstance, TheSecondTakerFindsItHeld) {
    // flock belongs to the open file: a second open in this process competes
    // like a second process.
    EXPECT_EQ(AcquireSingleInstanceLock("a-lock"), InstanceLock::Acquired);
    EXPECT_EQ(AcquireSingleInstanceLock("a-lock"), InstanceLock::HeldElsewhere);
    EXPECT_EQ(AcquireSingleInstanceLock("another-lock"), InstanceLock::Acquired);
    EXPECT_TRUE(fs::exists(runtime / "a-lock"));
    EXPECT_EQ(fs::status(runtime / "a-lock").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(SingleInstance, ARuntimeDirOpenToOthersIsPassedOverForAPrivateOne) {
    chmod(runtime.c_str(), 0777);
    EXPECT_EQ(AcquireSingleInstanceLock("open-lock"), InstanceLock::Acquired);
    EXPECT_FALSE(fs::exists(runtime / "open-lock"));
    EXPECT_TRUE(fs::exists(FallbackDir() / "open-lock"));
    EXPECT_EQ(fs::status(FallbackDir()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(SingleInstance, FailsRatherThanFollowALink) {
    unsetenv("XDG_RUNTIME_DIR");
    // Somebody planted the fallback directory as a link to a place of theirs.
    fs::create_directory_symlink(runtime, FallbackDir());
    EXPECT_EQ(AcquireSingleInstanceLock("linked-lock"), InstanceLock::Failed);
    fs::remove(FallbackDir());
    fs::create_directory(FallbackDir());
    chmod(FallbackDir().c_str(), 0700);
    fs::create_symlink(root / "elsewhere", FallbackDir() / "file-lock");
    EXPECT_EQ(AcquireSingleInstanceLock("file-lock"), InstanceLock::Failed);
    EXPECT_FALSE(fs::exists(root / "elsewhere"));
}

}  // namespace
