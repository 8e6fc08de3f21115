#include "download/row_actions.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "app/list_actions.h"
#include "app/menus.h"
#include "transfer/target_lock.h"

namespace korvid {

namespace {

constexpr auto kStopPoll = std::chrono::milliseconds(20);

bool IsRow(const TaskList& tasks, int row) {
  return row >= 1 && row <= tasks.RowCount() && !tasks.IsRemovedRow(row);
}

// The record to queue again: the one last queued, else the started one.
std::string RecordOf(const TaskList& tasks, int row) {
  std::string record = tasks.QueuedRecord(row);
  return record.empty() ? tasks.CellText(row, kColRecord) : record;
}

// List lock held.
void ShowState(TaskList& tasks, int row, std::string_view state, std::uint32_t color) {
  tasks.SetCellText(row, kColState, state);
  tasks.SetCellText(row, kColSpeed, {});
  tasks.SetCellTip(row, kColState, {});
  tasks.ResetRowColors(row);
  tasks.SetCellColor(row, kColState, color);
}

}  // namespace

bool CanPause(std::string_view state) {
  return !IsFinalState(state) && state != kStateMerging;
}

int RowActions::Pause(std::span<const int> rows) {
  int changed = 0;
  for (const int row : rows) changed += PauseRow(row) ? 1 : 0;
  return changed;
}

bool RowActions::PauseRow(int row) {
  {
    std::lock_guard listLock(m_state.ListLock());
    TaskList& tasks = m_state.Tasks();
    if (!IsRow(tasks, row) || !CanPause(tasks.CellText(row, kColState))) return false;
    if (!m_state.Downloads().Contains(row)) {
      // Waiting, or taken by a download worker that has not handed it over
      // yet: that worker sees the state and leaves the row.
      (void)m_state.TaskQueue().RemoveText(tasks.QueuedRecord(row));
      ShowState(tasks, row, kStatePaused, kColorPaused);
      return true;
    }
  }
  StopAndWait(row, true);
  std::lock_guard listLock(m_state.ListLock());
  TaskList& tasks = m_state.Tasks();
  // It may have ended by itself just before the stop.
  if (IsSuccessState(tasks.CellText(row, kColState)) || m_state.Downloads().Contains(row)) {
    return false;
  }
  ShowState(tasks, row, kStatePaused, kColorPaused);
  return true;
}

int RowActions::Continue(std::span<const int> rows) {
  std::lock_guard listLock(m_state.ListLock());
  TaskList& tasks = m_state.Tasks();
  int changed = 0;
  // Each goes to the head, so the last one first: the first selected runs first.
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const int row = *it;
    if (!IsRow(tasks, row) || tasks.CellText(row, kColState) != kStatePaused) continue;
    const std::string record = RecordOf(tasks, row);
    if (record.empty() || !m_state.QueueTaskFirst(row, record)) continue;
    ShowState(tasks, row, kStateWaiting, kColorDefault);
    ++changed;
  }
  return changed;
}

int RowActions::Retry(std::span<const int> rows) {
  std::lock_guard listLock(m_state.ListLock());
  TaskList& tasks = m_state.Tasks();
  int changed = 0;
  for (const int row : rows) {
    if (!IsRow(tasks, row)) continue;
    const std::string state = tasks.CellText(row, kColState);
    if (!IsFailedState(state) && state != kStatePaused) continue;
    const std::string record = RecordOf(tasks, row);
    if (record.empty() || !m_state.QueueTask(row, record)) continue;
    ShowState(tasks, row, kStateWaiting, kColorDefault);
    ++changed;
  }
  return changed;
}

int RowActions::RetryAllFailed() {
  std::vector<int> failed;
  {
    std::lock_guard listLock(m_state.ListLock());
    const TaskList& tasks = m_state.Tasks();
    for (int row = 1; row <= tasks.RowCount(); ++row) {
      if (IsFailedState(tasks.CellText(row, kColState))) failed.push_back(row);
    }
  }
  return Retry(failed);
}

int RowActions::TogglePause(std::span<const int> rows) {
  bool anyToPause = false;
  {
    std::lock_guard listLock(m_state.ListLock());
    const TaskList& tasks = m_state.Tasks();
    for (const int row : rows) {
      anyToPause = anyToPause || (IsRow(tasks, row) && CanPause(tasks.CellText(row, kColState)));
    }
  }
  return anyToPause ? Pause(rows) : Continue(rows);
}

int RowActions::Cancel(std::span<const int> rows) {
  int changed = 0;
  for (const int row : rows) changed += CancelRow(row) ? 1 : 0;
  return changed;
}

bool RowActions::CancelRow(int row) {
  {
    std::lock_guard listLock(m_state.ListLock());
    TaskList& tasks = m_state.Tasks();
    // A merge writes the file the row stands for; it is left to end.
    if (!IsRow(tasks, row) || tasks.CellText(row, kColState) == kStateMerging) return false;
    if (!m_state.Downloads().Contains(row)) {
      (void)m_state.TaskQueue().RemoveText(tasks.QueuedRecord(row));
      RemovePartOf(row);
      tasks.RemoveRow(row);
      return true;
    }
  }
  StopAndWait(row, false);
  std::lock_guard listLock(m_state.ListLock());
  if (m_state.Downloads().Contains(row)) return false;
  m_state.Tasks().RemoveRow(row);
  return true;
}

void RowActions::StopAndWait(int row, bool keepPart) {
  (void)m_engine.Stop(row, keepPart);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_stopWaitMs);
  while (m_state.Downloads().Contains(row) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kStopPoll);
  }
}

void RowActions::RemovePartOf(int row) {
  TaskList& tasks = m_state.Tasks();
  if (IsSuccessState(tasks.CellText(row, kColState))) return;
  const std::string path = RowMediaPath(tasks, row);
  if (path.empty()) return;
  // Another row that is not done with the same file may be writing the part.
  for (int other = 1; other <= tasks.RowCount(); ++other) {
    if (other == row || !IsRow(tasks, other)) continue;
    if (!IsFinalState(tasks.CellText(other, kColState)) && RowMediaPath(tasks, other) == path) {
      return;
    }
  }
  std::error_code error;
  std::filesystem::remove(PartPathOf(path), error);
}

std::optional<int> RowActions::Handle(std::string_view item, std::span<const int> rows) {
  if (item == kPauseItem) return Pause(rows);
  if (item == kContinueItem) return Continue(rows);
  if (item == kCancelItem) return Cancel(rows);
  if (item == kRetryItem) return Retry(rows);
  if (item == kRetryFailedItem) return RetryAllFailed();
  if (item == kTogglePauseItem) return TogglePause(rows);
  return std::nullopt;
}

}  // namespace korvid
