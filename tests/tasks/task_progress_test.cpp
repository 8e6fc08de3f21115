#include "app/tasks/task_progress.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tasks/task_states.h"

namespace korvid {
namespace {

// The bar and the time left come from the cells the engine writes; texts
// that are no numbers (a fresh row, a speed not yet known) give none.
TEST(TaskProgress, PercentAndTimeLeftFromTheCells) {
  struct Case {
    std::string_view name;
    std::string size, received, speed;
    std::optional<int> percent;
    std::optional<std::int64_t> secondsLeft;
  };
  const std::vector<Case> cases = {
      {.name = "half at 1 MB/S",
       .size = "20.00MB",
       .received = "10.00MB",
       .speed = "1.0 MB/S",
       .percent = 50,
       .secondsLeft = 10},
      {.name = "slow in KB/S",
       .size = "2.00MB",
       .received = "1.50MB",
       .speed = "128.0 KB/S",
       .percent = 75,
       .secondsLeft = 4},
      {.name = "never 100 before the end",
       .size = "100.00MB",
       .received = "99.99MB",
       .speed = "0.5 MB/S",
       .percent = 99,
       .secondsLeft = 1},
      {.name = "whole",
       .size = "3.00MB",
       .received = "3.00MB",
       .speed = "0.0 MB/S",
       .percent = 100,
       .secondsLeft = std::nullopt},
      {.name = "more than the size",
       .size = "1.00MB",
       .received = "2.00MB",
       .speed = "1.0 MB/S",
       .percent = 100,
       .secondsLeft = 0},
      {.name = "size unknown",
       .size = "0.00MB",
       .received = "1.00MB",
       .speed = "1.0 MB/S",
       .percent = std::nullopt,
       .secondsLeft = std::nullopt},
      {.name = "empty cells",
       .size = "",
       .received = "",
       .speed = "",
       .percent = std::nullopt,
       .secondsLeft = std::nullopt},
      {.name = "not a number",
       .size = "abcMB",
       .received = "1.00MB",
       .speed = "x MB/S",
       .percent = std::nullopt,
       .secondsLeft = std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProgressPercent(c.size, c.received), c.percent);
    EXPECT_EQ(SecondsLeft(c.size, c.received, c.speed), c.secondsLeft);
  }
}

TEST(TaskProgress, DurationsReadAsChineseUnits) {
  struct Case {
    std::int64_t seconds;
    std::string_view text;
  };
  const std::vector<Case> cases = {
      {.seconds = -3, .text = "0秒"},         {.seconds = 0, .text = "0秒"},
      {.seconds = 59, .text = "59秒"},        {.seconds = 60, .text = "1分00秒"},
      {.seconds = 125, .text = "2分05秒"},    {.seconds = 3599, .text = "59分59秒"},
      {.seconds = 3720, .text = "1小时02分"},
  };
  for (const Case& c : cases) EXPECT_EQ(TimeLeftText(c.seconds), c.text) << c.seconds;
}

// The summary comes once, when the last row that waited or ran has ended;
// paused and removed rows count as neither.
TEST(TaskProgress, FinishedBatchSpeaksOnceWhenTheLastRowEnds) {
  TaskList tasks;
  auto add = [&](std::string_view state) {
    const int row = tasks.AppendRow();
    tasks.SetCellText(row, kColIndex, std::to_string(row));
    tasks.SetCellText(row, kColState, state);
    return row;
  };
  FinishedBatch batch;
  const int done = add(kStateDone);
  EXPECT_EQ(batch.Look(tasks), std::nullopt);  // nothing ran in this batch
  const int first = add(kStateDownloading);
  const int second = add(kStateWaiting);
  const int third = add(kStateWaiting);
  const int fourth = add(kStateWaiting);
  EXPECT_EQ(batch.Look(tasks), std::nullopt);
  tasks.SetCellText(first, kColState, kStateDone);
  tasks.SetCellText(second, kColState, kStateStartFailed);
  tasks.SetCellText(third, kColState, kStatePaused);
  EXPECT_EQ(batch.Look(tasks), std::nullopt);  // the fourth still waits
  tasks.RemoveRow(fourth);
  EXPECT_EQ(batch.Look(tasks), "下载完成：1 个成功，1 个失败");
  EXPECT_EQ(batch.Look(tasks), std::nullopt);
  (void)done;
  // A batch of paused rows only says nothing.
  tasks.SetCellText(third, kColState, kStateWaiting);
  EXPECT_EQ(batch.Look(tasks), std::nullopt);
  tasks.SetCellText(third, kColState, kStatePaused);
  EXPECT_EQ(batch.Look(tasks), std::nullopt);
}

}  // namespace
}  // namespace korvid
