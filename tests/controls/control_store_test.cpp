#include "controls/control_store.h"
#include "controls/control_names.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korvid {
namespace {

constexpr int kItemsPerWriter = 200;

class ControlStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.Add(kDownloadPathBox, ControlKind::EditBox);
    store.Add(kByTypeCheck, ControlKind::CheckBox);
    store.Add(kCodecDrop, ControlKind::DropDown);
    store.Add(kUserAvatarPicture, ControlKind::PictureBox);
    store.Add(kCookiesBox, ControlKind::EditBox);
  }
  ControlStore store;
};

TEST_F(ControlStoreTest, NamesByKindInCreationOrderAndUnknownNamesAreLoud) {
  store.Add(kDownloadPathBox, ControlKind::Label);  // second Add ignored
  EXPECT_EQ(store.Names(ControlKind::EditBox),
            (std::vector<std::string>{std::string(kDownloadPathBox), std::string(kCookiesBox)}));
  EXPECT_EQ(store.KindOf(kDownloadPathBox), ControlKind::EditBox);
  EXPECT_TRUE(store.Names(ControlKind::RadioButton).empty());

  // Asking whether a control exists is never a mistake.
  EXPECT_FALSE(store.Has("编辑框_不存在"));
#ifdef NDEBUG
  // A release build carries on: reads are empty, writes are dropped.
  store.SetText("编辑框_不存在", "x");
  store.SetChecked("编辑框_不存在", true);
  EXPECT_EQ(store.Text("编辑框_不存在"), "");
  EXPECT_FALSE(store.Checked("编辑框_不存在"));
  EXPECT_EQ(store.SelectedIndex("编辑框_不存在"), -1);
  EXPECT_TRUE(store.TakeChangedControls().empty());
#else
  // A misspelt name stops a debug build (and every test) at the first use.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(store.SetText("编辑框_不存在", "x"), "unknown control");
  EXPECT_DEATH((void)store.Text("编辑框_不存在"), "unknown control");
  EXPECT_DEATH((void)store.SelectedIndex("编辑框_不存在"), "unknown control");
#endif
}

TEST_F(ControlStoreTest, DropDownSelectionShowsItemTextAndValue) {
  const std::string_view name = kCodecDrop;
  store.AddItem(name, {"AVC/H.264", 7});
  store.AddItem(name, {"HEVC/H.265", 12});
  EXPECT_EQ(store.SelectedIndex(name), -1);
  EXPECT_EQ(store.SelectedValue(name), 0);

  store.SelectIndex(name, 1);
  EXPECT_EQ(store.Text(name), "HEVC/H.265");
  EXPECT_EQ(store.SelectedValue(name), 12);
  store.SelectIndex(name, 5);  // out of range: ignored
  EXPECT_EQ(store.SelectedIndex(name), 1);

  store.ClearItems(name);
  EXPECT_TRUE(store.Items(name).empty());
  EXPECT_EQ(store.SelectedIndex(name), -1);
  EXPECT_EQ(store.SelectedValue(name), 0);
}

TEST_F(ControlStoreTest, ChangesAndNoticesAreTrackedButUserEditsAreNot) {
  int notified = 0;
  store.SetChangeNotifier([&] { ++notified; });
  store.SetText(kDownloadPathBox, "/媒体");
  store.SetChecked(kByTypeCheck, true);
  store.SetPicture(kUserAvatarPicture, {1, 2, 3});
  store.SetCaption("Korvid - 正在下载:1  剩余任务:0");
  store.ShowNotice("复制json完成", "完成");
  EXPECT_EQ(notified, 1);

  EXPECT_EQ(store.TakeChangedControls(),
            (std::set<std::string>{"", std::string(kDownloadPathBox), std::string(kByTypeCheck),
                                   std::string(kUserAvatarPicture)}));
  ASSERT_EQ(store.TakeNotices().size(), 1u);
  EXPECT_TRUE(store.TakeNotices().empty());

  store.SetTextFromUser(kCookiesBox, "SESSDATA=abc");
  store.SetCheckedFromUser(kByTypeCheck, false);
  EXPECT_EQ(store.Text(kCookiesBox), "SESSDATA=abc");
  EXPECT_FALSE(store.Checked(kByTypeCheck));
  EXPECT_TRUE(store.TakeChangedControls().empty());
  EXPECT_EQ(notified, 1);

  store.ShowNotice("当前有任务在进行", "失败");
  EXPECT_EQ(notified, 2);
  const auto history = store.NoticeHistory();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].text, "当前有任务在进行");
  EXPECT_EQ(history[1].title, "失败");
  EXPECT_EQ(store.CaptionHistory(), (std::vector<std::string>{"Korvid - 正在下载:1  剩余任务:0"}));
}

