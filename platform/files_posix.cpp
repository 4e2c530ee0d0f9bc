#include "platform/files.h"

#include <fcntl.h>
#include <unistd.h>

std::FILE* CreateNewFile(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "w");
    if (file == nullptr) close(fd);
    return file;
}

// File names here are bytes, taken as they come.
std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

std::filesystem::path FilePath(const char* path) { return path; }

std::string PathText(const std::filesystem::path& path) { return path.string(); }
