// pause, resume, retry and cancel on the kept task list while no window
// holds it.

#include "app/tasks/task_store_actions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/tasks/task_record.h"
#include "app/tasks/task_store.h"
#include "support/sandbox.h"
#include "transfer/target_lock.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

StoredTaskRow Row(int index, std::string_view state, bool withRecord = true, std::int64_t seq = 5) {
  StoredTaskRow row;
  row.row = index;
  row.text[kColState] = std::string(state);
  row.color[kColState] = kColorCrimson;
  if (withRecord) row.queued = R"({"任务id":")" + std::to_string(index) + R"("})";
  row.seq = seq;
  return row;
}

TEST(StoredTaskActions, WhichRowsEachActionChanges) {
  using A = StoredTaskAction;
  struct Case {
    const char* name;
    A action;
    StoredTaskRow row;
    bool changes;
    std::string_view state = {};  // after a change
    std::int64_t seq = 0;         // after a change (first 2, last 9)
  };
  const Case cases[] = {
      {.name = "pause a waiting row",
       .action = A::kPause,
       .row = Row(1, kStateWaiting),
       .changes = true,
       .state = kStatePaused,
       .seq = 5},
      {.name = "pause a running row",
       .action = A::kPause,
       .row = Row(1, kStateDownloading),
       .changes = true,
       .state = kStatePaused,
       .seq = 5},
      {.name = "a finished row is not paused",
       .action = A::kPause,
       .row = Row(1, kStateDone),
       .changes = false},
      {.name = "nor a paused one again",
       .action = A::kPause,
       .row = Row(1, kStatePaused),
       .changes = false},
      {.name = "nor a row without a record",
       .action = A::kPause,
       .row = Row(1, kStateParseFailed, false),
       .changes = false},
      {.name = "resume goes to the head",
       .action = A::kResume,
       .row = Row(1, kStatePaused),
       .changes = true,
       .state = kStateWaiting,
       .seq = 1},
      {.name = "resume wants a paused row",
       .action = A::kResume,
       .row = Row(1, kStateShort),
       .changes = false},
      {.name = "retry a failed row at the end",
       .action = A::kRetry,
       .row = Row(1, kStateStartFailed),
       .changes = true,
       .state = kStateWaiting,
       .seq = 10},
      {.name = "retry a paused row",
       .action = A::kRetry,
       .row = Row(1, kStatePaused),
       .changes = true,
       .state = kStateWaiting,
       .seq = 10},
      {.name = "a refused stream is retried",
       .action = A::kRetry,
       .row = Row(1, "下载:-404"),
       .changes = true,
       .state = kStateWaiting,
       .seq = 10},
      {.name = "a done row is not retried",
       .action = A::kRetry,
       .row = Row(1, kStateMerged),
       .changes = false},
      {.name = "nor a waiting one",
       .action = A::kRetry,
       .row = Row(1, kStateWaiting),
       .changes = false},
      {.name = "nor one without a record",
       .action = A::kRetry,
       .row = Row(1, kStateParseFailed, false),
       .changes = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoredTaskRow row = c.row;
    const auto refusal = ApplyToStoredRow(c.action, row, 2, 9);
    EXPECT_EQ(!refusal.has_value(), c.changes) << refusal.value_or("");
    if (!c.changes) {
      EXPECT_EQ(row.text, c.row.text);
      continue;
    }
    EXPECT_EQ(row.text[kColState], c.state);
    EXPECT_EQ(row.seq, c.seq);
    EXPECT_EQ(row.color[kColState], kColorDefault);
  }
  EXPECT_EQ(StoredTaskActionNamed("pause"), StoredTaskAction::kPause);
  EXPECT_EQ(StoredTaskActionNamed("cancel"), StoredTaskAction::kCancel);
  EXPECT_FALSE(StoredTaskActionNamed("remove").has_value());
}

class StoredActionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TaskStore::Opened opened = TaskStore::Open(Path());
    ASSERT_TRUE(opened.store);
    TaskStoreChanges batch;
    for (int index = 1; index <= 3; ++index) {
      StoredTaskRow row = Row(index, index == 3 ? kStateDone : kStateWaiting, true, index);
      const fs::path target = m_sandbox / ("S1E" + std::to_string(index) + ".mp4");
      row.text[kColRecord] =
          R"({"视频路径":")" + target.string() + R"(","任务id":")" + std::to_string(index) + "\"}";
      batch.rows.push_back({~0U, row});
    }
    ASSERT_TRUE(opened.store->Write(batch));
  }

  std::string Path() const { return (m_sandbox / "任务.db").string(); }
  fs::path Target(int index) const { return m_sandbox / ("S1E" + std::to_string(index) + ".mp4"); }

  std::vector<std::string> States() const {
    std::vector<std::string> states;
    const auto rows = TaskStore::ReadRows(Path(), nullptr);
    for (const StoredTaskRow& row : rows.value()) {
      states.push_back(std::to_string(row.row) + " " + row.text[kColState]);
    }
    return states;
  }

  test::Sandbox m_sandbox;
};

