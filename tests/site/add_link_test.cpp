// From a pasted link to task rows and queued records, against the fake site,
// through the handlers of the window's buttons and the headless controls.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/tasks/task_record.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "net/json_document.h"
#include "net/site_hosts.h"
#include "site/add_video.h"
#include "site/classify_link.h"
#include "site/link_jobs.h"
#include "site/site_headers.h"
#include "site/site_lists.h"
#include "site/site_transport.h"
#include "support/fake_site_test.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

// One task row with the record queued for it (empty fields for a row
// without a record).
struct Row {
  int index = 0;
  std::string title;
  std::string part;
  std::string height;
  std::string state;
  std::string bvid;
  std::string cid;
  std::string episode;
  std::string split;
  std::string kind;
  bool customSource = false;
};

class AddLinkTest : public test::FakeSiteTest {
 protected:
  AddLinkTest() { CreateMainWindowControls(m_controls); }

  [[nodiscard]] std::string Space(const std::string& path) const { return m_site.BaseUrl() + path; }

  // Presses 按钮_解析下载 with the text in the box and waits for the worker.
  std::vector<Row> AddLink(const std::string& text) {
    m_controls.SetText(kTaskLinkBox, text);
    m_jobs.OnAddLinkPressed();
    m_jobs.WaitAll();
    EXPECT_FALSE(m_app.Busy().IsSet(BusyFlag::kLinkAdd));
    return Rows();
  }

  // The rows, each with the record the queue holds for it. Records must come
  // off the queue in row order.
  std::vector<Row> Rows() {
    std::vector<Row> rows;
    TaskList& tasks = m_app.Tasks();
    std::string text;
    int lastRecordRow = 0;
    for (int index = 1; index <= tasks.RowCount(); ++index) {
      Row row;
      row.index = index;
      row.title = tasks.CellText(index, kColTitle);
      row.part = tasks.CellText(index, kColPart);
      row.height = tasks.CellText(index, kColHeight);
      row.state = tasks.CellText(index, kColState);
      EXPECT_EQ(tasks.CellText(index, kColIndex), std::to_string(index));
      if (row.state == kStateWaiting) {
        JsonDocument record;
        EXPECT_TRUE(m_app.TaskQueue().PopText(text) && record.Parse(text)) << index;
        EXPECT_EQ(record.GetValue(record::kRow), std::to_string(index));
        EXPECT_GT(index, lastRecordRow);
        lastRecordRow = index;
        row.bvid = record.GetValue("data.bvid");
        row.cid = record.GetValue(record::kCid);
        row.episode = record.GetValue(record::kEpisode);
        row.split = record.GetValue(record::kSplit);
        row.kind = record.GetValue(record::kStreamKind);
        row.customSource = record.GetValue(record::kCustomSource) == record::kCustomSource;
        // Every added key is a JSON string.
        EXPECT_EQ(record.TypeOf(record::kCid), kJsonString);
      }
      rows.push_back(row);
    }
    EXPECT_EQ(m_app.TaskQueue().Count(), 0);
    m_app.Tasks().Clear();
    return rows;
  }

  std::vector<std::string> Notices() {
    std::vector<std::string> texts;
    for (const NoticeRecord& notice : m_controls.TakeNotices()) {
      texts.push_back(notice.title + ":" + notice.text);
    }
    return texts;
  }

  // Query texts of the requests that reached a path, in order.
  std::vector<std::string> QueriesOf(const std::string& path) const {
    std::vector<std::string> queries;
    for (const auto& request : m_site.Requests()) {
      if (request.path == path) queries.push_back(request.query);
    }
    return queries;
  }

  static std::vector<std::string> Bvids(const std::vector<Row>& rows) {
    std::vector<std::string> bvids;
    for (const Row& row : rows) bvids.push_back(row.bvid);
    return bvids;
  }

  static std::string ListBvid(const std::string& prefix, int k) {
    std::string digits = std::to_string(k);
    return prefix + std::string(7 - digits.size(), '0') + digits;
  }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  AppState m_app{m_controls, AppPaths{m_sandbox.Path()}};
  LinkJobs m_jobs{m_app};
};

