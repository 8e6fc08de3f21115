#include "app/tasks/library_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/tasks/sqlite_statement.h"
#include "app/tasks/task_record.h"
#include "app/tasks/task_states.h"

namespace korvid {

namespace {

using sqlite::Exec;
using sqlite::Statement;

// 1: history, subscriptions, subscription_videos and refused_videos beside
// the task rows of version 0. 2: history.episode (a season's episodes are
// known by ep_id) and subscriptions.extras.
constexpr int kLibrarySchemaVersion = 2;
constexpr int kBusyTimeoutMs = 5000;
// How JsonDocument keeps a backslash in a stored text (U+2400).
constexpr std::string_view kStoredBackslash = "\xE2\x90\x80";

constexpr const char* kLibrarySchema =
    "CREATE TABLE IF NOT EXISTS history("
    " bvid TEXT NOT NULL, page TEXT NOT NULL, cid TEXT NOT NULL, path TEXT NOT NULL,"
    " size INTEGER NOT NULL, time INTEGER NOT NULL, episode TEXT NOT NULL DEFAULT '',"
    " PRIMARY KEY(bvid, page, path));"
    "CREATE TABLE IF NOT EXISTS subscriptions("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, link TEXT NOT NULL UNIQUE,"
    " split INTEGER NOT NULL DEFAULT 0, last_run INTEGER NOT NULL DEFAULT 0,"
    " last_result TEXT NOT NULL DEFAULT '', extras INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS subscription_videos("
    " subscription INTEGER NOT NULL, bvid TEXT NOT NULL, PRIMARY KEY(subscription, bvid));"
    "CREATE TABLE IF NOT EXISTS refused_videos("
    " bvid TEXT PRIMARY KEY, reason TEXT NOT NULL, time INTEGER NOT NULL);";

// The columns version 2 added to the tables of version 1.
struct AddedColumn {
  const char* table;
  const char* column;
  const char* definition;
};
constexpr AddedColumn kVersion2Columns[] = {
    {"history", "episode", "TEXT NOT NULL DEFAULT ''"},
    {"subscriptions", "extras", "INTEGER NOT NULL DEFAULT 0"},
};

bool HasColumn(sqlite3* db, const char* table, std::string_view column) {
  sqlite::Statement info(db, "SELECT name FROM pragma_table_info(?1)");
  if (!info.Ok()) return false;
  info.Bind(1, std::string_view(table));
  while (info.Step() == SQLITE_ROW) {
    if (info.Text(0) == column) return true;
  }
  return false;
}

std::int64_t SchemaVersion(sqlite3* db) {
  sqlite::Statement version(db, "PRAGMA user_version");
  return version.Ok() && version.Step() == SQLITE_ROW ? version.Int(0) : 0;
}

// Inside a write transaction, so two processes opening at once add each
// column once.
bool Migrate(sqlite3* db, std::string* why) {
  if (!sqlite::Exec(db, kLibrarySchema, why)) return false;
  if (SchemaVersion(db) >= kLibrarySchemaVersion) return true;
  for (const AddedColumn& added : kVersion2Columns) {
    if (HasColumn(db, added.table, added.column)) continue;
    const std::string alter = std::string("ALTER TABLE ") + added.table + " ADD COLUMN " +
                              added.column + " " + added.definition;
    if (!sqlite::Exec(db, alter.c_str(), why)) return false;
  }
  const std::string stamp = "PRAGMA user_version=" + std::to_string(kLibrarySchemaVersion);
  return sqlite::Exec(db, stamp.c_str(), why);
}

std::string TextOf(const nlohmann::json& object, std::string_view key) {
  const auto it = object.find(key);
  if (it == object.end()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<std::int64_t>());
  return {};
}

std::string Unescaped(std::string text) {
  for (std::size_t at = text.find(kStoredBackslash); at != std::string::npos;
       at = text.find(kStoredBackslash, at + 1)) {
    text.replace(at, kStoredBackslash.size(), "\\");
  }
  return text;
}

std::string EpisodeIdOf(const nlohmann::json& record) {
  const auto licensed = record.find(record::kLicensed);
  if (licensed == record.end() || !licensed->is_object()) return {};
  const auto episode = licensed->find("episode");
  if (episode == licensed->end() || !episode->is_object()) return {};
  std::string id = TextOf(*episode, "ep_id");
  return id.empty() ? TextOf(*episode, "id") : id;
}

bool Succeeded(std::string_view state) {
  return state == kStateDone || state == kStateMerged || state == kStateExisting;
}

sqlite3* OpenDatabase(const std::string& path, std::string* why) {
  sqlite3* db = nullptr;
  constexpr int kFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, kFlags, nullptr) != SQLITE_OK) {
    if (why) *why = db ? sqlite3_errmsg(db) : "无法打开";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return db;
}

}  // namespace