TEST_F(StoredActionTest, CancelTakesTheRowAndItsPartButNeverAFinishedFile) {
  std::ofstream(PartPathOf(Target(1).string())) << "half";
  std::ofstream(Target(3)) << "whole";
  const StoredActionOutcome outcome =
      ApplyStoredAction(Path(), StoredTaskAction::kCancel, {1, 3, 1, 7});
  EXPECT_EQ(outcome.end, StoredActionOutcome::End::kDone);
  EXPECT_EQ(outcome.changed, (std::vector<int>{1, 3}));
  EXPECT_EQ(outcome.refusals, std::vector<std::string>{"7: 没有这个任务"});
  EXPECT_EQ(States(), std::vector<std::string>{"2 等待中"});
  EXPECT_FALSE(fs::exists(PartPathOf(Target(1).string())));
  EXPECT_FALSE(fs::exists(LockPathOf(Target(1).string())));
  EXPECT_TRUE(fs::exists(Target(3)));
}

TEST_F(StoredActionTest, PauseAndResumeAreKeptAndRefusedWhileTheListIsHeld) {
  auto outcome = ApplyStoredAction(Path(), StoredTaskAction::kPause, {2, 3});
  EXPECT_EQ(outcome.changed, std::vector<int>{2});
  ASSERT_EQ(outcome.refusals.size(), 1U);
  EXPECT_EQ(States(), (std::vector<std::string>{"1 等待中", "2 已暂停", "3 完成"}));
  {
    const TaskStoreLock holder(Path());
    ASSERT_TRUE(holder.Held());
    outcome = ApplyStoredAction(Path(), StoredTaskAction::kResume, {2});
    EXPECT_EQ(outcome.end, StoredActionOutcome::End::kHeld);
    EXPECT_EQ(outcome.holderPid, static_cast<long>(::getpid()));
    EXPECT_EQ(States()[1], "2 已暂停");
  }
  outcome = ApplyStoredAction(Path(), StoredTaskAction::kResume, {2});
  EXPECT_EQ(outcome.changed, std::vector<int>{2});
  const auto rows = TaskStore::ReadRows(Path(), nullptr).value();
  EXPECT_EQ(rows[1].text[kColState], kStateWaiting);
  EXPECT_LT(rows[1].seq, rows[0].seq);  // at the head of the queue

  // Several resumed together run in the order named, as the window's 继续.
  (void)ApplyStoredAction(Path(), StoredTaskAction::kPause, {1, 2});
  outcome = ApplyStoredAction(Path(), StoredTaskAction::kResume, {1, 2});
  EXPECT_EQ(outcome.changed, (std::vector<int>{1, 2}));
  const auto both = TaskStore::ReadRows(Path(), nullptr).value();
  EXPECT_LT(both[0].seq, both[1].seq);
}

TEST(StoredTaskActionsMissing, ANonexistentListIsNotMade) {
  test::Sandbox sandbox;
  const std::string path = (sandbox / "任务.db").string();
  const StoredActionOutcome outcome = ApplyStoredAction(path, StoredTaskAction::kPause, {1});
  EXPECT_EQ(outcome.end, StoredActionOutcome::End::kUnusable);
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace korvid
