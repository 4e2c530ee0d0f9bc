#include "view/sensor_view.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "control/main_reader.h"
#include "platform/display_wait.h"
#include "platform/wait_wake.h"
#include "remote/remote_reports.h"
#include "view/repaint_latch.h"

ViewFrameHook viewFrameHook = nullptr;

namespace {

constexpr int kWindowX = 10;
constexpr int kWindowY = 10;
constexpr int kOuterWidth = 520;
constexpr int kOuterHeight = 420;
constexpr int kArm = 4;  // pixels each side of a cross's centre
constexpr int kBox = 2 * kArm + 1;  // a cross covers a 9 x 9 box
constexpr int kCrosses = 4;
constexpr int kMostDamage = 2 * kCrosses;  // each cross's old and new box

// Where the view is in its life; the reader's requests read it.
enum ViewPhase : int { kNoView, kViewOpen, kViewDestroyed };
std::atomic<int> viewPhase{kNoView};

// A repaint was asked for and not yet painted: further requests merge.
RepaintLatch repaintLatch;

// How the reader's requests reach the view's thread, set once before the view
// opens. On X11 the thread waits on its display connection and a wake-up of
// the program's own (display_wait.h), and a request is a flag with a wake-up:
// nothing goes through the display server. Elsewhere (Wayland, offscreen)
// it waits in SDL's queue, and a request is an event pushed there.
std::atomic<bool> ownWait{false};

// Asked for from another thread and not yet done, on the own wait.
std::atomic<bool> closePending{false};

// The thread that created the view and runs its loop.
std::thread::id viewThread;

// Event types of the view's own requests, registered before viewPhase opens.
Uint32 repaintEvent;
Uint32 closeEvent;
Uint32 quitRequestEvent;

// Owned by the view's thread.
SDL_Window* viewWindow;
bool destroyHandled;
bool quitUnqueued;       // the quit request could not be queued: end anyway
// The picture lives in the window's surface, from which the display is sent
// what changed. A surface marked with &pictureMark holds the whole picture
// of the crosses centred at drawnCentres; a new surface (SDL makes one after
// a resize) starts unmarked, so it is drawn whole.
char pictureMark;
SDL_Point drawnCentres[kCrosses];

bool PushViewEvent(Uint32 type, Sint32 code = 0) {
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = type;
    event.user.code = code;
    return SDL_PushEvent(&event) == 1;
}

// Has the view's thread look at the requests: a wake-up on the own wait, else
// an event of this type in SDL's queue. False when that could not be done.
bool WakeView(Uint32 type) {
    if (!ownWait.load(std::memory_order_relaxed)) return PushViewEvent(type);
    WakeDisplayWait();
    return true;
}

// The box a cross centred at c covers.
SDL_Rect FindBox(SDL_Point c) { return SDL_Rect{c.x - kArm, c.y - kArm, kBox, kBox}; }

// Draws the picture afresh within area: white, then the four crosses in
// order, each arm covering four pixels either side of the centre, ends
// included. Nothing outside area changes.
void DrawPicture(SDL_Surface* surface, const SDL_Rect& area, const SDL_Point (&centres)[kCrosses]) {
    SDL_SetClipRect(surface, &area);
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0xFF, 0xFF, 0xFF));
    const Uint32 black = SDL_MapRGB(surface->format, 0x00, 0x00, 0x00);
    for (const SDL_Point& c : centres) {
        const SDL_Rect across{c.x - kArm, c.y, kBox, 1};
        const SDL_Rect down{c.x, c.y - kArm, 1, kBox};
        SDL_FillRect(surface, &across, black);
        SDL_FillRect(surface, &down, black);
    }
    SDL_SetClipRect(surface, nullptr);
}

// Rectangles that overlap or meet at an edge or a corner.
bool Touch(const SDL_Rect& a, const SDL_Rect& b) {
    return a.x <= b.x + b.w && b.x <= a.x + a.w && a.y <= b.y + b.h && b.y <= a.y + a.h;
}

// Where the picture of drawnCentres and that of centres can differ: the old
// and the new box of each cross that moved, within bounds, and any of them
// that touch merged into one. Returns how many it wrote to damage.
int FindDamage(const SDL_Point (&centres)[kCrosses], const SDL_Rect& bounds, SDL_Rect (&damage)[kMostDamage]) {
    int count = 0;
    for (int k = 0; k < kCrosses; ++k) {
        if (centres[k].x == drawnCentres[k].x && centres[k].y == drawnCentres[k].y) continue;
        for (const SDL_Point c : {drawnCentres[k], centres[k]}) {
            const SDL_Rect box = FindBox(c);
            if (SDL_IntersectRect(&box, &bounds, &damage[count])) ++count;
        }
    }
    for (int i = 0; i < count; ++i) {
        for (int j = i + 1; j < count; ++j) {
            if (!Touch(damage[i], damage[j])) continue;
            const SDL_Rect both = damage[i];
            SDL_UnionRect(&both, &damage[j], &damage[i]);
            damage[j] = damage[--count];
            i = -1;  // the grown one may now touch any: start over
            break;
        }
    }
    return count;
}

