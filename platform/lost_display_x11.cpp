#include "platform/lost_display.h"

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

void (*lostHandler)();
std::atomic<bool> lost{false};

// Xlib calls this for any of the process's connections (SDL's included, as
// it uses the same libX11) when the server is gone; returning would let Xlib
// print its own message and exit. More than one thread can find the loss
// (an error box has a connection of its own, and where SDL waits in its own
// queue it wakes the view's thread from the reader through the display): the
// first ends the process, any other waits for that.
int OnIoError(Display*) {
    if (lost.exchange(true)) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    if (lostHandler != nullptr) lostHandler();
    std::_Exit(1);
}

}  // namespace

void OnLostDisplay(void (*onLost)()) {
    lostHandler = onLost;
    XSetIOErrorHandler(OnIoError);
}
