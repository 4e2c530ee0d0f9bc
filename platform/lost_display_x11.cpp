#include "platform/lost_display.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace {

void (*lostHandler)();

// Xlib calls this for any of the process's connections (SDL's included, as
// it uses the same libX11) when the server is gone; returning would let Xlib
// print its own message and exit.
int OnIoError(Display*) {
    if (lostHandler != nullptr) lostHandler();
    std::_Exit(1);
}

}  // namespace

void OnLostDisplay(void (*onLost)()) {
    lostHandler = onLost;
    XSetIOErrorHandler(OnIoError);
}
