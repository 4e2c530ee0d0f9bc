// win-probe: looks at and talks to the view's window from another Windows
// program, for the end-to-end tests.
//
//   win-probe window       prints the window's class, styles and rectangles
//   win-probe end-session  asks the window to end as at log-off
// Exit code 0 when the window was found, 1 when not, 2 on a bad command line.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HWND FindView() { return FindWindowA("wnd-001", "Tavolen"); }

int PrintWindow(HWND window) {
    RECT outer{}, client{};
    POINT origin{0, 0};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    ClientToScreen(window, &origin);
    const auto classStyle = GetClassLongPtrA(window, GCL_STYLE);
    std::printf("style %08lX exstyle %08lX classstyle %08lX\n",
                static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_EXSTYLE)),
                static_cast<unsigned long>(classStyle));
    std::printf("outer %ld %ld %ld %ld\n", outer.left, outer.top, outer.right - outer.left,
                outer.bottom - outer.top);
    std::printf("client %ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
    return 0;
}

// What Windows sends every top-level window at log-off.
int EndSession(HWND window) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000,
                        &answer);
    std::printf("query-end-session %lu\n", static_cast<unsigned long>(answer));
    SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const HWND window = FindView();
    if (window == nullptr) return 1;
    if (std::strcmp(argv[1], "window") == 0) return PrintWindow(window);
    if (std::strcmp(argv[1], "end-session") == 0) return EndSession(window);
    return 2;
}
