// Two races between the main reader and the view's thread, run many times
// over so that an interleaving that breaks them has its chance to happen.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "control/reader_gate.h"
#include "view/repaint_latch.h"

namespace {

// Starts both bodies as close together as two threads can.
template <class A, class B>
void RunTogether(A a, B b) {
    std::atomic<int> ready{0};
    auto start = [&ready] {
        ready.fetch_add(1);
        while (ready.load() < 2) std::this_thread::yield();
    };
    std::thread first([&] { start(), a(); });
    start();
    b();
    first.join();
}

// However the reader's start and the shutdown interleave, reading ends up off.
TEST(ReaderGate, AShutdownNeverLeavesTheReaderReading) {
    for (int round = 0; round < 10000; ++round) {
        std::atomic<uint8_t> reading{0};
        ReaderGate gate(reading);
        bool opened = false;
        RunTogether([&] { opened = gate.Open(); }, [&] { EXPECT_TRUE(gate.Close()); });
        ASSERT_EQ(reading.load(), 0) << "round " << round << (opened ? ", opened first" : "");
        EXPECT_FALSE(gate.Open());
        EXPECT_FALSE(gate.Close());
    }
}

// The reader writes a counter and raises the latch; a painter that takes it
// and reads the counter whenever a repaint is queued. After the last request,
// the last paint must show the last value: no request may be merged into a
// paint that read older state.
TEST(RepaintLatch, TheLastPaintShowsTheLastState) {
    for (int round = 0; round < 2000; ++round) {
        RepaintLatch latch;
        std::atomic<int> state{0};
        std::atomic<int> queued{0};  // repaints queued and not yet painted
        std::atomic<bool> done{false};
        int painted = -1;
        constexpr int kWrites = 200;
        RunTogether(
            [&] {
                for (int value = 1; value <= kWrites; ++value) {
                    state.store(value, std::memory_order_relaxed);
                    if (latch.Raise()) queued.fetch_add(1);
                }
                done = true;
            },
            [&] {
                while (!done || queued.load() > 0) {
                    if (queued.load() == 0) {
                        std::this_thread::yield();
                        continue;
                    }
                    latch.Take();
                    painted = state.load(std::memory_order_relaxed);
                    queued.fetch_sub(1);
                }
            });
        ASSERT_EQ(painted, kWrites) << "round " << round;
    }
}

}  // namespace
