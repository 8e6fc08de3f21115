// Pure text work of the site client: file names, link forms, list addresses.

#include <gtest/gtest.h>

#include <limits>

#include <string>

#include "site/classify_link.h"
#include "site/clean_name.h"
#include "site/site_lists.h"
#include "site/video_info.h"

namespace korvid {
namespace {

TEST(CleanName, MakesEveryTitleASafeFileName) {
  const std::string cjk300 = [] {
    std::string text;
    for (int i = 0; i < 300; ++i) text += "汉";
    return text;
  }();
  struct Case {
    std::string title;
    bool numerals;
    std::string expected;
  };
  const Case cases[] = {
      {"A-1: B.C", true, "A一 BC"},
      {"A-1: B.C", false, "A1 BC"},
      {"  lead and trail   ", false, "  lead and trail"},
      {"1234567890", true, "一二三四五六七八九零"},
      {"a\\b/c*d?e\"f<g>h|i(j)k（l）m", false, "abcdefghijklm"},
      {"../../x", false, "x"},
      {"-rf --no", false, "rf no"},
      {".hidden", false, "hidden"},
      {"tab\there\nnew\x01line\x7f", false, "tabherenewline"},
      {"\xc2\x85next", false, "next"},  // C1 control U+0085
      {"-.:?*()", false, "BV1Ks411D7aa"},
      {"     ", false, "BV1Ks411D7aa"},
      {"", true, "BV1Ks411D7aa"},
      {cjk300, false, cjk300.substr(0, 255)},  // 85 whole characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CleanName(c.title, c.numerals, "BV1Ks411D7aa"), c.expected) << c.title;
  }
  // Without a usable fallback the name is still a name.
  EXPECT_EQ(CleanName("...", false), "_");
  EXPECT_EQ(CleanName("///", false, "::"), "_");
  // A cut never splits a character and never leaves a trailing space.
  EXPECT_EQ(CleanName("ab 汉", false, {}, 5), "ab");
}

TEST(ClassifyLinkText, SortsPastedTextsIntoLinkForms) {
  const SiteHosts hosts;  // the real hosts
  const std::string space = "https://space.bilibili.com";
  const std::string listQuery = "/video?tid=0&keyword=&order=pubdate";
  struct Case {
    std::string text;
    LinkKind kind;
    std::string id;
    ListMode mode;
    std::optional<std::string> boxText;
  };
  const Case cases[] = {
      {"BV1Mp411T7bb", LinkKind::kVideo, "BV1Mp411T7bb", ListMode::kFiltered, std::nullopt},
      {"看看 https://www.bilibili.com/video/bv1Mp411T7bb?p=2 " + space + "/123", LinkKind::kVideo,
       "bv1Mp411T7bb", ListMode::kFiltered, std::nullopt},
      {space + "/123/search/video?keyword=x", LinkKind::kSpaceList, "", ListMode::kSpaceSearch,
       std::nullopt},
      {space + "/123/video?tid=21&page=3&keyword=&order=pubdate", LinkKind::kSpaceList, "",
       ListMode::kFiltered, std::nullopt},
      {space + "/123/Video", LinkKind::kSpaceList, "", ListMode::kFiltered,
       space + "/123/Video?tid=0&keyword=&order=pubdate"},
      {space + "/123/favlist?fid=456&ftype=create", LinkKind::kFavourites, "456",
       ListMode::kFiltered, std::nullopt},
      {"https://SPACE.bilibili.com/123", LinkKind::kSpaceList, "", ListMode::kWholeSpace,
       space + "/123" + listQuery},
      {space + "/123?spm_id_from=333.1007.0.0&x=1", LinkKind::kSpaceList, "", ListMode::kWholeSpace,
       space + "/123" + listQuery},
      {"https://www.bilibili.com/video/av170001", LinkKind::kUnknown, "", ListMode::kFiltered,
       std::nullopt},
      {space + "/123/favlist", LinkKind::kUnknown, "", ListMode::kFiltered, std::nullopt},
      {space + "/123/dynamic", LinkKind::kUnknown, "", ListMode::kFiltered, std::nullopt},
      {space + "/123?from=x", LinkKind::kUnknown, "", ListMode::kFiltered, std::nullopt},
      // The dots of the host are literal: a look-alike host is not the space.
      {"https://spaceXbilibili.com/123", LinkKind::kUnknown, "", ListMode::kFiltered, std::nullopt},
      {"", LinkKind::kUnknown, "", ListMode::kFiltered, std::nullopt},
  };
  for (const Case& c : cases) {
    const ClassifiedLink link = ClassifyLinkText(c.text, hosts);
    EXPECT_EQ(link.kind, c.kind) << c.text;
    EXPECT_EQ(link.id, c.id) << c.text;
    if (c.kind == LinkKind::kSpaceList) {
      EXPECT_EQ(link.mode, c.mode) << c.text;
    }
    EXPECT_EQ(link.boxText, c.boxText) << c.text;
  }
}

// Collections, series, watch later and licensed works; each malformed
// neighbour ends as "无法解析链接" (kUnknown) or as an older form it also is.
TEST(ClassifyLinkText, SortsSourceLinksAndRefusesTheirMalformedNeighbours) {
  const SiteHosts hosts;
  const std::string space = "https://space.bilibili.com";
  const std::string web = "https://www.bilibili.com";
  const std::string collection = space + "/7/lists/42?type=season";
  const std::string series = space + "/7/lists/42?type=series";
  const std::string later = web + "/watchlater/#/list";
  struct Case {
    std::string name;
    std::string text;
    LinkKind kind = LinkKind::kUnknown;
    std::string id;
    std::string mid;
    std::string box;  // the box's new text; empty: left alone
  };
  const Case cases[] = {
      {.name = "old collection",
       .text = space + "/7/channel/collectiondetail?sid=42",
       .kind = LinkKind::kCollection,
       .id = "42",
       .mid = "7",
       .box = collection},
      {.name = "collection list",
       .text = space + "/7/lists/42",
       .kind = LinkKind::kCollection,
       .id = "42",
       .mid = "7",
       .box = collection},
      {.name = "collection typed",
       .text = space + "/7/lists/42?type=Season&spm_id_from=1.2",
       .kind = LinkKind::kCollection,
       .id = "42",
       .mid = "7",
       .box = collection},
      {.name = "collection by sid",
       .text = space + "/7/lists?sid=42",
       .kind = LinkKind::kCollection,
       .id = "42",
       .mid = "7",
       .box = collection},
      {.name = "old series",
       .text = space + "/7/channel/seriesdetail?sid=42",
       .kind = LinkKind::kSeries,
       .id = "42",
       .mid = "7",
       .box = series},
      {.name = "old series ctype",
       .text = space + "/7/channel/seriesdetail?sid=42&ctype=0",
       .kind = LinkKind::kSeries,
       .id = "42",
       .mid = "7",
       .box = series},
      {.name = "series list",
       .text = " " + series + "\n",
       .kind = LinkKind::kSeries,
       .id = "42",
       .mid = "7",
       .box = series},
      {.name = "watch later page",
       .text = web + "/watchlater/#/list",
       .kind = LinkKind::kWatchLater,
       .id = "",
       .mid = "",
       .box = later},
      {.name = "watch later player naming a video",
       .text = web + "/list/watchlater?bvid=BV1Mp411T7bb&oid=900000002",
       .kind = LinkKind::kWatchLater,
       .id = "",
       .mid = "",
       .box = later},
      {.name = "watch later old player",
       .text = web + "/medialist/play/watchlater/p1",
       .kind = LinkKind::kWatchLater,
       .id = "",
       .mid = "",
       .box = later},
      {.name = "episode",
       .text = web + "/bangumi/play/ep606591?from=search",
       .kind = LinkKind::kPgcEpisode,
       .id = "606591",
       .mid = "",
       .box = web + "/bangumi/play/ep606591"},
      {.name = "season",
       .text = web + "/bangumi/play/SS42290",
       .kind = LinkKind::kPgcSeason,
       .id = "42290",
       .mid = "",
       .box = web + "/bangumi/play/ss42290"},
      {.name = "media",
       .text = web + "/bangumi/media/md28220978/",
       .kind = LinkKind::kPgcMedia,
       .id = "28220978",
       .mid = "",
       .box = web + "/bangumi/media/md28220978"},
  };
  for (const Case& c : cases) {
    const ClassifiedLink link = ClassifyLinkText(c.text, hosts);
    EXPECT_EQ(link.kind, c.kind) << c.name;
    EXPECT_EQ(link.id, c.id) << c.name;
    EXPECT_EQ(link.mid, c.mid) << c.name;
    EXPECT_EQ(link.boxText.value_or(""), c.box) << c.name;
  }
  const std::pair<std::string, std::string> malformed[] = {
      {"collection without sid", space + "/7/channel/collectiondetail?sid="},
      {"collection sid not a number", space + "/7/channel/collectiondetail?sid=x1"},
      {"lists of another type", space + "/7/lists/42?type=other"},
      {"lists id not a number", space + "/7/lists/abc"},
      {"lists without id", space + "/7/lists"},
      {"lists under no uploader", space + "/x/lists/42"},
      {"id of 16 digits", space + "/7/lists/1234567890123456"},
      {"series without sid", space + "/7/channel/seriesdetail?ctype=0"},
      {"episode without number", web + "/bangumi/play/ep"},
      {"episode with letters", web + "/bangumi/play/ep12a"},
      {"season under media", web + "/bangumi/media/ss42290"},
      {"media under play", web + "/bangumi/play/md28220978"},
      {"watch later on another host", "https://example.com/watchlater/"},
      {"look-alike web host", "https://wwwXbilibili.com/bangumi/play/ep1"},
      {"text in front", "see " + web + "/bangumi/play/ep1"},
  };
  for (const auto& [name, text] : malformed) {
    const ClassifiedLink link = ClassifyLinkText(text, hosts);
    EXPECT_EQ(link.kind, LinkKind::kUnknown) << name;
    EXPECT_FALSE(link.boxText.has_value()) << name;
  }
}

TEST(SpaceListUrl, RewritesTheLinkIntoTheListRequest) {
  const SiteHosts hosts;
  const std::string space = "https://space.bilibili.com/123";
  const std::string api = "https://api.bilibili.com/x/space/arc/search?mid=123";
  const std::string home = space + "/video?tid=0&keyword=&order=pubdate";
  EXPECT_EQ(SpaceListUrl(home, ListMode::kWholeSpace, 0, hosts),
            api + "&ps=30&tid=0&keyword=&order=pubdate&jsonp=jsonp");
  EXPECT_EQ(SpaceListUrl(home, ListMode::kWholeSpace, 3, hosts),
            api + "&ps=30&tid=0&pn=3&keyword=&order=pubdate&jsonp=jsonp");
  EXPECT_EQ(SpaceListUrl(space + "/video?tid=21&page=3&keyword=a", ListMode::kFiltered, 0, hosts),
            api + "&ps=30&tid=21&pn=3&keyword=a&jsonp=jsonp");
  EXPECT_EQ(
      SpaceListUrl(space + "/search/video?keyword=k&page=2", ListMode::kSpaceSearch, 0, hosts),
      api + "&ps=30&keyword=k&pn=2&jsonp=jsonp");

  // The list page's tails, in any case, name the space alone.
  const std::string all = api + "&ps=30&tid=0&keyword=&order=pubdate&jsonp=jsonp";
  for (const std::string& link :
       {space + "/video", space + "/Video", space + "/upload/video", space + "/Upload/VIDEO",
        space + "/upload/video?tid=0&keyword="
                "&order=pubdate"}) {
    const ClassifiedLink classified = ClassifyLinkText(link, hosts);
    ASSERT_EQ(classified.kind, LinkKind::kSpaceList) << link;
    EXPECT_EQ(SpaceListUrl(classified.boxText.value_or(link), classified.mode, 0, hosts), all)
        << link;
  }
}

TEST(SpaceListUrl, PagesOfAClaimedCountAreBounded) {
  struct Case {
    double count;
    int pages;
  };
  const Case cases[] = {
      {.count = 0, .pages = 1},
      {.count = 30, .pages = 2},
      {.count = 61, .pages = 3},
      {.count = 3000000, .pages = kSpaceMaxPages},
      {.count = 1e300, .pages = kSpaceMaxPages},
      {.count = std::numeric_limits<double>::infinity(), .pages = kSpaceMaxPages},
      {.count = std::numeric_limits<double>::quiet_NaN(), .pages = kSpaceMaxPages},
      {.count = -5, .pages = kSpaceMaxPages},
      {.count = 12.5, .pages = kSpaceMaxPages},
  };
  for (const Case& c : cases) EXPECT_EQ(SpacePagesForCount(c.count), c.pages) << c.count;
}

TEST(EmbeddedVideoState, TakesExactlyOneStateLine) {
  const std::string line =
      "<script>window.__INITIAL_STATE__={\"videoData\":{\"bvid\":\"BV1\",\"title\":"
      "\"videoData: x\"}};(function(){var s;}());</script>\n";
  EXPECT_EQ(EmbeddedVideoState("<html>\n" + line + "</html>"),
            "{\"data\":{\"bvid\":\"BV1\",\"title\":\"videoData: x\"}}");
  EXPECT_EQ(EmbeddedVideoState("<html></html>"), std::nullopt);
  EXPECT_EQ(EmbeddedVideoState(line + line), std::nullopt);
}

}  // namespace
}  // namespace korvid
