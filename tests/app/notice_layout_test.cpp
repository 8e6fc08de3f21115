#include "app/notice_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace korvid {
namespace {

TEST(NoticeLayout, WidthCountsGbkBytes) {
  EXPECT_EQ(NoticeWidth(std::string(19, 'a')), kNoticeNarrowWidth);
  EXPECT_EQ(NoticeWidth(std::string(20, 'a')), kNoticeWideWidth);
  EXPECT_EQ(NoticeWidth("九个汉字九个汉字九a"), kNoticeNarrowWidth);  // 9 x 2 + 1 = 19
  EXPECT_EQ(NoticeWidth("十个汉字十个汉字十个"), kNoticeWideWidth);   // 10 x 2 = 20
  EXPECT_EQ(NoticeWidth(""), kNoticeNarrowWidth);
}

// A long text (a folder path) stays down longer, so it can be read whole.
TEST(NoticeLayout, LongTextsStayLongerUpToACap) {
  struct Case {
    std::string_view name;
    std::string text;
    int dwellMs;
  };
  const std::vector<Case> cases = {
      {.name = "short", .text = "复制json完成", .dwellMs = kNoticeDwellMs},
      {.name = "narrow limit", .text = std::string(19, 'a'), .dwellMs = kNoticeDwellMs},
      {.name = "one byte more",
       .text = std::string(20, 'a'),
       .dwellMs = kNoticeDwellMs + kNoticeDwellPerByteMs},
      {.name = "a path",
       .text = "下载目录不存在，已改用：/home/用户/korvid/下载",
       .dwellMs = kNoticeDwellMs + (46 - 19) * kNoticeDwellPerByteMs},
      {.name = "capped", .text = std::string(500, 'a'), .dwellMs = kNoticeMaxDwellMs},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NoticeDwellMs(c.text), c.dwellMs) << c.name;
  }
  // The layout keeps it down that long.
  NoticeLayout layout(800);
  const int id = layout.Show(std::string(500, 'a'), "失败");
  int down = 0;
  for (int step = 0; step < 1000; ++step) {
    bool atTarget = false;
    for (const NoticeFrame& frame : layout.Advance(kNoticeStepIntervalMs)) {
      atTarget = atTarget || (frame.id == id && frame.visible && frame.top == kNoticeFirstTarget);
    }
    if (!atTarget && down > 0) break;
    down += atTarget ? 1 : 0;
  }
  EXPECT_EQ(down, kNoticeMaxDwellMs / kNoticeStepIntervalMs);
}

// Top edges of one notice, one entry per 25 ms step, until it ends.
std::vector<int> Tops(NoticeLayout& layout, int id) {
  std::vector<int> tops;
  for (int step = 0; step < 1000; ++step) {
    for (const NoticeFrame& frame : layout.Advance(kNoticeStepIntervalMs)) {
      if (frame.id != id) continue;
      if (!frame.visible) return tops;
      tops.push_back(frame.top);
    }
  }
  return tops;
}

TEST(NoticeLayout, SlidesDownStaysAndSlidesBackUp) {
  NoticeLayout layout(800);
  const int id = layout.Show("复制json完成", "完成");
  ASSERT_EQ(layout.Advance(0).size(), 1u);
  EXPECT_EQ(layout.Advance(0)[0].top, 10);
  EXPECT_EQ(layout.Advance(0)[0].left, 800 / 2 - 115);
  EXPECT_EQ(layout.Advance(0)[0].height, 60);

  const std::vector<int> tops = Tops(layout, id);
  const std::vector<int> down{20, 30, 40, 50};
  ASSERT_GE(tops.size(), down.size());
  EXPECT_EQ(std::vector<int>(tops.begin(), tops.begin() + 4), down);
  // Arrived at 50 after 100 ms, then 1,500 ms there (60 steps of 25 ms).
  const auto atTarget = std::count(tops.begin(), tops.end(), 50);
  EXPECT_EQ(atTarget, kNoticeDwellMs / kNoticeStepIntervalMs);
  EXPECT_EQ(tops.size(), 3u + 60u + 3u);
  const std::vector<int> up{40, 30, 20};
  EXPECT_EQ(std::vector<int>(tops.end() - 3, tops.end()), up);
  EXPECT_EQ(layout.OnScreen(), 0);
}

