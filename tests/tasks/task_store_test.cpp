// The task store: rows and queue order through a restart and a SIGKILL, an
// unreadable database, one holder, and when the writer writes.

#include "app/tasks/task_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/tasks/task_record.h"
#include "app/tasks/task_store_writer.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 2000;

std::string Record(int row) {
  return R"({"data":{"bvid":"BV1xx411c7m)" + std::to_string(row % 10) + R"("},")" +
         std::string(record::kRow) + R"(":")" + std::to_string(row) + R"("})";
}

int RowOfRecord(const std::string& record) {
  const std::string key = std::string(record::kRow) + R"(":")";
  return std::stoi(record.substr(record.find(key) + key.size()));
}

// Row i: waiting, running, finished or failed by i % 4; row 3 was finished and
// queued again last, so it comes back after every other waiting row.
void FillList(AppState& state) {
  std::lock_guard held(state.ListLock());
  TaskList& tasks = state.Tasks();
  for (int row = 1; row <= kRows; ++row) {
    ASSERT_EQ(tasks.AppendRow(), row);
    tasks.SetCellText(row, kColIndex, std::to_string(row));
    tasks.SetCellText(row, kColTitle, "标题 " + std::to_string(row));
    ASSERT_TRUE(state.QueueTask(row, Record(row)));
    tasks.SetCellText(row, kColState, kStateWaiting);
    if (row % 4 == 0) continue;
    tasks.SetCellText(row, kColRecord, Record(row) + " ");
    tasks.SetCellText(row, kColReceived, "1.00MB");
    const std::string_view state3[] = {kStateDownloading, kStateDone, kStateShort};
    tasks.SetCellText(row, kColState, state3[row % 4 - 1]);
    if (row % 4 == 2) tasks.SetCellColor(row, kColState, kColorDone);
  }
  ASSERT_TRUE(state.QueueTask(3, Record(3)));
  tasks.SetCellText(3, kColState, kStateRedownload);
}

class TaskStoreTest : public ::testing::Test {
 protected:
  TaskStoreTest() { CreateMainWindowControls(m_controls); }
  AppPaths Paths() const { return AppPaths{m_sandbox / "program"}; }
  std::string DatabasePath() const { return TaskStorePath(Paths()); }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
};

// The list as the next start sees it.
void ExpectRestored(AppState& state, const std::vector<int>& requeued) {
  TaskList& tasks = state.Tasks();
  ASSERT_EQ(tasks.RowCount(), kRows);
  std::vector<int> wantOrder;
  for (int row = 1; row <= kRows; ++row) {
    if (row % 4 == 0 || row % 4 == 1) wantOrder.push_back(row);
  }
  wantOrder.push_back(3);
  EXPECT_EQ(requeued, wantOrder);
  std::vector<int> queueOrder;
  std::string text;
  while (state.TaskQueue().PopText(text)) {
    queueOrder.push_back(RowOfRecord(text));
    EXPECT_EQ(text, Record(queueOrder.back()));
  }
  EXPECT_EQ(queueOrder, wantOrder);
  for (int row = 1; row <= kRows; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(tasks.CellText(row, kColTitle), "标题 " + std::to_string(row));
    const bool waits = row % 4 == 0 || row % 4 == 1 || row == 3;
    const std::string_view want = waits ? kStateWaiting : row % 4 == 2 ? kStateDone : kStateShort;
    EXPECT_EQ(tasks.CellText(row, kColState), want);
    EXPECT_EQ(tasks.CellColor(row, kColState), want == kStateDone ? kColorDone : kColorDefault);
    EXPECT_EQ(tasks.CellText(row, kColRecord), row % 4 == 0 ? "" : Record(row) + " ");
    if (row > 40) break;  // the rest are the same four kinds; the queue order covered them
  }
}

