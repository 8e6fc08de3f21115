#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/tasks/task_states.h"
#include "transfer/lock.h"

namespace korvid {

struct TaskColumn {
  std::string_view title;
  int width;
};

inline constexpr int kTaskColumnCount = 11;
inline constexpr std::array<TaskColumn, kTaskColumnCount> kTaskColumns{{
    {"", 1},  // carries the task record once its download has started
    {"序号", 55},
    {"标题", 200},
    {"part", 80},
    {"清晰度", 60},
    {"大小", 70},
    {"下载", 70},
    {"时间", 70},
    {"速度", 70},
    {"状态", 70},
    {"剩余时间", 80},
}};

enum TaskColumnIndex : int {
  kColRecord = 0,
  kColIndex = 1,
  kColTitle = 2,
  kColPart = 3,
  kColHeight = 4,
  kColSize = 5,
  kColReceived = 6,
  kColTime = 7,
  kColSpeed = 8,
  kColState = 9,
  // Added after the columns the store keeps: shown while a download runs.
  kColumnTimeLeft = 10,
};

// The columns kept in the task store: all up to the state.
inline constexpr int kStoredColumnCount = kColState + 1;

// What changed since the view last looked; taken under the lock so that a
// view can refresh at its own pace instead of once per update.
struct TaskListChanges {
  bool reset = false;          // rows were cleared (or Refresh asked for everything)
  int rowCount = 0;            // rows now
  std::vector<int> dirtyRows;  // 1-based, ascending, no duplicates
};

// Bits of TaskStoreChanges::Entry::columns beyond the ten column bits.
inline constexpr std::uint32_t kStoreColorsBit = 1U << kTaskColumnCount;
inline constexpr std::uint32_t kStoreQueuedBit = 1U << (kTaskColumnCount + 1);

// One row as the task store keeps it.
struct StoredTaskRow {
  int row = 0;
  std::array<std::string, kTaskColumnCount> text;
  std::array<std::uint32_t, kTaskColumnCount> color{};
  std::string queued;    // the record last put on the task queue for this row
  std::int64_t seq = 0;  // when it was queued: a later push has a higher number
};

// What changed for the task store since it last looked. Rows are copied
// under the list lock; records only when they changed.
struct TaskStoreChanges {
  struct Entry {
    std::uint32_t columns = 0;  // one bit per column, kStoreColorsBit, kStoreQueuedBit
    StoredTaskRow row;
  };
  bool cleared = false;  // every row before `rows` was removed
  std::vector<Entry> rows;
  std::vector<int> removed;  // rows taken out after `rows` were written
};

// The rows of 超级列表框_下载列表: a text cell and a colour per column and row.
// Rows are 1-based, appended one at a time and never renumbered: a removed row
// stays as an empty one (no text in any cell) that views hide, so every later row and task
// record keeps its number; only Clear takes rows away. Every method is safe from any thread;
// callers that pair several updates (or a list change with a queue change) hold ListLock() around
// them.
class TaskList {
 public:
  TaskList();

  // The list lock. Recursive: a holder may call any method below.
  [[nodiscard]] Lock& ListLock() { return m_lock; }

  // Appends an empty row and returns its 1-based index.
  int AppendRow();
  [[nodiscard]] int RowCount() const;

  // Out-of-range rows or columns read as empty text / default colour and
  // ignore writes.
  [[nodiscard]] std::string CellText(int row, int column) const;
  void SetCellText(int row, int column, std::string_view text);
  [[nodiscard]] std::uint32_t CellColor(int row, int column) const;
  void SetCellColor(int row, int column, std::uint32_t argb);
  void ResetRowColors(int row);
  // A note shown when the pointer rests on the cell (empty: the cell's text).
  [[nodiscard]] std::string CellTip(int row, int column) const;
  void SetCellTip(int row, int column, std::string_view tip);

  // Empties the row (cells, tips, colours, queued record) for good; the store
  // keeps it empty. Views hide it.
  void RemoveRow(int row);
  // True for a row emptied by RemoveRow (or a gap the store left).
  [[nodiscard]] bool IsRemovedRow(int row) const;

  // Asks every observer to redraw the whole list.
  void Refresh();
  // Removes every row; the next AppendRow returns 1 again.
  void Clear();

  // Returns and forgets what changed since the last call.
  TaskListChanges TakeChanges();
  // The same for the task store, kept apart from the view's changes.
  TaskStoreChanges TakeStoreChanges();

  // Records that `record` was put on the task queue for `row` (list lock held
  // by the caller together with the push, so the numbers follow queue order).
  void NoteQueued(int row, std::string record);
  // The same for a record pushed to the head of the queue: its number is
  // below every other, so a restart queues it first again.
  void NoteQueuedFirst(int row, std::string record);
  [[nodiscard]] std::string QueuedRecord(int row) const;
  [[nodiscard]] std::int64_t QueuedSeq(int row) const;
  // Appends a row as the store kept it, without reporting it back to the
  // store. Its index must be RowCount() + 1.
  void RestoreRow(const StoredTaskRow& stored);
  // Called (on the updating thread, without the list lock held by this class)
  // when the first change after a TakeChanges happens, so a view can schedule
  // one refresh for a burst of updates. Set once, before other threads run.
  void SetChangeNotifier(std::function<void()> notify);

 private:
  struct Row {
    std::array<std::string, kTaskColumnCount> text;
    std::array<std::uint32_t, kTaskColumnCount> color{};
    std::array<std::string, kTaskColumnCount> tip;
    std::string queued;
    std::int64_t seq = 0;
    std::uint32_t storeDirty = 0;  // bits not yet taken by the store
  };

  void MarkDirty(int row, std::uint32_t storeBits);  // m_lock held
  // The notifier to call once the lock is released, or an empty one when this
  // burst was already announced. m_lock held.
  std::function<void()> NotifierForChange();

  mutable Lock m_lock;
  std::vector<Row> m_rows;
  bool m_reset = false;
  std::vector<int> m_dirty;
  std::vector<bool> m_dirtyFlag;
  bool m_notified = false;
  std::function<void()> m_notify;
  bool m_storeCleared = false;
  std::vector<int> m_storeDirtyRows;
  std::int64_t m_lastSeq = 0;
  std::int64_t m_firstSeq = 0;  // the lowest number given; a head push goes below it
};

}  // namespace korvid
