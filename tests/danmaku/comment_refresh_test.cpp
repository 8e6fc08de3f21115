// Fetching comment files and refreshing a folder against the loopback fake site.

#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "danmaku/comment_file.h"
#include "danmaku/danmaku_refresh.h"
#include "net/site_hosts.h"
#include "support/fakesite/fake_site.h"
#include "support/fakesite/site_routes.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::CannedReply;
using fakesite::Fault;

std::string CommentXml(const std::string& text) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><d p=\"3.00000,1,25,16777215,1,0,a,1,11\">" +
         text + "</d></i>";
}

class CommentFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_site.Start());
    m_savedHosts = CurrentSiteHosts();
    SiteHosts hosts;
    hosts.comment = m_site.BaseUrl();
    SetCurrentSiteHosts(hosts);
    CreateMainWindowControls(m_controls);
    m_controls.SetText(kDownloadPathBox, m_sandbox.Path().string());
  }
  void TearDown() override { SetCurrentSiteHosts(m_savedHosts); }

  void ServeComments(const std::string& cid, const std::string& xml) {
    m_site.SetCanned("GET", "/" + cid + ".xml",
                     CannedReply{200, {}, fakesite::DeflateRaw(xml), "text/xml"});
  }
  std::string Read(const std::string& relative) const { return m_sandbox.ReadFile(relative); }

  test::Sandbox m_sandbox;
  fakesite::FakeSite m_site;
  SiteHosts m_savedHosts;
  ControlStore m_controls;
};

TEST_F(CommentFileTest, WritesTheSubtitleAndTheXmlBesideIt) {
  ServeComments("123", CommentXml("新的弹幕"));
  const auto ass = m_sandbox / "S1E1.ass";
  const CommentFileResult result = FetchCommentFile(m_controls, "123", "BV1xx", ass);
  EXPECT_EQ(result.state, CommentFileState::kWritten);
  EXPECT_EQ(result.comments, 1);
  EXPECT_NE(Read("S1E1.ass").find("Original Script: [bid_BV1xx],[cid_123]$"), std::string::npos);
  EXPECT_NE(Read("S1E1.ass").find("}新的弹幕"), std::string::npos);
  EXPECT_EQ(Read("S1E1.xml"), CommentXml("新的弹幕"));
  EXPECT_EQ(m_site.Requests().back().path, "/123.xml");
}

TEST_F(CommentFileTest, AFailedFetchWritesNothingAndTheNextOneWrites) {
  m_site.SetFault("/123.xml", Fault::Status(500));
  ASSERT_TRUE(m_sandbox.WriteFile("old.ass", "old subtitle"));
  ASSERT_TRUE(m_sandbox.WriteFile("old.xml", "old comments"));
  EXPECT_EQ(FetchCommentFile(m_controls, "123", "BV1", m_sandbox / "old.ass").state,
            CommentFileState::kKeptExisting);
  EXPECT_EQ(Read("old.ass"), "old subtitle");
  EXPECT_EQ(Read("old.xml"), "old comments");

  const CommentFileResult first = FetchCommentFile(m_controls, "123", "BV1", m_sandbox / "new.ass");
  EXPECT_EQ(first.state, CommentFileState::kFetchFailed);
  EXPECT_FALSE(first.error.empty());
  EXPECT_FALSE(std::filesystem::exists(m_sandbox / "new.ass"));
  EXPECT_FALSE(std::filesystem::exists(m_sandbox / "new.xml"));
  m_site.ClearFaults();
  ServeComments("123", CommentXml("后来的"));
  EXPECT_TRUE(FetchCommentFile(m_controls, "123", "BV1", m_sandbox / "new.ass").Fresh());
  EXPECT_NE(Read("new.ass").find("}后来的"), std::string::npos);

  // Cut short or past the size limit: no document either.
  const std::string packed = fakesite::DeflateRaw(CommentXml(std::string(3000, 'x') + "y"));
  m_site.SetCanned("GET", "/125.xml",
                   CannedReply{200, {}, packed.substr(0, packed.size() / 2), "text/xml"});
  EXPECT_EQ(FetchCommentFile(m_controls, "125", "BV1", m_sandbox / "cut.ass").state,
            CommentFileState::kFetchFailed);
  EXPECT_FALSE(std::filesystem::exists(m_sandbox / "cut.ass"));

  m_site.SetCanned("GET", "/124.xml", CannedReply{200, {}, "<html>error</html>", "text/html"});
  ASSERT_TRUE(m_sandbox.WriteFile("page.ass", "kept"));
  EXPECT_EQ(FetchCommentFile(m_controls, "124", "BV1", m_sandbox / "page.ass").state,
            CommentFileState::kKeptExisting);
  EXPECT_EQ(Read("page.ass"), "kept");
}

