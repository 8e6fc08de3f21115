#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

// What the library holds and what it follows, kept in 任务.db beside the
// task rows: the history of finished downloads, the subscriptions, the
// videos each subscription listed and the videos the site refused.
namespace korvid {

// One file that ended "完成", "合并完成" or "已存在", or was adopted.
struct HistoryEntry {
  std::string bvid;
  std::string page;  // 分集序号, "1" for a single page
  std::string cid;
  std::string path;
  std::int64_t size = 0;
  std::int64_t time = 0;  // Unix seconds
  std::string episode;    // the ep_id of a licensed work's episode, else ""
};

// How a sync knows a licensed work's episode: "ep" + its ep_id. A season's
// episodes are known by episode, not by video.
inline constexpr std::string_view kEpisodeKeyPrefix = "ep";
[[nodiscard]] inline std::string EpisodeKey(std::string_view epId) {
  return std::string(kEpisodeKeyPrefix) + std::string(epId);
}

struct Subscription {
  std::int64_t id = 0;
  std::string name;
  std::string link;
  bool split = false;
  bool extras = false;       // a season's extras (番外/PV) too
  std::int64_t lastRun = 0;  // Unix seconds; 0: never
  std::int64_t known = 0;    // videos its list has shown so far
  std::string lastResult;
};

// The schema of 任务.db's library tables and the version it stamps; run
// inside the opening of the database (idempotent). A database of an older
// version gains the newer columns.
[[nodiscard]] bool PrepareLibraryTables(sqlite3* db, std::string* why);

// The history entry a task row's change makes, when its new state is
// "完成", "合并完成" or "已存在". The half of a split page that finished
// before its merge makes none; a merged pair names the merged file. size is
// read from the file.
[[nodiscard]] std::optional<HistoryEntry> HistoryEntryFor(int row, std::string_view state,
                                                          std::string_view recordText,
                                                          std::int64_t now);
// Adds or replaces (same BV, page and path) entries inside an open transaction.
[[nodiscard]] bool InsertHistory(sqlite3* db, const std::vector<HistoryEntry>& entries);

// A connection of its own to 任务.db, for the library tables. The task rows
// stay the task store's; both may be open at once (WAL), also in two processes.
class LibraryStore {
 public:
  // nullptr (with why) when the database cannot be opened.
  [[nodiscard]] static std::unique_ptr<LibraryStore> Open(const std::string& path,
                                                          std::string* why = nullptr);
  ~LibraryStore();
  LibraryStore(const LibraryStore&) = delete;
  LibraryStore& operator=(const LibraryStore&) = delete;

  // The new id; nullopt when the link is subscribed already (or on failure).
  [[nodiscard]] std::optional<std::int64_t> AddSubscription(std::string_view link,
                                                            std::string_view name, bool split,
                                                            bool extras = false);
  [[nodiscard]] bool RemoveSubscription(std::int64_t id);
  [[nodiscard]] std::vector<Subscription> Subscriptions();
  // The videos a subscription's list showed, counted in `known`.
  [[nodiscard]] bool NoteListed(std::int64_t id, const std::vector<std::string>& bvids);
  // What NoteListed kept for the subscription.
  [[nodiscard]] std::vector<std::string> ListedVideos(std::int64_t id);
  [[nodiscard]] bool FinishRun(std::int64_t id, std::int64_t time, std::string_view result);

  [[nodiscard]] bool AddHistory(const std::vector<HistoryEntry>& entries);
  [[nodiscard]] std::vector<HistoryEntry> History();
  // The BV ids of the history and of the refused videos, and the episode
  // keys (EpisodeKey) of the history: what a sync skips.
  [[nodiscard]] std::set<std::string> KnownVideos();
  // A video the site refused for good (deleted, private): never asked again.
  [[nodiscard]] bool NoteRefused(std::string_view bvid, std::string_view reason, std::int64_t time);

 private:
  explicit LibraryStore(sqlite3* db) : m_db(db) {}
  sqlite3* m_db;
};

}  // namespace korvid
