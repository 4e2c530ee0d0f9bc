// The view's wait on its display connection and its own wake-up, on an Xvfb of
// the test's own: what ends a wait (events Xlib read along with a reply too,
// though the connection has nothing more), and that none leaves the next ending at once.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "harness.h"
#include "platform/display_wait.h"

#include <X11/Xlib.h>  // last: its macros (None, Bool) would break the others

namespace e2e {
namespace {

using Ms = std::chrono::milliseconds;
constexpr Ms kWatchdog{1000};

// The wait, ended by a wake-up after kWatchdog should it block; and how long it took.
DisplayWaitResult WaitWithWatchdog(Ms* took) {
    const Clock::time_point start = Clock::now();
    std::promise<void> ended;
    std::jthread watchdog([ending = ended.get_future()] {
        if (ending.wait_for(kWatchdog) == std::future_status::timeout) WakeDisplayWait();
    });
    const DisplayWaitResult result = WaitForDisplayOrWake(false);
    ended.set_value();
    *took = std::chrono::duration_cast<Ms>(Clock::now() - start);
    return result;
}

TEST(DisplayWait, EndsForEachThingTheViewMustTake) {
    Xvfb xvfb("/dev/null");
    ASSERT_FALSE(xvfb.display().empty());
    Display* own = XOpenDisplay(xvfb.display().c_str());    // the view's
    Display* other = XOpenDisplay(xvfb.display().c_str());  // another client's
    ASSERT_TRUE(own != nullptr && other != nullptr);
    const Window window = XCreateSimpleWindow(own, DefaultRootWindow(own), 0, 0, 10, 10, 0, 0, 0);
    XSync(own, False);
    ASSERT_TRUE(OpenDisplayWait(own));
    // A client message from the other client, handled by the server.
    const auto sendFromOther = [&] {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.format = 8;
        XSendEvent(other, window, False, NoEventMask, &event);
        XSync(other, False);
    };
    // The wait ends at once, before the watchdog; once what ended it is taken, it does not.
    const auto endsAtOnce = [&](const char* what, DisplayWaitResult result) {
        Ms took{};
        EXPECT_EQ(WaitWithWatchdog(&took), result) << what;
        EXPECT_LT(took, kWatchdog / 2) << what;
        for (XEvent event; XPending(own) > 0;) XNextEvent(own, &event);
        EXPECT_EQ(WaitWithWatchdog(&took), DisplayWaitResult::Wake) << what << ": then nothing";
        EXPECT_GE(took, kWatchdog / 2) << what << ": something was left behind";
    };
    std::thread([] { WakeDisplayWait(); }).detach();
    endsAtOnce("a wake-up from another thread", DisplayWaitResult::Wake);
    WakeDisplayWait(), WakeDisplayWait();
    endsAtOnce("wake-ups before the wait, merged", DisplayWaitResult::Wake);
    sendFromOther();
    endsAtOnce("an event on the connection", DisplayWaitResult::Display);
    sendFromOther();
    XSync(own, False);  // reads the event off the connection, into Xlib's queue
    ASSERT_GT(XEventsQueued(own, QueuedAlready), 0);
    endsAtOnce("an event Xlib read along with a reply", DisplayWaitResult::Display);
    XCloseDisplay(other);
    XCloseDisplay(own);
}

}  // namespace
}  // namespace e2e