TEST_F(CommentFileTest, RefreshRewritesEveryMarkedFileAndCountsThemAll) {
  ServeComments("123", CommentXml("一号"));
  ServeComments("456", CommentXml("二号"));
  ASSERT_TRUE(FetchCommentFile(m_controls, "123", "BV1aa", m_sandbox / "a.ASS").Fresh());
  std::filesystem::create_directories(m_sandbox / "sub");
  ASSERT_TRUE(FetchCommentFile(m_controls, "456", "BV1bb", m_sandbox / "sub/b.ass").Fresh());
  const std::string foreign = "[Script Info]\r\nTitle: made elsewhere\r\n";
  ASSERT_TRUE(m_sandbox.WriteFile("sub/deeper/other.ass", foreign));
  ServeComments("123", CommentXml("一号更新"));
  ServeComments("456", CommentXml("二号更新"));

  AppState state(m_controls, AppPaths{m_sandbox.Path()});
  m_controls.Scripted().QueueFolderAnswer(m_sandbox.Path().string());
  DanmakuRefresher refresher(state);
  ASSERT_TRUE(refresher.Start());
  refresher.Wait();

  EXPECT_EQ(m_controls.Scripted().PickerTitles().back(), kRefreshPickerTitle);
  const auto captions = m_controls.CaptionHistory();
  ASSERT_GE(captions.size(), 2u);
  EXPECT_EQ(captions[captions.size() - 2], "Korvid - 正在刷新影片弹幕...");
  EXPECT_EQ(captions.back(), "Korvid - 共刷新了3部影片弹幕");
  EXPECT_NE(Read("a.ASS").find("}一号更新"), std::string::npos);
  EXPECT_NE(Read("a.ASS").find("[bid_BV1aa],[cid_123]$"), std::string::npos);
  EXPECT_EQ(Read("a.xml"), CommentXml("一号更新"));
  EXPECT_NE(Read("sub/b.ass").find("}二号更新"), std::string::npos);
  EXPECT_EQ(Read("sub/deeper/other.ass"), foreign);
  EXPECT_FALSE(state.Busy().IsSet(BusyFlag::kDanmakuRefresh));
}

TEST_F(CommentFileTest, RefreshDuringANetworkFailureChangesNothing) {
  ServeComments("123", CommentXml("原来的"));
  ASSERT_TRUE(FetchCommentFile(m_controls, "123", "BV1aa", m_sandbox / "a.ass").Fresh());
  const std::string before = Read("a.ass");
  m_site.SetFault("/123.xml", Fault::DropAfter(10));

  std::vector<RefreshProgress> reports;
  const RefreshSummary summary = RefreshAssFiles(
      {m_sandbox / "a.ass"}, m_controls, [&](const RefreshProgress& p) { reports.push_back(p); });
  EXPECT_EQ(summary.failed, 1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, RefreshFileState::kKept);
  EXPECT_EQ(Read("a.ass"), before);
  EXPECT_EQ(Read("a.xml"), CommentXml("原来的"));
}

TEST_F(CommentFileTest, ASecondPressDuringARefreshIsRefused) {
  AppState state(m_controls, AppPaths{m_sandbox.Path()});
  DanmakuRefresher refresher(state);
  state.Busy()[BusyFlag::kDanmakuRefresh] = 1;  // a refresh is running
  EXPECT_FALSE(refresher.Start());
  const auto notices = m_controls.NoticeHistory();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "有刷新任务在进行中...");
  EXPECT_EQ(notices[0].title, "失败");
  EXPECT_TRUE(m_controls.Scripted().PickerTitles().empty());
}

TEST(AssSource, ReadsCidAndBvidFromTheMarkerLine) {
  EXPECT_EQ(ReadAssSource("x\r\nOriginal Script: [bid_BV1xx],[cid_123]$\r\n").cid, "123");
  EXPECT_EQ(ReadAssSource("x\r\nOriginal Script: [bid_BV1xx],[cid_123]$\r\n").bvid, "BV1xx");
  EXPECT_EQ(ReadAssSource("Original Script: 字幕组\r\n[cid_9]\r\n").cid, "");
  EXPECT_EQ(ReadAssSource("[Script Info]\r\nTitle: x\r\n").cid, "");
}

// The refresh needs the marker line only: however many comments a file holds,
// at most its header is read.
TEST(AssSource, OnlyTheHeaderIsRead) {
  test::Sandbox sandbox;
  const std::string header = "[Script Info]\r\nOriginal Script: [bid_BV1xx],[cid_123]$\r\n";
  const std::string events(1 << 20, 'e');
  ASSERT_TRUE(sandbox.WriteFile("a.ass", header + "[Events]\r\n" + events));
  ASSERT_TRUE(sandbox.WriteFile("b.ass", header + events));  // no events section
  ASSERT_TRUE(sandbox.WriteFile("c.ass", std::string(4090, 'x') + "[Events]"));  // across blocks
  EXPECT_EQ(ReadAssHeader(sandbox / "a.ass"), header);
  EXPECT_EQ(ReadAssHeader(sandbox / "b.ass").size(), kAssHeaderLimit);
  EXPECT_EQ(ReadAssSource(ReadAssHeader(sandbox / "b.ass")).cid, "123");
  EXPECT_EQ(ReadAssHeader(sandbox / "c.ass"), std::string(4090, 'x'));
  EXPECT_EQ(ReadAssHeader(sandbox / "missing.ass"), "");
}

}  // namespace
}  // namespace korvid
