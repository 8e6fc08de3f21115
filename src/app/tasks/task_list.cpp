#include "app/tasks/task_list.h"

#include <algorithm>
#include <utility>

namespace korvid {

TaskList::TaskList() = default;

int TaskList::AppendRow() {
  std::function<void()> notify;
  int row = 0;
  {
    std::lock_guard guard(m_lock);
    m_rows.emplace_back();
    m_dirtyFlag.push_back(false);
    row = static_cast<int>(m_rows.size());
    MarkDirty(row, (1U << kTaskColumnCount) - 1);
    notify = NotifierForChange();
  }
  if (notify) notify();
  return row;
}

int TaskList::RowCount() const {
  std::lock_guard guard(m_lock);
  return static_cast<int>(m_rows.size());
}

std::string TaskList::CellText(int row, int column) const {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return {};
  if (column < 0 || column >= kTaskColumnCount) return {};
  return m_rows[static_cast<std::size_t>(row - 1)].text[static_cast<std::size_t>(column)];
}

void TaskList::SetCellText(int row, int column, std::string_view text) {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    if (row < 1 || row > static_cast<int>(m_rows.size())) return;
    if (column < 0 || column >= kTaskColumnCount) return;
    auto& cell = m_rows[static_cast<std::size_t>(row - 1)].text[static_cast<std::size_t>(column)];
    if (cell == text) return;
    cell.assign(text);
    MarkDirty(row, 1U << column);
    notify = NotifierForChange();
  }
  if (notify) notify();
}

std::string TaskList::CellTip(int row, int column) const {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return {};
  if (column < 0 || column >= kTaskColumnCount) return {};
  return m_rows[static_cast<std::size_t>(row - 1)].tip[static_cast<std::size_t>(column)];
}

void TaskList::SetCellTip(int row, int column, std::string_view tip) {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    if (row < 1 || row > static_cast<int>(m_rows.size())) return;
    if (column < 0 || column >= kTaskColumnCount) return;
    auto& cell = m_rows[static_cast<std::size_t>(row - 1)].tip[static_cast<std::size_t>(column)];
    if (cell == tip) return;
    cell.assign(tip);
    MarkDirty(row, 0);  // a tip is for the view; the store keeps no tips
    notify = NotifierForChange();
  }
  if (notify) notify();
}

std::uint32_t TaskList::CellColor(int row, int column) const {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return kColorDefault;
  if (column < 0 || column >= kTaskColumnCount) return kColorDefault;
  return m_rows[static_cast<std::size_t>(row - 1)].color[static_cast<std::size_t>(column)];
}

void TaskList::SetCellColor(int row, int column, std::uint32_t argb) {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    if (row < 1 || row > static_cast<int>(m_rows.size())) return;
    if (column < 0 || column >= kTaskColumnCount) return;
    auto& color = m_rows[static_cast<std::size_t>(row - 1)].color[static_cast<std::size_t>(column)];
    if (color == argb) return;
    color = argb;
    MarkDirty(row, kStoreColorsBit);
    notify = NotifierForChange();
  }
  if (notify) notify();
}

void TaskList::ResetRowColors(int row) {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    if (row < 1 || row > static_cast<int>(m_rows.size())) return;
    auto& colors = m_rows[static_cast<std::size_t>(row - 1)].color;
    if (std::all_of(colors.begin(), colors.end(), [](auto c) { return c == kColorDefault; })) {
      return;
    }
    colors.fill(kColorDefault);
    MarkDirty(row, kStoreColorsBit);
    notify = NotifierForChange();
  }
  if (notify) notify();
}

void TaskList::RemoveRow(int row) {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    if (row < 1 || row > static_cast<int>(m_rows.size())) return;
    Row& target = m_rows[static_cast<std::size_t>(row - 1)];
    const std::uint32_t storeDirty = target.storeDirty;  // the row may wait for the store
    target = Row{};
    target.storeDirty = storeDirty;
    MarkDirty(row, ((1U << kTaskColumnCount) - 1) | kStoreColorsBit | kStoreQueuedBit);
    notify = NotifierForChange();
  }
  if (notify) notify();
}

bool TaskList::IsRemovedRow(int row) const {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return false;
  const auto& text = m_rows[static_cast<std::size_t>(row - 1)].text;
  return std::all_of(text.begin(), text.end(),
                     [](const std::string& cell) { return cell.empty(); });
}

