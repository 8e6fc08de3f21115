#include "library/library_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "app/file_helpers.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/sandbox.h"

namespace korvid {
namespace {
namespace fs = std::filesystem;

template <typename Paths>
std::vector<std::string> Relative(const Paths& paths, const fs::path& base) {
  std::vector<std::string> names;
  for (const auto& path : paths) names.push_back(fs::path(path).lexically_relative(base).string());
  return names;
}

std::string Nfo(const std::string& title, const std::string& extra = {}) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<tvshow>\n  <title>" + title +
         "</title>\n  <plot>" + extra + "</plot>\n</tvshow>\n";
}

TEST(LibraryScan, KeywordIgnoresLatinCaseAndOnlyTheNameEndCounts) {
  test::Sandbox box;
  ASSERT_TRUE(box.WriteFile("一/tvshow.nfo", Nfo("一", "has ABC inside")));
  ASSERT_TRUE(box.WriteFile("二/tvshow.nfo", Nfo("二 abc")));
  ASSERT_TRUE(box.WriteFile("三/sub/mytvshow.nfo", Nfo("三", "Abc")));
  ASSERT_TRUE(box.WriteFile("四/tvshow.nfo", Nfo("四", "ab c")));
  ASSERT_TRUE(box.WriteFile("五/episode.nfo", Nfo("五", "abc")));
  ASSERT_TRUE(box.WriteFile("六/TVSHOW.NFO", Nfo("六", "abc")));

  auto sorted = [&](std::string_view keyword) {
    auto names = Relative(ScanLibrary(box.Path(), keyword), box.Path());
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(sorted("abc"),
            (std::vector<std::string>{"一/tvshow.nfo", "三/sub/mytvshow.nfo", "二/tvshow.nfo"}));
  EXPECT_EQ(sorted("").size(), 4U);
  EXPECT_TRUE(sorted("不存在").empty());
}

TEST(LibraryScan, TimeTextsTitlesAndFirstEpisode) {
  for (const auto& [ms, text] :
       std::vector<std::pair<std::int64_t, std::string>>{{6400, "耗时：6秒"},
                                                         {1200, "耗时：1200毫秒"},
                                                         {4999, "耗时：4999毫秒"},
                                                         {5000, "耗时：5秒"},
                                                         {0, "耗时：0毫秒"}}) {
    EXPECT_EQ(ElapsedText(ms), text) << ms;
  }
  EXPECT_EQ(ScanDoneText(3, 1200), "加载3个视频,耗时：1200毫秒");

  EXPECT_EQ(NfoTitle(Nfo("A &amp; B &lt;3&gt;")), "A & B <3>");
  EXPECT_EQ(NfoTitle("<tvshow><plot>x</plot></tvshow>"), "");

  test::Sandbox box;
  ASSERT_TRUE(box.WriteFile("v/标题S1E10.mp4", ""));
  ASSERT_TRUE(box.WriteFile("v/标题S1E1.mp4.视频", ""));
  EXPECT_EQ(FindFirstEpisode(box / "v"), box / "v" / "标题S1E10.mp4");
  ASSERT_TRUE(box.WriteFile("v/标题S1E1.mp4", ""));
  EXPECT_EQ(FindFirstEpisode(box / "v"), box / "v" / "标题S1E1.mp4");
  EXPECT_EQ(FindFirstEpisode(box / "nothing"), std::nullopt);
}

class LibraryBrowserTest : public ::testing::Test {
 protected:
  LibraryBrowserTest() {
    CreateMainWindowControls(controls);
    fs::create_directories(paths.DownloadFolder());
  }

  // Each reading of the clock is 6.4 s after the last.
  std::int64_t Tick() { return m_now += 6400; }

  test::Sandbox box;
  ControlStore controls;
  AppPaths paths{box / "程序"};
  AppState state{controls, paths};
  std::int64_t m_now = 0;
  LibraryBrowser browser{state, [this] { return Tick(); }};
};

TEST_F(LibraryBrowserTest, CancelledPickerScansTheDownloadFolderAndReportsTheTime) {
  ASSERT_TRUE(box.WriteFile("程序/下载/视频一/tvshow.nfo", Nfo("视频一")));
  ASSERT_TRUE(box.WriteFile("别处/视频二/tvshow.nfo", Nfo("视频二")));
  controls.SetText(kLibraryFolderBox, (box / "别处").string());
  std::vector<std::size_t> published;
  browser.SetListListener([&](auto list) { published.push_back(list->size()); });

  ASSERT_TRUE(browser.ChooseFolderAndScan());  // the scripted picker answers "" (cancel)
  browser.WaitForScan();

  EXPECT_EQ(controls.Scripted().PickerTitles(),
            std::vector<std::string>{std::string(kLibraryPickerTitle)});
  EXPECT_EQ(controls.Text(kLibraryFolderBox), "");
  ASSERT_EQ(browser.Entries()->size(), 1U);
  EXPECT_EQ(browser.Entries()->front(),
            (paths.DownloadFolder() / "视频一" / "tvshow.nfo").string());
  EXPECT_EQ(published, (std::vector<std::size_t>{0, 1}));
  const auto captions = controls.CaptionHistory();
  ASSERT_GE(captions.size(), 2U);
  EXPECT_EQ(captions[captions.size() - 2], "Korvid - 正在加载目录...");
  EXPECT_EQ(captions.back(), "Korvid - 加载1个视频,耗时：6秒");
  EXPECT_FALSE(state.Busy().IsSet(BusyFlag::kLibraryScan));

  // A chosen folder is kept and scanned.
  controls.Scripted().QueueFolderAnswer((box / "别处").string());
  ASSERT_TRUE(browser.ChooseFolderAndScan());
  browser.WaitForScan();
  EXPECT_EQ(browser.Entries()->front(), (box / "别处" / "视频二" / "tvshow.nfo").string());
}

TEST_F(LibraryBrowserTest, SecondStartWhileScanningIsRefused) {
  state.Busy()[BusyFlag::kLibraryScan] = 1;
  EXPECT_FALSE(browser.StartScan());
  ASSERT_EQ(controls.NoticeHistory().size(), 1U);
  EXPECT_EQ(controls.NoticeHistory()[0].text, "正在加载文件列表");
  EXPECT_EQ(controls.NoticeHistory()[0].title, "失败");
  EXPECT_TRUE(controls.CaptionHistory().empty());
}

TEST_F(LibraryBrowserTest, FileMenuPlaysTheFirstEpisodeAndOpensTheFolder) {
  ASSERT_TRUE(box.WriteFile("程序/下载/甲/tvshow.nfo", Nfo("甲")));
  ASSERT_TRUE(box.WriteFile("程序/下载/甲/甲S1E1.mp4", ""));
  ASSERT_TRUE(browser.StartScan());
  browser.WaitForScan();
  const fs::path folder = paths.DownloadFolder() / "甲";

  EXPECT_TRUE(browser.PlayVideo(0));
  EXPECT_TRUE(browser.OpenFolder(0));
  EXPECT_EQ(controls.Scripted().OpenedPaths(),
            (std::vector<std::string>{(folder / "甲S1E1.mp4").string(), folder.string()}));

  fs::remove(folder / "甲S1E1.mp4");
  EXPECT_FALSE(browser.PlayVideo(0));
  EXPECT_FALSE(browser.OpenFolder(7));  // an entry of a list since replaced
  ASSERT_EQ(controls.NoticeHistory().size(), 1U);
  EXPECT_EQ(controls.NoticeHistory()[0].text, "没有找到视频文件");
  EXPECT_EQ(controls.Scripted().OpenedPaths().size(), 2U);
}

}  // namespace
}  // namespace korvid
