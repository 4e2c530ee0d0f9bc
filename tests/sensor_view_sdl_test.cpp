// The SDL view in this process under SDL's offscreen driver: what each frame
// hands the display after the points move, and that the picture it keeps is
// pixel for pixel what a whole redraw (white, then the crosses) would give.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "control/main_reader.h"
#include "remote/remote_reports.h"
#include "view/sensor_view.h"

// The destroy handler's other side: no remote here.
void ShutDownRemote() {}

namespace {

using Rects = std::vector<std::tuple<int, int, int, int>>;  // x, y, w, h

constexpr int U = 1023;  // unseen: centred on (511, 511), below the window

// Each step moves the points from where the step before left them, in camera
// coordinates; the window is 520 x 420 and shows them at half.
struct Step {
    const char* name;
    int points[4][2];
    Rects sent;  // what that frame hands the display
};

const Step kSteps[] = {
    {"NothingMovedSendsNothing", {{300, 200}, {600, 200}, {U, U}, {U, U}}, {}},
    {"OnePixelAsideOneMergedBox", {{302, 200}, {600, 200}, {U, U}, {U, U}}, {{146, 96, 10, 9}}},
    {"FarMoveOldAndNewBox", {{400, 300}, {600, 200}, {U, U}, {U, U}}, {{147, 96, 9, 9}, {196, 146, 9, 9}}},
    {"OntoAnotherCross", {{400, 300}, {404, 300}, {U, U}, {U, U}}, {{296, 96, 9, 9}, {198, 146, 9, 9}}},
    {"OffAnotherCrossRedrawsIt", {{400, 300}, {600, 600}, {U, U}, {U, U}}, {{198, 146, 9, 9}, {296, 296, 9, 9}}},
    {"AdjacentBoxesOneRectangle", {{418, 300}, {600, 600}, {U, U}, {U, U}}, {{196, 146, 18, 9}}},
    {"TwoCrossesBoxesTouching", {{U, U}, {410, 300}, {U, U}, {U, U}}, {{201, 146, 13, 9}, {296, 296, 9, 9}}},
    {"LeavesTheWindow", {{U, U}, {U, U}, {U, U}, {U, U}}, {{201, 146, 9, 9}}},
    {"CornerClippedToTheWindow", {{U, U}, {U, U}, {0, 0}, {U, U}}, {{0, 0, 5, 5}}},
};

struct Seen {
    PaintCause cause;
    Rects sent;
    int wrongPixels;  // pixels that differ from a whole redraw
};

std::mutex seenMutex;
std::condition_variable seenChanged;
std::vector<Seen> seen;

// The window surface's pixels against white with the current points' crosses.
int CountWrongPixels() {
    SDL_Window* window = nullptr;
    for (Uint32 id = 1; id < 16 && window == nullptr; ++id) window = SDL_GetWindowFromID(id);
    SDL_Surface* surface = window == nullptr ? nullptr : SDL_GetWindowSurface(window);
    if (surface == nullptr || surface->format->BytesPerPixel != 4) return -1;
    int wrong = 0;
    for (int y = 0; y < surface->h; ++y) {
        for (int x = 0; x < surface->w; ++x) {
            bool black = false;
            for (const IrPoint& point : RemoteState.ir) {
                const int dx = x - point.x.load() / 2, dy = y - point.y.load() / 2;
                black |= (dy == 0 && std::abs(dx) <= 4) || (dx == 0 && std::abs(dy) <= 4);
            }
            Uint32 pixel;
            std::memcpy(&pixel, static_cast<const Uint8*>(surface->pixels) + y * surface->pitch + x * 4, 4);
            Uint8 r, g, b;
            SDL_GetRGB(pixel, surface->format, &r, &g, &b);
            wrong += (r | g | b) != (black ? 0x00 : 0xFF) || (r & g & b) != (black ? 0x00 : 0xFF);
        }
    }
    return wrong;
}

void NoteFrame(const ViewFrame& frame) {
    Seen s{frame.cause, {}, CountWrongPixels()};
    for (int i = 0; i < frame.sentCount; ++i) s.sent.emplace_back(frame.sent[i].x, frame.sent[i].y, frame.sent[i].w, frame.sent[i].h);
    std::sort(s.sent.begin(), s.sent.end());
    std::lock_guard lock(seenMutex);
    seen.push_back(s);
    seenChanged.notify_all();
}

void MovePoints(const int (&points)[4][2]) {
    for (int k = 0; k < 4; ++k) {
        RemoteState.ir[k].x.store(points[k][0]);
        RemoteState.ir[k].y.store(points[k][1]);
    }
}

TEST(SensorViewSdl, SendsOnlyTheBoxesOfCrossesThatMovedAndKeepsTheWholePicture) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    viewFrameHook = NoteFrame;
    MovePoints(kSteps[0].points);
    ASSERT_TRUE(CreateSensorView()) << SDL_GetError();
    std::thread driver([] {
        for (const Step& step : kSteps) {
            MovePoints(step.points);
            std::unique_lock lock(seenMutex);
            const std::size_t before = seen.size();
            RequestRepaint();
            const auto painted = [&] { return seen.size() > before && seen.back().cause == PaintCause::Repaint; };
            if (!seenChanged.wait_for(lock, std::chrono::seconds(20), painted)) break;
        }
        RequestClose();
    });
    EXPECT_EQ(RunSensorView(), 0);
    driver.join();

    std::vector<Seen> repaints;
    for (const Seen& s : seen) {
        if (s.cause == PaintCause::Repaint) repaints.push_back(s);
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().cause, PaintCause::First);
    EXPECT_EQ(seen.front().sent, (Rects{{0, 0, 520, 420}})) << "the first frame is sent whole";
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].wrongPixels, 0) << "frame " << i;
    ASSERT_EQ(repaints.size(), std::size(kSteps));
    for (std::size_t i = 0; i < repaints.size(); ++i) {
        Rects expected = kSteps[i].sent;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(repaints[i].sent, expected) << kSteps[i].name;
    }
}

}  // namespace
