// The simulated remote's log file (--log), as both programs that play a
// script open it.
#pragma once

#include <cstdio>
#include <string>

#include "platform/files.h"

// Opens path for the log: made if missing, emptied if a regular file, never
// waiting for a pipe's reader. It may not be the script or the recording
// under any name (a link, a hard link, another spelling): the files are
// compared once open, so script must still be open. nullptr with *problem,
// one line, on refusal; the file is then closed again and, if this call made
// it, removed through its handle. *created tells whether this call made it,
// so that a run refused later can remove it (RemoveOpenFile).
std::FILE* OpenSimLog(const char* path, std::FILE* script, const FileIdentity& recording,
                      bool* created, std::string* problem);