TEST_F(TaskStoreTest, TwoThousandRowsSurviveARestartAndASigkill) {
  for (const bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "SIGKILL" : "restart");
    fs::remove_all(Paths().ConfigFolder());
    if (!kill) {
      AppState first(m_controls, Paths());
      KeptTaskList kept;
      ASSERT_EQ(kept.Open(first), KeptTaskList::Outcome::kKept);
      FillList(first);
    } else {
      int ready[2];
      ASSERT_EQ(::pipe(ready), 0);
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        // Holds the store and keeps writing state changes of running rows
        // until killed, so the kill lands in the middle of a write. No
        // thread: the writer is driven here.
        AppState first(m_controls, Paths());
        fs::create_directories(Paths().ConfigFolder());
        TaskStoreLock lock(DatabasePath());
        TaskStore::Opened opened = TaskStore::Open(DatabasePath());
        if (!lock.Held() || !opened.store) ::_exit(1);
        TaskStoreWriter writer(first.Tasks(), *opened.store);
        FillList(first);
        if (!writer.FlushAll()) ::_exit(1);
        (void)::write(ready[1], "x", 1);
        // Bounded by time: writes are fast, and the kill must find it writing.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (int i = 0; std::chrono::steady_clock::now() < deadline; ++i) {
          const int running = 1 + 4 * (i % (kRows / 4));
          first.Tasks().SetCellText(running, kColState, i % 2 ? kStateStarted : kStateDownloading);
          if (!writer.FlushAll()) ::_exit(1);
        }
        ::_exit(2);
      }
      ::close(ready[1]);  // a child that ends early ends the read
      char byte = 0;
      ASSERT_EQ(::read(ready[0], &byte, 1), 1);
      ::usleep(300'000);
      ::kill(child, SIGKILL);
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status));
      ::close(ready[0]);
    }
    AppState second(m_controls, Paths());
    KeptTaskList kept;
    ASSERT_EQ(kept.Open(second), KeptTaskList::Outcome::kKept);
    ExpectRestored(second, kept.Requeued());
  }
}

TEST_F(TaskStoreTest, AnUnreadableDatabaseIsSetAsideAndTheListStartsEmpty) {
  const std::string garbage(5000, 'x');
  ASSERT_TRUE(m_sandbox.WriteFile(fs::relative(DatabasePath(), m_sandbox.Path()), garbage));
  AppState state(m_controls, Paths());
  KeptTaskList kept;
  ASSERT_EQ(kept.Open(state), KeptTaskList::Outcome::kKept);
  EXPECT_EQ(state.Tasks().RowCount(), 0);
  const auto notices = m_controls.TakeNotices();
  ASSERT_EQ(notices.size(), 1U);
  EXPECT_NE(notices[0].text.find("任务.db.unreadable-1"), std::string::npos) << notices[0].text;
  EXPECT_EQ(test::ReadWholeFile(DatabasePath() + ".unreadable-1"), garbage);

  // The new database takes rows again.
  {
    std::lock_guard held(state.ListLock());
    state.Tasks().SetCellText(state.Tasks().AppendRow(), kColState, kStateParseFailed);
  }
  kept.Close();
  std::string why;
  const auto rows = TaskStore::ReadRows(DatabasePath(), &why);
  ASSERT_TRUE(rows) << why;
  ASSERT_EQ(rows->size(), 1U);
  EXPECT_EQ((*rows)[0].text[kColState], kStateParseFailed);
}

TEST_F(TaskStoreTest, OneHolderAtATimeAndReadersAlongside) {
  fs::create_directories(Paths().ConfigFolder());
  AppState state(m_controls, Paths());
  KeptTaskList first;
  ASSERT_EQ(first.Open(state), KeptTaskList::Outcome::kKept);
  {
    std::lock_guard held(state.ListLock());
    state.Tasks().SetCellText(state.Tasks().AppendRow(), kColState, kStateDone);
  }
  first.FlushNow();

  AppState other(m_controls, Paths());
  KeptTaskList second;
  EXPECT_EQ(second.Open(other), KeptTaskList::Outcome::kHeld);
  EXPECT_EQ(second.HolderPid(), ::getpid());
  const auto rows = TaskStore::ReadRows(DatabasePath(), nullptr);
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->size(), 1U);

  first.Close();
  KeptTaskList third;
  EXPECT_EQ(third.Open(other), KeptTaskList::Outcome::kKept);
  EXPECT_EQ(other.Tasks().RowCount(), 1);
}

// Row changes are written within a flush period; progress cells alone wait
// for the longer period; a cleared list empties the store.
TEST_F(TaskStoreTest, WriterBatchesProgressAndWritesStatesSoon) {
  fs::create_directories(Paths().ConfigFolder());
  TaskStore::Opened opened = TaskStore::Open(DatabasePath());
  ASSERT_TRUE(opened.store);
  TaskList tasks;
  auto clock = std::chrono::steady_clock::time_point{};
  TaskStoreWriter writer(tasks, *opened.store, [&clock] { return clock; });
  const int row = tasks.AppendRow();
  struct Step {
    const char* name;
    std::function<void()> change;
    std::chrono::milliseconds later;
    int wantWrites;
    int wantRows;
  };
  using std::chrono::milliseconds;
  const Step steps[] = {
      {.name = "new row",
       .change = [] {},
       .later = milliseconds(0),
       .wantWrites = 1,
       .wantRows = 1},
      {.name = "progress only",
       .change = [&] { tasks.SetCellText(row, kColSpeed, "1.0 MB/S"); },
       .later = milliseconds(1000),
       .wantWrites = 1,
       .wantRows = 1},
      {.name = "progress, period passed",
       .change = [&] { tasks.SetCellText(row, kColReceived, "2.00MB"); },
       .later = milliseconds(5000),
       .wantWrites = 2,
       .wantRows = 1},
      {.name = "state",
       .change = [&] { tasks.SetCellText(row, kColState, kStateDone); },
       .later = milliseconds(0),
       .wantWrites = 3,
       .wantRows = 1},
      {.name = "cleared",
       .change = [&] { tasks.Clear(); },
       .later = milliseconds(0),
       .wantWrites = 4,
       .wantRows = 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    clock += step.later;
    writer.FlushDue();
    EXPECT_EQ(writer.Writes(), step.wantWrites);
    const auto rows = opened.store->LoadRows();
    ASSERT_TRUE(rows);
    EXPECT_EQ(static_cast<int>(rows->size()), step.wantRows);
  }
}

}  // namespace
}  // namespace korvid

