// Collections, series, watch later and licensed works pasted into the link
// box, against the fake site: the rows they queue, in the source's order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/tasks/task_record.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "net/json_document.h"
#include "site/classify_link.h"
#include "site/link_jobs.h"
#include "site/site_transport.h"
#include "site/source_lists.h"
#include "support/fake_site_test.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using Texts = std::vector<std::string>;

std::string ListBvid(const std::string& prefix, int k) {
  const std::string digits = std::to_string(k);
  return prefix + std::string(7 - digits.size(), '0') + digits;
}

Texts ListBvids(const std::string& prefix, int first, int last) {
  Texts bvids;
  const int step = first <= last ? 1 : -1;
  for (int k = first; k != last + step; k += step) bvids.push_back(ListBvid(prefix, k));
  return bvids;
}

Texts Joined(Texts a, const Texts& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class SourceLinkTest : public test::FakeSiteTest {
 protected:
  SourceLinkTest() { CreateMainWindowControls(m_controls); }

  // Presses 按钮_解析下载 and returns each row's video: its BV id, or "ep" +
  // ep_id for a licensed work's episode; "!" + title for a failure row.
  Texts AddLink(const std::string& text) {
    m_controls.SetText(kTaskLinkBox, text);
    m_jobs.OnAddLinkPressed();
    m_jobs.WaitAll();
    Texts rows;
    std::string recordText;
    for (int row = 1; row <= m_app.Tasks().RowCount(); ++row) {
      if (m_app.Tasks().CellText(row, kColState) != kStateWaiting) {
        rows.push_back("!" + m_app.Tasks().CellText(row, kColTitle));
        continue;
      }
      JsonDocument record;
      EXPECT_TRUE(m_app.TaskQueue().PopText(recordText) && record.Parse(recordText));
      const std::string ep = record.GetValue(std::string(record::kLicensedEpisode) + ".ep_id");
      rows.push_back(ep.empty() ? record.GetValue("data.bvid") : "ep" + ep);
    }
    m_app.Tasks().Clear();
    return rows;
  }

  Texts NoticeTexts() {
    Texts texts;
    for (const NoticeRecord& notice : m_controls.TakeNotices()) texts.push_back(notice.text);
    return texts;
  }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  AppState m_app{m_controls, AppPaths{m_sandbox.Path()}};
  LinkJobs m_jobs{m_app};
};

TEST_F(SourceLinkTest, EachSourceQueuesItsVideosInItsOwnOrder) {
  const std::string base = m_site.BaseUrl();
  const Texts threePages = {"BV1Mp411T7bb", "BV1Mp411T7bb", "BV1Mp411T7bb"};
  const Texts mainEpisodes = {"ep606591", "ep606592", "ep606605"};
  struct Case {
    std::string name;
    std::string link;
    bool loggedIn = false;
    bool wholeCollection = false;
    bool extras = false;
    Texts rows;
    std::string notice;
    std::string path;  // the call the source is read with
    int calls = 0;     // how many times
  };
  const Case cases[] = {
      {.name = "collection of two pages",
       .link = base + "/20061/channel/collectiondetail?sid=1227671",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = ListBvids("BV1sa", 1, 35),
       .notice = "任务添加完成",
       .path = "/x/polymer/web-space/seasons_archives_list",
       .calls = 2},
      {.name = "series of 25 over two pages, oldest first",
       .link = base + "/20200/lists/534501?type=series",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = ListBvids("BV1sc", 25, 1),
       .notice = "任务添加完成",
       .path = "/x/series/archives",
       .calls = 2},
      {.name = "an unknown collection",
       .link = base + "/20061/lists/99",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = {},
       .notice = "读取列表失败：啥都木有（-404）",
       .path = "/x/polymer/web-space/seasons_archives_list",
       .calls = 1},
      {.name = "watch later without log-in",
       .link = base + "/watchlater/#/list",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = {},
       .notice = std::string(kWatchLaterNeedsLogin),
       .path = "/x/v2/history/toview",
       .calls = 0},
      {.name = "watch later, an entry without cid or page read like a pasted video",
       .link = base + "/list/watchlater?bvid=BV1Ks411D7aa&oid=900000001",
       .loggedIn = true,
       .wholeCollection = false,
       .extras = false,
       .rows = Joined(threePages, {"BV1Ks411D7aa", "BV1sa0000005"}),
       .notice = "任务添加完成",
       .path = "/x/v2/history/toview",
       .calls = 1},
      {.name = "a video of a collection alone",
       .link = "BV1Cs411K7ff",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = {"BV1Cs411K7ff"},
       .notice = "",
       .path = "/x/polymer/web-space/seasons_archives_list",
       .calls = 0},
      {.name = "a video of a collection, every section in order",
       .link = "BV1Cs411K7ff",
       .loggedIn = false,
       .wholeCollection = true,
       .extras = false,
       .rows = {"BV1Cs411K7ff", "BV1sb0000003", "BV1sb0000001", "BV1sb0000002", "BV1sb0000010"},
       .notice = "任务添加完成",
       .path = "",
       .calls = 0},
      {.name = "a video of no collection with the box checked",
       .link = "BV1Ks411D7aa",
       .loggedIn = false,
       .wholeCollection = true,
       .extras = false,
       .rows = {"BV1Ks411D7aa"},
       .notice = "",
       .path = "",
       .calls = 0},
      {.name = "season: the main episodes only",
       .link = base + "/bangumi/play/ss42290",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = mainEpisodes,
       .notice = "番剧添加完成",
       .path = "/pgc/view/web/season",
       .calls = 1},
      {.name = "season with extras",
       .link = base + "/bangumi/play/ss42290",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = true,
       .rows = Joined(mainEpisodes, {"ep576387", "ep606995"}),
       .notice = "番剧添加完成",
       .path = "",
       .calls = 0},
      {.name = "one episode",
       .link = base + "/bangumi/play/ep606592",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = {"ep606592"},
       .notice = "",
       .path = "",
       .calls = 0},
      {.name = "an extra's episode link",
       .link = base + "/bangumi/play/ep576387",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = {"ep576387"},
       .notice = "",
       .path = "",
       .calls = 0},
      {.name = "media to season",
       .link = base + "/bangumi/media/md28339735",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = mainEpisodes,
       .notice = "",
       .path = "/pgc/review/user",
       .calls = 1},
      {.name = "a season the site does not have",
       .link = base + "/bangumi/media/md28220978",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = {},
       .notice = "读取列表失败：啥都木有（-404）",
       .path = "",
       .calls = 0},
      {.name = "a malformed neighbour",
       .link = base + "/bangumi/play/ep12a",
       .loggedIn = false,
       .wholeCollection = false,
       .extras = false,
       .rows = {},
       .notice = "无法解析链接",
       .path = "",
       .calls = 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_site.ClearRequests();
    m_controls.SetText(kCookiesBox, c.loggedIn ? m_site.LoginCookie() : "");
    m_controls.SetChecked(kWholeCollectionCheck, c.wholeCollection);
    m_controls.SetChecked(kExtrasCheck, c.extras);
    EXPECT_EQ(AddLink(c.link), c.rows);
    const Texts notices = NoticeTexts();
    if (c.notice.empty()) {
      EXPECT_TRUE(notices.empty() || notices.back() != "无法解析链接");
    } else {
      EXPECT_EQ(notices.empty() ? "" : notices.back(), c.notice);
    }
    if (!c.path.empty()) {
      EXPECT_EQ(RequestCount(c.path), c.calls);
    }
  }
}

// The same sources read page by page, as a reader that follows them does.
TEST_F(SourceLinkTest, SourcesReadPageByPage) {
  const std::string base = m_site.BaseUrl();
  const SiteHosts hosts = CurrentSiteHosts();
  struct Case {
    std::string name;
    std::string link;
    int page;
    bool extras;
    std::size_t videos;
    Texts epIds;
    int total;
    bool refused;
  };
  const Case cases[] = {
      {.name = "collection, last page",
       .link = base + "/20061/lists/1227671",
       .page = 2,
       .extras = false,
       .videos = 5,
       .epIds = {},
       .total = 35,
       .refused = false},
      {.name = "series, first page",
       .link = base + "/20200/lists/534501?type=series",
       .page = 1,
       .extras = false,
       .videos = 20,
       .epIds = {},
       .total = 25,
       .refused = false},
      {.name = "season by an episode, extras too",
       .link = base + "/bangumi/play/ep606591",
       .page = 1,
       .extras = true,
       .videos = 5,
       .epIds = {"606591", "606592", "606605", "576387", "606995"},
       .total = 5,
       .refused = false},
      {.name = "season has one page",
       .link = base + "/bangumi/play/ss42290",
       .page = 2,
       .extras = false,
       .videos = 0,
       .epIds = {},
       .total = 0,
       .refused = false},
      {.name = "watch later without log-in",
       .link = base + "/watchlater/",
       .page = 1,
       .extras = false,
       .videos = 0,
       .epIds = {},
       .total = 0,
       .refused = true},
      {.name = "a video is no source",
       .link = "BV1Ks411D7aa",
       .page = 1,
       .extras = false,
       .videos = 0,
       .epIds = {},
       .total = 0,
       .refused = true},
  };
  NetTransport transport;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SourcePage page =
        ReadSourcePage(transport, ClassifyLinkText(c.link, hosts), c.page, "", c.extras);
    EXPECT_EQ(page.bvids.size(), c.videos);
    EXPECT_EQ(page.epIds, c.epIds);
    EXPECT_EQ(page.total, c.total);
    EXPECT_EQ(page.refusal.has_value(), c.refused);
  }
}

}  // namespace
}  // namespace korvid
