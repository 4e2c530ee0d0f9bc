#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/lock_directory_posix.h"

namespace {

// A directory that belongs to this user alone: nobody else can plant or
// replace the lock file in it.
bool IsPrivateDirectory(const char* path) {
    struct stat info {};
    if (path == nullptr || path[0] != '/' || lstat(path, &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

}  // namespace

std::string ChooseLockDirectory(const char* runUserDir, const char* tempDir) {
    if (IsPrivateDirectory(runUserDir)) return runUserDir;
    const std::string dir = std::string(tempDir) + "/tavolen-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
    return IsPrivateDirectory(dir.c_str()) ? dir : "";
}

InstanceLock AcquireSingleInstanceLock(const char* name) {
    const std::string runUser = "/run/user/" + std::to_string(getuid());
    return AcquireLockIn(ChooseLockDirectory(runUser.c_str(), "/tmp"), name);
}

InstanceLock AcquireLockIn(const std::string& dir, const char* name) {
    if (dir.empty()) return InstanceLock::Failed;
    const std::string path = dir + "/" + name;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return InstanceLock::Failed;
    // A record lock belongs to this process alone: a child it forks (a box,
    // a helper) neither inherits nor keeps it, so no orphan can hold it after
    // the program has gone, however it went.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &whole) != 0) {
        const bool held = errno == EACCES || errno == EAGAIN;
        close(fd);
        return held ? InstanceLock::HeldElsewhere : InstanceLock::Failed;
    }
    // The descriptor stays open, and the lock with it, until the process
    // ends. Nothing else in the process opens this file: closing any
    // descriptor of it would drop the lock.
    return InstanceLock::Acquired;
}