namespace korvid {
namespace {

// A paused row stays paused and off the queue after a restart; a removed row
// stays an empty row, so every later row keeps its number.
TEST_F(TaskStoreTest, PausedAndRemovedRowsStayAsTheyWereAfterARestart) {
  {
    AppState first(m_controls, Paths());
    KeptTaskList kept;
    ASSERT_EQ(kept.Open(first), KeptTaskList::Outcome::kKept);
    {
      std::lock_guard held(first.ListLock());
      TaskList& tasks = first.Tasks();
      for (int row = 1; row <= 3; ++row) {
        ASSERT_EQ(tasks.AppendRow(), row);
        tasks.SetCellText(row, kColIndex, std::to_string(row));
        ASSERT_TRUE(first.QueueTask(row, Record(row)));
        tasks.SetCellText(row, kColState, kStateWaiting);
      }
      tasks.SetCellText(1, kColState, kStatePaused);
      tasks.RemoveRow(2);
    }
    kept.FlushNow();  // the writer takes the list lock itself
  }
  AppState second(m_controls, Paths());
  KeptTaskList kept;
  ASSERT_EQ(kept.Open(second), KeptTaskList::Outcome::kKept);
  TaskList& tasks = second.Tasks();
  ASSERT_EQ(tasks.RowCount(), 3);
  EXPECT_EQ(kept.Requeued(), std::vector<int>{3});
  EXPECT_EQ(tasks.CellText(1, kColState), kStatePaused);
  EXPECT_EQ(tasks.QueuedRecord(1), Record(1));  // "继续" queues it again
  EXPECT_TRUE(tasks.IsRemovedRow(2));
  EXPECT_EQ(tasks.QueuedRecord(2), "");
  EXPECT_FALSE(tasks.IsRemovedRow(3));
  EXPECT_EQ(second.TaskQueue().Count(), 1);
}

// Rows continued (pushed to the head) come back in the order the queue had
// before the restart, also when continued more than once.
TEST_F(TaskStoreTest, ContinuedRowsKeepTheirPlaceAtTheHeadAfterARestart) {
  std::vector<int> before;
  {
    AppState first(m_controls, Paths());
    KeptTaskList kept;
    ASSERT_EQ(kept.Open(first), KeptTaskList::Outcome::kKept);
    {
      std::lock_guard held(first.ListLock());
      TaskList& tasks = first.Tasks();
      for (int row = 1; row <= 5; ++row) {
        ASSERT_EQ(tasks.AppendRow(), row);
        ASSERT_TRUE(first.QueueTask(row, Record(row)));
        tasks.SetCellText(row, kColState, kStateWaiting);
      }
      // Paused and continued as the row menu does: 4, then 2, then 4 again.
      for (const int row : {4, 2, 4}) {
        ASSERT_EQ(first.TaskQueue().RemoveText(Record(row)), 1);
        ASSERT_TRUE(first.QueueTaskFirst(row, Record(row)));
      }
    }
    kept.FlushNow();
    std::string text;
    while (first.TaskQueue().PopText(text)) before.push_back(RowOfRecord(text));
  }
  ASSERT_EQ(before, (std::vector<int>{4, 2, 1, 3, 5}));
  for (int restart = 1; restart <= 2; ++restart) {
    SCOPED_TRACE(restart);
    AppState next(m_controls, Paths());
    KeptTaskList kept;
    ASSERT_EQ(kept.Open(next), KeptTaskList::Outcome::kKept);
    EXPECT_EQ(kept.Requeued(), before);
    std::vector<int> after;
    std::string text;
    while (next.TaskQueue().PopText(text)) after.push_back(RowOfRecord(text));
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace korvid
