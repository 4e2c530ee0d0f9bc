#include "platform/message_box.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace {

// The thread whose box is up (0: none) and whether boxes are dismissed, under
// mutex. Written by ShowErrorMessage and DismissErrorMessages, from any thread.
std::mutex boxMutex;
DWORD boxThread = 0;
bool dismissed = false;

}  // namespace

void ShowErrorMessage(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    {
        std::lock_guard lock(boxMutex);
        if (dismissed) return;
        // A thread has no message queue until it makes one: make it now, so
        // that a dismissal posted before the box's window exists is kept.
        MSG message;
        PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        boxThread = GetCurrentThreadId();
    }
    // No owner window and no caption ("Error", the system's default).
    MessageBoxA(nullptr, text, nullptr, MB_OK);
    std::lock_guard lock(boxMutex);
    boxThread = 0;
    // A dismissal's quit request, which the box's loop posts again when it
    // ends on it, is not for the caller's own message loop.
    MSG quit;
    while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

// A quit request in the box's thread queue ends the box's modal loop, as
// Windows and Wine both do: whether the box's window already exists or not,
// with no window to search for.
void DismissErrorMessages() {
    std::lock_guard lock(boxMutex);
    dismissed = true;
    if (boxThread != 0) PostThreadMessageA(boxThread, WM_QUIT, 0, 0);
}