bool PrepareLibraryTables(sqlite3* db, std::string* why) {
  if (!Exec(db, "BEGIN IMMEDIATE", why)) return false;
  if (Migrate(db, why) && Exec(db, "COMMIT", why)) return true;
  (void)Exec(db, "ROLLBACK");
  return false;
}

std::optional<HistoryEntry> HistoryEntryFor(int row, std::string_view state,
                                            std::string_view recordText, std::int64_t now) {
  if (!Succeeded(state)) return std::nullopt;
  const auto record = nlohmann::json::parse(recordText, nullptr, false);
  if (!record.is_object()) return std::nullopt;
  HistoryEntry entry;
  if (const auto data = record.find("data"); data != record.end() && data->is_object()) {
    entry.bvid = TextOf(*data, "bvid");
  }
  entry.episode = EpisodeIdOf(record);
  entry.path = Unescaped(TextOf(record, record::kMediaPath));
  if ((entry.bvid.empty() && entry.episode.empty()) || entry.path.empty()) return std::nullopt;
  if (const auto halves = MergeHalvesOf(entry.path, row)) {
    if (state != kStateMerged) return std::nullopt;
    entry.path = halves->output;
  }
  entry.page = TextOf(record, record::kEpisode);
  entry.cid = TextOf(record, record::kCid);
  entry.time = now;
  std::error_code ec;
  const auto size = std::filesystem::file_size(entry.path, ec);
  entry.size = ec ? 0 : static_cast<std::int64_t>(size);
  return entry;
}

