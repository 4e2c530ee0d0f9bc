// win-probe: looks at and talks to the view's window from another Windows
// program, for the end-to-end tests.
//
//   win-probe window       prints the window's class, styles and rectangles
//   win-probe end-session  asks the window to end as at log-off
//   win-probe quit         posts a quit request to the window's thread
//   win-probe enlarge      makes the window 640 x 640, as a user's drag would
//   win-probe start HOW PROGRAM ARGS...
//                          starts a window program without standard handles,
//                          as a console's prompt or the Start menu does, and
//                          ends with its exit code. HOW is "console" (in a
//                          console of the probe's own, whose text it prints
//                          afterwards), "ctrl-c" (as console; once the view
//                          shows, types Ctrl+C and Ctrl+Break at the console,
//                          says whether the program still runs a second later,
//                          then closes the view) or "none" (no console: prints
//                          the program's box and presses its OK)
// Exit code 0 when the window was found, 1 when not, 2 on a bad command line.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

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

// The visible message box of a process, if it shows one.
HWND FindBoxOf(DWORD process) {
    HWND box = nullptr;
    while ((box = FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        if (owner == process && IsWindowVisible(box)) return box;
    }
    return nullptr;
}

int Start(const std::string& how, int argc, char** argv) {
    std::string commandLine;
    for (int i = 0; i < argc; ++i) commandLine += std::string(i > 0 ? " \"" : "\"") + argv[i] + "\"";
    FreeConsole();
    if (how != "none") {
        AllocConsole();
        SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);  // the probe stays
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;  // all three null
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        return 2;
    }
    HWND window = nullptr;
    for (int i = 0; i < 1000 && how != "console" && window == nullptr; ++i, Sleep(20)) {
        window = how == "none" ? FindBoxOf(child.dwProcessId) : FindView();
    }
    if (how == "none" && window != nullptr) {
        char caption[64] = {}, text[2048] = {};
        GetWindowTextA(window, caption, sizeof caption);
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // the box's text
        std::printf("box %s: %s\n", caption, text);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    } else if (how == "ctrl-c") {
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
        const bool running = WaitForSingleObject(child.hProcess, 1000) == WAIT_TIMEOUT;
        std::printf("after ctrl-c: %s\n", running ? "running" : "ended");
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    DWORD code = 2;
    if (WaitForSingleObject(child.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(child.hProcess, &code);
    // The console's lines up to its cursor.
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    const HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    for (SHORT y = 0; how != "none" && GetConsoleScreenBufferInfo(out, &screen) && y <= screen.dwCursorPosition.Y; ++y) {
        std::string row(static_cast<std::size_t>(screen.dwSize.X), ' ');
        DWORD got = 0;
        ReadConsoleOutputCharacterA(out, row.data(), screen.dwSize.X, COORD{0, y}, &got);
        std::printf("console: %s\n", row.substr(0, row.find_last_not_of(' ') + 1).c_str());
    }
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "start") == 0) return Start(argv[2], argc - 3, argv + 3);
    if (argc != 2) return 2;
    const HWND window = FindView();
    if (window == nullptr) return 1;
    if (std::strcmp(argv[1], "window") == 0) return PrintWindow(window);
    if (std::strcmp(argv[1], "end-session") == 0) return EndSession(window);
    if (std::strcmp(argv[1], "quit") == 0) {
        return PostThreadMessageA(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "enlarge") == 0) return SetWindowPos(window, nullptr, 0, 0, 640, 640, SWP_NOMOVE | SWP_NOZORDER) ? 0 : 1;
    return 2;
}
