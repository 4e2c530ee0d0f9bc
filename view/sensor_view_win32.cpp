// The view as a plain Win32 window drawn with GDI.
//
// Display scaling: the program declares no DPI awareness, so at 125 % or
// 150 % Windows scales the whole window as a picture. Every coordinate here
// stays in 96-DPI pixels and every camera position keeps its place in the
// client area; the crosses are merely enlarged.
#include "view/sensor_view.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "control/main_reader.h"
#include "remote/remote_reports.h"
#include "view/repaint_latch.h"

ViewFrameHook viewFrameHook = nullptr;

namespace {

constexpr char kClassName[] = "wnd-001";
constexpr char kCaption[] = "Tavolen";
// Overlapped, with caption, system menu, sizing frame, minimise and maximise
// boxes.
constexpr DWORD kStyle = 0x00CF0000;
constexpr int kWindowX = 10;
constexpr int kWindowY = 10;
constexpr int kOuterWidth = 520;
constexpr int kOuterHeight = 420;
// Camera 1024 x 768 at half scale: the client area every point must fit in.
constexpr int kFieldWidth = 512;
constexpr int kFieldHeight = 384;
constexpr int kArm = 4;  // pixels each side of a cross's centre
constexpr int kFontHeight = 16;

// Where the view is in its life; the reader's requests read it.
enum ViewPhase : int { kNoView, kViewOpen, kViewDestroyed };
std::atomic<int> viewPhase{kNoView};

// The window, set once it exists; the reader's requests address it.
std::atomic<HWND> viewWindow{nullptr};

// A repaint request moved a cross since the last paint (for the measurement
// hook). The view's thread only.
bool repaintRequested = false;

// The view's own message: invalidate the crosses that moved. One at a time is
// queued; the reader's requests meanwhile merge into it.
constexpr UINT kRepaintMessage = WM_APP + 9;
RepaintLatch repaintLatch;

// Owned by the view's thread. The drawing objects live from the creation
// handler to the destroy handler.
HPEN pen;
HBRUSH brush;
HFONT font;
bool firstPaintDone;
bool destroyHandled;

// A point in camera coordinates.
struct CameraPoint {
    int32_t x, y;
    bool operator==(const CameraPoint&) const = default;
};

// The points the window shows, or will once the invalidated boxes are
// painted: every paint draws these, so that a paint clipped to part of the
// window never draws a cross where no box was invalidated for it.
CameraPoint shown[4];

CameraPoint ReadPoint(const IrPoint& point) {
    return {point.x.load(std::memory_order_relaxed), point.y.load(std::memory_order_relaxed)};
}

// The client pixels of a cross: a camera point at (x, y) lands on client
// pixel (x / 2, y / 2), each arm covering -4 to +4 around it.
RECT CrossBox(CameraPoint point) {
    return {point.x / 2 - kArm, point.y / 2 - kArm, point.x / 2 + kArm + 1, point.y / 2 + kArm + 1};
}

// A line stops one pixel short of its end: hence the + 1.
void DrawCross(HDC dc, CameraPoint point) {
    const int cx = point.x / 2;
    const int cy = point.y / 2;
    MoveToEx(dc, cx - kArm, cy, nullptr);
    LineTo(dc, cx + kArm + 1, cy);
    MoveToEx(dc, cx, cy - kArm, nullptr);
    LineTo(dc, cx, cy + kArm + 1);
}

// For the reader's repaint request: the old and the new box of each cross
// that moved are erased and painted again, nothing when none moved. An erase
// of the whole window a hundred times a second flickers.
void InvalidateMovedCrosses(HWND window) {
    repaintLatch.Take();
    for (int k = 0; k < 4; ++k) {
        const CameraPoint now = ReadPoint(RemoteState.ir[k]);
        if (now == shown[k]) continue;
        for (const CameraPoint point : {shown[k], now}) {
            const RECT box = CrossBox(point);
            InvalidateRect(window, &box, TRUE);
        }
        shown[k] = now;
        repaintRequested = true;
    }
}

// Begins painting (the system has erased the background with the class
// brush where the invalidation asked for it) and draws the four crosses,
// clipped to what was invalidated.
void PaintView(HWND window) {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    if (destroyHandled) {
        // The drawing objects are gone; the process ends in a moment.
        EndPaint(window, &paint);
        return;
    }
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    const HGDIOBJ oldBrush = SelectObject(dc, brush);
    const HGDIOBJ oldFont = SelectObject(dc, font);
    ViewFrame frame{PaintCause::Exposed, {}, kRepaintMessage};
    for (int k = 0; k < 4; ++k) {
        DrawCross(dc, shown[k]);
        frame.drawnX[k] = shown[k].x;
    }
    const RECT& area = paint.rcPaint;  // the update region's bounds
    frame.sentCount = 1;
    frame.sent[0] = ViewRect{area.left, area.top, area.right - area.left, area.bottom - area.top};
    // Put the DC's own objects back, so that ours are never left selected
    // into a DC when the destroy handler deletes them.
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    EndPaint(window, &paint);
    if (viewFrameHook == nullptr) return;
    if (!firstPaintDone) {
        frame.cause = PaintCause::First;
    } else if (repaintRequested) {
        frame.cause = PaintCause::Repaint;
    }
    repaintRequested = false;
    firstPaintDone = true;
    viewFrameHook(frame);
}

// The destroy handler. Runs its steps once, however many destroy
// notifications arrive (Escape, the reader's close, the close box). A later
// one posts the quit request again: a modal loop (moving or sizing the
// window) may have taken the first one, and the loop would wait for ever.
void HandleDestroy() {
    if (destroyHandled) {
        PostQuitMessage(0);
        return;
    }
    destroyHandled = true;
    DeleteObject(pen);
    DeleteObject(brush);
    DeleteObject(font);
    PostQuitMessage(0);
    ShutDownRemote();
    viewPhase.store(kViewDestroyed, std::memory_order_release);
}

LRESULT CALLBACK ViewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
        brush = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
        font = CreateFontA(kFontHeight, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                           0, "System");
        return 0;
    case WM_PAINT:
        PaintView(window);
        return 0;
    case WM_KEYDOWN:
        // Escape runs the destroy handler; the window itself stays until the
        // process ends.
        if (wParam == VK_ESCAPE) SendMessageA(window, WM_DESTROY, 0, 0);
        return 0;
    case WM_DESTROY:
        HandleDestroy();
        return 0;
    case kRepaintMessage:
        if (!destroyHandled) InvalidateMovedCrosses(window);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Log-off or shut-down: the process may be ended as soon as this
        // returns, so the remote is put back now.
        if (wParam) SendMessageA(window, WM_DESTROY, 0, 0);
        return 0;
    }
    // The close box and a WM_CLOSE from another program end here too: the
    // default handling destroys the window, which runs the destroy handler.
    return DefWindowProcA(window, message, wParam, lParam);
}