TEST_F(AddLinkTest, AVideoOfThreePagesBecomesOneRowPerPage) {
  const auto rows = AddLink("https://www.bilibili.com/video/BV1Mp411T7bb?p=2");
  ASSERT_EQ(rows.size(), 3u);
  const char* parts[] = {"第一集 开始", "第二集/中段", "第三集: 结束"};
  for (int i = 0; i < 3; ++i) {
    const Row& row = rows[static_cast<std::size_t>(i)];
    EXPECT_EQ(row.title, "三集测试视频");
    EXPECT_EQ(row.part, parts[i]);
    EXPECT_EQ(row.height, "720");
    EXPECT_EQ(row.cid, std::to_string(35306865851 + i));
    EXPECT_EQ(row.episode, std::to_string(i + 1));
    EXPECT_EQ(row.split, "假");
    EXPECT_EQ(row.kind, "视频");
    EXPECT_FALSE(row.customSource);
  }
  // Read from the page: the view API was not needed.
  EXPECT_TRUE(QueriesOf("/x/web-interface/view").empty());
  EXPECT_TRUE(Notices().empty());
}

TEST_F(AddLinkTest, SplitTasksTakeTwoAdjacentRowsPerPage) {
  m_controls.SetChecked(kBestQualityCheck, true);
  m_controls.SetText(kCookiesBox, "SESSDATA=x");
  const auto rows = AddLink("BV1Mp411T7bb");
  ASSERT_EQ(rows.size(), 6u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const bool video = i % 2 == 0;
    EXPECT_EQ(rows[i].kind, video ? "视频" : "音频");
    EXPECT_EQ(rows[i].title, video ? "视频:三集测试视频" : "音频:三集测试视频");
    EXPECT_EQ(rows[i].episode, std::to_string(i / 2 + 1));
    EXPECT_EQ(rows[i].split, "真");
  }
  // Without the cookie the box alone does not split.
  m_controls.SetText(kCookiesBox, "");
  EXPECT_EQ(AddLink("BV1Mp411T7bb").size(), 3u);
}

TEST_F(AddLinkTest, AVideoThePageDoesNotDescribeIsReadFromTheViewApi) {
  struct Case {
    std::string link;
    std::string viewQuery;  // empty: the page was enough
    std::string title;
  };
  const Case cases[] = {
      {"BV1Ob411V7dd", "bvid=BV1Ob411V7dd", "页面数据不符的视频"},  // another video's state
      {"BV1Ns411F7cc", "bvid=BV1Ns411F7cc", "没有内嵌数据的视频"},  // no state at all
      // A lower-case prefix reaches the identity check unchanged.
      {"bv1Mp411T7bb", "bvid=bv1Mp411T7bb", "三集测试视频"},
      {"BV1Ks411D7aa", "", "单页视频 A一 BC"},
  };
  for (const Case& c : cases) {
    m_site.ClearRequests();
    const auto rows = AddLink(c.link);
    ASSERT_FALSE(rows.empty()) << c.link;
    EXPECT_EQ(rows[0].title, c.title);
    EXPECT_EQ(rows[0].state, kStateWaiting);
    const auto views = QueriesOf("/x/web-interface/view");
    EXPECT_EQ(views, c.viewQuery.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{c.viewQuery})
        << c.link;
  }
}

// The notice says why; the view API answering for another video counts as
// refused too, with nothing more to say.
TEST_F(AddLinkTest, ARefusedVideoLeavesOneFailureRowWithoutRecordAndANotice) {
  struct Case {
    std::string bvid;
    std::string notice;
  };
  const Case cases[] = {
      {.bvid = "BV1Bk411L7ee", .notice = "失败:解析失败：请求被拦截（-412）"},
      {.bvid = "BV1Nf411N7ff", .notice = "失败:解析失败：啥都木有（-404）"},
      {.bvid = "BV1Ns411F7cc", .notice = "失败:解析失败"},
      {.bvid = "BV1Ks411D7aa", .notice = "失败:解析失败：无法连接服务器"},  // the site is down
  };
  fakesite::CannedReply other;
  other.body = GetSiteApi(m_site.BaseUrl() + "/x/web-interface/view?bvid=BV1Ks411D7aa");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bvid);
    if (c.bvid == "BV1Ns411F7cc") m_site.SetCanned("GET", "/x/web-interface/view", other);
    if (c.bvid == "BV1Ks411D7aa") m_site.Stop();
    const auto rows = AddLink(c.bvid);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].title, c.bvid);
    EXPECT_EQ(rows[0].state, "解析失败");
    EXPECT_EQ(Notices(), std::vector<std::string>{c.notice});
  }
}

