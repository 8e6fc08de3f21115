#include "transfer/periodic_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "support/sandbox.h"

namespace korvid {
namespace {

using test::WaitFor;

// Lets a routine block until the test opens it; bounded so nothing hangs.
class Gate {
 public:
  void Open() {
    std::lock_guard guard(m_mutex);
    m_open = true;
    m_changed.notify_all();
  }
  void Pass() {
    std::unique_lock held(m_mutex);
    m_changed.wait_for(held, std::chrono::seconds(10), [this] { return m_open; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_open = false;
};

TEST(PeriodicThread, StopDuringFirstDelayEndsBeforeAnyCall) {
  std::atomic<int> calls{0};
  PeriodicThread thread;
  ASSERT_NE(thread.StartPeriodic([&](int) { ++calls; }, 10, 60'000, 0, true), 0u);
  // The loop sleeps for a minute; only an interrupted sleep ends within a second.
  EXPECT_EQ(thread.StopPeriodic(1000), 0);
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(thread.CurrentHandle(), 0u);
  EXPECT_EQ(thread.StopPeriodic(), PeriodicThread::kStopNoThread);
}

TEST(PeriodicThread, StartWhileRunningReturnsSameHandleAndKeepsRoutine) {
  std::atomic<int> first{0};
  std::atomic<int> second{0};
  PeriodicThread thread;
  const auto handle = thread.StartPeriodic([&](int) { ++first; }, 5, 0, 0, true);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(thread.StartPeriodic([&](int) { ++second; }, 5, 0, 0, true), handle);
  ASSERT_TRUE(WaitFor([&] { return first.load() >= 3; }, 5000));
  EXPECT_EQ(thread.StopPeriodic(), 0);
  EXPECT_EQ(second.load(), 0);

  // After a stop a new loop starts with a new handle and the new routine.
  const auto again = thread.StartPeriodic([&](int) { ++second; }, 5, 0, 0, true);
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, handle);
  ASSERT_TRUE(WaitFor([&] { return second.load() >= 1; }, 5000));
}

TEST(PeriodicThread, ModeACallsOnOneThreadWithTheArgument) {
  std::mutex mutex;
  std::set<std::thread::id> threads;
  std::atomic<int> calls{0};
  std::atomic<int> lastArgument{0};
  PeriodicThread thread;
  thread.StartPeriodic(
      [&](int argument) {
        std::lock_guard guard(mutex);
        threads.insert(std::this_thread::get_id());
        lastArgument = argument;
        ++calls;
      },
      2, 0, 77, true);
  ASSERT_TRUE(WaitFor([&] { return calls.load() >= 5; }, 5000));
  EXPECT_EQ(thread.StopPeriodic(), 0);
  std::lock_guard guard(mutex);
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
  EXPECT_EQ(lastArgument.load(), 77);
}

TEST(PeriodicThread, ModeBTicksGoOnWhileARoutineBlocks) {
  Gate gate;
  std::atomic<int> started{0};
  std::atomic<int> finished{0};
  {
    PeriodicThread thread;
    thread.StartPeriodic(
        [&](int) {
          ++started;
          gate.Pass();
          ++finished;
        },
        2, 0, 0, false);
    // Every earlier routine is still blocked, yet new ticks keep coming.
    ASSERT_TRUE(WaitFor([&] { return started.load() >= 4; }, 5000));
    EXPECT_EQ(finished.load(), 0);
    EXPECT_EQ(thread.StopPeriodic(), 0);
    gate.Open();
  }
  // Destruction waited for every tick thread.
  EXPECT_EQ(finished.load(), started.load());
}

TEST(PeriodicThread, StopResultCodes) {
  Gate gate;
  std::atomic<int> calls{0};
  PeriodicThread thread;
  EXPECT_EQ(thread.StopPeriodic(10), PeriodicThread::kStopNoThread);

  thread.StartPeriodic(
      [&](int) {
        ++calls;
        gate.Pass();
      },
      1, 0, 0, true);
  ASSERT_TRUE(WaitFor([&] { return calls.load() == 1; }, 5000));
  // The routine blocks the loop, so a short wait times out.
  EXPECT_EQ(thread.StopPeriodic(20), PeriodicThread::kStopTimedOut);
  gate.Open();
  // The stop still ends the loop once the call returns.
  ASSERT_TRUE(WaitFor([&] { return thread.CurrentHandle() == 0; }, 5000));
  EXPECT_EQ(thread.StopPeriodic(5000), PeriodicThread::kStopNoThread);
  EXPECT_EQ(calls.load(), 1);

  thread.StartPeriodic([](int) {}, 1, 60'000, 0, true);
  EXPECT_EQ(thread.StopPeriodic(0, true), 0);
  EXPECT_TRUE(WaitFor([&] { return thread.CurrentHandle() == 0; }, 5000));
}

TEST(PeriodicThread, RoutineCanStopItsOwnLoop) {
  std::atomic<int> calls{0};
  std::atomic<int> stopResult{99};
  PeriodicThread thread;
  thread.StartPeriodic(
      [&](int) {
        if (++calls == 3) stopResult = thread.StopPeriodic();
      },
      1, 0, 0, true);
  ASSERT_TRUE(WaitFor([&] { return thread.CurrentHandle() == 0; }, 5000));
  EXPECT_EQ(stopResult.load(), 0);
  EXPECT_EQ(calls.load(), 3);
}

TEST(PeriodicThread, SuspendedLoopSkipsCallsUntilResumed) {
  std::atomic<int> calls{0};
  PeriodicThread thread;
  EXPECT_FALSE(thread.Suspend());
  thread.StartPeriodic([&](int) { ++calls; }, 1, 0, 0, true);
  ASSERT_TRUE(WaitFor([&] { return calls.load() >= 1; }, 5000));
  ASSERT_TRUE(thread.Suspend());
  EXPECT_TRUE(thread.IsSuspended());
  const int atSuspend = calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int frozen = calls.load();
  EXPECT_LE(frozen, atSuspend + 1);  // only a call already under way may finish
  ASSERT_TRUE(thread.Resume());
  ASSERT_TRUE(WaitFor([&] { return calls.load() > frozen; }, 5000));
  // A suspended loop still stops at once.
  ASSERT_TRUE(thread.Suspend());
  EXPECT_EQ(thread.StopPeriodic(1000), 0);
}

TEST(PeriodicThread, ThrowingRoutineDoesNotEndTheLoop) {
  std::atomic<int> calls{0};
  PeriodicThread thread;
  thread.StartPeriodic(
      [&](int) {
        ++calls;
        throw 1;
      },
      1, 0, 0, true);
  EXPECT_TRUE(WaitFor([&] { return calls.load() >= 3; }, 5000));
  EXPECT_EQ(thread.Terminate(), 0);
}

}  // namespace
}  // namespace korvid
