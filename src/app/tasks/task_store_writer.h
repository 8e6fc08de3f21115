#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/tasks/task_store.h"
#include "transfer/worker_set.h"

namespace korvid {

// Carries the task list's changes to the task store on a thread of its own,
// so no thread that updates the list ever waits for the disk.
//
// A batch is written every kFlushPeriod while rows are added or change state.
// Changes of the progress cells alone (size, received, time, speed) wait up
// to kProgressPeriod: downloads report several times a second, and writing
// each report would wear the disk for cells that are stale at once.
class TaskStoreWriter {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr auto kFlushPeriod = std::chrono::milliseconds(500);
  static constexpr auto kProgressPeriod = std::chrono::seconds(5);

  TaskStoreWriter(TaskList& tasks, TaskStore& store, Clock clock = std::chrono::steady_clock::now);
  // Stop().
  ~TaskStoreWriter();
  TaskStoreWriter(const TaskStoreWriter&) = delete;
  TaskStoreWriter& operator=(const TaskStoreWriter&) = delete;

  // Starts the writing thread.
  void Start();
  // Ends the thread and writes whatever is pending. Safe to call twice.
  void Stop();

  // Takes the list's changes and writes them when due. The thread calls it;
  // tests and benches call it directly with a clock of their own.
  void FlushDue();
  // Takes and writes everything now. False when a write failed.
  [[nodiscard]] bool FlushAll();
  // Batches written so far.
  [[nodiscard]] int Writes() const;

 private:
  void Gather();                      // m_mutex held
  [[nodiscard]] bool WritePending();  // m_mutex held
  void Loop();

  TaskList& m_tasks;
  TaskStore& m_store;
  Clock m_clock;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;
  bool m_cleared = false;
  std::map<int, TaskStoreChanges::Entry> m_pending;
  std::chrono::steady_clock::time_point m_lastWrite{};
  int m_writes = 0;
  WorkerSet m_thread;
};

// Puts the stored rows back into an empty task list. Rows that were waiting
// or running go back on the task queue in the order they were queued, with
// the state "等待中". Returns those rows.
std::vector<int> RestoreTasks(AppState& state, const std::vector<StoredTaskRow>& rows);

// 配置/任务.db of the program folder.
[[nodiscard]] std::string TaskStorePath(const AppPaths& paths);

// A front end's task store: holds the store's lock, brings the rows back into
// the task list and keeps writing its changes until Close or destruction.
class KeptTaskList {
 public:
  enum class Outcome {
    kKept,      // rows restored, changes written from now on
    kHeld,      // another process holds the store (HolderPid)
    kUnusable,  // the database could not be opened or made; the list stays in memory
  };

  KeptTaskList() = default;
  ~KeptTaskList() { Close(); }
  KeptTaskList(const KeptTaskList&) = delete;
  KeptTaskList& operator=(const KeptTaskList&) = delete;

  // An unreadable database is set aside with a notice on the state's controls.
  // Call once, before any row is added.
  [[nodiscard]] Outcome Open(AppState& state);
  [[nodiscard]] long HolderPid() const { return m_lock ? m_lock->HolderPid() : 0; }
  // Rows put back on the queue by Open.
  [[nodiscard]] const std::vector<int>& Requeued() const { return m_requeued; }
  // Writes what is pending now (a signal's end of the program).
  void FlushNow();
  // Writes everything and lets the store go.
  void Close();

 private:
  std::unique_ptr<TaskStoreLock> m_lock;
  std::unique_ptr<TaskStore> m_store;
  std::unique_ptr<TaskStoreWriter> m_writer;
  std::vector<int> m_requeued;
};

}  // namespace korvid
