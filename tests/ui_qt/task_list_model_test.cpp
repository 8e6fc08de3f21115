#include "task_list_model.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "ui_test_support.h"

namespace korvid {
namespace {

using test::SpinUntil;

// Counts what the model tells a view.
struct ViewSignals {
  explicit ViewSignals(TaskListModel& model) {
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [this](const QModelIndex& from, const QModelIndex& to) {
                       ++dataChanged;
                       lastFrom = from.row();
                       lastTo = to.row();
                       for (int row = from.row(); row <= to.row(); ++row) changedRows.insert(row);
                     });
    QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                     [this](const QModelIndex&, int first, int last) {
                       ++rowsInserted;
                       insertedRows += last - first + 1;
                     });
    QObject::connect(&model, &QAbstractItemModel::modelReset, [this] { ++resets; });
  }
  int dataChanged = 0;
  int lastFrom = -1;
  int lastTo = -1;
  int rowsInserted = 0;
  int insertedRows = 0;
  int resets = 0;
  std::set<int> changedRows;  // model rows
};

QString Cell(const TaskListModel& model, int row, int column) {
  return model.data(model.index(row, column)).toString();
}

TEST(TaskListModelTest, ShowsRowsAppendedOnAWorker) {
  TaskList list;
  TaskListModel model(list);
  ViewSignals view(model);
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) {
      const int row = list.AppendRow();
      list.SetCellText(row, kColIndex, std::to_string(row));
      list.SetCellText(row, kColTitle, "视频:标题" + std::to_string(row));
    }
  });
  worker.join();
  ASSERT_TRUE(SpinUntil([&] { return model.rowCount() == 3; }));
  EXPECT_EQ(view.insertedRows, 3);
  EXPECT_EQ(view.rowsInserted, 1);  // one batch
  EXPECT_EQ(Cell(model, 0, kColIndex), "1");
  EXPECT_EQ(Cell(model, 2, kColTitle), "视频:标题3");
  EXPECT_EQ(model.data(model.index(2, kColTitle), Qt::ToolTipRole).toString(), "视频:标题3");
  // A tip of its own replaces the text, also when set after the row was shown.
  list.SetCellText(2, kColState, "完成");
  list.SetCellTip(2, kColState, "弹幕获取失败");
  ASSERT_TRUE(SpinUntil([&] { return Cell(model, 1, kColState) == "完成"; }));
  EXPECT_EQ(model.data(model.index(1, kColState), Qt::ToolTipRole).toString(), "弹幕获取失败");
  EXPECT_EQ(model.data(model.index(1, kColState), Qt::DisplayRole).toString(), "完成");
}

TEST(TaskListModelTest, StateColoursAreTheCellForeground) {
  TaskList list;
  const int row = list.AppendRow();
  list.SetCellText(row, kColState, "失败下载");
  list.SetCellColor(row, kColState, kColorCrimson);
  TaskListModel model(list);
  const QVariant colour = model.data(model.index(0, kColState), Qt::ForegroundRole);
  ASSERT_TRUE(colour.isValid());
  EXPECT_EQ(colour.value<QColor>().rgba(), kColorCrimson);
  // Cells with the default colour leave the view's own colour.
  EXPECT_FALSE(model.data(model.index(0, kColTitle), Qt::ForegroundRole).isValid());
  list.ResetRowColors(row);
  ASSERT_TRUE(model.ApplyChanges());
  EXPECT_FALSE(model.data(model.index(0, kColState), Qt::ForegroundRole).isValid());
}

// What the received cell's bar, its tip and the hidden rows read from the
// cells; colours too light for the white list come darker.
TEST(TaskListModelTest, ProgressTipColoursAndRemovedRowsFollowTheCells) {
  struct Case {
    std::string_view name;
    const char* size;
    const char* received;
    const char* speed;
    std::string_view state;
    QVariant percent;
    QString tip;
  };
  const std::vector<Case> cases = {
      {.name = "running",
       .size = "20.00MB",
       .received = "10.00MB",
       .speed = "1.0 MB/S",
       .state = kStateDownloading,
       .percent = 50,
       .tip = "10.00MB / 20.00MB（50%）\n剩余时间：10秒"},
      {.name = "paused: no time left",
       .size = "20.00MB",
       .received = "5.00MB",
       .speed = "",
       .state = kStatePaused,
       .percent = 25,
       .tip = "5.00MB / 20.00MB（25%）"},
      {.name = "size not known yet",
       .size = "",
       .received = "",
       .speed = "",
       .state = kStateWaiting,
       .percent = QVariant(),
       .tip = ""},
  };
  TaskList list;
  TaskListModel model(list);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int row = list.AppendRow();
    list.SetCellText(row, kColIndex, std::to_string(row));
    list.SetCellText(row, kColSize, c.size);
    list.SetCellText(row, kColReceived, c.received);
    list.SetCellText(row, kColSpeed, c.speed);
    list.SetCellText(row, kColState, c.state);
    ASSERT_TRUE(model.ApplyChanges());
    const QModelIndex received = model.index(row - 1, kColReceived);
    EXPECT_EQ(model.data(received, TaskListModel::kProgressRole), c.percent);
    EXPECT_EQ(model.data(received, Qt::ToolTipRole).toString(), c.tip);
    EXPECT_FALSE(
        model.data(model.index(row - 1, kColTitle), TaskListModel::kProgressRole).isValid());
  }
  list.SetCellColor(1, kColState, kColorMerged);
  list.RemoveRow(2);
  ASSERT_TRUE(model.ApplyChanges());
  const QColor merged = model.data(model.index(0, kColState), Qt::ForegroundRole).value<QColor>();
  EXPECT_NE(merged.rgba(), kColorMerged);
  EXPECT_NEAR(merged.hue(), QColor::fromRgba(kColorMerged).hue(), 2);
  EXPECT_FALSE(model.data(model.index(0, kColIndex), TaskListModel::kRemovedRole).toBool());
  EXPECT_TRUE(model.data(model.index(1, kColIndex), TaskListModel::kRemovedRole).toBool());
}