// Draws the frame and hands it to the display: all of it for the first
// paint, an exposure or a resize, else only where a cross moved (nothing
// when none did). Every pixel ends as a whole redraw would leave it.
void PaintView(PaintCause cause) {
    repaintLatch.Take();
    if (destroyHandled) return;
    // Asked for on every paint: a resize makes SDL replace it.
    SDL_Surface* surface = SDL_GetWindowSurface(viewWindow);
    if (surface == nullptr) return;
    ViewFrame frame{cause, {}, repaintEvent};
    SDL_Point centres[kCrosses];
    for (int k = 0; k < kCrosses; ++k) {
        // A camera point at (x, y) lands on client pixel (x / 2, y / 2).
        frame.drawnX[k] = RemoteState.ir[k].x.load(std::memory_order_relaxed);
        centres[k] = SDL_Point{frame.drawnX[k] / 2, RemoteState.ir[k].y.load(std::memory_order_relaxed) / 2};
    }
    const SDL_Rect bounds{0, 0, surface->w, surface->h};
    SDL_Rect damage[kMostDamage];
    int count = 1;
    if (cause == PaintCause::Repaint && surface->userdata == &pictureMark) {
        count = FindDamage(centres, bounds, damage);
    } else {
        damage[0] = bounds;
    }
    for (int i = 0; i < count; ++i) DrawPicture(surface, damage[i], centres);
    std::copy(std::begin(centres), std::end(centres), std::begin(drawnCentres));
    surface->userdata = &pictureMark;
    // Should the display not take it, the next frame sends everything.
    if (count > 0 && SDL_UpdateWindowSurfaceRects(viewWindow, damage, count) != 0) surface->userdata = nullptr;
    if (viewFrameHook == nullptr) return;
    frame.sentCount = count;
    for (int i = 0; i < count; ++i) frame.sent[i] = ViewRect{damage[i].x, damage[i].y, damage[i].w, damage[i].h};
    if (ownWait.load(std::memory_order_relaxed)) frame.repaintsWaiting = repaintLatch.IsRaised() ? 1 : 0;
    viewFrameHook(frame);
}

// The destroy handler. Runs its steps once, however many close requests,
// Escapes and close boxes arrive.
void DestroyView() {
    if (destroyHandled) return;
    destroyHandled = true;
    if (!PushViewEvent(quitRequestEvent, 0)) quitUnqueued = true;
    ShutDownRemote();
    viewPhase.store(kViewDestroyed, std::memory_order_release);
    WakeAllWaiters(viewPhase);
}

void HandleEvent(const SDL_Event& event) {
    switch (event.type) {
    case SDL_QUIT:  // the last window closed: as the close box
        DestroyView();
        return;
    case SDL_WINDOWEVENT:
        switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            DestroyView();
            break;
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            PaintView(PaintCause::Exposed);
            break;
        }
        return;
    case SDL_KEYDOWN:
        if (event.key.keysym.sym == SDLK_ESCAPE) DestroyView();
        return;
    }
    if (event.type == repaintEvent) {
        PaintView(PaintCause::Repaint);
    } else if (event.type == closeEvent) {
        DestroyView();
    }
}

// The requests that came as flags on the own wait; true when it did any.
bool TakeRequests() {
    bool took = false;
    if (closePending.exchange(false)) {
        DestroyView();
        took = true;
    }
    if (repaintLatch.IsRaised()) {
        PaintView(PaintCause::Repaint);
        took = true;
    }
    return took;
}

// On X11: the wait on the display connection and the program's own wake-up.
bool OpenOwnWait() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr || std::strcmp(driver, "x11") != 0) return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(viewWindow, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    return OpenDisplayWait(info.info.x11.display);
}

// The loop on the own wait. SDL's queue is filled from the connection only
// when the wait says it has something: readable, or events that Xlib read
// along with a reply (a paint waits for one) and holds in its own queue.
// Then SDL's queue is drained without blocking.
int RunOnOwnWait() {
    bool pump = true;
    bool pumped = false;  // since the last wait: SDL may have left requests unsent
    for (;;) {
        if (pump) SDL_PumpEvents();
        pumped |= pump;
        pump = false;
        SDL_Event event;
        while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1) {
            if (event.type == quitRequestEvent) return event.user.code;
            HandleEvent(event);
        }
        if (quitUnqueued) return 0;
        if (TakeRequests()) continue;  // a close's quit request is in SDL's queue now
        const DisplayWaitResult result = WaitForDisplayOrWake(pumped);
        pumped = false;
        switch (result) {
        case DisplayWaitResult::Display:
            pump = true;
            break;
        case DisplayWaitResult::Wake:
            break;
        case DisplayWaitResult::Failed:
            // The wait itself failed: close as the close box would.
            DestroyView();
            return 0;
        }
    }
}