// 520 x 420, unless the system's frame leaves less than the camera's field
// for the client area (Windows 10's frame does): then just large enough.
SIZE OuterSize() {
    RECT field{0, 0, kFieldWidth, kFieldHeight};
    SIZE size{kOuterWidth, kOuterHeight};
    if (AdjustWindowRectEx(&field, kStyle, FALSE, 0)) {
        size.cx = std::max<LONG>(size.cx, field.right - field.left);
        size.cy = std::max<LONG>(size.cy, field.bottom - field.top);
    }
    return size;
}

}  // namespace

bool CreateSensorView() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ViewProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    // A failed registration shows as a failed creation.
    RegisterClassExA(&windowClass);

    const SIZE outer = OuterSize();
    const HWND window = CreateWindowExA(0, kClassName, kCaption, kStyle, kWindowX, kWindowY,
                                        outer.cx, outer.cy, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return false;
    viewWindow.store(window, std::memory_order_relaxed);
    for (int k = 0; k < 4; ++k) shown[k] = ReadPoint(RemoteState.ir[k]);
    // Sequentially consistent, as the load in RequestClose and start-up's
    // look at an end request: of a view opening and a request made
    // meanwhile, one always sees the other.
    viewPhase.store(kViewOpen);
    // The show state the program was started with (normal, minimised, ...).
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    return true;
}

// Windows has one window system: a window that cannot be made has no other
// to be asked for.
const char* SensorViewFailure() { return ""; }

int RunSensorView() {
    MSG message;
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 && destroyHandled) return 0;
        if (got == 0) {
            // A quit request from outside (another program's
            // PostThreadMessage): close as the close box would; the
            // handler's own quit request ends the loop.
            SendMessageA(viewWindow.load(std::memory_order_relaxed), WM_DESTROY, 0, 0);
            continue;
        }
        if (got == -1) {
            // The queue itself failed: close as the close box would.
            SendMessageA(viewWindow.load(std::memory_order_relaxed), WM_DESTROY, 0, 0);
            return 0;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void RequestRepaint() {
    if (viewPhase.load(std::memory_order_acquire) != kViewOpen) return;
    if (repaintLatch.Raise() &&
        !PostMessageA(viewWindow.load(std::memory_order_relaxed), kRepaintMessage, 0, 0)) {
        repaintLatch.Cancel();
    }
}

void RequestClose() {
    if (viewPhase.load() != kViewOpen) return;
    // Sent across threads, the message runs on the view's thread, and this
    // returns once the handler has returned there; sent from the view's own
    // thread, the handler runs inside the call.
    SendMessageA(viewWindow.load(std::memory_order_relaxed), WM_DESTROY, 0, 0);
}
