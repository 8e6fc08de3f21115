#include "transfer/work_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korvid {
namespace {

TEST(WorkQueue, PopsTextsInPushOrderThenReportsEmpty) {
  WorkQueue queue;
  ASSERT_TRUE(queue.PushText("a"));
  ASSERT_TRUE(queue.PushText("bb"));
  ASSERT_TRUE(queue.PushText("ccc"));
  EXPECT_EQ(queue.Count(), 3);

  std::string out;
  for (const char* expected : {"a", "bb", "ccc"}) {
    ASSERT_TRUE(queue.PopText(out));
    EXPECT_EQ(out, expected);
  }
  out = "unchanged";
  EXPECT_FALSE(queue.PopText(out));
  EXPECT_EQ(out, "unchanged");
  EXPECT_EQ(queue.Count(), 0);
}

// "继续" puts a record first and "暂停" takes a row's record out of the middle;
// the other records keep their order, also after pops moved the read offset.
TEST(WorkQueue, RecordsGoInFirstAndComeOutOfTheMiddleInOrder) {
  struct Case {
    std::string_view name;
    int popsFirst;                   // records popped before the change
    std::vector<std::string> front;  // pushed to the front in turn
    std::string removed;             // every record equal to it taken out
    int removedCount;
    std::vector<std::string> popped;
  };
  const std::vector<Case> cases = {
      {.name = "front of a fresh queue",
       .popsFirst = 0,
       .front = {"x"},
       .removed = "",
       .removedCount = 0,
       .popped = {"x", "a", "b", "a", "c"}},
      {.name = "after pops, two fronts: the last is first",
       .popsFirst = 1,
       .front = {"x", "y"},
       .removed = "",
       .removedCount = 0,
       .popped = {"y", "x", "b", "a", "c"}},
      {.name = "remove every copy",
       .popsFirst = 0,
       .front = {},
       .removed = "a",
       .removedCount = 2,
       .popped = {"b", "c"}},
      {.name = "a popped record is not there to remove",
       .popsFirst = 2,
       .front = {},
       .removed = "b",
       .removedCount = 0,
       .popped = {"a", "c"}},
      {.name = "remove then front",
       .popsFirst = 0,
       .front = {"b"},
       .removed = "c",
       .removedCount = 1,
       .popped = {"b", "a", "b", "a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkQueue queue;
    queue.SetGrowthStep(1);  // small, so the rebuilt buffer is small too
    for (const char* text : {"a", "b", "a", "c"}) ASSERT_TRUE(queue.PushText(text));
    std::string out;
    for (int i = 0; i < c.popsFirst; ++i) ASSERT_TRUE(queue.PopText(out));
    if (!c.removed.empty()) {
      EXPECT_EQ(queue.RemoveText(c.removed), c.removedCount);
    }
    for (const std::string& text : c.front) ASSERT_TRUE(queue.PushTextFront(text));
    EXPECT_EQ(queue.Count(), static_cast<int>(c.popped.size()));
    std::vector<std::string> popped;
    while (queue.PopText(out)) popped.push_back(out);
    EXPECT_EQ(popped, c.popped);
    // The queue works on as before.
    ASSERT_TRUE(queue.PushText("z"));
    ASSERT_TRUE(queue.PopText(out));
    EXPECT_EQ(out, "z");
  }
  WorkQueue queue;
  EXPECT_FALSE(queue.PushTextFront(""));
}

TEST(WorkQueue, RefusesEmptyValuesAndKeepsOutValuesOnEmptyPops) {
  WorkQueue queue;
  EXPECT_FALSE(queue.PushText(""));
  EXPECT_FALSE(queue.PushBytes({}));
  EXPECT_EQ(queue.Count(), 0);

  std::vector<std::uint8_t> bytes{9, 9};
  std::int32_t number = 42;
  EXPECT_FALSE(queue.PopBytes(bytes));
  EXPECT_FALSE(queue.PopInteger(number));
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{9, 9}));
  EXPECT_EQ(number, 42);
}

TEST(WorkQueue, KeepsBytesIntegersAndBinaryTextIntact) {
  WorkQueue queue;
  const std::vector<std::uint8_t> binary{0, 255, 0, 10, 13};
  ASSERT_TRUE(queue.PushBytes(binary));
  ASSERT_TRUE(queue.PushInteger(-123456789));
  ASSERT_TRUE(queue.PushText(std::string("x\0y", 3)));
  ASSERT_TRUE(queue.PushText("任务id"));

  std::vector<std::uint8_t> bytes;
  std::int32_t number = 0;
  std::string text;
  ASSERT_TRUE(queue.PopBytes(bytes));
  EXPECT_EQ(bytes, binary);
  ASSERT_TRUE(queue.PopInteger(number));
  EXPECT_EQ(number, -123456789);
  ASSERT_TRUE(queue.PopText(text));
  EXPECT_EQ(text, std::string("x\0y", 3));
  ASSERT_TRUE(queue.PopText(text));
  EXPECT_EQ(text, "任务id");
}

std::string RecordText(int index) {
  // Sizes vary so records straddle the growth and compaction boundaries.
  return std::to_string(index) + ":" + std::string(static_cast<std::size_t>(index % 700), 'r');
}

TEST(WorkQueue, GrowsPastOneMebibyteWithoutLosingOrReordering) {
  WorkQueue queue;
  const std::size_t initial = queue.Capacity();
  EXPECT_EQ(initial, WorkQueue::kDefaultGrowthStep);
  constexpr int kRecords = 6000;  // about 2 MiB of records
  for (int i = 0; i < kRecords; ++i) ASSERT_TRUE(queue.PushText(RecordText(i)));
  EXPECT_GT(queue.Capacity(), initial);
  EXPECT_EQ(queue.Count(), kRecords);
  std::string out;
  for (int i = 0; i < kRecords; ++i) {
    ASSERT_TRUE(queue.PopText(out));
    ASSERT_EQ(out, RecordText(i));
  }
  EXPECT_FALSE(queue.PopText(out));
}

TEST(WorkQueue, InterleavedPushesAndPopsCompactWithSmallGrowthStep) {
  WorkQueue queue;
  queue.SetGrowthStep(4);  // 4 KiB: many grow and compact rounds
  int nextPush = 0;
  int nextPop = 0;
  std::size_t pushedBytes = 0;
  std::string out;
  for (int round = 0; round < 400; ++round) {
    for (int i = 0; i < 7; ++i) {
      const std::string record = RecordText(nextPush++);
      pushedBytes += 4 + record.size();
      ASSERT_TRUE(queue.PushText(record));
    }
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(queue.PopText(out));
      ASSERT_EQ(out, RecordText(nextPop++));
    }
  }
  EXPECT_EQ(queue.Count(), nextPush - nextPop);
  // Popped records do not pile up: the buffer stays near what is still unread.
  EXPECT_LT(queue.Capacity(), pushedBytes / 2);
  while (queue.PopText(out)) ASSERT_EQ(out, RecordText(nextPop++));
  EXPECT_EQ(nextPop, nextPush);
}

