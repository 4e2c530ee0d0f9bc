// Where the single-instance lock lives on POSIX systems: one place per user,
// chosen from the user alone (never from the environment, which differs from
// one start to the next), in a directory nobody else may write.
#pragma once

#include <string>

#include "platform/single_instance.h"

// runUserDir (the system's /run/user/<uid>) when it is this user's directory
// and closed to everyone else; else <tempDir>/tavolen-<uid>, made here when
// missing and held to the same test. "" when neither passes.
std::string ChooseLockDirectory(const char* runUserDir, const char* tempDir);

// Takes the lock called name in dir, keeping it until the process ends.
InstanceLock AcquireLockIn(const std::string& dir, const char* name);
