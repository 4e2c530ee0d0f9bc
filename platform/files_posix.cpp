#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdlib>

namespace {

std::FILE* OpenStream(int fd) {
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "w");
    if (file == nullptr) close(fd);
    return file;
}

}  // namespace

std::FILE* CreateNewFile(const char* path) {
    return OpenStream(open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
}

std::FILE* OpenForWriting(const char* path, bool* created) {
    // Made here, or there already; a link is followed only by the second
    // open, which makes the file it names when that is missing.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    *created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    // Writes wait as they would on any pipe; only the open does not.
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return OpenStream(fd);
}

bool EmptyOpenFile(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0) return false;
    return !S_ISREG(info.st_mode) || ftruncate(fileno(file), 0) == 0;
}

bool CutOpenFile(std::FILE* file, uint64_t size) {
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

FileIdentity ReadFileIdentity(std::FILE* file) {
    struct stat info {};
    if (file == nullptr || fstat(fileno(file), &info) != 0) return {};
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), 0, true};
}

// File names here are bytes, taken as they come.
std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

// A file cannot be removed through its descriptor here: the name it has now
// (from /proc, or the one it was made by, links resolved) is removed only
// while it still names the open file.
bool RemoveOpenFile(std::FILE* file, const char* path) {
    char name[PATH_MAX] = "";
    const std::string link = "/proc/self/fd/" + std::to_string(fileno(file));
    const ssize_t length = readlink(link.c_str(), name, sizeof name - 1);
    if (length > 0) {
        name[length] = '\0';
    } else if (realpath(path, name) == nullptr) {
        name[0] = '\0';
    }
    struct stat open {}, named {};
    const bool same = name[0] == '/' && fstat(fileno(file), &open) == 0 && lstat(name, &named) == 0 &&
                      open.st_dev == named.st_dev && open.st_ino == named.st_ino;
    const bool removed = same && unlink(name) == 0;
    std::fclose(file);
    return removed;
}

std::filesystem::path FilePath(const char* path) { return path; }

std::string PathText(const std::filesystem::path& path) { return path.string(); }

// In single quotes, each ' as '\'' (end the quotes, an escaped quote, begin
// them again): nothing else is special inside them.
std::string QuoteForCommandLine(std::string_view text) {
    constexpr std::string_view kPlain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-./+,:@=";
    if (!text.empty() && text.find_first_not_of(kPlain) == std::string_view::npos) return std::string(text);
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
