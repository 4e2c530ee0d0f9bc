#include "platform/end_requests.h"

#include <windows.h>

#include <cstdio>

namespace {

// The watcher's callback; written once before the handler is installed.
void (*endCallback)() = nullptr;

// Runs on a thread the system starts for each console event. For a closing
// console the system ends the process once this returns (or after a few
// seconds), so the close path runs to its end first.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        endCallback();
        return TRUE;
    default:
        return FALSE;
    }
}

// A standard stream that goes nowhere (no redirection given) is pointed at the
// console, so that its lines show where the program was started.
void UseConsoleForUnsetStream(DWORD which, std::FILE* stream) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) return;
    std::freopen("CONOUT$", "w", stream);
}

}  // namespace

// A window program has no console of its own. Started from a console, it
// joins that console: Ctrl+C and Ctrl+Break typed there then reach it, and so
// do its standard output and error, unless they are redirected.
bool WatchForEndRequests(void (*onEnd)()) {
    endCallback = onEnd;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        UseConsoleForUnsetStream(STD_OUTPUT_HANDLE, stdout);
        UseConsoleForUnsetStream(STD_ERROR_HANDLE, stderr);
    }
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}
