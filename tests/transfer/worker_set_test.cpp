#include "transfer/worker_set.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "support/sandbox.h"

namespace korvid {
namespace {

constexpr int kWaitMs = 5000;

TEST(WorkerSet, RunsJobsCountsThemAndJoinsAll) {
  WorkerSet workers;
  std::atomic<int> ran{0};
  std::atomic<bool> release{false};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(workers.Start("job", [&] {
      while (!release) std::this_thread::yield();
      ++ran;
    }));
  }
  EXPECT_EQ(workers.Active(), 5);
  EXPECT_FALSE(workers.WaitIdle(0));
  release = true;
  EXPECT_TRUE(workers.WaitIdle(kWaitMs));
  workers.JoinAll();
  EXPECT_EQ(ran, 5);
  EXPECT_EQ(workers.Active(), 0);
}

TEST(WorkerSet, AThrowingJobIsReportedAndCountsAsEnded) {
  WorkerSet workers;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(workers.Start("flaky job", [] { throw std::runtime_error("boom"); }));
  ASSERT_TRUE(workers.Start("odd job", [] { throw 42; }));
  workers.JoinAll();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("korvid: flaky job ended: boom"), std::string::npos) << said;
  EXPECT_NE(said.find("korvid: odd job ended: an unknown exception"), std::string::npos) << said;
  EXPECT_EQ(workers.Active(), 0);
}

TEST(WorkerSet, JobsStartJobsAndWhatAJobHoldsIsGoneWhenItCountsAsEnded) {
  WorkerSet workers;
  auto held = std::make_shared<int>(1);
  std::weak_ptr<int> watch = held;
  std::atomic<int> ran{0};
  ASSERT_TRUE(workers.Start("parent", [&workers, &ran, held = std::move(held)] {
    ++ran;
    for (int i = 0; i < 3; ++i) (void)workers.Start("child", [&ran] { ++ran; });
  }));
  EXPECT_TRUE(workers.WaitIdle(kWaitMs));
  workers.JoinAll();
  EXPECT_EQ(ran, 4);
  EXPECT_TRUE(watch.expired());
}

TEST(WorkerSet, FinishedThreadsAreReapedByTheNextStart) {
  WorkerSet workers;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(workers.Start("short", [] {}));
    ASSERT_TRUE(test::WaitFor([&] { return workers.Active() == 0; }, kWaitMs));
  }
  workers.Reap();
  EXPECT_EQ(workers.Active(), 0);
}

}  // namespace
}  // namespace korvid
