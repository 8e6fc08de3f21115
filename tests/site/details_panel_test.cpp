// The video-details panel against the fake site: fields, staff, time zone,
// stream lists per page, avatars, failures, the busy flag and the list lock.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "site/details_loader.h"
#include "site/streams_test_support.h"
#include "site/video_details.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using test::kSomeCookie;

constexpr int kWaitMs = 20000;

// Sets TZ for one scope, so local-time code would show in the results.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (m_old) {
      ::setenv("TZ", m_old->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> m_old;
};

TEST(PanelTextTest, TimeIsUtc8AndDurationDropsLeadingZeros) {
  ScopedTimeZone newYork("America/New_York");
  const std::vector<std::pair<std::int64_t, std::string>> times = {
      {0, "1970-01-01 08:00:00"},
      {1609430400, "2021-01-01 00:00:00"},  // still 2020-12-31 in New York and UTC
      {1700000000, "2023-11-15 06:13:20"},
      {1580377255, "2020-01-30 17:40:55"},
      {-28800, "1970-01-01 00:00:00"},
  };
  for (const auto& [pubdate, text] : times) EXPECT_EQ(PublicationTimeText(pubdate), text);
  const std::vector<std::pair<std::int64_t, std::string>> durations = {
      {3725, "1小时2分5秒"},
      {125, "2分5秒"},
      {5, "5秒"},
      {0, "0秒"},
      {3605, "1小时0分5秒"},
      {60, "1分0秒"},
      {90000, "25小时0分0秒"},
      {-3, "0秒"},
  };
  for (const auto& [seconds, text] : durations) EXPECT_EQ(DurationText(seconds), text);
  EXPECT_EQ(PanelLines("a\nb\r\nc\r"), "a\r\nb\r\nc");
}

class DetailsPanelTest : public test::FakeSiteTest {
 protected:
  void SetUp() override {
    FakeSiteTest::SetUp();
    CreateMainWindowControls(m_controls);
  }

  bool LoadLink(const std::string& link) {
    m_controls.SetText(kDetailsLinkBox, link);
    return m_loader.Load();
  }
  std::vector<std::string> ItemTexts(std::string_view name) const {
    std::vector<std::string> texts;
    for (const DropItem& item : m_controls.Items(name)) texts.push_back(item.text);
    return texts;
  }
  fs::path Avatars() const { return m_state.Paths().AvatarFolder(); }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  AppState m_state{m_controls, AppPaths{m_sandbox.Path()}};
  DetailsLoader m_loader{m_state};
};

TEST_F(DetailsPanelTest, FillsEveryFieldOfAVideoWithTwoStaff) {
  ScopedTimeZone newYork("America/New_York");
  m_controls.SetText(kCookiesBox, kSomeCookie);
  ASSERT_TRUE(LoadLink("看看 https://www.bilibili.com/video/BV117411r7R1?p=1 这个"));
  const std::vector<std::pair<std::string_view, std::string>> expected = {
      {kTitleBox, "当我给拜年祭的快板加了电音配乐…"},
      {kCategoryBox, "原创音乐"},
      {kPageCountBox, "1"},
      {kAidBox, "85440373"},
      {kCidBox, "146044693"},
      {kUploaderNameBox, "陈楒潼桶桶桶/Warma"},
      {kUploaderIdBox, "66606350/53456"},
      {kPublishedBox, "2020-01-30 17:40:55"},
      {kDurationBox, "8分6秒"},
      {kLikesLabel, "161270"},
      {kCoinsLabel, "72793"},
      {kFavouritesLabel, "58329"},
      {kSharesLabel, "9620"},
      {kRepliesLabel, "2676"},
      {kDanmakuCountLabel, "12348"},
  };
  for (const auto& [name, text] : expected) EXPECT_EQ(m_controls.Text(name), text) << name;
  EXPECT_NE(m_controls.Text(kDescriptionBox).find("！！！\r\n【Warma想说的】"), std::string::npos);
  EXPECT_EQ(ItemTexts(kPartDrop).size(), 1U);
  EXPECT_EQ(m_controls.SelectedIndex(kPartDrop), 0);
  // The older recording: hev1 before avc1 at each quality.
  EXPECT_EQ(ItemTexts(kSourceDrop),
            (std::vector<std::string>{"高清 1080P H.265", "高清 1080P H.264", "高清 720P H.265",
                                      "高清 720P H.264", "清晰 480P H.265", "清晰 480P H.264",
                                      "清晰 360P H.265", "清晰 360P H.264"}));
  EXPECT_EQ(m_controls.SelectedValue(kSourceDrop), 1080);
  EXPECT_FALSE(m_controls.Picture(kUploaderFacePicture).empty());
  EXPECT_FALSE(m_controls.Picture(kCoverPicture).empty());
  EXPECT_TRUE(fs::is_regular_file(Avatars() / "陈楒潼桶桶桶.jpg"));
  EXPECT_TRUE(fs::is_regular_file(Avatars() / "Warma.jpg"));
  EXPECT_EQ(m_loader.CurrentVideo().GetValue("data.bvid"), "BV117411r7R1");
  EXPECT_EQ(m_loader.CurrentStreams().GetCount("data.dash.video"), 8);
}