TEST(NoticeLayout, NoticesShownTogetherStack60PxApart) {
  NoticeLayout layout(600);
  const int first = layout.Show("a", "完成");
  layout.Advance(50);
  const int second = layout.Show("当前有任务在进行", "失败");
  EXPECT_EQ(layout.OnScreen(), 2);

  int firstTop = 0;
  int secondTop = 0;
  for (int step = 0; step < 20; ++step) {
    for (const NoticeFrame& frame : layout.Advance(25)) {
      (frame.id == first ? firstTop : secondTop) = frame.top;
    }
  }
  EXPECT_EQ(firstTop, 50);
  EXPECT_EQ(secondTop, 110);
  EXPECT_NE(first, second);

  // Once both have gone, the next one comes to the first place again.
  for (int step = 0; step < 200; ++step) layout.Advance(25);
  EXPECT_EQ(layout.OnScreen(), 0);
  layout.Show("b", "完成");
  for (int step = 0; step < 10; ++step) layout.Advance(25);
  EXPECT_EQ(layout.Advance(0)[0].top, 50);
}

// A text longer than two lines of the wide box gets a taller box, up to a
// cap, and the notice shown next stacks below all of it.
TEST(NoticeLayout, LongTextsGetATallerBoxAndTheNextStacksBelow) {
  struct Case {
    std::string_view name;
    std::string text;
    int height;
  };
  const std::vector<Case> cases = {
      {.name = "short", .text = "解析失败：无法连接服务器", .height = kNoticeHeight},
      {.name = "two lines", .text = std::string(2 * kNoticeBytesPerLine, 'a'), .height = 60},
      {.name = "a third line", .text = std::string(2 * kNoticeBytesPerLine + 1, 'a'), .height = 80},
      {.name = "a long path",
       .text = "无法写入下载目录：/home/用户/一个很长的文件夹名字/又一层文件夹/korvid/下载/番剧",
       .height = 80},
      {.name = "capped", .text = std::string(2000, 'a'), .height = kNoticeMaxHeight},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NoticeHeight(c.text), c.height) << c.name;
  }
  NoticeLayout layout(800);
  const int tall = layout.Show(std::string(2000, 'a'), "失败");
  const int next = layout.Show("b", "完成");
  int tallTop = 0;
  int nextTop = 0;
  int tallHeight = 0;
  for (int step = 0; step < 40; ++step) {
    for (const NoticeFrame& frame : layout.Advance(kNoticeStepIntervalMs)) {
      if (frame.id == tall) {
        tallTop = frame.top;
        tallHeight = frame.height;
      }
      if (frame.id == next) nextTop = frame.top;
    }
  }
  EXPECT_EQ(tallHeight, kNoticeMaxHeight);
  EXPECT_EQ(tallTop, kNoticeFirstTarget);
  EXPECT_EQ(nextTop, kNoticeFirstTarget + kNoticeMaxHeight);
}

TEST(NoticeLayout, TitleChoosesIconAndOthersKeepTheLast) {
  NoticeLayout layout(400);
  EXPECT_EQ(layout.LastIcon(), NoticeIcon::None);
  layout.Show("x", "失败");
  EXPECT_EQ(layout.LastIcon(), NoticeIcon::Failure);
  layout.Show("y", "提示");
  EXPECT_EQ(layout.LastIcon(), NoticeIcon::Failure);
  layout.Show("z", "完成");
  const auto frames = layout.Advance(0);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].icon, NoticeIcon::Failure);
  EXPECT_EQ(frames[1].icon, NoticeIcon::Failure);
  EXPECT_EQ(frames[2].icon, NoticeIcon::Success);
}

}  // namespace
}  // namespace korvid