TEST(WorkQueue, GrowthStepZeroMeansOneMebibyte) {
  WorkQueue queue;
  queue.SetGrowthStep(0);
  ASSERT_TRUE(queue.PushText(std::string(WorkQueue::kDefaultGrowthStep, 'x')));
  // Grown by the step plus the record: capacity - read offset + step + extra.
  EXPECT_EQ(queue.Capacity(), 3 * WorkQueue::kDefaultGrowthStep + 4);
}

TEST(WorkQueue, ConcurrentProducersAndConsumersSeeEveryRecordOnce) {
  WorkQueue queue;
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 2000;
  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&queue, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        ASSERT_TRUE(queue.PushInteger(p * kPerProducer + i));
      }
    });
  }
  std::vector<std::vector<int>> seen(2);
  std::atomic<int> popped{0};
  for (auto& mine : seen) {
    threads.emplace_back([&queue, &mine, &popped] {
      std::int32_t value = 0;
      // Bounded: at most this many attempts, far more than needed.
      for (int attempt = 0; attempt < 50'000'000 && popped.load() < kProducers * kPerProducer;
           ++attempt) {
        if (queue.PopInteger(value)) {
          mine.push_back(value);
          ++popped;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::vector<int> all;
  for (const auto& mine : seen) {
    // First in, first out: one consumer sees each producer's records in order.
    std::vector<int> lastOf(kProducers, -1);
    for (int value : mine) {
      ASSERT_GT(value, lastOf[static_cast<std::size_t>(value / kPerProducer)]);
      lastOf[static_cast<std::size_t>(value / kPerProducer)] = value;
    }
    all.insert(all.end(), mine.begin(), mine.end());
  }
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kProducers * kPerProducer));
  for (int i = 0; i < kProducers * kPerProducer; ++i)
    ASSERT_EQ(all[static_cast<std::size_t>(i)], i);
}

}  // namespace
}  // namespace korvid
