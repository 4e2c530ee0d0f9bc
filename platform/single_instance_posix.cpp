#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

// A directory that belongs to this user alone: nobody else can plant or
// replace the lock file in it.
bool IsPrivateDirectory(const char* path) {
    struct stat info {};
    if (lstat(path, &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR when it is private, else tavolen-<uid> in the temporary
// directory, made private here.
bool FindLockDirectory(char* dir, std::size_t size) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsPrivateDirectory(runtime)) {
        return std::snprintf(dir, size, "%s", runtime) < static_cast<int>(size);
    }
    const char* temp = std::getenv("TMPDIR");
    if (temp == nullptr || temp[0] != '/') temp = "/tmp";
    if (std::snprintf(dir, size, "%s/tavolen-%u", temp, static_cast<unsigned>(getuid())) >=
        static_cast<int>(size)) {
        return false;
    }
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) return false;
    return IsPrivateDirectory(dir);
}

}  // namespace

InstanceLock AcquireSingleInstanceLock(const char* name) {
    char dir[4096];
    char path[4096 + 64];
    if (!FindLockDirectory(dir, sizeof dir)) return InstanceLock::Failed;
    if (std::snprintf(path, sizeof path, "%s/%s", dir, name) >= static_cast<int>(sizeof path)) {
        return InstanceLock::Failed;
    }
    const int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return InstanceLock::Failed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? InstanceLock::HeldElsewhere : InstanceLock::Failed;
    }
    // The descriptor stays open, and the lock with it, until the process ends.
    return InstanceLock::Acquired;
}