TEST_F(AddLinkTest, AWholeSpaceIsWalkedFromItsLastPage) {
  // The older call alone shows each page's own query.
  m_site.SetRetired(fakesite::Retired::kNewerCalls);
  const auto rows = AddLink(Space("/20061"));
  EXPECT_EQ(m_controls.Text(kTaskLinkBox), Space("/20061/video?tid=0&keyword=&order=pubdate"));
  ASSERT_EQ(rows.size(), 61u);
  for (int i = 0; i < 61; ++i) {
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].bvid, ListBvid("BV1sa", 61 - i));
  }
  const auto pages = QueriesOf("/x/space/arc/search");
  ASSERT_EQ(pages.size(), 3u);  // page 1 with the count, then pages 2 and 3
  EXPECT_EQ(pages[0], "mid=20061&ps=30&tid=0&keyword=&order=pubdate&jsonp=jsonp");
  EXPECT_EQ(pages[1], "mid=20061&ps=30&tid=0&pn=2&keyword=&order=pubdate&jsonp=jsonp");
  EXPECT_NE(pages[2].find("&pn=3&"), std::string::npos);
  EXPECT_EQ(Notices(), std::vector<std::string>{"完成:任务添加完成"});

  // Exactly 30 videos: page 2 is empty and ends the reading.
  m_site.ClearRequests();
  const auto thirty = AddLink(Space("/20030?spm_id_from=333.999.0.0"));
  ASSERT_EQ(thirty.size(), 30u);
  EXPECT_EQ(thirty.front().bvid, ListBvid("BV1sb", 30));
  const auto thirtyPages = QueriesOf("/x/space/arc/search");
  ASSERT_EQ(thirtyPages.size(), 2u);
  EXPECT_NE(thirtyPages[1].find("&pn=2&"), std::string::npos);
}

// The site's answers with the count of the first page replaced.
class ClaimedCount final : public SiteTransport {
 public:
  explicit ClaimedCount(std::string count) : m_count(std::move(count)) {}
  [[nodiscard]] std::string GetPage(std::string_view url) override { return m_net.GetPage(url); }
  [[nodiscard]] std::string GetApi(std::string_view url) override { return m_net.GetApi(url); }
  [[nodiscard]] ApiReply GetSpaceList(std::string_view url) override {
    ApiReply reply = m_net.GetSpaceList(url);
    const std::string real = "\"ps\":30,\"count\":61}";
    if (const std::size_t at = reply.body.find(real); at != std::string::npos) {
      reply.body.replace(at, real.size(), "\"ps\":30,\"count\":" + m_count + "}");
    }
    return reply;
  }

 private:
  NetTransport m_net;
  std::string m_count;
};

TEST_F(AddLinkTest, AClaimedCountPlansNoMorePagesThanTheSpaceHas) {
  m_site.SetRetired(fakesite::Retired::kNewerCalls);
  for (const std::string count : {"3000000", "1e300", "-1"}) {
    m_site.ClearRequests();
    ClaimedCount transport(count);
    SiteJob job{m_app, transport};
    m_controls.SetText("编辑框_解析下载", Space("/20061/video?tid=0&keyword=&order=pubdate"));
    EnumerateSpaceList(job, ListMode::kWholeSpace);
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 61u) << count;
    EXPECT_EQ(rows.front().bvid, ListBvid("BV1sa", 61)) << count;
    EXPECT_EQ(QueriesOf("/x/space/arc/search").size(), 4u) << count << ": 1, 2, 3 and empty 4";
    EXPECT_EQ(Notices(), std::vector<std::string>{"完成:任务添加完成"}) << count;
  }
}

