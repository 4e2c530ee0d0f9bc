// The view with a stand-in for the reader's side: a close asked for from
// another thread returns only once the destroy handler has run on the view's
// thread, as the reader's HOME relies on, and a later one runs nothing again.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "control/main_reader.h"
#include "view/sensor_view.h"

namespace {
std::atomic<int> shutDowns{0};
}  // namespace

void ShutDownRemote() { ++shutDowns; }

TEST(SensorView, ACloseFromAnotherThreadReturnsOnceTheHandlerRan) {
    ASSERT_TRUE(CreateSensorView());
    int shutDownsSeen = -1;
    std::thread reader([&] {
        for (int i = 0; i < 100; ++i) RequestRepaint();
        RequestClose();
        shutDownsSeen = shutDowns.load();
        RequestClose();
    });
    EXPECT_EQ(RunSensorView(), 0);
    reader.join();
    EXPECT_EQ(shutDownsSeen, 1);
    EXPECT_EQ(shutDowns.load(), 1);
}