void TaskList::Refresh() {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    m_reset = true;
    notify = NotifierForChange();
  }
  if (notify) notify();
}

void TaskList::Clear() {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    m_rows.clear();
    m_dirty.clear();
    m_dirtyFlag.clear();
    m_storeDirtyRows.clear();
    m_storeCleared = true;
    m_reset = true;
    notify = NotifierForChange();
  }
  if (notify) notify();
}

TaskListChanges TaskList::TakeChanges() {
  std::lock_guard guard(m_lock);
  TaskListChanges changes;
  changes.reset = m_reset;
  changes.rowCount = static_cast<int>(m_rows.size());
  if (!m_reset) {
    changes.dirtyRows = std::move(m_dirty);
    std::sort(changes.dirtyRows.begin(), changes.dirtyRows.end());
  }
  m_dirty.clear();
  std::fill(m_dirtyFlag.begin(), m_dirtyFlag.end(), false);
  m_reset = false;
  m_notified = false;
  return changes;
}

void TaskList::SetChangeNotifier(std::function<void()> notify) {
  std::lock_guard guard(m_lock);
  m_notify = std::move(notify);
}

std::function<void()> TaskList::NotifierForChange() {
  if (m_notified || !m_notify) return {};
  m_notified = true;
  return m_notify;
}

TaskStoreChanges TaskList::TakeStoreChanges() {
  std::lock_guard guard(m_lock);
  TaskStoreChanges changes;
  changes.cleared = std::exchange(m_storeCleared, false);
  changes.rows.reserve(m_storeDirtyRows.size());
  for (int row : m_storeDirtyRows) {
    Row& source = m_rows[static_cast<std::size_t>(row - 1)];
    TaskStoreChanges::Entry entry;
    entry.columns = std::exchange(source.storeDirty, 0U);
    entry.row.row = row;
    entry.row.text = source.text;
    // The record cells are large and rarely change: copied only when they did.
    if ((entry.columns & 1U) == 0) entry.row.text[kColRecord].clear();
    entry.row.color = source.color;
    entry.row.seq = source.seq;
    if ((entry.columns & kStoreQueuedBit) != 0) entry.row.queued = source.queued;
    changes.rows.push_back(std::move(entry));
  }
  m_storeDirtyRows.clear();
  return changes;
}

void TaskList::NoteQueued(int row, std::string record) {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return;
  Row& target = m_rows[static_cast<std::size_t>(row - 1)];
  target.queued = std::move(record);
  target.seq = ++m_lastSeq;
  MarkDirty(row, kStoreQueuedBit);
}

void TaskList::NoteQueuedFirst(int row, std::string record) {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return;
  Row& target = m_rows[static_cast<std::size_t>(row - 1)];
  target.queued = std::move(record);
  target.seq = --m_firstSeq;
  MarkDirty(row, kStoreQueuedBit);
}

std::string TaskList::QueuedRecord(int row) const {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return {};
  return m_rows[static_cast<std::size_t>(row - 1)].queued;
}

std::int64_t TaskList::QueuedSeq(int row) const {
  std::lock_guard guard(m_lock);
  if (row < 1 || row > static_cast<int>(m_rows.size())) return 0;
  return m_rows[static_cast<std::size_t>(row - 1)].seq;
}

void TaskList::RestoreRow(const StoredTaskRow& stored) {
  std::function<void()> notify;
  {
    std::lock_guard guard(m_lock);
    if (stored.row != static_cast<int>(m_rows.size()) + 1) return;
    Row& row = m_rows.emplace_back();
    row.text = stored.text;
    row.color = stored.color;
    row.queued = stored.queued;
    row.seq = stored.seq;
    m_lastSeq = std::max(m_lastSeq, stored.seq);
    m_firstSeq = std::min(m_firstSeq, stored.seq);
    m_dirtyFlag.push_back(false);
    MarkDirty(stored.row, 0);
    notify = NotifierForChange();
  }
  if (notify) notify();
}

void TaskList::MarkDirty(int row, std::uint32_t storeBits) {
  auto index = static_cast<std::size_t>(row - 1);
  Row& target = m_rows[index];
  if (storeBits != 0 && target.storeDirty == 0) m_storeDirtyRows.push_back(row);
  target.storeDirty |= storeBits;
  if (m_dirtyFlag[index]) return;
  m_dirtyFlag[index] = true;
  m_dirty.push_back(row);
}

}  // namespace korvid
