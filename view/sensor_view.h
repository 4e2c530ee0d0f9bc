// The sensor view: the program's only window. It shows the four IR points of
// RemoteState as small black crosses at half the camera's resolution, and is
// where the program ends (Escape, the close box, or the reader's HOME
// request all lead to its destroy handler).
#pragma once

#include <cstdint>

// Creates the window and its drawing resources and paints it once. False
// when no visible window could be made.
bool CreateSensorView();

// Why the last CreateSensorView failed, when the window system asked for
// could not start ("SDL_VIDEODRIVER=wayland: wayland not available", say);
// "" when there was simply no display.
const char* SensorViewFailure();

// Runs the view's event loop until the destroy handler has run and a quit
// request comes; returns 0. A quit request that comes first (from outside)
// runs the destroy handler.
int RunSensorView();

// From the reader: repaint the whole window from RemoteState. Returns at once;
// requests that come before the next paint merge into it.
void RequestRepaint();

// From the reader: close the view, and return once its destroy handler has
// run on the view's thread. Returns at once when there is no open view (a
// sequentially consistent look, against the view's publication that it is
// open: start-up looks for an end request after that). On
// the view's own thread the handler runs at once, inside the call.
void RequestClose();

// Why a frame was painted: the view's first paint, the window system's
// request (exposed or resized), or the reader's repaint request.
enum class PaintCause { First, Exposed, Repaint };

// A rectangle of the window, in client pixels.
struct ViewRect {
    int x, y, w, h;
};

// What one presented frame showed, for a measurement hook.
struct ViewFrame {
    PaintCause cause;
    int32_t drawnX[4];      // the camera x of each point as drawn
    uint32_t repaintEvent;  // the event type of the reader's repaint requests
    // The rectangles handed to the display for this frame: the whole window,
    // only the places that changed, or none; -1 where the window system
    // decides that itself.
    int sentCount = -1;
    ViewRect sent[8] = {};
    // Repaints asked for since this frame began, waiting for the next; -1
    // where they wait as events of type repaintEvent in the window system's
    // queue, for the hook to count there.
    int repaintsWaiting = -1;
};

// Called on the view's thread right after each frame is presented; nullptr
// (the default) for none. Set it before CreateSensorView. For measurements
// only: the product leaves it unset.
using ViewFrameHook = void (*)(const ViewFrame& frame);
extern ViewFrameHook viewFrameHook;