TEST_F(ControlStoreTest, StatusCaption) {
  EXPECT_EQ(store.Caption(), "Korvid");
  SetStatusCaption(store, "正在刷新影片弹幕...");
  EXPECT_EQ(store.Caption(), "Korvid - 正在刷新影片弹幕...");
  SetStatusCaption(store, "");
  EXPECT_EQ(store.Caption(), "Korvid");
}

TEST_F(ControlStoreTest, ConcurrentWritersAndReadersSeeWholeValues) {
  constexpr int kWriters = 4;
  constexpr int kWrites = 2000;
  std::atomic<int> notified{0};
  store.SetChangeNotifier([&] { ++notified; });
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([this, w] {
      const std::string text(64, static_cast<char>('a' + w));
      for (int i = 0; i < kWrites; ++i) {
        store.SetText(kDownloadPathBox, text);
        store.SetChecked(kByTypeCheck, i % 2 == 0);
        if (i < kItemsPerWriter) store.AddItem(kCodecDrop, {text, i});
        store.ShowNotice(text, "完成");
      }
    });
  }
  threads.emplace_back([this, &torn] {
    for (int i = 0; i < kWrites; ++i) {
      const std::string text = store.Text(kDownloadPathBox);
      if (!text.empty() && text != std::string(64, text[0])) ++torn;
      (void)store.Items(kCodecDrop);
      (void)store.TakeChangedControls();
      (void)store.TakeNotices();
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(store.Items(kCodecDrop).size(), static_cast<std::size_t>(kWriters * kItemsPerWriter));
  EXPECT_EQ(store.NoticeHistory().size(), ControlStore::kHistoryLimit);
  EXPECT_GE(notified.load(), 1);
}

TEST(ControlStoreShell, ScriptedUntilTheWindowInstallsItsOwn) {
  ControlStore store;
  store.Scripted().QueueFolderAnswer("/music");
  EXPECT_EQ(store.Shell().PickFolder("选择下载目录", "/"), "/music");
  EXPECT_EQ(store.Shell().PickFolder("选择下载目录", "/"), "");
  store.Shell().SetClipboardText("BV1xx411c7mD");
  EXPECT_EQ(store.Shell().ClipboardText(), "BV1xx411c7mD");

  ScriptedShell window;
  store.SetShell(&window);
  EXPECT_TRUE(store.Shell().Open("/tmp/a.mp4"));
  EXPECT_EQ(window.OpenedPaths(), std::vector<std::string>{"/tmp/a.mp4"});
  EXPECT_TRUE(store.Scripted().OpenedPaths().empty());
}

TEST_F(ControlStoreTest, CaptionAndNoticeListsKeepOnlyTheNewestEntries) {
  constexpr int kMany = 10'000;
  for (int i = 0; i < kMany; ++i) {
    store.SetCaption("tick " + std::to_string(i));
    store.ShowNotice("notice " + std::to_string(i), kNoticeDone);
  }
  const auto captions = store.CaptionHistory();
  const auto history = store.NoticeHistory();
  const auto pending = store.TakeNotices();
  for (std::size_t size : {captions.size(), history.size(), pending.size()}) {
    EXPECT_EQ(size, ControlStore::kHistoryLimit);
  }
  EXPECT_EQ(captions.back(), "tick 9999");
  EXPECT_EQ(history.front().text, "notice " + std::to_string(static_cast<std::size_t>(kMany) -
                                                             ControlStore::kHistoryLimit));
  EXPECT_EQ(pending.back().text, "notice 9999");
  EXPECT_EQ(store.Caption(), "tick 9999");
}

}  // namespace
}  // namespace korvid
