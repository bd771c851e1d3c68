#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using NorvOS::CNorvThread;

// Waits up to a generous bound for a condition on a noisy machine.
template <class F> bool Eventually(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

struct LoopState {
    std::atomic<int> passes{0};
    std::atomic<int> runs{0};
    std::atomic<bool> sawStopClearedAtStart{true};
};

void LoopUntilStopped(std::atomic<bool>* stop, void* data, int32_t value) {
    auto* state = static_cast<LoopState*>(data);
    if (stop->load()) {
        state->sawStopClearedAtStart = false;
    }
    state->runs += value;
    while (!stop->load()) {
        ++state->passes;
        NorvOS::SleepMs(1);
    }
}

void ReturnAtOnce(std::atomic<bool>*, void* data, int32_t) {
    ++static_cast<LoopState*>(data)->runs;
}

TEST(CNorvThread, IsFinishedBeforeStartAndStopWithoutStartDoesNothing) {
    LoopState state;
    CNorvThread thread(&LoopUntilStopped, &state, 1, 2);
    EXPECT_TRUE(thread.IsFinished());
    thread.Stop();
    EXPECT_TRUE(thread.IsFinished());
    EXPECT_EQ(state.runs, 0);
}

TEST(CNorvThread, StopEndsARunningRoutine) {
    LoopState state;
    CNorvThread thread(&LoopUntilStopped, &state, 1, 2);
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return state.passes > 0; }));
    EXPECT_FALSE(thread.IsFinished());
    thread.Stop();
    EXPECT_TRUE(thread.IsFinished());
    EXPECT_EQ(state.runs, 1);
}

TEST(CNorvThread, RestartRunsTheRoutineAgainWithStopCleared) {
    LoopState state;
    CNorvThread thread(&LoopUntilStopped, &state, 5, 2);
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return state.passes > 0; }));
    thread.Stop();
    const int passes = state.passes;
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return state.runs == 10 && state.passes > passes; }));
    thread.Stop();
    EXPECT_TRUE(state.sawStopClearedAtStart);
    EXPECT_EQ(state.runs, 10);
}

TEST(CNorvThread, StopAfterTheRoutineReturnedCompletesAtOnce) {
    LoopState state;
    CNorvThread thread(&ReturnAtOnce, &state, 0, 2);
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return thread.IsFinished(); }));
    thread.Stop();
    EXPECT_EQ(state.runs, 1);
    // Starting again after the routine ended on its own, without Stop.
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return state.runs == 2 && thread.IsFinished(); }));
}

TEST(CNorvThread, NullRoutineNeverRuns) {
    CNorvThread thread(nullptr, nullptr, 0, 2);
    thread.Start();
    EXPECT_TRUE(thread.IsFinished());
    thread.Stop();
}

TEST(CNorvThread, DestructorStopsARunningRoutine) {
    LoopState state;
    {
        CNorvThread thread(&LoopUntilStopped, &state, 1, 3);
        thread.Start();
        ASSERT_TRUE(Eventually([&] { return state.passes > 0; }));
    }
    const int passes = state.passes;
    NorvOS::SleepMs(5);
    EXPECT_EQ(state.passes, passes);
}

TEST(Locks, CNorvMutexIsRecursiveAndHeldUntilFullyUnlocked) {
    NorvOS::CNorvMutex mutex;
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(mutex.Lock(), 0);
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        mutex.Lock();
        acquired = true;
        mutex.Unlock();
    });
    EXPECT_EQ(mutex.Unlock(), 0);
    NorvOS::SleepMs(20);
    EXPECT_FALSE(acquired) << "still held once";
    EXPECT_EQ(mutex.Unlock(), 0);
    other.join();
    EXPECT_TRUE(acquired);
}

TEST(Locks, CAutoMutexWithoutLockNowUnlocksNothing) {
    NorvOS::CNorvMutex mutex;
    { NorvOS::CAutoMutex guard(&mutex, false); }
    // Had the guard unlocked a mutex it never locked, this thread's lock count
    // would be off; another thread must still be able to take it.
    { NorvOS::CAutoMutex guard(&mutex); }
    std::thread other([&] { NorvOS::CAutoMutex guard(&mutex); });
    other.join();
    NorvOS::CAutoMutex nullGuard(nullptr);
    nullGuard.Unlock();
}

TEST(Locks, MutexLockReleasesOnceAndIsReentrant) {
    nvpm::Mutex mutex;
    {
        nvpm::MutexLock outer(mutex);
        nvpm::MutexLock inner(mutex);
        inner.Release();
        inner.Release();
    }
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        nvpm::MutexLock lock(mutex);
        acquired = true;
    });
    other.join();
    EXPECT_TRUE(acquired);
}

TEST(CEvent, ManualResetStaysSignalled) {
    NorvOS::CEvent event(false);
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(1));
    std::thread setter([&] { event.Set(); });
    event.Wait();
    setter.join();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.WaitFor(0));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

} // namespace
