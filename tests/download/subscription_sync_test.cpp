// Sync: how far a followed list is read, the back-off of risk control, the
// pacing's durations, and adopting a library already on disk.

#include "download/subscription_sync.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace korvid {
namespace {

using std::chrono::milliseconds;

class NoTransport final : public SiteTransport {
 public:
  std::string GetPage(std::string_view) override { return {}; }
  std::string GetApi(std::string_view) override { return {}; }
};

// A list of `count` videos "V<k>", newest (highest k) first, `size` a page.
SubscribedList ScriptedList(int count, int size, std::vector<int>& asked,
                            std::map<int, int> refusals = {}) {
  SubscribedList list;
  list.kind = LinkKind::kFavourites;
  list.read = [=, &asked](SiteTransport&, int page) mutable {
    asked.push_back(page);
    ListPageRead read;
    if (refusals[page]-- > 0) {
      read.refused = read.riskControl = true;
      read.notice = "被风控拦截，请登录后重试";
      return read;
    }
    for (int k = count - (page - 1) * size; k > count - page * size && k > 0; --k) {
      read.bvids.push_back("V" + std::to_string(k));
    }
    read.more = page * size < count;
    return read;
  };
  return list;
}

std::set<std::string> Known(int from, int to) {
  std::set<std::string> known;
  for (int k = from; k <= to; ++k) known.insert("V" + std::to_string(k));
  return known;
}

SyncPacing NoWaits(std::vector<milliseconds>* waited = nullptr) {
  SyncPacing pacing;
  pacing.pause = milliseconds(0);
  pacing.wait = [waited](milliseconds duration) {
    if (waited && duration.count() > 0) waited->push_back(duration);
    return true;
  };
  return pacing;
}

TEST(ScanList, StopsAtThePageThatReachesKnownVideos) {
  struct Case {
    const char* name;
    int count;
    std::set<std::string> known;
    bool full;
    std::vector<int> pages;
    std::size_t fresh;
  };
  const Case cases[] = {
      {.name = "first sync reads every page",
       .count = 45,
       .known = {},
       .full = false,
       .pages = {1, 2, 3},
       .fresh = 45},
      {.name = "three new on top: one page",
       .count = 48,
       .known = Known(1, 45),
       .full = false,
       .pages = {1},
       .fresh = 3},
      {.name = "nothing new: one page",
       .count = 45,
       .known = Known(1, 45),
       .full = false,
       .pages = {1},
       .fresh = 0},
      {.name = "a page of new ones: two pages",
       .count = 65,
       .known = Known(1, 45),
       .full = false,
       .pages = {1, 2},
       .fresh = 20},
      {.name = "--full reads everything",
       .count = 45,
       .known = Known(1, 45),
       .full = true,
       .pages = {1, 2, 3},
       .fresh = 0},
      {.name = "an older one missing is found with --full",
       .count = 45,
       .known = Known(2, 45),
       .full = true,
       .pages = {1, 2, 3},
       .fresh = 1},
      {.name = "empty list", .count = 0, .known = {}, .full = false, .pages = {1}, .fresh = 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> asked;
    NoTransport transport;
    const ListScan scan =
        ScanList(ScriptedList(c.count, 20, asked), transport, c.known, c.full, NoWaits());
    EXPECT_EQ(asked, c.pages);
    EXPECT_EQ(scan.fresh.size(), c.fresh);
    EXPECT_FALSE(scan.failed);
    const std::string newest = "V" + std::to_string(c.count);
    if (!scan.fresh.empty() && !c.known.contains(newest)) {
      EXPECT_EQ(scan.fresh.front(), newest);
    }
  }
  // A source in its own order (a collection, a series) may gain videos
  // anywhere: a known video ending a page stops nothing.
  std::vector<int> asked;
  NoTransport transport;
  SubscribedList ownOrder = ScriptedList(48, 20, asked);
  ownOrder.newestFirst = false;
  const ListScan scan = ScanList(ownOrder, transport, Known(4, 48), false, NoWaits());
  EXPECT_EQ(asked, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(scan.fresh, (std::vector<std::string>{"V3", "V2", "V1"}));
}

TEST(ScanList, RiskControlBacksOffThenGivesUp) {
  struct Case {
    const char* name;
    int refusals;  // of page 1
    std::vector<milliseconds> waited;
    bool failed;
  };
  const Case cases[] = {
      {.name = "refused twice",
       .refusals = 2,
       .waited = {milliseconds(60'000), milliseconds(300'000)},
       .failed = false},
      {.name = "refused for good",
       .refusals = 9,
       .waited = {milliseconds(60'000), milliseconds(300'000), milliseconds(900'000)},
       .failed = true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> asked;
    std::vector<milliseconds> waited;
    std::vector<std::string> said;
    SyncPacing pacing = NoWaits(&waited);
    pacing.backoff = {std::chrono::minutes(1), std::chrono::minutes(5), std::chrono::minutes(15)};
    pacing.say = [&said](std::string_view text) { said.emplace_back(text); };
    NoTransport transport;
    const ListScan scan =
        ScanList(ScriptedList(5, 20, asked, {{1, c.refusals}}), transport, {}, false, pacing);
    EXPECT_EQ(waited, c.waited);
    EXPECT_EQ(scan.failed, c.failed);
    EXPECT_EQ(said.size(), c.waited.size());
    if (!said.empty()) {
      EXPECT_NE(said[0].find("1 分钟后重试"), std::string::npos) << said[0];
    }
    EXPECT_EQ(scan.fresh.size(), c.failed ? 0U : 5U);
  }
}

TEST(ScanList, AStopDuringABackOffEndsTheScan) {
  std::vector<int> asked;
  SyncPacing pacing = NoWaits();
  pacing.wait = [](milliseconds) { return false; };
  NoTransport transport;
  const ListScan scan =
      ScanList(ScriptedList(5, 20, asked, {{1, 1}}), transport, {}, false, pacing);
  EXPECT_TRUE(scan.stopped);
  EXPECT_FALSE(scan.failed);
  EXPECT_EQ(asked, std::vector<int>{1});
}

TEST(ParseDuration, UnitsAndRefusals) {
  struct Case {
    const char* text;
    std::optional<milliseconds> expected;
  };
  const Case cases[] = {
      {.text = "30m", .expected = milliseconds(1'800'000)},
      {.text = "2h", .expected = milliseconds(7'200'000)},
      {.text = "45s", .expected = milliseconds(45'000)},
      {.text = "500ms", .expected = milliseconds(500)},
      {.text = "1.5", .expected = milliseconds(1'500)},
      {.text = "0", .expected = milliseconds(0)},
      {.text = "", .expected = std::nullopt},
      {.text = "m", .expected = std::nullopt},
      {.text = "-1s", .expected = std::nullopt},
      {.text = "1.2.3", .expected = std::nullopt},
      {.text = "10d", .expected = std::nullopt},
      {.text = "99999999h", .expected = std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseDuration(c.text), c.expected);
  }
}

TEST(AssVideoId, ReadsTheOriginalScriptLine) {
  struct Case {
    const char* header;
    const char* bvid;
  };
  const Case cases[] = {
      {.header = "[Script Info]\nOriginal Script: [bid_BV1xx411c7mD],[cid_5]$\n",
       .bvid = "BV1xx411c7mD"},
      {.header = "Original Script: [bid_BV1xx],[cid_5]$", .bvid = ""},
      {.header = "Original Script: [bid_XX1xx411c7mD]", .bvid = ""},
      {.header = "[Script Info]\nTitle: x\n", .bvid = ""},
      {.header = "[bid_BV1xx411c7mD", .bvid = ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    EXPECT_EQ(AssVideoId(c.header), c.bvid);
  }
}

TEST(AdoptLibrary, RecordsFoldersNamedByNfoOrSubtitles) {
  test::Sandbox sandbox;
  ASSERT_TRUE(sandbox.WriteFile("lib/甲/tvshow.nfo", "<tvshow><id>BV1aa411c7m1</id></tvshow>"));
  ASSERT_TRUE(sandbox.WriteFile("lib/甲/正片S1E1.mp4", "1234"));
  ASSERT_TRUE(sandbox.WriteFile("lib/甲/正片S1E2.mp4", "12"));
  ASSERT_TRUE(sandbox.WriteFile("lib/分区/乙/S1E1.ass",
                                "[Script Info]\nOriginal Script: [bid_BV1bb411c7m2],[cid_1]$\n"));
  ASSERT_TRUE(sandbox.WriteFile("lib/丙/note.txt", "no video here"));
  // A season: known by its episodes, whatever its tvshow.nfo names.
  ASSERT_TRUE(sandbox.WriteFile("lib/番/tvshow.nfo", "<tvshow><id>ss42290</id></tvshow>"));
  ASSERT_TRUE(sandbox.WriteFile("lib/番/第1话S1E1.mp4", "123"));
  ASSERT_TRUE(sandbox.WriteFile(
      "lib/番/第1话S1E1.nfo",
      "<episodedetails>\n  <uniqueid type=\"bilibili_ep\" default=\"true\">606591</uniqueid>\n"
      "  <uniqueid type=\"bilibili\">BV1pg0000001</uniqueid>\n</episodedetails>"));
  const auto store = LibraryStore::Open((sandbox / "任务.db").string());
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(AdoptLibrary(sandbox / "lib", *store, 7), 3);
  EXPECT_EQ(store->KnownVideos(),
            (std::set<std::string>{"BV1aa411c7m1", "BV1bb411c7m2", "BV1pg0000001", "ep606591"}));
  const auto history = store->History();
  ASSERT_EQ(history.size(), 4U);
  std::map<std::string, std::int64_t> sizes;
  for (const HistoryEntry& entry : history) sizes[entry.bvid + "/" + entry.page] = entry.size;
  EXPECT_EQ(sizes["BV1aa411c7m1/1"], 4);
  EXPECT_EQ(sizes["BV1aa411c7m1/2"], 2);
  EXPECT_TRUE(sizes.contains("BV1bb411c7m2/"));
}

}  // namespace
}  // namespace korvid
