// Once the destroy handler has run and a modal loop (moving or sizing the
// window) has taken its quit request, a later Escape, close box or WM_CLOSE
// still ends the view's loop, the remote shut down once. Each case runs in a
// process of its own (the view is made once per process), on the display of
// the Wine session.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "control/main_reader.h"
#include "remote/remote_reports.h"
#include "view/sensor_view.h"

namespace {

std::atomic<int> shutDowns{0};
bool stuck = false;

struct LaterEnding {
    const char* name;
    UINT message;
    WPARAM wParam;
};

const LaterEnding kLaterEndings[] = {
    {"Escape", WM_KEYDOWN, VK_ESCAPE},
    {"CloseBox", WM_SYSCOMMAND, SC_CLOSE},
    {"WmClose", WM_CLOSE, 0},
};

void PrintTo(const LaterEnding& c, std::ostream* out) { *out << c.name; }

class SwallowedQuit : public ::testing::TestWithParam<LaterEnding> {};

TEST_P(SwallowedQuit, ALaterEndingStillEndsTheLoop) {
    ASSERT_TRUE(CreateSensorView());
    // This thread's view: another test's process may show one at the same time.
    HWND view = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM out) {
            char name[16] = {};
            GetClassNameA(window, name, sizeof name);
            if (std::string(name) != "wnd-001") return TRUE;
            *reinterpret_cast<HWND*>(out) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&view));
    ASSERT_NE(view, nullptr);
    SendMessageA(view, WM_KEYDOWN, VK_ESCAPE, 0);
    MSG quit;  // taken as the modal loop takes it
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    PostMessageA(view, GetParam().message, GetParam().wParam, 0);
    // A loop still running after 10 s is ended by a timer, and fails.
    SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) {
        stuck = true;
        PostQuitMessage(0);
    });
    EXPECT_EQ(RunSensorView(), 0);
    EXPECT_FALSE(stuck) << "the loop did not end";
    EXPECT_EQ(shutDowns, 1);
}

INSTANTIATE_TEST_SUITE_P(Endings, SwallowedQuit, ::testing::ValuesIn(kLaterEndings),
                         [](const auto& info) { return std::string(info.param.name); });

// A repaint request erases only the old and new box of each cross that moved:
// the paint after it covers their bounds and no more, and none comes when
// nothing moved. Point 1 moves, from (300, 200); the others are unseen.
std::vector<std::vector<int>> repaints;  // x, y, width and height each covered

TEST(RepaintRequest, CoversOnlyTheBoxesOfTheCrossesThatMoved) {
    const struct {
        int x, y;
        std::vector<std::vector<int>> repaints;
    } steps[] = {{310, 200, {{146, 96, 14, 9}}}, {310, 200, {}}, {0, 0, {{0, 0, 160, 105}}}};
    for (IrPoint& point : RemoteState.ir) point.x = point.y = 1023;
    RemoteState.ir[0].x = 300, RemoteState.ir[0].y = 200;
    viewFrameHook = [](const ViewFrame& frame) {
        const auto& box = frame.sent[0];
        if (frame.cause == PaintCause::Repaint) repaints.push_back({box.x, box.y, box.w, box.h});
    };
    ASSERT_TRUE(CreateSensorView());
    for (const auto& step : steps) {
        repaints.clear();
        RemoteState.ir[0].x = step.x, RemoteState.ir[0].y = step.y;
        RequestRepaint();
        for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
        EXPECT_EQ(repaints, step.repaints) << step.x << ", " << step.y;
    }
    RequestClose();
}

}  // namespace

// The device side of the close, counted: no remote here.
void ShutDownRemote() { ++shutDowns; }
