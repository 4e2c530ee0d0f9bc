#include "view/sensor_view.h"

#include <SDL.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "control/main_reader.h"
#include "platform/wait_wake.h"
#include "view/repaint_latch.h"
#include "remote/remote_reports.h"

ViewFrameHook viewFrameHook = nullptr;

namespace {

constexpr int kWindowX = 10;
constexpr int kWindowY = 10;
constexpr int kOuterWidth = 520;
constexpr int kOuterHeight = 420;
constexpr int kArm = 4;  // pixels each side of a cross's centre

// Where the view is in its life; the reader's requests read it.
enum ViewPhase : int { kNoView, kViewOpen, kViewDestroyed };
std::atomic<int> viewPhase{kNoView};

// A repaint event is queued and not yet painted: further requests merge.
RepaintLatch repaintLatch;

// A mode re-send was asked for and not yet done: further requests merge. One
// asked for before the view is open waits here for the view to open.
std::atomic<bool> modePending{false};

// The thread that created the view and runs its loop.
std::thread::id viewThread;

// Event types of the view's own requests, registered before viewPhase opens.
Uint32 repaintEvent;
Uint32 closeEvent;
Uint32 quitRequestEvent;
Uint32 modeEvent;

// Owned by the view's thread.
SDL_Window* viewWindow;
SDL_Renderer* renderer;  // the drawing resources; nullptr once destroyed
bool destroyHandled;
bool quitUnqueued;       // the quit request could not be queued: end anyway

bool PushViewEvent(Uint32 type, Sint32 code = 0) {
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = type;
    event.user.code = code;
    return SDL_PushEvent(&event) == 1;
}

// A camera point at (x, y) lands on client pixel (x / 2, y / 2); each arm
// covers four pixels either side of the centre, ends included. Returns the
// camera x it drew.
int32_t DrawCross(const IrPoint& point) {
    const int32_t x = point.x.load(std::memory_order_relaxed);
    const int cx = x / 2;
    const int cy = point.y.load(std::memory_order_relaxed) / 2;
    SDL_RenderDrawLine(renderer, cx - kArm, cy, cx + kArm, cy);
    SDL_RenderDrawLine(renderer, cx, cy - kArm, cx, cy + kArm);
    return x;
}

void PaintView(PaintCause cause) {
    repaintLatch.Take();
    if (renderer == nullptr) return;
    SDL_SetRenderDrawColor(renderer, 0xFF, 0xFF, 0xFF, 0xFF);
    SDL_RenderClear(renderer);
    SDL_SetRenderDrawColor(renderer, 0x00, 0x00, 0x00, 0xFF);
    ViewFrame frame{cause, {}, repaintEvent};
    for (int k = 0; k < 4; ++k) frame.drawnX[k] = DrawCross(RemoteState.ir[k]);
    SDL_RenderPresent(renderer);
    if (viewFrameHook != nullptr) viewFrameHook(frame);
}

// The destroy handler. Runs its steps once, however many close requests,
// Escapes and close boxes arrive.
void DestroyView() {
    if (destroyHandled) return;
    destroyHandled = true;
    SDL_DestroyRenderer(renderer);
    renderer = nullptr;
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
    } else if (event.type == modeEvent) {
        if (modePending.exchange(false)) ResendReportingMode();
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
    // Lines drawn point by point, so that both end pixels are exact.
    SDL_SetHint(SDL_HINT_RENDER_LINE_METHOD, "1");
    // The software renderer draws into the window's surface; give that surface
    // to the window system as it is (shared memory on X11). Otherwise SDL
    // copies it into a texture of an OpenGL renderer on every present, which
    // without a GPU is Mesa's software rasteriser: about ten times the
    // processor time per frame and some 85 MiB more memory.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Signals reach the program through its own watcher, not through SDL.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    if (!IsVisibleDriver()) return false;
    const Uint32 first = SDL_RegisterEvents(4);
    if (first == static_cast<Uint32>(-1)) return false;
    repaintEvent = first;
    closeEvent = first + 1;
    quitRequestEvent = first + 2;
    modeEvent = first + 3;

    viewWindow = SDL_CreateWindow("Tavolen", kWindowX, kWindowY, kOuterWidth, kOuterHeight,
                                  SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    if (viewWindow == nullptr) return false;
    FitOuterSize();
    renderer = SDL_CreateRenderer(viewWindow, -1, SDL_RENDERER_SOFTWARE);
    if (renderer == nullptr) {
        SDL_DestroyWindow(viewWindow);
        viewWindow = nullptr;
        return false;
    }
    viewThread = std::this_thread::get_id();
    // Sequentially consistent, as the loads in RequestClose and
    // RequestReportingMode and start-up's look at an end request: of a view
    // opening and a request made meanwhile, one always sees the other.
    viewPhase.store(kViewOpen);
    if (modePending.exchange(false)) ResendReportingMode();
    PaintView(PaintCause::First);
    return true;
}

int RunSensorView() {
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
    if (!PushViewEvent(repaintEvent)) repaintLatch.Cancel();
}

void RequestReportingMode() {
    if (modePending.exchange(true)) return;
    if (viewPhase.load() != kViewOpen) return;  // kept: sent when the view opens
    if (!PushViewEvent(modeEvent)) modePending.store(false);
}

void RequestClose() {
    if (viewPhase.load() != kViewOpen) return;
    // On the view's own thread the handler runs at once, as a window
    // procedure does for a message sent from its thread.
    if (std::this_thread::get_id() == viewThread) {
        DestroyView();
        return;
    }
    if (!PushViewEvent(closeEvent)) return;
    WaitWhileEqual(viewPhase, kViewOpen);
}