TEST_F(AddLinkTest, ASpaceIsReadWhicheverGenerationOfCallsIsRetired) {
  const std::string signedPath = "/x/space/wbi/arc/search";
  for (const auto retired : {fakesite::Retired::kOlderCalls, fakesite::Retired::kNewerCalls}) {
    const bool older = retired == fakesite::Retired::kOlderCalls;
    m_site.SetRetired(retired);
    m_site.ClearRequests();
    const auto rows = AddLink(Space("/20061"));
    ASSERT_EQ(rows.size(), 61u) << older;
    EXPECT_EQ(rows.front().bvid, ListBvid("BV1sa", 61));
    EXPECT_EQ(rows.back().bvid, ListBvid("BV1sa", 1));
    EXPECT_EQ(Notices(), std::vector<std::string>{"完成:任务添加完成"});
    // Pages 1, 2, 3; the older call is not asked once the signed one
    // answers.
    const auto used = QueriesOf(older ? signedPath : "/x/space/arc/search");
    ASSERT_EQ(used.size(), 3u) << older;
    if (!older) continue;
    EXPECT_TRUE(QueriesOf("/x/space/arc/search").empty());
    EXPECT_NE(used[1].find("pn=2&"), std::string::npos) << used[1];
    for (const auto& request : m_site.Requests()) {
      if (request.path != signedPath) continue;
      EXPECT_NE(request.query.find("&w_rid="), std::string::npos);
      EXPECT_EQ(request.Header("Origin"), m_site.BaseUrl());
      EXPECT_EQ(request.Header("Referer"), m_site.BaseUrl() + "/");
      EXPECT_NE(request.Header("Cookie").find("buvid3="), std::string::npos);
    }
  }
}

TEST_F(AddLinkTest, AnUnreadableVideoIsCountedAndTheRestAdded) {
  // Video 60 of the space, and video 3 of the folder, are gone.
  m_site.SetUnreadable(ListBvid("BV1sa", 60));
  m_site.SetUnreadable(ListBvid("BV1fa", 3));

  const auto space = AddLink(Space("/20061"));
  ASSERT_EQ(space.size(), 61u);
  EXPECT_EQ(space[1].state, "解析失败");
  EXPECT_EQ(space[2].bvid, ListBvid("BV1sa", 59));
  EXPECT_EQ(space.back().bvid, ListBvid("BV1sa", 1));
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:任务添加完成，1 个视频解析失败"});

  const auto folder = AddLink(Space("/7/favlist?fid=30045"));
  ASSERT_EQ(folder.size(), 45u);
  EXPECT_EQ(folder[2].state, "解析失败");
  EXPECT_EQ(folder[3].bvid, ListBvid("BV1fa", 4));
  EXPECT_EQ(folder.back().bvid, ListBvid("BV1fa", 45));
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:任务添加完成，1 个视频解析失败"});
}

TEST_F(AddLinkTest, ListsFilteredByLinkAddOnlyTheirPage) {
  m_site.SetRetired(fakesite::Retired::kNewerCalls);
  // Type 21 and a keyword every title has: 100 matches, page 3 holds 61..90.
  const auto filtered = AddLink(Space("/20200/video?tid=21&page=3&keyword=UP&order=pubdate"));
  ASSERT_EQ(filtered.size(), 30u);
  EXPECT_EQ(filtered.front().bvid, ListBvid("BV1sc", 179));
  EXPECT_EQ(filtered.back().bvid, ListBvid("BV1sc", 121));
  EXPECT_EQ(
      QueriesOf("/x/space/arc/search"),
      std::vector<std::string>{"mid=20200&ps=30&tid=21&pn=3&keyword=UP&order=pubdate&jsonp=jsonp"});
  EXPECT_EQ(Notices(), std::vector<std::string>{"完成:任务添加完成"});

  // A search without page= keeps the site's first page: 第1 is in 11 titles.
  m_site.ClearRequests();
  const auto search = AddLink(Space("/20061/search/video?keyword=%E7%AC%AC1"));
  ASSERT_EQ(search.size(), 11u);
  EXPECT_EQ(search.front().bvid, ListBvid("BV1sa", 19));
  EXPECT_EQ(search.back().bvid, ListBvid("BV1sa", 1));
  EXPECT_EQ(QueriesOf("/x/space/arc/search"),
            std::vector<std::string>{"mid=20061&ps=30&keyword=%E7%AC%AC1&jsonp=jsonp"});
}

