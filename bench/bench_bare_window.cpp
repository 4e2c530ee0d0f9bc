// tavolen-bench's bare window: what the program is compared with.
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "bench/bench_child.h"
#include "remote/hid_channel.h"
#include "remote/ir_setup.h"
#include "remote/remote_reports.h"

namespace bench {

// The bare window: the same simulated remote at the same rate, read by a
// thread that only decodes, beside a window that sends whole frames (the
// software renderer clears it, draws the four crosses of RemoteState and
// presents it all) at a fixed frame rate, paced by sleeping to each frame's
// time. What the program adds to it is the hand-off to the view and the view.
[[noreturn]] void RunBareChild(const ChildSettings& settings) {
    const auto fail = [](const char* what) {
        std::fprintf(stderr, "bare window: %s: %s\n", what, SDL_GetError());
        std::_Exit(1);
    };
    SetUpSimulatedRemote(settings);
    SDL_SetHint(SDL_HINT_RENDER_LINE_METHOD, "1");
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) fail("SDL_Init");
    SDL_Window* sdlWindow = SDL_CreateWindow("Tavolen bare window", 10, 10, 520, 420,
                                             SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    SDL_Renderer* renderer = sdlWindow == nullptr ? nullptr : SDL_CreateRenderer(sdlWindow, -1, SDL_RENDERER_SOFTWARE);
    if (renderer == nullptr) fail("window");
    const int32_t handle = OpenHidHandle(0x057E, 0x0306);
    if (handle < 0) fail("the simulated remote did not open");
    deviceHandle.store(handle);
    SetUpIrCamera();
    std::atomic<bool> reading{true};
    std::thread reader([&reading] {
        while (reading.load(std::memory_order_relaxed)) ReadRemoteReport();
    });
    Window window;
    std::thread monitor(RunMonitor, settings, &window);

    const int64_t start = ReadOpenNs();
    const int64_t periodNs = static_cast<int64_t>(1e9 / settings.fps);
    bool quit = false;
    for (int64_t nextNs = start; !quit && !window.done.load(std::memory_order_acquire); nextNs += periodNs) {
        SleepUntilNs(nextNs);
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
            if (event.type == SDL_QUIT) quit = true;
        }
        SDL_SetRenderDrawColor(renderer, 0xFF, 0xFF, 0xFF, 0xFF);
        SDL_RenderClear(renderer);
        SDL_SetRenderDrawColor(renderer, 0x00, 0x00, 0x00, 0xFF);
        for (const IrPoint& point : RemoteState.ir) {
            const int cx = point.x.load(std::memory_order_relaxed) / 2;
            const int cy = point.y.load(std::memory_order_relaxed) / 2;
            SDL_RenderDrawLine(renderer, cx - 4, cy, cx + 4, cy);
            SDL_RenderDrawLine(renderer, cx, cy - 4, cx, cy + 4);
        }
        SDL_RenderPresent(renderer);
        CountFrame();
    }
    reading.store(false, std::memory_order_relaxed);
    CloseHidHandle(handle);  // a read waiting in the reader returns
    reader.join();
    const bool complete = window.done.load(std::memory_order_acquire);
    if (complete) monitor.join(); else monitor.detach();
    ResultWriter out;
    out.Put("exit_code", 0);
    out.Put("complete", complete ? 1 : 0);
    if (complete) PutWindowFigures(out, window, settings);
    out.Close();
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace bench