TEST_F(DetailsPanelTest, StaffShownOnlyFromTwoEntriesAndTextsKeepTheirCharacters) {
  ASSERT_TRUE(LoadLink("BV1Ks411D7aa"));  // no staff
  EXPECT_EQ(m_controls.Text(kUploaderNameBox), "测试UP主甲");
  EXPECT_EQ(m_controls.Text(kUploaderIdBox), "70000001");
  EXPECT_EQ(m_controls.Text(kPublishedBox), "2021-01-01 00:00:00");
  EXPECT_EQ(m_controls.Text(kDurationBox), "1小时2分5秒");
  EXPECT_EQ(m_controls.Text(kDescriptionBox), "第一行\r\n第二行");

  ASSERT_TRUE(LoadLink("bv1Av411D7gg"));  // one staff entry: the uploader himself
  EXPECT_EQ(m_controls.Text(kUploaderNameBox), "测试UP主丙:2");
  EXPECT_EQ(m_controls.Text(kUploaderIdBox), "70000003");
  EXPECT_EQ(m_controls.Text(kTitleBox), "编码测试 \"AV1\" 视频");
  EXPECT_EQ(m_controls.Text(kDescriptionBox), "他说\"你好\" C:\\new 不换行\r\n第二行");
  EXPECT_EQ(ItemTexts(kPartDrop), (std::vector<std::string>{"上集", "下集"}));
  // Cleaned without numerals: the colon goes, the digit stays.
  EXPECT_TRUE(fs::is_regular_file(Avatars() / "测试UP主丙2.jpg"));
  // No cookie: the site answers no DASH list.
  EXPECT_TRUE(m_controls.Items(kSourceDrop).empty());
}

TEST_F(DetailsPanelTest, AvatarsAreWrittenOnceAndNeverRefreshed) {
  ASSERT_TRUE(m_sandbox.WriteFile("头像/陈楒潼桶桶桶.jpg", "kept"));
  // A failed fetch writes nothing, so it is tried again next time.
  m_site.SetFault("/img/bfs/face/87c0", fakesite::Fault::Status(404));
  ASSERT_TRUE(LoadLink("BV117411r7R1"));
  EXPECT_EQ(m_sandbox.ReadFile("头像/陈楒潼桶桶桶.jpg"), "kept");
  EXPECT_FALSE(fs::exists(Avatars() / "Warma.jpg"));

  m_site.ClearFaults();
  ASSERT_TRUE(LoadLink("BV117411r7R1"));
  const std::string warma = m_sandbox.ReadFile("头像/Warma.jpg");
  EXPECT_FALSE(warma.empty());
  EXPECT_EQ(m_sandbox.ReadFile("头像/陈楒潼桶桶桶.jpg"), "kept");

  m_site.ClearRequests();
  ASSERT_TRUE(LoadLink("BV117411r7R1"));
  int faceRequests = 0;
  for (const auto& request : m_site.Requests()) {
    faceRequests += request.path.starts_with("/img/bfs/face/87c0") ? 1 : 0;
  }
  EXPECT_EQ(faceRequests, 0);  // on disk now: never fetched again
  EXPECT_EQ(m_sandbox.ReadFile("头像/Warma.jpg"), warma);
}

TEST_F(DetailsPanelTest, UnreadableVideoShowsTheNoticeAndLeavesThePanel) {
  ASSERT_TRUE(LoadLink("BV1Ks411D7aa"));
  for (const char* link : {"no identifier here", "BV1Bk411L7ee", "BV1Nf411N7ff", "BV12345"}) {
    m_controls.TakeNotices();
    EXPECT_FALSE(LoadLink(link)) << link;
    const auto notices = m_controls.TakeNotices();
    ASSERT_EQ(notices.size(), 1U) << link;
    EXPECT_EQ(notices[0].text, "解析失败");
    EXPECT_EQ(notices[0].title, "失败");
    EXPECT_EQ(m_controls.Text(kTitleBox), "单页视频 A-1: B.C  ") << link;
  }
}

TEST_F(DetailsPanelTest, PageChoiceReloadsThatPagesStreams) {
  m_controls.SetText(kCookiesBox, kSomeCookie);
  ASSERT_TRUE(LoadLink("BV1Mp411T7bb"));
  m_site.ClearRequests();
  m_loader.SelectPage(2);
  m_loader.SelectPage(1);
  ASSERT_TRUE(m_loader.WaitIdle(kWaitMs));
  std::vector<std::string> cids;
  for (const auto& request : m_site.Requests()) {
    const std::size_t at = request.query.find("cid=");
    if (request.path == "/x/player/wbi/playurl" && at != std::string::npos) {
      cids.push_back(request.query.substr(at + 4, 11));
    }
  }
  ASSERT_FALSE(cids.empty());
  EXPECT_EQ(cids.back(), "35306865852");  // the last choice wins
  EXPECT_EQ(m_controls.Items(kSourceDrop).size(), 8U);
  EXPECT_FALSE(m_loader.LoadPage(3));  // no such page
}

TEST_F(DetailsPanelTest, WorkerHoldsTheListLockAndTheBusyFlag) {
  m_site.SetFault("/video/", fakesite::Fault::Delay(300));
  m_controls.SetText(kDetailsLinkBox, "BV1Ks411D7aa");
  {
    // The starter never waits for the list lock, even when it is held.
    std::lock_guard held(m_state.ListLock());
    ASSERT_TRUE(m_loader.Start());
    EXPECT_FALSE(m_loader.Start());  // one load at a time
  }
  ASSERT_TRUE(test::WaitFor([&] { return m_site.Requests().size() > 0; }, kWaitMs));
  // Held by the worker across the request: no task rows meanwhile.
  Lock listLock = m_state.ListLock();
  EXPECT_FALSE(listLock.TryEnter());
  ASSERT_TRUE(m_loader.WaitIdle(kWaitMs));
  EXPECT_FALSE(m_state.Busy().IsSet(BusyFlag::kDetails));
  ASSERT_TRUE(listLock.TryEnter());
  listLock.Leave();
  EXPECT_EQ(m_controls.Text(kAidBox), "900000001");
}

}  // namespace
}  // namespace korvid