TEST_F(AddLinkTest, AFavouritesFolderIsReadUntilAnEmptyPage) {
  const auto rows = AddLink(Space("/7/favlist?fid=30045&ftype=create"));
  ASSERT_EQ(rows.size(), 45u);
  for (int i = 0; i < 45; ++i) {
    EXPECT_EQ(rows[static_cast<std::size_t>(i)].bvid, ListBvid("BV1fa", i + 1));
  }
  const auto pages = QueriesOf("/x/v3/fav/resource/list");
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(pages[3], "media_id=30045&pn=4&ps=20&keyword=&order=mtime&type=0&tid=0&platform=web");
  EXPECT_EQ(Notices(), std::vector<std::string>{"完成:任添加收藏夹完成"});
}

TEST_F(AddLinkTest, AListTheSiteRefusesIsReportedNotCompleted) {
  m_site.SetRetired(fakesite::Retired::kNewerCalls);
  m_site.SetFault("/x/space/arc/search", fakesite::Fault::ApiCode(-799));
  EXPECT_TRUE(AddLink(Space("/20061")).empty());
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:读取列表失败：fault -799（-799）"});
  // Both generations refused, one by the risk control: that one is named.
  m_site.SetRetired(fakesite::Retired::kOlderCalls);
  m_site.SetFault("/x/space/wbi/arc/search", fakesite::Fault::ApiCode(-352));
  EXPECT_TRUE(AddLink(Space("/20061")).empty());
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:被风控拦截，请登录后重试"});
  m_site.SetFault("/x/v3/fav/resource/list", fakesite::Fault::Status(500));
  EXPECT_TRUE(AddLink(Space("/7/favlist?fid=30045")).empty());
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:读取列表失败"});
  // A folder's refusals read as a space list's.
  m_site.SetFault("/x/v3/fav/resource/list", fakesite::Fault::ApiCode(-799));
  EXPECT_TRUE(AddLink(Space("/7/favlist?fid=30045")).empty());
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:读取列表失败：fault -799（-799）"});
  m_site.SetFault("/x/v3/fav/resource/list", fakesite::Fault::ApiCode(-352));
  EXPECT_TRUE(AddLink(Space("/7/favlist?fid=30045")).empty());
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:被风控拦截，请登录后重试"});
}

TEST_F(AddLinkTest, ALinkOfNoKnownFormIsRefused) {
  EXPECT_TRUE(AddLink("https://www.bilibili.com/video/av170001").empty());
  EXPECT_TRUE(AddLink(Space("/20061/dynamic")).empty());
  EXPECT_EQ(Notices(), (std::vector<std::string>{"失败:无法解析链接", "失败:无法解析链接"}));
  // A filtered list on another host is not requested at all.
  EXPECT_TRUE(AddLink("https://example.invalid/1/video?tid=0&keyword=").empty());
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:读取列表失败"});
  EXPECT_TRUE(m_site.Requests().empty());
}

TEST_F(AddLinkTest, ASecondPressWhileAddingIsTurnedAway) {
  m_site.SetFault("/video/", fakesite::Fault::Delay(300));
  m_controls.SetText(kTaskLinkBox, "BV1Ks411D7aa");
  m_jobs.OnAddLinkPressed();
  m_jobs.OnAddLinkPressed();
  m_jobs.WaitAll();
  EXPECT_EQ(Notices(), std::vector<std::string>{"失败:请稍后再添加"});
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_FALSE(m_app.Busy().IsSet(BusyFlag::kLinkAdd));
}

TEST_F(AddLinkTest, TheDetailsPanelAddsItsVideoSplitWithTheChosenSource) {
  m_controls.SetText(kDetailsLinkBox, "https://www.bilibili.com/video/BV1Ks411D7aa/");
  m_jobs.OnAddFromDetailsPressed();
  m_jobs.WaitAll();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].kind, "视频");
  EXPECT_EQ(rows[1].kind, "音频");
  EXPECT_TRUE(rows[0].customSource && rows[1].customSource);

  m_controls.SetText(kDetailsLinkBox, "no video here");
  m_jobs.OnAddFromDetailsPressed();
  m_jobs.WaitAll();
  EXPECT_TRUE(Rows().empty());
}

}  // namespace
}  // namespace korvid
