// refresh-metadata on a library written by an earlier version, against the
// fake site.

#include "library/metadata_refresh.h"

#include <gtest/gtest.h>

#include <string>

#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/fake_site_test.h"
#include "support/sandbox.h"
#include "xml_leaves.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

// What the previous version left: a <movie> tvshow.nfo with the BV id in <id>
// and the runtime in seconds, media, danmaku and fan art; no episode NFOs.
constexpr char kOldNfo[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<movie>\r\n"
    "  <plot>旧的简介</plot>\r\n  <title>旧标题</title>\r\n  <runtime>486秒</runtime>\r\n"
    "  <id>BV117411r7R1</id>\r\n  <num>BV117411r7R1</num>\r\n</movie>";
constexpr char kOldAssStart[] =
    "[Script Info]\r\nTitle: https://www.bilibili.com/video/,https://comment.bilibili.com/\r\n"
    "Original Script: [bid_";

std::string OldAss(const std::string& bvid, const std::string& cid) {
  return kOldAssStart + bvid + "],[cid_" + cid + "]$\r\nScriptType: v4.00+\r\n\r\n[Events]\r\n";
}

class MetadataRefresh : public test::FakeSiteTest {
 protected:
  void SetUp() override {
    test::FakeSiteTest::SetUp();
    ControlStore controls;
    CreateMainWindowControls(controls);
    m_options.danmaku = ReadDanmakuSettings(controls);
    // One video with its tvshow.nfo, one known only by an ASS header.
    ASSERT_TRUE(m_library.WriteFile("单页/tvshow.nfo", kOldNfo));
    ASSERT_TRUE(m_library.WriteFile("单页/一集S1E1.mp4", "media bytes"));
    ASSERT_TRUE(m_library.WriteFile("单页/一集S1E1.ass", OldAss("BV117411r7R1", "146044693")));
    ASSERT_TRUE(
        m_library.WriteFile("三集/第一集 开始S1E1.ass", OldAss("BV1Mp411T7bb", "35306865851")));
    ASSERT_TRUE(m_library.WriteFile("三集/第二集中段S1E2.mp4", "more media"));
    ASSERT_TRUE(m_library.WriteFile("其他/别的.ass", "[Script Info]\r\n[Events]\r\n"));
  }

  test::Sandbox m_library;
  MetadataRefreshOptions m_options;
};

TEST_F(MetadataRefresh, AddsEpisodeFilesToAnOlderLibraryWithoutTouchingMedia) {
  const std::vector<VideoFolder> folders = FindVideoFolders(m_library.Path());
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0].bvid, "BV117411r7R1");
  EXPECT_EQ(folders[1].bvid, "BV1Mp411T7bb");
  ASSERT_EQ(folders[1].episodes.size(), 2u);

  for (const VideoFolder& folder : folders) {
    const FolderRefresh done = RefreshVideoFolder(folder, m_options, MetadataSources::Site());
    EXPECT_TRUE(done.error.empty()) << done.error;
    EXPECT_EQ(done.nfoLeftAlone, folder.bvid == "BV117411r7R1");
  }
  EXPECT_EQ(m_library.ReadFile("单页/一集S1E1.mp4"), "media bytes");
  EXPECT_EQ(m_library.ReadFile("三集/第二集中段S1E2.mp4"), "more media");
  EXPECT_EQ(m_library.ReadFile("单页/tvshow.nfo"), kOldNfo) << "not ours: kept without --force";
  EXPECT_EQ(m_library.ReadFile("单页/一集S1E1.ass"), OldAss("BV117411r7R1", "146044693"));
  for (const char* written :
       {"单页/一集S1E1.nfo", "单页/poster.jpg", "单页/fanart.jpg", "单页/一集S1E1.zh-CN.srt",
        "三集/tvshow.nfo", "三集/poster.jpg", "三集/第一集 开始S1E1.nfo", "三集/第二集中段S1E2.nfo",
        "三集/第二集中段S1E2.ass", "三集/第二集中段S1E2.xml"}) {
    EXPECT_TRUE(fs::exists(m_library / written)) << written;
  }
  const test::XmlLeaves second = test::ReadXmlLeaves(m_library.ReadFile("三集/第二集中段S1E2.nfo"));
  ASSERT_TRUE(second.wellFormed) << second.error;
  EXPECT_EQ(second.Texts("episodedetails/episode"), std::vector<std::string>{"2"});
  EXPECT_EQ(second.Texts("episodedetails/title"), std::vector<std::string>{"第二集/中段"});
  EXPECT_EQ(second.Texts("episodedetails/uniqueid"),
            (std::vector<std::string>{"BV1Mp411T7bb", "35306865852"}));
  EXPECT_TRUE(IsOurTvshowNfo(m_library.ReadFile("三集/tvshow.nfo")));

  // --force replaces the user's file; a second run then writes nothing new.
  m_options.force = true;
  const FolderRefresh forced = RefreshVideoFolder(folders[0], m_options, MetadataSources::Site());
  ASSERT_EQ(forced.written.size(), 1u);
  EXPECT_EQ(forced.written[0], m_library / "单页/tvshow.nfo");
  EXPECT_TRUE(IsOurTvshowNfo(m_library.ReadFile("单页/tvshow.nfo")));
  EXPECT_TRUE(RefreshVideoFolder(folders[0], m_options, MetadataSources::Site()).written.empty());
  EXPECT_EQ(m_library.ReadFile("单页/一集S1E1.mp4"), "media bytes");
}

TEST_F(MetadataRefresh, AVideoTheSiteDoesNotKnowWritesNothing) {
  VideoFolder unknown{m_library / "单页", "BV1xx411c7XX", {{1, m_library / "单页/一集S1E1"}}};
  const FolderRefresh done = RefreshVideoFolder(unknown, m_options, MetadataSources::Site());
  EXPECT_FALSE(done.error.empty());
  EXPECT_TRUE(done.written.empty());
  EXPECT_FALSE(fs::exists(m_library / "单页/一集S1E1.nfo"));
}

}  // namespace
}  // namespace korvid
