#include "app/tasks/task_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace korvid {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxAsideNames = 100;
constexpr int kBusyTimeoutMs = 2000;
constexpr std::size_t kPidBytes = 32;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS task_rows("
    " row INTEGER PRIMARY KEY, index_text TEXT NOT NULL, title TEXT NOT NULL,"
    " part TEXT NOT NULL, height TEXT NOT NULL, size TEXT NOT NULL, received TEXT NOT NULL,"
    " elapsed TEXT NOT NULL, speed TEXT NOT NULL, state TEXT NOT NULL, colors TEXT NOT NULL,"
    " seq INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS task_records("
    " row INTEGER PRIMARY KEY, started TEXT NOT NULL DEFAULT '', queued TEXT NOT NULL DEFAULT '');";

constexpr const char* kSelectRows =
    "SELECT r.row, r.index_text, r.title, r.part, r.height, r.size, r.received, r.elapsed,"
    " r.speed, r.state, r.colors, r.seq, coalesce(d.started, ''), coalesce(d.queued, '')"
    " FROM task_rows r LEFT JOIN task_records d ON d.row = r.row ORDER BY r.row";

constexpr const char* kUpsertRow =
    "INSERT OR REPLACE INTO task_rows VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)";
constexpr const char* kAddRecordRow = "INSERT OR IGNORE INTO task_records(row) VALUES(?1)";
constexpr const char* kSetStarted = "UPDATE task_records SET started = ?2 WHERE row = ?1";
constexpr const char* kSetQueued = "UPDATE task_records SET queued = ?2 WHERE row = ?1";

// Bits of the cells kept in task_rows (every column but the record), the
// colours and the queue number.
constexpr std::uint32_t kRowTableBits =
    (((1U << kStoredColumnCount) - 1U) & ~1U) | kStoreColorsBit | kStoreQueuedBit;

// A prepared statement, finalised when it goes away.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) m_stmt = nullptr;
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  [[nodiscard]] bool Ok() const { return m_stmt != nullptr; }
  void Bind(int index, std::string_view text) {
    sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }
  // Runs a statement that returns no rows and makes it ready for new values.
  [[nodiscard]] bool Run() {
    const int result = sqlite3_step(m_stmt);
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    return result == SQLITE_DONE;
  }
  [[nodiscard]] int Step() { return sqlite3_step(m_stmt); }
  [[nodiscard]] std::string Text(int column) const {
    const auto* text = sqlite3_column_text(m_stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                : std::string();
  }
  [[nodiscard]] std::int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

bool Exec(sqlite3* db, const char* sql, std::string* why = nullptr) {
  char* message = nullptr;
  const int result = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  if (result != SQLITE_OK && why) *why = message ? message : sqlite3_errstr(result);
  sqlite3_free(message);
  return result == SQLITE_OK;
}

std::string ColorsText(const std::array<std::uint32_t, kTaskColumnCount>& colors) {
  std::string text;
  for (std::uint32_t color : colors) {
    if (!text.empty()) text += ',';
    text += std::to_string(color);
  }
  return text;
}

std::array<std::uint32_t, kTaskColumnCount> ParseColors(const std::string& text) {
  std::array<std::uint32_t, kTaskColumnCount> colors{};
  const char* cursor = text.c_str();
  for (auto& color : colors) {
    char* end = nullptr;
    color = static_cast<std::uint32_t>(std::strtoul(cursor, &end, 10));
    if (end == cursor || *end != ',') break;
    cursor = end + 1;
  }
  return colors;
}

sqlite3* OpenDatabase(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return db;
}

std::optional<std::vector<StoredTaskRow>> SelectRows(sqlite3* db, std::string* why) {
  Statement select(db, kSelectRows);
  if (!select.Ok()) {
    if (why) *why = sqlite3_errmsg(db);
    return std::nullopt;
  }
  std::vector<StoredTaskRow> rows;
  int result = SQLITE_ROW;
  while ((result = select.Step()) == SQLITE_ROW) {
    StoredTaskRow row;
    row.row = static_cast<int>(select.Int(0));
    for (int column = kColIndex; column < kStoredColumnCount; ++column) {
      row.text[static_cast<std::size_t>(column)] = select.Text(column);
    }
    row.color = ParseColors(select.Text(10));
    row.seq = select.Int(11);
    row.text[kColRecord] = select.Text(12);
    row.queued = select.Text(13);
    rows.push_back(std::move(row));
  }
  if (result != SQLITE_DONE) {
    if (why) *why = sqlite3_errmsg(db);
    return std::nullopt;
  }
  return rows;
}

// WAL, the tables, and a read of every row: a file that is no database, or
// one whose tables are not ours, fails here.
bool Prepare(sqlite3* db, std::string* why) {
  // NORMAL: in WAL mode a killed process loses nothing committed; only a
  // power cut may lose the last batches, never the file.
  if (!Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", why)) return false;
  if (!Exec(db, kSchema, why)) return false;
  return SelectRows(db, why).has_value();
}

std::optional<std::string> SetAside(const std::string& path) {
  for (int n = 1; n <= kMaxAsideNames; ++n) {
    const std::string target = path + std::string(kTaskStoreAsideSuffix) + std::to_string(n);
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) continue;
    if (::rename(path.c_str(), target.c_str()) != 0) return std::nullopt;
    // The journal files belong to the file set aside, not to the new one.
    for (const char* suffix : {"-wal", "-shm"}) {
      if (::rename((path + suffix).c_str(), (target + suffix).c_str()) != 0) {
        (void)::unlink((path + suffix).c_str());
      }
    }
    return target;
  }
  return std::nullopt;
}

}  // namespace

TaskStoreLock::TaskStoreLock(const std::string& databasePath) {
  const std::string path = databasePath + std::string(kTaskStoreLockSuffix);
  m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_fd < 0) return;
  if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
    m_held = true;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_fd, 0) != 0 || ::pwrite(m_fd, pid.data(), pid.size(), 0) < 0) {
      // The lock holds without the note; others then cannot name the holder.
    }
    return;
  }
  char buffer[kPidBytes] = {};
  const ssize_t got = ::pread(m_fd, buffer, sizeof buffer - 1, 0);
  if (got > 0) m_holderPid = std::strtol(buffer, nullptr, 10);
}

