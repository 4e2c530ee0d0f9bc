// Two races between the main reader and the view's thread, run many times
// over so that an interleaving that breaks them has its chance to happen.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>

#include "control/reader_gate.h"
#include "view/repaint_latch.h"

namespace {

// Runs rounds of two bodies at once: a on a second thread and b on this one,
// each round started on both together, with setup before and check after.
// One thread for all rounds: starting threads is slow on some systems.
template <class Setup, class A, class B, class Check>
void RunRounds(int rounds, Setup setup, A a, B b, Check check) {
    std::atomic<int> arrived{0};
    std::atomic<int> passed{0};  // barrier generations passed
    auto meet = [&] {
        const int generation = passed.load();
        if (arrived.fetch_add(1) == 1) {
            arrived.store(0);
            passed.fetch_add(1);
        } else {
            while (passed.load() == generation) std::this_thread::yield();
        }
    };
    bool stop = false;  // written before the last meeting of a round, read after
    std::thread second([&] {
        while (!stop) {
            meet();
            a();
            meet();
            meet();
        }
    });
    for (int round = 0; !stop; ++round) {
        setup();
        meet();
        b();
        meet();
        stop = !check(round) || round + 1 == rounds;
        meet();
    }
    second.join();
}

// However the reader's start and the shutdown interleave, reading ends up off.
TEST(ReaderGate, AShutdownNeverLeavesTheReaderReading) {
    std::atomic<uint8_t> reading{0};
    std::optional<ReaderGate> gate;
    bool opened = false;
    bool closed = false;
    RunRounds(
        20000, [&] { reading = 0, gate.emplace(reading); }, [&] { opened = gate->Open(); },
        [&] { closed = gate->Close(); },
        [&](int round) {
            EXPECT_TRUE(closed);
            EXPECT_EQ(reading.load(), 0) << "round " << round << (opened ? ", opened first" : "");
            return reading.load() == 0 && !gate->Open() && !gate->Close();
        });
}

// The reader writes a counter and raises the latch; a painter that takes it
// and reads the counter whenever a repaint is queued. After the last request,
// the last paint must show the last value: no request may be merged into a
// paint that read older state.
TEST(RepaintLatch, TheLastPaintShowsTheLastState) {
    constexpr int kWrites = 50;
    std::optional<RepaintLatch> latch;
    std::atomic<int> state{0};
    std::atomic<int> queued{0};  // repaints queued and not yet painted
    std::atomic<bool> done{false};
    int painted = -1;
    RunRounds(
        20000, [&] { latch.emplace(), state = 0, queued = 0, done = false, painted = -1; },
        [&] {
            for (int value = 1; value <= kWrites; ++value) {
                state.store(value, std::memory_order_relaxed);
                if (latch->Raise()) queued.fetch_add(1);
            }
            done = true;
        },
        [&] {
            while (!done || queued.load() > 0) {
                if (queued.load() == 0) continue;  // a tight loop: Takes as often as can be
                latch->Take();
                painted = state.load(std::memory_order_relaxed);
                queued.fetch_sub(1);
            }
        },
        [&](int round) {
            EXPECT_EQ(painted, kWrites) << "round " << round;
            return painted == kWrites;
        });
}

}  // namespace
