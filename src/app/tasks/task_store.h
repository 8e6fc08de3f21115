#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tasks/library_store.h"
#include "app/tasks/task_list.h"

struct sqlite3;

namespace korvid {

// 配置/任务.db beside the settings file.
inline constexpr std::string_view kTaskStoreFile = "任务.db";
// The holder's lock file: path of the database + this.
inline constexpr std::string_view kTaskStoreLockSuffix = ".lock";
// An unreadable database is renamed to path + this + N.
inline constexpr std::string_view kTaskStoreAsideSuffix = ".unreadable-";

// One process at a time holds the task store: flock on a file beside the
// database, which holds the holder's process id. The kernel drops the lock
// when the process ends, also by SIGKILL, so a crashed holder never blocks.
class TaskStoreLock {
 public:
  explicit TaskStoreLock(const std::string& databasePath);
  ~TaskStoreLock();
  TaskStoreLock(const TaskStoreLock&) = delete;
  TaskStoreLock& operator=(const TaskStoreLock&) = delete;

  [[nodiscard]] bool Held() const { return m_held; }
  // When not held: the process id the holder wrote, 0 when unknown.
  [[nodiscard]] long HolderPid() const { return m_holderPid; }

 private:
  int m_fd = -1;
  bool m_held = false;
  long m_holderPid = 0;
};

// The task list and queue on disk: an SQLite database in WAL mode, one table
// of row cells and one of row records (and the library's tables, see
// LibraryStore; a row that ends well enters its history). Every Write is one transaction, so a
// kill at any moment leaves the rows of the last whole batch.
// Not thread-safe: one thread (the store writer) uses an open store.
class TaskStore {
 public:
  struct Opened {
    std::unique_ptr<TaskStore> store;  // null when even a new database failed
    std::string notice;                // set when an unreadable database was set aside
  };

  // Opens (or creates) the database for writing. One that cannot be read is
  // renamed aside and a new empty one is made in its place. Hold the
  // TaskStoreLock first.
  [[nodiscard]] static Opened Open(const std::string& path);
  // Reads the rows without writing anything, also while another process holds
  // the store. A missing database reads as no rows; nullopt when unreadable.
  [[nodiscard]] static std::optional<std::vector<StoredTaskRow>> ReadRows(const std::string& path,
                                                                          std::string* why);

  ~TaskStore();
  TaskStore(const TaskStore&) = delete;
  TaskStore& operator=(const TaskStore&) = delete;

  // Every row in row order.
  [[nodiscard]] std::optional<std::vector<StoredTaskRow>> LoadRows(std::string* why = nullptr);
  // One transaction; false (and nothing written) on a failure.
  [[nodiscard]] bool Write(const TaskStoreChanges& batch);

 private:
  explicit TaskStore(sqlite3* db) : m_db(db) {}
  [[nodiscard]] std::vector<HistoryEntry> FinishedEntries(const TaskStoreChanges& batch);

  sqlite3* m_db;
};

}  // namespace korvid
