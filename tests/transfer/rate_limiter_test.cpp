#include "transfer/rate_limiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace korvid {
namespace {

TEST(RateText, SuffixesAndPlainBytes) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"500K", 512'000}, {"500k", 512'000},  {"2M", 2'097'152}, {"300000", 300'000},
      {"0", 0},          {"200K ", 204'800}, {"", -1},          {"K", -1},
      {"-5K", -1},       {"1.5M", -1},       {"5G", -1},        {"9223372036854775807M", -1},
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(ParseRateText(text), bytes) << text;
}

// A clock the test moves; each step reserves bytes at a moment and expects a
// wait. The bucket holds a quarter second of the rate.
TEST(RateLimiter, ReservationsFollowTheRate) {
  struct Step {
    std::int64_t atMs;
    std::int64_t rate;  // -1: unchanged
    std::int64_t bytes;
    std::int64_t waitMs;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {.name = "no limit never waits", .steps = {{0, 0, 1'000'000, 0}, {0, -1, 1'000'000, 0}}},
      {.name = "the burst is free, then each byte waits its turn",
       .steps = {{0, 1000, 250, 0}, {0, -1, 1000, 1000}, {0, -1, 500, 1500}}},
      {.name = "time paid off the debt", .steps = {{0, 1000, 1250, 1000}, {1000, -1, 100, 100}}},
      {.name = "idle time fills the bucket only up to the burst",
       .steps = {{0, 1000, 10, 0}, {60'000, -1, 250, 0}, {60'000, -1, 100, 100}}},
      {.name = "a new rate forgives the old debt",
       .steps = {{0, 1000, 10'250, 10'000}, {0, 1'000'000, 250'000, 0}, {0, -1, 1'000'000, 1000}}},
      {.name = "lifting the limit ends every wait",
       .steps = {{0, 100, 10'000, 99'750}, {0, 0, 10'000, 0}}},
      {.name = "nothing reserved costs nothing", .steps = {{0, 1000, 0, 0}, {0, -1, -10, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int64_t now = 0;
    RateLimiter limiter([&now] { return now; });
    for (const Step& step : c.steps) {
      now = step.atMs;
      if (step.rate >= 0) limiter.SetBytesPerSecond(step.rate);
      EXPECT_EQ(limiter.Reserve(step.bytes), step.waitMs) << "at " << step.atMs;
    }
  }
}

// Downloads on several threads share one bucket: whoever comes last waits
// for what all of them took, and nothing is lost between the threads.
TEST(RateLimiter, ThreadsShareOneBucket) {
  constexpr int kThreads = 4;
  constexpr int kEach = 250;
  constexpr std::int64_t kBytes = 100;
  RateLimiter limiter([] { return std::int64_t{0}; });
  limiter.SetBytesPerSecond(1000);
  std::atomic<std::int64_t> longest{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        const std::int64_t wait = limiter.Reserve(kBytes);
        std::int64_t seen = longest.load();
        while (wait > seen && !longest.compare_exchange_weak(seen, wait)) {
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  // 100,000 bytes at 1000 a second, less the quarter-second burst.
  EXPECT_EQ(longest.load(), 100'000 - RateLimiter::kBurstMs);
}

TEST(RateLimiter, AWaitEndsWhenStoppedOrWhenTheLimitGoes) {
  RateLimiter limiter;
  limiter.SetBytesPerSecond(1);
  std::atomic<bool> stop{false};
  std::atomic<int> ended{0};
  std::atomic<bool> result{true};
  // Each would wait for hours; the test ends them.
  std::thread stopped([&] {
    result = limiter.Acquire(1'000'000, stop);
    ++ended;
  });
  stop = true;
  stopped.join();
  EXPECT_FALSE(result.load());

  std::atomic<bool> keepGoing{false};
  std::thread lifted([&] {
    result = limiter.Acquire(1'000'000, keepGoing);
    ++ended;
  });
  // Whether the wait has begun or not, it ends at once.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  limiter.SetBytesPerSecond(0);
  lifted.join();
  EXPECT_TRUE(result.load());
  EXPECT_EQ(ended.load(), 2);
}

}  // namespace
}  // namespace korvid
