#include "platform/single_instance.h"

#include <windows.h>

InstanceLock AcquireSingleInstanceLock(const char* name) {
    // Created owned and never released or closed: the system drops it with
    // the process, however the process ends. The plain name puts it in the
    // session's namespace, where a second start by the same user finds it.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    if (mutex == nullptr) return InstanceLock::Failed;
    if (GetLastError() == ERROR_ALREADY_EXISTS) return InstanceLock::HeldElsewhere;
    return InstanceLock::Acquired;
}
