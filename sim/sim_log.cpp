#include "sim/sim_log.h"

#include <cerrno>
#include <cstring>

std::FILE* OpenSimLog(const char* path, std::FILE* script, const FileIdentity& recording,
                      bool* created, std::string* problem) {
    *created = false;
    std::FILE* log = OpenForWriting(path, created);
    if (log == nullptr) {
        const int error = errno;
        *problem = "cannot write the log " + std::string(path) + ": " +
                   (error == ENXIO ? "it is a pipe that nobody reads" : std::strerror(error));
        return nullptr;
    }
    const FileIdentity identity = ReadFileIdentity(log);
    if (identity.SameAs(ReadFileIdentity(script))) {
        *problem = std::string("--log names the script ") + path + "; the log would overwrite it";
    } else if (identity.SameAs(recording)) {
        *problem = std::string("--record and --log name the same file ") + path;
    } else if (!EmptyOpenFile(log)) {
        *problem = "cannot empty the log " + std::string(path) + ": " + std::strerror(errno);
    } else {
        return log;
    }
    if (*created) {
        RemoveOpenFile(log, path);
        *created = false;
    } else {
        std::fclose(log);
    }
    return nullptr;
}
