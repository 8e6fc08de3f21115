#include "app/tasks/task_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/text_helpers.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

TEST(TaskList, RowsAreOneBasedAndOutOfRangeCellsAreInert) {
  TaskList list;
  EXPECT_EQ(list.AppendRow(), 1);
  EXPECT_EQ(list.AppendRow(), 2);
  EXPECT_EQ(list.RowCount(), 2);

  list.SetCellText(2, kColState, "完成");
  list.SetCellColor(2, kColState, kColorDone);
  EXPECT_EQ(list.CellText(2, kColState), "完成");
  EXPECT_EQ(list.CellColor(2, kColState), kColorDone);

  for (auto [row, column] : {std::pair{0, 1}, {3, 1}, {1, -1}, {1, kTaskColumnCount}}) {
    list.SetCellText(row, column, "x");
    list.SetCellColor(row, column, kColorCrimson);
    EXPECT_EQ(list.CellText(row, column), "");
    EXPECT_EQ(list.CellColor(row, column), kColorDefault);
  }
  EXPECT_EQ(list.RowCount(), 2);

  list.SetCellColor(1, kColTitle, kColorCrimson);
  list.ResetRowColors(2);
  EXPECT_EQ(list.CellColor(2, kColState), kColorDefault);
  EXPECT_EQ(list.CellColor(1, kColTitle), kColorCrimson);

  list.Clear();
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_EQ(list.CellText(2, kColState), "");
  EXPECT_EQ(list.AppendRow(), 1);
}

TEST(TaskList, ChangesCoalesceIntoOneNoticePerBurst) {
  TaskList list;
  std::atomic<int> notices{0};
  list.SetChangeNotifier([&] { ++notices; });

  const int first = list.AppendRow();
  const int second = list.AppendRow();
  list.SetCellText(second, kColSpeed, "1.0 MB/S");
  list.SetCellText(second, kColSpeed, "1.5 MB/S");
  list.SetCellColor(first, kColState, kColorCrimson);
  EXPECT_EQ(notices.load(), 1);

  TaskListChanges changes = list.TakeChanges();
  EXPECT_FALSE(changes.reset);
  EXPECT_EQ(changes.rowCount, 2);
  EXPECT_EQ(changes.dirtyRows, (std::vector<int>{1, 2}));

  // Nothing new: nothing to redraw, and writing the same text changes nothing.
  list.SetCellText(second, kColSpeed, "1.5 MB/S");
  changes = list.TakeChanges();
  EXPECT_TRUE(changes.dirtyRows.empty());
  EXPECT_EQ(notices.load(), 1);

  list.SetCellText(second, kColTime, "3秒");
  EXPECT_EQ(notices.load(), 2);
  EXPECT_EQ(list.TakeChanges().dirtyRows, (std::vector<int>{2}));

  list.Clear();
  list.AppendRow();
  changes = list.TakeChanges();
  EXPECT_TRUE(changes.reset);
  EXPECT_EQ(changes.rowCount, 1);
  EXPECT_EQ(notices.load(), 3);

  list.Refresh();
  EXPECT_TRUE(list.TakeChanges().reset);
}

// Eight writers append rows and pair a text with a colour under the list lock,
// as the download workers do; a reader checks the pairs stay together.
TEST(TaskList, EightThreadsUpdatingUnderTheListLock) {
  TaskList list;
  std::atomic<int> notices{0};
  list.SetChangeNotifier([&] { ++notices; });
  constexpr int kThreads = 8;
  constexpr int kRowsPerThread = 50;
  constexpr int kUpdates = 20;
  std::atomic<bool> writing{true};
  std::atomic<int> torn{0};

  std::thread reader([&] {
    for (int round = 0; round < 100'000 && writing.load(); ++round) {
      std::lock_guard guard(list.ListLock());
      for (int row = 1; row <= list.RowCount(); ++row) {
        const bool done = list.CellText(row, kColState) == "完成";
        if (done != (list.CellColor(row, kColState) == kColorDone)) ++torn;
      }
      (void)list.TakeChanges();
    }
  });

  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&list, t] {
      for (int i = 0; i < kRowsPerThread; ++i) {
        int row = 0;
        {
          std::lock_guard guard(list.ListLock());
          row = list.AppendRow();
          list.SetCellText(row, kColIndex, std::to_string(row));
          list.SetCellText(row, kColTitle, "t" + std::to_string(t) + "-" + std::to_string(i));
        }
        for (int u = 0; u < kUpdates; ++u) {
          std::lock_guard guard(list.ListLock());
          list.SetCellText(row, kColReceived, std::to_string(u) + "MB");
          const bool done = u == kUpdates - 1;
          list.SetCellText(row, kColState, done ? "完成" : "正在下载");
          list.SetCellColor(row, kColState, done ? kColorDone : kColorDefault);
        }
      }
    });
  }
  for (auto& writer : writers) writer.join();
  writing = false;
  reader.join();

  EXPECT_EQ(torn.load(), 0);
  ASSERT_EQ(list.RowCount(), kThreads * kRowsPerThread);
  std::vector<int> perThread(kThreads, 0);
  for (int row = 1; row <= list.RowCount(); ++row) {
    EXPECT_EQ(list.CellText(row, kColIndex), std::to_string(row));
    EXPECT_EQ(list.CellText(row, kColReceived), std::to_string(kUpdates - 1) + "MB");
    EXPECT_EQ(list.CellText(row, kColState), "完成");
    EXPECT_EQ(list.CellColor(row, kColState), kColorDone);
    const std::string title = list.CellText(row, kColTitle);
    ++perThread[static_cast<std::size_t>(title[1] - '0')];
  }
  for (int count : perThread) EXPECT_EQ(count, kRowsPerThread);
  EXPECT_GE(notices.load(), 1);
}

TEST(TaskListText, UnquoteRemovesOneQuoteAtEachEnd) {
  EXPECT_EQ(Unquote("\"BV1xx411c7mD\""), "BV1xx411c7mD");
  EXPECT_EQ(Unquote("\"\"x\"\""), "\"x\"");
  EXPECT_EQ(Unquote("\"open"), "open");
  EXPECT_EQ(Unquote("12345"), "12345");
  EXPECT_EQ(Unquote("\""), "");
  EXPECT_EQ(Unquote(""), "");
}

TEST(TaskListText, DropCharsCountsCharactersNotBytes) {
  EXPECT_EQ(DropTrailingChars("/媒体/S1E1 标题.mp4.视频", 3), "/媒体/S1E1 标题.mp4");
  EXPECT_EQ(DropTrailingChars("弹幕.ass", 4), "弹幕");
  EXPECT_EQ(DropLeadingChars("视频:标题", 3), "标题");
  EXPECT_EQ(DropLeadingChars("ab", 5), "");
  EXPECT_EQ(DropTrailingChars("ab", 5), "");
  EXPECT_EQ(DropTrailingChars("a😀", 1), "a");  // four-byte character
  EXPECT_EQ(DropLeadingChars("abc", 0), "abc");
}

}  // namespace
}  // namespace korvid