TEST(TaskListModelTest, HeaderIsBoldAndLargerThanCells) {
  TaskList list;
  TaskListModel model(list);
  const QFont header = model.headerData(1, Qt::Horizontal, Qt::FontRole).value<QFont>();
  list.AppendRow();
  model.ApplyChanges();
  const QFont cell = model.data(model.index(0, 1), Qt::FontRole).value<QFont>();
  EXPECT_TRUE(header.bold());
  EXPECT_EQ(header.pointSize(), 14);
  EXPECT_EQ(cell.pointSize(), 12);
  EXPECT_EQ(model.headerData(9, Qt::Horizontal).toString(), "状态");
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "");
}

TEST(TaskListModelTest, FewDirtyRowsGetOneSignalEachManyGetOneRange) {
  TaskList list;
  for (int i = 0; i < 10; ++i) list.AppendRow();
  TaskListModel model(list);
  ViewSignals view(model);

  list.SetCellText(3, kColSpeed, "1.0 MB/S");
  list.SetCellText(7, kColSpeed, "2.0 MB/S");
  model.ApplyChanges();
  EXPECT_EQ(view.dataChanged, 2);
  EXPECT_EQ(view.lastFrom, 6);
  EXPECT_EQ(view.lastTo, 6);

  view.dataChanged = 0;
  for (int row = 2; row <= 8; ++row) list.SetCellText(row, kColTime, "1秒");
  model.ApplyChanges();
  EXPECT_EQ(view.dataChanged, 1);
  EXPECT_EQ(view.lastFrom, 1);
  EXPECT_EQ(view.lastTo, 7);
}

TEST(TaskListModelTest, ClearResetsTheModel) {
  TaskList list;
  for (int i = 0; i < 4; ++i) list.AppendRow();
  TaskListModel model(list);
  ViewSignals view(model);
  list.Clear();
  list.AppendRow();
  ASSERT_TRUE(SpinUntil([&] { return view.resets == 1; }));
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(view.rowsInserted, 0);
}

// A worker may hold the list lock across a network request; the window
// keeps painting what it had and catches up when the lock is free.
TEST(TaskListModelTest, WindowThreadNeverWaitsForTheListLock) {
  TaskList list;
  list.SetCellText(list.AppendRow(), kColState, "开始下载");
  TaskListModel model(list);
  std::atomic<bool> holding{false};
  std::atomic<bool> release{false};
  std::thread worker([&] {
    std::lock_guard hold(list.ListLock());
    list.SetCellText(1, kColState, "正在下载");
    list.AppendRow();
    holding = true;
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!holding.load()) std::this_thread::yield();

  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(model.ApplyChanges());
  EXPECT_EQ(Cell(model, 0, kColState), "开始下载");
  EXPECT_EQ(model.rowCount(), 1);
  test::SpinFor(150);  // the batch timer retries meanwhile
  EXPECT_LT(clock.elapsed(), 1000);
  release = true;
  worker.join();
  ASSERT_TRUE(SpinUntil([&] { return model.rowCount() == 2; }));
  EXPECT_EQ(Cell(model, 0, kColState), "正在下载");
}

// Progress reports from several downloads at once: the view hears of them
// in batches, and ends showing the last text of every cell.
TEST(TaskListModelTest, ThousandUpdatesFromFourThreadsAreBatched) {
  constexpr int kRows = 40;
  constexpr int kThreads = 4;
  constexpr int kUpdatesPerThread = 250;
  TaskList list;
  for (int i = 0; i < kRows; ++i) list.AppendRow();
  TaskListModel model(list);
  ViewSignals view(model);

  std::atomic<bool> go{false};
  std::atomic<int> finished{0};
  std::vector<std::set<int>> touched(kThreads);  // model rows, one set per thread
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      std::mt19937 random(static_cast<unsigned>(t));
      for (int i = 0; i < kUpdatesPerThread; ++i) {
        // Each thread owns the rows r with r % kThreads == t, like one
        // download owns its row.
        const int row = 1 + t + kThreads * static_cast<int>(random() % (kRows / kThreads));
        touched[static_cast<std::size_t>(t)].insert(row - 1);
        std::lock_guard hold(list.ListLock());
        list.SetCellText(row, kColReceived, std::to_string(i) + "MB");
        list.SetCellText(row, kColState, "正在下载");
      }
      ++finished;
    });
  }
  QElapsedTimer clock;
  clock.start();
  go = true;
  // The window thread keeps handling events while the workers report.
  const bool done = SpinUntil([&] { return finished.load() == kThreads; }, 20000);
  for (auto& worker : workers) worker.join();
  ASSERT_TRUE(done);
  // Every row that changed is repainted at last.
  ASSERT_TRUE(SpinUntil([&] {
    for (const auto& rows : touched) {
      for (int row : rows) {
        if (!view.changedRows.contains(row)) return false;
      }
    }
    return true;
  }));
  const qint64 elapsedMs = clock.elapsed();
  EXPECT_EQ(Cell(model, 0, kColState), "正在下载");
  // A signal per update would be 2,000. A batch costs at most half the rows
  // (beyond that it is one range), and batches come at most every kBatchMs.
  const qint64 batches = elapsedMs / TaskListModel::kBatchMs + 2;
  EXPECT_GT(view.dataChanged, 0);
  EXPECT_LE(view.dataChanged, batches * kRows / 2);
  EXPECT_LT(view.dataChanged, kThreads * kUpdatesPerThread);
}

}  // namespace
}  // namespace korvid
