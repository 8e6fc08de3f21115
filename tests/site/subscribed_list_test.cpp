// Followed lists read a page at a time, newest first, against the fake site:
// which links are lists, how pages end, and a grown list's new videos on top.

#include "site/subscribed_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_site_test.h"

namespace korvid {
namespace {

class SubscribedListTest : public test::FakeSiteTest {
 protected:
  // Every page until `more` ends: the number of videos on each.
  std::vector<int> PageSizes(const SubscribedList& list, std::vector<std::string>* all = nullptr) {
    NetTransport transport;
    std::vector<int> sizes;
    for (int page = 1; page <= 10; ++page) {
      const ListPageRead read = list.read(transport, page);
      EXPECT_FALSE(read.refused) << read.notice;
      sizes.push_back(static_cast<int>(read.bvids.size()));
      if (all) all->insert(all->end(), read.bvids.begin(), read.bvids.end());
      if (!read.more) break;
    }
    return sizes;
  }
};

TEST_F(SubscribedListTest, ListsArePagedNewestFirst) {
  const std::string base = m_site.BaseUrl();
  struct Case {
    const char* name;
    std::string link;
    bool list;
    std::vector<int> pages;
    std::string newest;
  };
  const Case cases[] = {
      {.name = "favourites folder",
       .link = base + "/1/favlist?fid=30045",
       .list = true,
       .pages = {20, 20, 5},
       .newest = "BV1fa0000001"},
      {.name = "empty folder",
       .link = base + "/1/favlist?fid=30000",
       .list = true,
       .pages = {0},
       .newest = ""},
      {.name = "whole space",
       .link = base + "/20061",
       .list = true,
       .pages = {30, 30, 1},
       .newest = "BV1sa0000001"},
      {.name = "space of exactly 30",
       .link = base + "/20030",
       .list = true,
       .pages = {30},
       .newest = "BV1sb0000001"},
      {.name = "one filtered page, read whole",
       .link = base + "/20061/video?tid=0&page=2&keyword=&order=pubdate",
       .list = true,
       .pages = {30},
       .newest = "BV1sa0000031"},
      {.name = "a video", .link = "BV1Mp411T7bb", .list = false, .pages = {}, .newest = ""},
      {.name = "nothing",
       .link = base + "/20061/dynamic",
       .list = false,
       .pages = {},
       .newest = ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto list = SubscribedListFor(c.link, CurrentSiteHosts());
    ASSERT_EQ(list.has_value(), c.list);
    if (!list) continue;
    std::vector<std::string> all;
    EXPECT_EQ(PageSizes(*list, &all), c.pages);
    if (!c.newest.empty()) {
      EXPECT_EQ(all.front(), c.newest);
    }
  }
}

TEST_F(SubscribedListTest, AGrownListShowsItsNewVideosOnTop) {
  ASSERT_TRUE(m_site.GrowList(30045, 3));
  const auto list =
      SubscribedListFor(m_site.BaseUrl() + "/1/favlist?fid=30045", CurrentSiteHosts());
  ASSERT_TRUE(list.has_value());
  std::vector<std::string> all;
  EXPECT_EQ(PageSizes(*list, &all), (std::vector<int>{20, 20, 8}));
  ASSERT_EQ(all.size(), 48U);
  EXPECT_EQ(
      std::vector<std::string>(all.begin(), all.begin() + 4),
      (std::vector<std::string>{"BV1fa0000048", "BV1fa0000047", "BV1fa0000046", "BV1fa0000001"}));
  EXPECT_FALSE(m_site.GrowList(30045, 98));
  EXPECT_FALSE(m_site.GrowList(4242, 1));
}

TEST_F(SubscribedListTest, RiskControlIsToldApart) {
  const auto list =
      SubscribedListFor(m_site.BaseUrl() + "/1/favlist?fid=30045", CurrentSiteHosts());
  ASSERT_TRUE(list.has_value());
  NetTransport transport;
  m_site.SetFault("/x/v3/fav/", fakesite::Fault::Blocked());
  ListPageRead read = list->read(transport, 1);
  EXPECT_TRUE(read.refused);
  EXPECT_TRUE(read.riskControl);
  m_site.SetFault("/x/v3/fav/", fakesite::Fault::ApiCode(-400));
  read = list->read(transport, 1);
  EXPECT_TRUE(read.refused);
  EXPECT_FALSE(read.riskControl);
  EXPECT_NE(read.notice.find("读取列表失败"), std::string::npos) << read.notice;
}

TEST_F(SubscribedListTest, CollectionsAndSeriesAreReadWholeInTheirOwnOrder) {
  const std::string base = m_site.BaseUrl();
  for (const std::string& link : {base + "/20061/channel/collectiondetail?sid=1227671",
                                  base + "/20200/lists/534501?type=series"}) {
    SCOPED_TRACE(link);
    const auto list = SubscribedListFor(link, CurrentSiteHosts());
    ASSERT_TRUE(list.has_value());
    EXPECT_FALSE(list->newestFirst);
    std::vector<std::string> all;
    const std::vector<int> sizes = PageSizes(*list, &all);
    EXPECT_GE(sizes.size(), 2U);
    EXPECT_FALSE(all.empty());
  }
}

// A licensed season is one page of episode keys: its main episodes, its
// extras when asked, whichever of its links names it.
TEST_F(SubscribedListTest, ASeasonListsItsEpisodesByKey) {
  const std::string base = m_site.BaseUrl();
  const std::vector<std::string> main = {"ep606591", "ep606592", "ep606605"};
  struct Case {
    const char* name;
    std::string link;
    bool extras;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {.name = "ss", .link = base + "/bangumi/play/ss42290", .extras = false, .keys = main},
      {.name = "ep", .link = base + "/bangumi/play/ep606592", .extras = false, .keys = main},
      {.name = "md", .link = base + "/bangumi/media/md28339735", .extras = false, .keys = main},
      {.name = "with extras",
       .link = base + "/bangumi/play/ss42290",
       .extras = true,
       .keys = {"ep606591", "ep606592", "ep606605", "ep576387", "ep606995"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto list = SubscribedListFor(c.link, CurrentSiteHosts(), {{}, c.extras});
    ASSERT_TRUE(list.has_value());
    ASSERT_NE(list->season, nullptr);
    EXPECT_FALSE(list->newestFirst);
    std::vector<std::string> all;
    EXPECT_EQ(PageSizes(*list, &all), std::vector<int>{static_cast<int>(c.keys.size())});
    EXPECT_EQ(all, c.keys);
    EXPECT_EQ(list->season->answer.GetValue("result.season_id"), "42290");
  }
}

}  // namespace
}  // namespace korvid
