// The library's tables in 任务.db: which finished rows enter the history, a
// database of the older schema opened without losing its rows, and the
// subscriptions.

#include "app/tasks/library_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "app/tasks/task_record.h"
#include "app/tasks/task_store.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

std::string RecordWithPath(const std::string& path) {
  return R"({"data":{"bvid":"BV1xx411c7mA"},")" + std::string(record::kEpisode) + R"(":"2",")" +
         std::string(record::kCid) + R"(":"777",")" + std::string(record::kMediaPath) + R"(":")" +
         path + R"("})";
}

TEST(HistoryEntryFor, TakesOnlyFilesThatEndedWell) {
  test::Sandbox sandbox;
  ASSERT_TRUE(sandbox.WriteFile("v/正片S1E2.mp4", "12345"));
  ASSERT_TRUE(sandbox.WriteFile("v/合并S1E2.mp4", "1234567"));
  const std::string media = (sandbox / "v/正片S1E2.mp4").string();
  const std::string merged = (sandbox / "v/合并S1E2.mp4").string();
  struct Case {
    const char* name;
    std::string state;
    std::string record;
    int row;
    bool entry;
    std::string path;
    std::int64_t size;
  };
  const Case cases[] = {
      {.name = "done",
       .state = "完成",
       .record = RecordWithPath(media),
       .row = 1,
       .entry = true,
       .path = media,
       .size = 5},
      {.name = "present",
       .state = "已存在",
       .record = RecordWithPath(media),
       .row = 1,
       .entry = true,
       .path = media,
       .size = 5},
      {.name = "failed",
       .state = "失败下载",
       .record = RecordWithPath(media),
       .row = 1,
       .entry = false,
       .path = {},
       .size = 0},
      {.name = "in the video file",
       .state = "随视频下载",
       .record = RecordWithPath(media),
       .row = 1,
       .entry = false,
       .path = {},
       .size = 0},
      {.name = "half before its merge",
       .state = "完成",
       .record = RecordWithPath(merged + ".视频"),
       .row = 3,
       .entry = false,
       .path = {},
       .size = 0},
      {.name = "merged pair names the merged file",
       .state = "合并完成",
       .record = RecordWithPath(merged + ".音频"),
       .row = 4,
       .entry = true,
       .path = merged,
       .size = 7},
      {.name = "no record",
       .state = "完成",
       .record = "",
       .row = 1,
       .entry = false,
       .path = {},
       .size = 0},
      {.name = "file gone: size 0",
       .state = "完成",
       .record = RecordWithPath((sandbox / "gone.mp4").string()),
       .row = 1,
       .entry = true,
       .path = (sandbox / "gone.mp4").string(),
       .size = 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto entry = HistoryEntryFor(c.row, c.state, c.record, 1000);
    ASSERT_EQ(entry.has_value(), c.entry);
    if (!entry) continue;
    EXPECT_EQ(entry->bvid, "BV1xx411c7mA");
    EXPECT_EQ(entry->page, "2");
    EXPECT_EQ(entry->cid, "777");
    EXPECT_EQ(entry->path, c.path);
    EXPECT_EQ(entry->size, c.size);
    EXPECT_EQ(entry->time, 1000);
  }
}

// A database written before the library tables: its rows survive, the new
// tables are there, and a row finishing now enters the history.
TEST(LibraryStore, OlderDatabaseKeepsItsRowsAndGainsTheTables) {
  test::Sandbox sandbox;
  const std::string path = (sandbox / "任务.db").string();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* older =
        "CREATE TABLE task_rows(row INTEGER PRIMARY KEY, index_text TEXT NOT NULL,"
        " title TEXT NOT NULL, part TEXT NOT NULL, height TEXT NOT NULL, size TEXT NOT NULL,"
        " received TEXT NOT NULL, elapsed TEXT NOT NULL, speed TEXT NOT NULL,"
        " state TEXT NOT NULL, colors TEXT NOT NULL, seq INTEGER NOT NULL);"
        "CREATE TABLE task_records(row INTEGER PRIMARY KEY, started TEXT NOT NULL DEFAULT '',"
        " queued TEXT NOT NULL DEFAULT '');"
        "INSERT INTO task_rows VALUES(1,'1','旧任务','','','','','','','完成','',1);";
    ASSERT_EQ(sqlite3_exec(db, older, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  TaskStore::Opened opened = TaskStore::Open(path);
  ASSERT_NE(opened.store, nullptr);
  EXPECT_TRUE(opened.notice.empty()) << opened.notice;
  const auto rows = opened.store->LoadRows();
  ASSERT_TRUE(rows.has_value());
  ASSERT_EQ(rows->size(), 1U);
  EXPECT_EQ((*rows)[0].text[kColTitle], "旧任务");

  ASSERT_TRUE(sandbox.WriteFile("a.mp4", "abc"));
  TaskStoreChanges batch;
  TaskStoreChanges::Entry entry;
  entry.columns = 1U | (1U << kColState);
  entry.row.row = 2;
  entry.row.text[kColRecord] = RecordWithPath((sandbox / "a.mp4").string());
  entry.row.text[kColState] = "完成";
  batch.rows.push_back(entry);
  ASSERT_TRUE(opened.store->Write(batch));

  // The record went to disk with an earlier batch; the state comes alone.
  ASSERT_TRUE(sandbox.WriteFile("b.mp4", "abcdef"));
  batch.rows[0].columns = 1U | (1U << kColState);
  batch.rows[0].row.row = 3;
  batch.rows[0].row.text[kColRecord] = RecordWithPath((sandbox / "b.mp4").string());
  batch.rows[0].row.text[kColState] = "正在下载";
  ASSERT_TRUE(opened.store->Write(batch));
  batch.rows[0].columns = 1U << kColState;
  batch.rows[0].row.text[kColRecord].clear();
  batch.rows[0].row.text[kColState] = "已存在";
  ASSERT_TRUE(opened.store->Write(batch));

  const auto library = LibraryStore::Open(path);
  ASSERT_NE(library, nullptr);
  const auto history = library->History();
  ASSERT_EQ(history.size(), 2U);
  EXPECT_EQ(history[0].bvid, "BV1xx411c7mA");
  EXPECT_EQ(history[0].size + history[1].size, 9);
  EXPECT_EQ(library->KnownVideos(), std::set<std::string>{"BV1xx411c7mA"});
}

TEST(LibraryStore, SubscriptionsAndRefusedVideos) {
  test::Sandbox sandbox;
  const auto store = LibraryStore::Open((sandbox / "任务.db").string());
  ASSERT_NE(store, nullptr);
  const auto first = store->AddSubscription("https://space/1/favlist?fid=2", "收藏", false);
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(store->AddSubscription("https://space/1/favlist?fid=2", "again", true));
  const auto second = store->AddSubscription("https://space/9", "UP", true);
  ASSERT_TRUE(second.has_value());

  ASSERT_TRUE(store->NoteListed(*first, {"BV1", "BV2", "BV1"}));
  ASSERT_TRUE(store->NoteListed(*first, {"BV2", "BV3"}));
  ASSERT_TRUE(store->FinishRun(*first, 50, "新视频 3，已下载 3，失败 0"));
  auto list = store->Subscriptions();
  ASSERT_EQ(list.size(), 2U);
  EXPECT_EQ(list[0].known, 3);
  EXPECT_EQ(list[0].lastRun, 50);
  EXPECT_EQ(list[0].lastResult, "新视频 3，已下载 3，失败 0");
  EXPECT_TRUE(list[1].split);

  EXPECT_TRUE(store->RemoveSubscription(*first));
  EXPECT_FALSE(store->RemoveSubscription(*first));
  EXPECT_TRUE(store->ListedVideos(*first).empty());
  EXPECT_EQ(store->Subscriptions().size(), 1U);

  ASSERT_TRUE(store->NoteRefused("BV9", "gone", 1));
  EXPECT_TRUE(store->KnownVideos().contains("BV9"));
}

// A database of version 1 (before the episodes of licensed works and the
// extras flag): its subscriptions and history survive, it gains the columns
// once, and a finished episode is then known by its ep_id.
TEST(LibraryStore, VersionOneDatabaseIsMigrated) {
  test::Sandbox sandbox;
  const std::string path = (sandbox / "任务.db").string();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* versionOne =
        "CREATE TABLE history(bvid TEXT NOT NULL, page TEXT NOT NULL, cid TEXT NOT NULL,"
        " path TEXT NOT NULL, size INTEGER NOT NULL, time INTEGER NOT NULL,"
        " PRIMARY KEY(bvid, page, path));"
        "CREATE TABLE subscriptions(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL,"
        " link TEXT NOT NULL UNIQUE, split INTEGER NOT NULL DEFAULT 0,"
        " last_run INTEGER NOT NULL DEFAULT 0, last_result TEXT NOT NULL DEFAULT '');"
        "CREATE TABLE subscription_videos(subscription INTEGER NOT NULL, bvid TEXT NOT NULL,"
        " PRIMARY KEY(subscription, bvid));"
        "CREATE TABLE refused_videos(bvid TEXT PRIMARY KEY, reason TEXT NOT NULL,"
        " time INTEGER NOT NULL);"
        "INSERT INTO history VALUES('BV1old0000001', '1', '5', '/lib/a.mp4', 10, 7);"
        "INSERT INTO subscriptions(name, link, split) VALUES('收藏', 'https://space/fav', 1);"
        "PRAGMA user_version=1;";
    ASSERT_EQ(sqlite3_exec(db, versionOne, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    const auto store = LibraryStore::Open(path);
    ASSERT_NE(store, nullptr);
    const auto subs = store->Subscriptions();
    ASSERT_EQ(subs.size(), opening + 1U);
    EXPECT_EQ(subs[0].name, "收藏");
    EXPECT_TRUE(subs[0].split);
    EXPECT_FALSE(subs[0].extras);
    const auto history = store->History();
    ASSERT_GE(history.size(), 1U);
    EXPECT_EQ(history[0].path, "/lib/a.mp4");
    EXPECT_EQ(history[0].episode, "");
    if (opening == 0) {
      ASSERT_TRUE(store->AddSubscription("https://www/bangumi/play/ss1", "番", false, true));
    } else {
      EXPECT_TRUE(subs[1].extras);
    }
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* version = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(version), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(version, 0), 2);
  sqlite3_finalize(version);
  sqlite3_close(db);

  ASSERT_TRUE(sandbox.WriteFile("s/第3话.mp4", "abcd"));
  const std::string episodeRecord =
      R"({"data":{"bvid":"BV1pg0000003"},")" + std::string(record::kLicensed) +
      R"(":{"episode":{"ep_id":606605}},")" + std::string(record::kMediaPath) + R"(":")" +
      (sandbox / "s/第3话.mp4").string() + R"("})";
  const auto entry = HistoryEntryFor(1, "完成", episodeRecord, 9);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->episode, "606605");
  const auto store = LibraryStore::Open(path);
  ASSERT_NE(store, nullptr);
  ASSERT_TRUE(store->AddHistory({*entry}));
  EXPECT_EQ(store->KnownVideos(),
            (std::set<std::string>{"BV1old0000001", "BV1pg0000003", EpisodeKey("606605")}));
}

}  // namespace
}  // namespace korvid
