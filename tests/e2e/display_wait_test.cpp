// The view's wait on its display connection and its own wake-up, on an Xvfb
// of the test's own: what ends a wait, that events Xlib already read along
// with a reply end it at once though the connection has nothing more to read,
// and that no case leaves the next wait ending at once.
#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "harness.h"
#include "platform/display_wait.h"

#include <X11/Xlib.h>  // last: its macros (None, Bool) would break the others

namespace e2e {
namespace {

using Ms = std::chrono::milliseconds;
constexpr Ms kWatchdog{1000};

struct Connections {
    Display* own;    // the view's
    Display* other;  // another client's
    Window window;   // the view's window
};

// A client message from the other client, handled by the server.
void SendFromOther(const Connections& c) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = c.window;
    event.xclient.format = 8;
    XSendEvent(c.other, c.window, False, NoEventMask, &event);
    XSync(c.other, False);
}

// The wait, ended by a wake-up after kWatchdog should it block; and how long it took.
DisplayWaitResult WaitWithWatchdog(Ms* took) {
    const Clock::time_point start = Clock::now();
    std::jthread watchdog([](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any stopped;
        std::unique_lock lock(mutex);
        stopped.wait_for(lock, stop, kWatchdog, [] { return false; });
        if (!stop.stop_requested()) WakeDisplayWait();
    });
    const DisplayWaitResult result = WaitForDisplayOrWake(false);
    *took = std::chrono::duration_cast<Ms>(Clock::now() - start);
    return result;
}

struct WaitCase {
    const char* name;
    void (*before)(const Connections& c);
    DisplayWaitResult result;  // at once, before the watchdog
};

const WaitCase kCases[] = {
    {"AWakeUpFromAnotherThread", [](const Connections&) { std::thread([] { WakeDisplayWait(); }).detach(); },
     DisplayWaitResult::Wake},
    {"WakeUpsBeforeTheWaitMerge", [](const Connections&) { WakeDisplayWait(), WakeDisplayWait(); },
     DisplayWaitResult::Wake},
    {"AnEventOnTheConnection", SendFromOther, DisplayWaitResult::Display},
    {"AnEventXlibReadAlongWithAReply",
     [](const Connections& c) {
         SendFromOther(c);
         XSync(c.own, False);  // reads the event off the connection, into Xlib's queue
         ASSERT_GT(XEventsQueued(c.own, QueuedAlready), 0);
     },
     DisplayWaitResult::Display},
};

TEST(DisplayWait, EndsForEachThingTheViewMustTake) {
    Xvfb xvfb("/dev/null");
    ASSERT_FALSE(xvfb.display().empty());
    Connections c{XOpenDisplay(xvfb.display().c_str()), XOpenDisplay(xvfb.display().c_str()), 0};
    ASSERT_TRUE(c.own != nullptr && c.other != nullptr);
    c.window = XCreateSimpleWindow(c.own, DefaultRootWindow(c.own), 0, 0, 10, 10, 0, 0, 0);
    XSync(c.own, False);
    ASSERT_TRUE(OpenDisplayWait(c.own));
    for (const WaitCase& w : kCases) {
        w.before(c);
        Ms took{};
        EXPECT_EQ(WaitWithWatchdog(&took), w.result) << w.name;
        EXPECT_LT(took, kWatchdog / 2) << w.name;
        for (XEvent event; XPending(c.own) > 0;) XNextEvent(c.own, &event);
        EXPECT_EQ(WaitWithWatchdog(&took), DisplayWaitResult::Wake) << w.name << ": then nothing";
        EXPECT_GE(took, kWatchdog / 2) << w.name << ": something was left behind";
    }
    XCloseDisplay(c.other);
    XCloseDisplay(c.own);
}

}  // namespace
}  // namespace e2e
