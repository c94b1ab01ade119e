#include "FsEnum.h"
#include "ScanControl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSetUntilReset) {
    CEvent e(false);
    EXPECT_EQ(WaitForEvent(e, 0), WAIT_TIMEOUT);
    e.Set();
    EXPECT_EQ(WaitForEvent(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForEvent(e, INFINITE), WAIT_OBJECT_0);
    e.Reset();
    EXPECT_EQ(WaitForEvent(e, 10), WAIT_TIMEOUT);
}

TEST(Event, WaitAnyReportsTheFirstSetInTheOrderGiven) {
    CEvent a(false), b(false);
    EXPECT_EQ(WaitForAnyEvent({&a, &b}, 0), WAIT_TIMEOUT);
    b.Set();
    EXPECT_EQ(WaitForAnyEvent({&a, &b}, INFINITE), WAIT_OBJECT_0 + 1);
    a.Set();
    EXPECT_EQ(WaitForAnyEvent({&a, &b}, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForAnyEvent({&b, &a}, INFINITE), WAIT_OBJECT_0);
}

namespace {

// The events as the process starts, read before main: the tests leave them idle, and
// idle looks like the start, so reading them later shows nothing.
struct InitialEvents {
    bool bResume = ResumeEvent.IsSet();
    bool bForce = ForceEvent.IsSet();
    bool bFinished = EnumFinished.IsSet();
    bool bIsEnumFinished = IsEnumFinished();
} const kInitialEvents;

} // namespace

TEST(Event, AtProcessStartNoScanRunsAndNoneIsToldToRunOrStop) {
    EXPECT_FALSE(kInitialEvents.bResume);
    EXPECT_FALSE(kInitialEvents.bForce);
    EXPECT_TRUE(kInitialEvents.bFinished);
    EXPECT_TRUE(kInitialEvents.bIsEnumFinished);
    // IsEnumFinished follows the event both ways.
    EnumFinished.Reset();
    EXPECT_FALSE(IsEnumFinished());
    EnumFinished.Set();
    EXPECT_TRUE(IsEnumFinished());
}

TEST(Event, OneSetReleasesEveryWaiter) {
    CEvent run(false), stop(false);
    std::atomic<int> nReleased{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (WaitForAnyEvent({&stop, &run}, INFINITE) == WAIT_OBJECT_0 + 1)
                ++nReleased;
        });
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(nReleased.load(), 0);
    run.Set();
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(nReleased.load(), 8);
}

TEST(Event, TimedWaitWakesWhenSet) {
    CEvent e(false);
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        e.Set();
    });
    EXPECT_EQ(WaitForEvent(e, 10'000), WAIT_OBJECT_0);
    t.join();
}

namespace {
struct CBase : IFsEnum {
    bool EnumeratePath(const std::string&) override { return true; }
    bool EnumerateDrive(const std::string&) override { return true; }
};
} // namespace

TEST(WaitWhilePaused, RunPauseResumeStop) {
    CBase e;
    ResumeEvent.Set();
    ForceEvent.Reset();
    EXPECT_TRUE(e.WaitWhilePaused());

    ResumeEvent.Reset(); // paused: blocks until resumed
    std::atomic<int> nAnswer{-1};
    std::thread t([&] { nAnswer = e.WaitWhilePaused() ? 1 : 0; });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(nAnswer.load(), -1);
    ResumeEvent.Set();
    t.join();
    EXPECT_EQ(nAnswer.load(), 1);

    ResumeEvent.Reset(); // paused, then stopped
    std::thread t2([&] { nAnswer = e.WaitWhilePaused() ? 1 : 0; });
    std::this_thread::sleep_for(20ms);
    ForceEvent.Set();
    t2.join();
    EXPECT_EQ(nAnswer.load(), 0);

    ResumeEvent.Set(); // both set: the stop wins, every time
    EXPECT_FALSE(e.WaitWhilePaused());
    EXPECT_FALSE(e.WaitWhilePaused());
    ForceEvent.Reset();
    ResumeEvent.Reset();
}
