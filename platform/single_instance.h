// A named lock that only one process holds at a time and that the operating
// system releases when the process ends, however it ends.
#pragma once

enum class InstanceLock { Acquired, HeldElsewhere, Failed };

// Takes the lock called name and keeps it until the process ends.
InstanceLock AcquireSingleInstanceLock(const char* name);