TaskStoreLock::~TaskStoreLock() {
  if (m_fd >= 0) ::close(m_fd);
}

TaskStore::Opened TaskStore::Open(const std::string& path) {
  Opened opened;
  constexpr int kFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  std::string why;
  sqlite3* db = OpenDatabase(path, kFlags);
  if (db && Prepare(db, &why)) {
    opened.store.reset(new TaskStore(db));
    return opened;
  }
  sqlite3_close(db);
  if (why.empty()) why = "无法打开";
  const std::optional<std::string> keptAs = SetAside(path);
  if (!keptAs) {
    opened.notice = "任务列表无法读取（" + why + "），未作改动，任务不会保存";
    return opened;
  }
  opened.notice = "任务列表无法读取（" + why + "），已另存为 " +
                  fs::path(*keptAs).filename().string() + "，任务列表从空开始";
  db = OpenDatabase(path, kFlags);
  if (db && Prepare(db, nullptr)) {
    opened.store.reset(new TaskStore(db));
  } else {
    sqlite3_close(db);
  }
  return opened;
}

std::optional<std::vector<StoredTaskRow>> TaskStore::ReadRows(const std::string& path,
                                                              std::string* why) {
  std::error_code error;
  if (!fs::exists(path, error)) return std::vector<StoredTaskRow>{};
  sqlite3* db = OpenDatabase(path, SQLITE_OPEN_READONLY);
  if (!db) {
    if (why) *why = "无法打开";
    return std::nullopt;
  }
  auto rows = SelectRows(db, why);
  sqlite3_close(db);
  return rows;
}

TaskStore::~TaskStore() {
  sqlite3_close(m_db);
}

std::optional<std::vector<StoredTaskRow>> TaskStore::LoadRows(std::string* why) {
  return SelectRows(m_db, why);
}

bool TaskStore::Write(const TaskStoreChanges& batch) {
  if (!batch.cleared && batch.rows.empty() && batch.removed.empty()) return true;
  if (!Exec(m_db, "BEGIN IMMEDIATE")) return false;
  Statement upsertRow(m_db, kUpsertRow);
  Statement addRecordRow(m_db, kAddRecordRow);
  Statement setStarted(m_db, kSetStarted);
  Statement setQueued(m_db, kSetQueued);
  bool ok = upsertRow.Ok() && addRecordRow.Ok() && setStarted.Ok() && setQueued.Ok();
  if (ok && batch.cleared) ok = Exec(m_db, "DELETE FROM task_rows; DELETE FROM task_records;");
  for (const TaskStoreChanges::Entry& entry : batch.rows) {
    if (!ok) break;
    const StoredTaskRow& row = entry.row;
    if ((entry.columns & kRowTableBits) != 0) {
      upsertRow.Bind(1, std::int64_t{row.row});
      for (int column = kColIndex; column < kStoredColumnCount; ++column) {
        upsertRow.Bind(column + 1, row.text[static_cast<std::size_t>(column)]);
      }
      upsertRow.Bind(11, ColorsText(row.color));
      upsertRow.Bind(12, row.seq);
      ok = upsertRow.Run();
    }
    const bool started = (entry.columns & 1U) != 0;
    const bool queued = (entry.columns & kStoreQueuedBit) != 0;
    if (ok && (started || queued)) {
      addRecordRow.Bind(1, std::int64_t{row.row});
      ok = addRecordRow.Run();
    }
    for (auto [wanted, statement, text] :
         {std::tuple{started, &setStarted, std::string_view(row.text[kColRecord])},
          std::tuple{queued, &setQueued, std::string_view(row.queued)}}) {
      if (!ok || !wanted) continue;
      statement->Bind(1, std::int64_t{row.row});
      statement->Bind(2, text);
      ok = statement->Run();
    }
  }
  Statement removeRow(m_db, "DELETE FROM task_rows WHERE row = ?1");
  Statement removeRecord(m_db, "DELETE FROM task_records WHERE row = ?1");
  ok = ok && removeRow.Ok() && removeRecord.Ok();
  for (int row : batch.removed) {
    for (Statement* statement : {&removeRow, &removeRecord}) {
      if (!ok) break;
      statement->Bind(1, std::int64_t{row});
      ok = statement->Run();
    }
  }
  if (ok && Exec(m_db, "COMMIT")) return true;
  (void)Exec(m_db, "ROLLBACK");
  return false;
}

}  // namespace korvid
