// Where the single-instance lock lives on POSIX systems: one place per user,
// whatever the environment of a start, in a directory nobody else may write.
#pragma once

#include <string>

struct LockPlaces {
    const char* runtimeDir;  // $XDG_RUNTIME_DIR, or nullptr when unset
    const char* runUserDir;  // the system's /run/user/<uid>
    const char* tempDir;     // $TMPDIR, or nullptr when unset (then /tmp)
};

// The runtime directory when it is private to this user, else /run/user/<uid>
// when that is, else <temp>/tavolen-<uid>, made private here. "" when none of
// them is, or can be made, private.
std::string ChooseLockDirectory(const LockPlaces& places);
