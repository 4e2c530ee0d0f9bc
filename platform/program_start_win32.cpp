#include "platform/program_start.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/immortal.h"
#include "platform/process.h"

namespace {

// The command line in UTF-8, which argv points into for the process's life.
// Written once by StartProgram.
struct Arguments {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};
Immortal<Arguments> arguments;

// Standard output reaches the user: the starter gave it (a file, a pipe, a
// console) or the program joined the starter's console. Written once by
// StartProgram, read by ShowProgramText.
bool outputShown = false;

bool IsGiven(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Ctrl+C and Ctrl+Break typed at a borrowed console are meant for the
// program the console runs next: taken here and dropped, where the default
// handler would end the process on the spot. Every other event goes on to
// the handlers installed later (which run first) or the default.
BOOL WINAPI DropTypedInterrupt(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// Points the C runtime's stream, which writes nowhere, at the console. A
// program started without standard handles has these streams marked as
// having no descriptor at all (-2), which freopen refuses: the descriptor is
// made first and then given to the stream.
void PointAtConsole(std::FILE* stream, int descriptor, int console) {
    if (_dup2(console, descriptor) != 0) return;
    if (_fileno(stream) != descriptor) stream->_file = descriptor;
}

// A window program has no console of its own. Started from one, it joins
// it before it writes anything; a stream the starter redirected (checked
// before joining, which may change the handles) stays where it goes.
void JoinStartersConsole() {
    const bool outputGiven = IsGiven(STD_OUTPUT_HANDLE);
    const bool errorGiven = IsGiven(STD_ERROR_HANDLE);
    SetConsoleCtrlHandler(DropTypedInterrupt, TRUE);
    outputShown = outputGiven;
    // Denied: the process is in a console already (Wine puts a window
    // program into its starter's console at once).
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return;
    const HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr);
    if (screen == INVALID_HANDLE_VALUE) return;
    const int console = _open_osfhandle(reinterpret_cast<intptr_t>(screen), _O_TEXT);
    if (console < 0) {
        CloseHandle(screen);
        return;
    }
    if (!outputGiven) PointAtConsole(stdout, 1, console);
    if (!errorGiven) PointAtConsole(stderr, 2, console);
    _close(console);
    outputShown = true;
}

// UTF-16 text as UTF-8; false when it holds half of a surrogate pair.
bool ToUtf8(const wchar_t* wide, std::string* text) {
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0) return false;
    text->assign(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, text->data(), size, nullptr,
                        nullptr);
    text->pop_back();  // the terminating zero
    return true;
}

}  // namespace

void StartProgram(const char* program, int* argc, char*** argv) {
    JoinStartersConsole();
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        std::fprintf(stderr, "%s: cannot read the command line\n", program);
        EndProcess(2);
    }
    Arguments& args = arguments.value;
    args.texts.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!ToUtf8(wide[i], &args.texts[static_cast<std::size_t>(i)])) {
            std::fprintf(stderr, "%s: argument %d is not valid Unicode, so it names no file\n",
                         program, i);
            EndProcess(2);
        }
    }
    LocalFree(wide);
    for (std::string& text : args.texts) args.pointers.push_back(text.data());
    args.pointers.push_back(nullptr);
    *argc = count;
    *argv = args.pointers.data();
}

void ShowProgramText(const char* program, const char* text) {
    if (outputShown) {
        std::printf("%s\n", text);
        return;
    }
    MessageBoxA(nullptr, text, program, MB_OK | MB_ICONINFORMATION);
}
