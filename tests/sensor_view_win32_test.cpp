// The Win32 view's message loop ends only through the destroy handler, and
// ends whatever later ending comes once the handler has run: a quit request
// from outside, and Escape, the close box or WM_CLOSE after a modal loop took
// the handler's own quit request. Each case runs in a process of its own (the
// view is made once per process); needs the display of the Wine session.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <future>

#include "control/main_reader.h"
#include "view/sensor_view.h"

namespace {

std::atomic<int> shutDowns{0};

enum class Later { None, QuitFromOutside, Escape, CloseBox, WmClose };

struct LoopCase {
    const char* name;
    bool escapeFirst;    // the destroy handler runs before the loop
    bool quitSwallowed;  // and a modal loop takes its quit request
    Later later;         // what comes while the loop runs
};

const LoopCase kLoopCases[] = {
    {"QuitFromOutsideClosesFirst", false, false, Later::QuitFromOutside},
    {"EscapeEnds", true, false, Later::None},
    {"EscapeAfterASwallowedQuit", true, true, Later::Escape},
    {"CloseBoxAfterASwallowedQuit", true, true, Later::CloseBox},
    {"WmCloseAfterASwallowedQuit", true, true, Later::WmClose},
    {"QuitFromOutsideAfterASwallowedQuit", true, true, Later::QuitFromOutside},
};

void PrintTo(const LoopCase& c, std::ostream* out) { *out << c.name; }

class ViewLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(ViewLoop, EndsWithZeroAfterOneShutdown) {
    const LoopCase& c = GetParam();
    ASSERT_TRUE(CreateSensorView());
    const HWND view = FindWindowA("wnd-001", "Tavolen");
    ASSERT_NE(view, nullptr);
    const DWORD viewThread = GetCurrentThreadId();
    if (c.escapeFirst) SendMessageA(view, WM_KEYDOWN, VK_ESCAPE, 0);
    MSG quit;
    if (c.quitSwallowed) {
        ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    }
    switch (c.later) {
    case Later::None:
        break;
    case Later::QuitFromOutside:
        std::async(std::launch::async, [&] { PostThreadMessageA(viewThread, WM_QUIT, 7, 0); }).wait();
        break;
    case Later::Escape:
        PostMessageA(view, WM_KEYDOWN, VK_ESCAPE, 0);
        break;
    case Later::CloseBox:
        PostMessageA(view, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Later::WmClose:
        PostMessageA(view, WM_CLOSE, 0, 0);
        break;
    }
    // A loop still running after 10 s is stopped with a quit request and the
    // case fails.
    std::promise<void> ended;
    std::atomic<bool> stuck{false};
    auto watchdog = std::async(std::launch::async, [&, done = ended.get_future()] {
        if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return;
        stuck = true;
        PostThreadMessageA(viewThread, WM_QUIT, 9, 0);
    });
    const int code = RunSensorView();
    ended.set_value();
    watchdog.wait();
    EXPECT_FALSE(stuck) << "the loop did not end";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shutDowns, 1);
}

INSTANTIATE_TEST_SUITE_P(Endings, ViewLoop, ::testing::ValuesIn(kLoopCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// The device side of the close, counted; no remote here.
void ShutDownRemote() { ++shutDowns; }
void ResendReportingMode() {}