// SensorViewFailure's text; written by CreateSensorView on start-up's thread.
char viewFailure[256];

// Notes why the window could not be made, for start-up's one line: the
// video driver asked for (or the one SDL took) and SDL's reason. A start
// without any display leaves it "": there is nothing more to say.
void NoteFailure() {
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    const bool wasAsked = asked != nullptr && *asked != '\0';
    const char* driver = wasAsked ? asked : SDL_GetCurrentVideoDriver();
    if (driver == nullptr) return;
    const char* why = *SDL_GetError() != '\0' ? SDL_GetError() : "SDL gave no reason";
    std::snprintf(viewFailure, sizeof viewFailure, "%s%s: %s", wasAsked ? "SDL_VIDEODRIVER=" : "", driver,
                  why);
}

// The view draws into the window's surface; give that surface to the window
// system as it is (shared memory on X11). Otherwise SDL copies it into a
// texture of an OpenGL renderer on every update, which without a GPU is
// Mesa's software rasteriser: about ten times the processor time per frame
// and some 85 MiB more memory. Only drivers with a surface of their own can
// do without that texture: under Wayland the window would get no surface at
// all. SDL reads the hint when it makes the first surface.
void KeepTheDriversOwnSurface() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr) return;
    for (const char* own : {"x11", "offscreen", "dummy"}) {
        if (std::strcmp(driver, own) == 0) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    }
}

// A window nobody can see is no window: SDL's offscreen and dummy drivers
// count only when asked for.
bool IsVisibleDriver() {
    if (std::getenv("SDL_VIDEODRIVER") != nullptr) return true;
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver != nullptr && std::strcmp(driver, "offscreen") != 0 &&
           std::strcmp(driver, "dummy") != 0;
}

// The window's outer size is 520 x 420: take the frame the window manager
// reports off the client area.
void FitOuterSize() {
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(viewWindow, &top, &left, &bottom, &right) != 0) return;
    if (top + left + bottom + right == 0) return;
    SDL_SetWindowSize(viewWindow, kOuterWidth - left - right, kOuterHeight - top - bottom);
}

}  // namespace

bool CreateSensorView() {
    // Signals reach the program through its own watcher, not through SDL.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    viewFailure[0] = '\0';
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        NoteFailure();
        return false;
    }
    if (!IsVisibleDriver()) return false;
    KeepTheDriversOwnSurface();
    const Uint32 first = SDL_RegisterEvents(3);
    if (first == static_cast<Uint32>(-1)) return false;
    repaintEvent = first;
    closeEvent = first + 1;
    quitRequestEvent = first + 2;

    viewWindow = SDL_CreateWindow("Tavolen", kWindowX, kWindowY, kOuterWidth, kOuterHeight,
                                  SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    if (viewWindow == nullptr) {
        NoteFailure();
        return false;
    }
    FitOuterSize();
    if (SDL_GetWindowSurface(viewWindow) == nullptr) {
        NoteFailure();
        SDL_DestroyWindow(viewWindow);
        viewWindow = nullptr;
        return false;
    }
    viewThread = std::this_thread::get_id();
    // No text is typed here: keys then never wait on an input method's own
    // connection, which the own wait does not watch.
    SDL_StopTextInput();
    ownWait.store(OpenOwnWait(), std::memory_order_relaxed);
    // Sequentially consistent, as the load in RequestClose and start-up's
    // look at an end request: of a view opening and a request made
    // meanwhile, one always sees the other.
    viewPhase.store(kViewOpen);
    PaintView(PaintCause::First);
    return true;
}

const char* SensorViewFailure() { return viewFailure; }

int RunSensorView() {
    if (ownWait.load(std::memory_order_relaxed)) return RunOnOwnWait();
    SDL_Event event;
    while (!quitUnqueued) {
        if (SDL_WaitEvent(&event) == 0) {
            // The event queue itself failed: close as the close box would.
            DestroyView();
            return 0;
        }
        if (event.type == quitRequestEvent) return event.user.code;
        HandleEvent(event);
    }
    return 0;
}

void RequestRepaint() {
    if (viewPhase.load(std::memory_order_acquire) != kViewOpen) return;
    if (!repaintLatch.Raise()) return;
    if (!WakeView(repaintEvent)) repaintLatch.Cancel();
}

void RequestClose() {
    if (viewPhase.load() != kViewOpen) return;
    // On the view's own thread the handler runs at once, as a window
    // procedure does for a message sent from its thread.
    if (std::this_thread::get_id() == viewThread) {
        DestroyView();
        return;
    }
    if (ownWait.load(std::memory_order_relaxed)) closePending.store(true);
    if (!WakeView(closeEvent)) return;
    WaitWhileEqual(viewPhase, kViewOpen);
}