bool InsertHistory(sqlite3* db, const std::vector<HistoryEntry>& entries) {
  Statement insert(db,
                   "INSERT OR REPLACE INTO history(bvid, page, cid, path, size, time, episode)"
                   " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  if (!insert.Ok()) return false;
  for (const HistoryEntry& entry : entries) {
    insert.Bind(1, entry.bvid);
    insert.Bind(2, entry.page);
    insert.Bind(3, entry.cid);
    insert.Bind(4, entry.path);
    insert.Bind(5, entry.size);
    insert.Bind(6, entry.time);
    insert.Bind(7, entry.episode);
    if (!insert.Run()) return false;
  }
  return true;
}

std::unique_ptr<LibraryStore> LibraryStore::Open(const std::string& path, std::string* why) {
  sqlite3* db = OpenDatabase(path, why);
  if (!db) return nullptr;
  if (!Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", why) ||
      !PrepareLibraryTables(db, why)) {
    sqlite3_close(db);
    return nullptr;
  }
  return std::unique_ptr<LibraryStore>(new LibraryStore(db));
}

LibraryStore::~LibraryStore() {
  sqlite3_close(m_db);
}

std::optional<std::int64_t> LibraryStore::AddSubscription(std::string_view link,
                                                          std::string_view name, bool split,
                                                          bool extras) {
  Statement insert(
      m_db,
      "INSERT OR IGNORE INTO subscriptions(name, link, split, extras) VALUES(?1, ?2, ?3, ?4)");
  if (!insert.Ok()) return std::nullopt;
  insert.Bind(1, name);
  insert.Bind(2, link);
  insert.Bind(3, std::int64_t{split ? 1 : 0});
  insert.Bind(4, std::int64_t{extras ? 1 : 0});
  if (!insert.Run() || sqlite3_changes(m_db) == 0) return std::nullopt;
  return sqlite3_last_insert_rowid(m_db);
}

bool LibraryStore::RemoveSubscription(std::int64_t id) {
  if (!Exec(m_db, "BEGIN IMMEDIATE")) return false;
  Statement remove(m_db, "DELETE FROM subscriptions WHERE id = ?1");
  Statement forget(m_db, "DELETE FROM subscription_videos WHERE subscription = ?1");
  bool ok = remove.Ok() && forget.Ok();
  if (ok) {
    remove.Bind(1, id);
    ok = remove.Run();
  }
  const bool removed = ok && sqlite3_changes(m_db) > 0;
  if (ok) {
    forget.Bind(1, id);
    ok = forget.Run();
  }
  if (ok && removed && Exec(m_db, "COMMIT")) return true;
  (void)Exec(m_db, "ROLLBACK");
  return false;
}

std::vector<Subscription> LibraryStore::Subscriptions() {
  Statement select(m_db,
                   "SELECT s.id, s.name, s.link, s.split, s.last_run, s.last_result, s.extras,"
                   " (SELECT count(*) FROM subscription_videos v WHERE v.subscription = s.id)"
                   " FROM subscriptions s ORDER BY s.id");
  std::vector<Subscription> list;
  if (!select.Ok()) return list;
  while (select.Step() == SQLITE_ROW) {
    list.push_back({select.Int(0), select.Text(1), select.Text(2), select.Int(3) != 0,
                    select.Int(6) != 0, select.Int(4), select.Int(7), select.Text(5)});
  }
  return list;
}

bool LibraryStore::NoteListed(std::int64_t id, const std::vector<std::string>& bvids) {
  if (!Exec(m_db, "BEGIN IMMEDIATE")) return false;
  Statement insert(m_db, "INSERT OR IGNORE INTO subscription_videos VALUES(?1, ?2)");
  bool ok = insert.Ok();
  for (const std::string& bvid : bvids) {
    if (!ok) break;
    insert.Bind(1, id);
    insert.Bind(2, bvid);
    ok = insert.Run();
  }
  if (ok && Exec(m_db, "COMMIT")) return true;
  (void)Exec(m_db, "ROLLBACK");
  return false;
}

std::vector<std::string> LibraryStore::ListedVideos(std::int64_t id) {
  Statement select(m_db, "SELECT bvid FROM subscription_videos WHERE subscription = ?1");
  std::vector<std::string> bvids;
  if (!select.Ok()) return bvids;
  select.Bind(1, id);
  while (select.Step() == SQLITE_ROW) bvids.push_back(select.Text(0));
  return bvids;
}

bool LibraryStore::FinishRun(std::int64_t id, std::int64_t time, std::string_view result) {
  Statement update(m_db, "UPDATE subscriptions SET last_run = ?2, last_result = ?3 WHERE id = ?1");
  if (!update.Ok()) return false;
  update.Bind(1, id);
  update.Bind(2, time);
  update.Bind(3, result);
  return update.Run();
}

bool LibraryStore::AddHistory(const std::vector<HistoryEntry>& entries) {
  if (!Exec(m_db, "BEGIN IMMEDIATE")) return false;
  if (InsertHistory(m_db, entries) && Exec(m_db, "COMMIT")) return true;
  (void)Exec(m_db, "ROLLBACK");
  return false;
}

std::vector<HistoryEntry> LibraryStore::History() {
  Statement select(
      m_db,
      "SELECT bvid, page, cid, path, size, time, episode FROM history ORDER BY time, bvid, page");
  std::vector<HistoryEntry> entries;
  if (!select.Ok()) return entries;
  while (select.Step() == SQLITE_ROW) {
    entries.push_back({select.Text(0), select.Text(1), select.Text(2), select.Text(3),
                       select.Int(4), select.Int(5), select.Text(6)});
  }
  return entries;
}

std::set<std::string> LibraryStore::KnownVideos() {
  Statement select(m_db,
                   "SELECT bvid FROM history WHERE bvid != '' UNION SELECT bvid FROM refused_videos"
                   " UNION SELECT ?1 || episode FROM history WHERE episode != ''");
  std::set<std::string> known;
  if (!select.Ok()) return known;
  select.Bind(1, kEpisodeKeyPrefix);
  while (select.Step() == SQLITE_ROW) known.insert(select.Text(0));
  return known;
}

bool LibraryStore::NoteRefused(std::string_view bvid, std::string_view reason, std::int64_t time) {
  Statement insert(m_db, "INSERT OR REPLACE INTO refused_videos VALUES(?1, ?2, ?3)");
  if (!insert.Ok()) return false;
  insert.Bind(1, bvid);
  insert.Bind(2, reason);
  insert.Bind(3, time);
  return insert.Run();
}

}  // namespace korvid
