// The Windows platform layer: waits that lose no wake-up, the named
// single-instance lock, and error boxes that can be dismissed from another
// thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <shellapi.h>

#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/single_instance.h"
#include "platform/threads.h"
#include "platform/wait_wake.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// The pattern of the probe reader and of a close request: one thread changes
// a word and wakes; the other waits for the change. Here two threads take
// turns for a thousand rounds, each waiting for the other's move. (One second
// thread for all rounds: under Wine, starting and ending a thread a round
// itself hung now and then, with no wait of ours involved.) With the C++
// library's atomic waits on MinGW this hung in most runs of a few hundred.
std::atomic<int> word{0};

TEST(WaitWake, NoWakeUpIsLostInThousandsOfRounds) {
    constexpr int kRounds = 1000;
    word.store(-1, std::memory_order_relaxed);  // before any move
    ASSERT_TRUE(StartDetachedThread([] {
        // Odd moves are this thread's: each answers the even one before it.
        for (int move = 1; move < 2 * kRounds; move += 2) {
            WaitWhileEqual(word, move - 2);
            word.store(move, std::memory_order_release);
            WakeAllWaiters(word);
        }
    }));
    for (int move = 0; move < 2 * kRounds; move += 2) {
        word.store(move, std::memory_order_release);
        WakeAllWaiters(word);
        WaitWhileEqual(word, move);
        ASSERT_EQ(word.load(std::memory_order_acquire), move + 1);
    }
}

TEST(SingleInstance, TheSecondTakerFindsItHeld) {
    const std::string name = "tavolen-test-" + std::to_string(GetCurrentProcessId());
    EXPECT_EQ(AcquireSingleInstanceLock(name.c_str()), InstanceLock::Acquired);
    EXPECT_EQ(AcquireSingleInstanceLock(name.c_str()), InstanceLock::HeldElsewhere);
    EXPECT_EQ(AcquireSingleInstanceLock((name + "-other").c_str()), InstanceLock::Acquired);
}

// The box thread's window captioned "Error", once it shows.
HWND FindBox(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM out) {
            char caption[16] = {};
            GetWindowTextA(window, caption, sizeof caption);
            if (std::string(caption) != "Error" || !IsWindowVisible(window)) return TRUE;
            *reinterpret_cast<HWND*>(out) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Needs the display the test runs with: the box must really show.
TEST(ErrorMessage, ShowsUntilDismissedFromAnotherThreadThenNoMore) {
    std::atomic<DWORD> boxThread{0};
    CaptureStderr();
    auto shown = std::async(std::launch::async, [&] {
        boxThread = GetCurrentThreadId();
        ShowErrorMessage("Wii-Remote not found.");
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (boxThread == 0 || FindBox(boxThread) == nullptr) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no box showed";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(shown.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "the box ended before its OK";
    DismissErrorMessages();
    ASSERT_EQ(shown.wait_for(std::chrono::seconds(10)), std::future_status::ready);

    // From now on boxes only write their line.
    const auto start = std::chrono::steady_clock::now();
    ShowErrorMessage("Wii-Remote cannot open.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(GetCapturedStderr(), "Wii-Remote not found.\nWii-Remote cannot open.\n");
    // The dismissal left no quit request behind in this thread's queue.
    MSG quit;
    EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// A file's name in a command pasted into the console comes back whole as
// the program's argument, and no % pairs up with another into a variable.
TEST(QuoteForCommandLine, GivesTheNameBackWhole) {
    for (const std::string name : {"plain.txt", "my remote.txt", "a%PATH%b.txt", "dir\\sub dir\\",
                                   "C:\\x\\%y&z^(1).txt", "it's.txt"}) {
        const std::string quoted = QuoteForCommandLine(name);
        const std::wstring line = L"tavolen-sim " + std::wstring(quoted.begin(), quoted.end());
        int count = 0;
        LPWSTR* words = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_EQ(count, 2) << quoted;
        EXPECT_EQ(std::wstring(words[1]), std::wstring(name.begin(), name.end())) << quoted;
        LocalFree(words);
        EXPECT_EQ(quoted.find("%PATH%"), std::string::npos) << quoted;
    }
}

}  // namespace
