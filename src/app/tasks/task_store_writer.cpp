#include "app/tasks/task_store_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace korvid {

namespace {

constexpr std::uint32_t kProgressBits = (1U << kColSize) | (1U << kColReceived) | (1U << kColTime) |
                                        (1U << kColSpeed) | (1U << kColumnTimeLeft);

// Folds a later change of a row into the pending one: the newest cells win,
// the records only where the later change carries them.
void Merge(TaskStoreChanges::Entry& pending, TaskStoreChanges::Entry&& later) {
  std::string started = std::move(pending.row.text[kColRecord]);
  std::string queued = std::move(pending.row.queued);
  if ((later.columns & 1U) != 0) started = std::move(later.row.text[kColRecord]);
  if ((later.columns & kStoreQueuedBit) != 0) queued = std::move(later.row.queued);
  pending.columns |= later.columns;
  pending.row = std::move(later.row);
  pending.row.text[kColRecord] = std::move(started);
  pending.row.queued = std::move(queued);
}

}  // namespace

TaskStoreWriter::TaskStoreWriter(TaskList& tasks, TaskStore& store, Clock clock)
    : m_tasks(tasks), m_store(store), m_clock(std::move(clock)), m_lastWrite(m_clock()) {}

TaskStoreWriter::~TaskStoreWriter() {
  Stop();
}

void TaskStoreWriter::Start() {
  (void)m_thread.Start("task store", [this] { Loop(); });
}

void TaskStoreWriter::Stop() {
  {
    std::lock_guard guard(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  m_thread.JoinAll();
  if (!FlushAll()) std::fputs("korvid: the task list could not be saved\n", stderr);
}

void TaskStoreWriter::Loop() {
  std::unique_lock held(m_mutex);
  while (!m_stopping) {
    m_wake.wait_for(held, kFlushPeriod / 2);
    if (m_stopping) break;
    held.unlock();
    FlushDue();
    held.lock();
  }
}

void TaskStoreWriter::Gather() {
  TaskStoreChanges changes = m_tasks.TakeStoreChanges();
  if (changes.cleared) {
    m_pending.clear();
    m_cleared = true;
  }
  for (TaskStoreChanges::Entry& entry : changes.rows) {
    auto [it, added] = m_pending.try_emplace(entry.row.row);
    if (added) {
      it->second = std::move(entry);
    } else {
      Merge(it->second, std::move(entry));
    }
  }
}

bool TaskStoreWriter::WritePending() {
  if (!m_cleared && m_pending.empty()) return true;
  TaskStoreChanges batch;
  batch.cleared = m_cleared;
  batch.rows.reserve(m_pending.size());
  for (auto& [row, entry] : m_pending) batch.rows.push_back(std::move(entry));
  m_lastWrite = m_clock();
  const bool written = m_store.Write(batch);
  if (!written) {
    // Kept for the next try: a full disk may have room again later.
    for (auto& entry : batch.rows) m_pending.insert_or_assign(entry.row.row, std::move(entry));
    return false;
  }
  m_pending.clear();
  m_cleared = false;
  ++m_writes;
  return true;
}

void TaskStoreWriter::FlushDue() {
  std::lock_guard guard(m_mutex);
  Gather();
  const bool onlyProgress =
      !m_cleared && std::all_of(m_pending.begin(), m_pending.end(), [](const auto& pending) {
        return (pending.second.columns & ~kProgressBits) == 0;
      });
  if (onlyProgress && m_clock() - m_lastWrite < kProgressPeriod) return;
  (void)WritePending();
}

bool TaskStoreWriter::FlushAll() {
  std::lock_guard guard(m_mutex);
  Gather();
  return WritePending();
}

int TaskStoreWriter::Writes() const {
  std::lock_guard guard(m_mutex);
  return m_writes;
}

std::vector<int> RestoreTasks(AppState& state, const std::vector<StoredTaskRow>& rows) {
  std::lock_guard listLock(state.ListLock());
  TaskList& tasks = state.Tasks();
  std::vector<const StoredTaskRow*> waiting;
  for (const StoredTaskRow& stored : rows) {
    // Rows are kept without gaps; a missing one would shift every record's row.
    while (tasks.RowCount() + 1 < stored.row) tasks.AppendRow();
    tasks.RestoreRow(stored);
    const bool hasRecord = !stored.queued.empty() || !stored.text[kColRecord].empty();
    const std::string& stateText = stored.text[kColState];
    if (hasRecord && !IsFinalState(stateText) && stateText != kStatePaused) {
      waiting.push_back(&stored);
    }
  }
  std::stable_sort(waiting.begin(), waiting.end(),
                   [](const auto* a, const auto* b) { return a->seq < b->seq; });
  std::vector<int> queued;
  for (const StoredTaskRow* stored : waiting) {
    const std::string& record = stored->queued.empty() ? stored->text[kColRecord] : stored->queued;
    if (!state.QueueTask(stored->row, record)) continue;
    tasks.SetCellText(stored->row, kColSpeed, {});
    tasks.SetCellText(stored->row, kColState, kStateWaiting);
    tasks.ResetRowColors(stored->row);
    queued.push_back(stored->row);
  }
  return queued;
}

std::string TaskStorePath(const AppPaths& paths) {
  return (paths.ConfigFolder() / std::string(kTaskStoreFile)).string();
}

KeptTaskList::Outcome KeptTaskList::Open(AppState& state) {
  const std::string path = TaskStorePath(state.Paths());
  std::error_code error;
  std::filesystem::create_directories(state.Paths().ConfigFolder(), error);
  m_lock = std::make_unique<TaskStoreLock>(path);
  if (!m_lock->Held()) return Outcome::kHeld;
  TaskStore::Opened opened = TaskStore::Open(path);
  if (!opened.notice.empty()) state.Ui().ShowNotice(opened.notice, kNoticeFailed);
  if (!opened.store) return Outcome::kUnusable;
  m_store = std::move(opened.store);
  std::string why;
  const auto rows = m_store->LoadRows(&why);
  if (!rows) {
    state.Ui().ShowNotice("任务列表无法读取（" + why + "）", kNoticeFailed);
    m_store.reset();
    return Outcome::kUnusable;
  }
  m_requeued = RestoreTasks(state, *rows);
  // The restored rows are on disk already; only the requeued states are new.
  m_writer = std::make_unique<TaskStoreWriter>(state.Tasks(), *m_store);
  m_writer->Start();
  return Outcome::kKept;
}

void KeptTaskList::FlushNow() {
  if (m_writer) (void)m_writer->FlushAll();
}

void KeptTaskList::Close() {
  if (m_writer) m_writer->Stop();
  m_writer.reset();
  m_store.reset();
  m_lock.reset();
}

}  // namespace korvid
