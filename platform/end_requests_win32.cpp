#include "platform/end_requests.h"

#include <windows.h>

namespace {

// The watcher's callback; written once before the handler is installed.
void (*endCallback)() = nullptr;

// Runs on a thread the system starts for each console event. A window
// program only borrows the console it was started from: Ctrl+C and
// Ctrl+Break typed there are for the console's next program and go on to
// the handler that drops them (see program_start.h). The console closing,
// the user logging off and the system shutting down end the program through
// the close path. The system ends the process as soon as this returns (or
// after a few seconds): it never returns, and the close path ends the
// process itself once the remote is back and the recording is written.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        endCallback();
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

bool WatchForEndRequests(void (*onEnd)()) {
    endCallback = onEnd;
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}
