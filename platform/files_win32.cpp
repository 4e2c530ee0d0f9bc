#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

std::FILE* CreateNewFile(const char* path) {
    // Binary: the file's lines end in \n here as on Linux.
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}
