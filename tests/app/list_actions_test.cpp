#include "app/list_actions.h"

#include <gtest/gtest.h>

#include <optional>

#include "app/action_thread.h"
#include "app/menus.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

class ListActionsTest : public ::testing::Test {
 protected:
  ListActionsTest() : state(store, AppPaths{sandbox / "program"}) {
    CreateMainWindowControls(store);
  }

  // A row as the download leaves it: the record with its media path in
  // column 0 (or no record when path is nothing: the download never started).
  int AddRow(std::optional<std::string> path, std::string_view bvid = "BV1xx411c7mD") {
    const int row = state.Tasks().AppendRow();
    state.Tasks().SetCellText(row, kColIndex, std::to_string(row));
    if (path) {
      state.Tasks().SetCellText(row, kColRecord,
                                R"({"data":{"bvid":")" + std::string(bvid) +
                                    R"(","title":"测试"},"任务id":")" + std::to_string(row) +
                                    R"(","视频路径":")" + *path + R"("})");
    }
    return row;
  }

  std::string File(const std::string& relative) {
    EXPECT_TRUE(sandbox.WriteFile(relative, "x"));
    return (sandbox / relative).string();
  }

  MenuOutcome Choose(std::string_view menu, std::string_view item, int row,
                     std::string folder = {}) {
    return HandleMenuChoice(state, menu, item, MenuTarget{row, std::move(folder), {}});
  }

  std::vector<std::string> Opened() { return store.Scripted().OpenedPaths(); }
  std::string LastNotice() {
    const auto notices = store.NoticeHistory();
    return notices.empty() ? "" : notices.back().title + "|" + notices.back().text;
  }

  test::Sandbox sandbox;
  ControlStore store;
  AppState state;
};

TEST_F(ListActionsTest, OpenAndPlayFindTheRowsFileOrSayWhyNot) {
  const std::string merged = File("下载/UP/视频 S1E1.mp4");
  const std::string single = File("下载/单P S1E1.mp4");
  const std::string folder = (sandbox / "下载/UP").string();
  struct Case {
    std::string item;
    std::optional<std::string> path;
    std::string opened;  // empty: nothing may be opened
    std::string notice;
  };
  const std::vector<Case> cases = {
      {"播放视频", merged + ".视频", merged, ""},
      {"播放视频", merged + ".音频", merged, ""},
      {"播放视频", single, single, ""},
      {"打开路径", merged + ".音频", folder, ""},
      {"播放视频", std::nullopt, "", "失败|该任务还没有开始下载"},
      {"打开路径", std::nullopt, "", "失败|该任务还没有开始下载"},
      // The merge has not happened: the merged file is not there to play.
      {"播放视频", folder + "/缺 S1E1.mp4.视频", "", "失败|无法打开：" + folder + "/缺 S1E1.mp4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item + " " + c.path.value_or("(no record)"));
    const int row = AddRow(c.path);
    const std::size_t openedBefore = Opened().size();
    const std::size_t noticesBefore = store.NoticeHistory().size();
    EXPECT_EQ(Choose(kListMenu, c.item, row), MenuOutcome::kDone);
    if (c.opened.empty()) {
      EXPECT_EQ(Opened().size(), openedBefore);
    } else {
      ASSERT_EQ(Opened().size(), openedBefore + 1);
      EXPECT_EQ(Opened().back(), c.opened);
    }
    if (c.notice.empty()) {
      EXPECT_EQ(store.NoticeHistory().size(), noticesBefore);
    } else {
      EXPECT_EQ(LastNotice(), c.notice);
    }
  }
}

TEST_F(ListActionsTest, RedownloadQueuesColumnZeroOnceUntilTheStateChanges) {
  const int row = AddRow("/srv/a S1E1.mp4");
  state.Tasks().SetCellText(row, kColState, "失败下载");
  state.Tasks().SetCellColor(row, kColState, kColorCrimson);
  const std::string record = state.Tasks().CellText(row, kColRecord);

  EXPECT_EQ(Choose(kListMenu, "重新下载", row), MenuOutcome::kDone);
  EXPECT_EQ(state.Tasks().CellText(row, kColState), "重新下载");
  EXPECT_EQ(state.Tasks().CellColor(row, kColState), kColorCrimson);  // colour unchanged
  ASSERT_EQ(state.TaskQueue().Count(), 1);
  // A second press before the row downloads again queues nothing more.
  EXPECT_FALSE(RedownloadRow(state, row));
  std::string queued;
  ASSERT_TRUE(state.TaskQueue().PopText(queued));
  EXPECT_EQ(queued, record);
  EXPECT_EQ(state.TaskQueue().Count(), 0);

  // A row without a record has nothing to queue (an empty record would reach
  // the download worker).
  const int waiting = AddRow(std::nullopt);
  EXPECT_FALSE(RedownloadRow(state, waiting));
  EXPECT_EQ(state.TaskQueue().Count(), 0);
  EXPECT_EQ(state.Tasks().CellText(waiting, kColState), "");
  EXPECT_EQ(LastNotice(), "失败|该任务还没有开始下载");
}

TEST_F(ListActionsTest, ClearIsRefusedWhileAnythingRunsOrWaits) {
  AddRow("/srv/a.mp4");
  AddRow("/srv/b.mp4");
  state.RunningCount() = 1;
  EXPECT_FALSE(ClearTaskList(state));
  state.RunningCount() = 0;
  ASSERT_TRUE(state.TaskQueue().PushText("{}"));
  EXPECT_EQ(Choose(kListMenu, "清空列表", 1), MenuOutcome::kDone);
  EXPECT_EQ(state.Tasks().RowCount(), 2);
  EXPECT_EQ(LastNotice(), "失败|当前有任务在进行");
  EXPECT_EQ(store.NoticeHistory().size(), 2u);

  std::string popped;
  ASSERT_TRUE(state.TaskQueue().PopText(popped));
  EXPECT_TRUE(ClearTaskList(state));
  EXPECT_EQ(state.Tasks().RowCount(), 0);
  EXPECT_EQ(state.Tasks().AppendRow(), 1);
}

TEST_F(ListActionsTest, CopyPutsTheBvidOrTheRecordOnTheClipboard) {
  const int row = AddRow("/srv/a.mp4", "BV1GJ411x7h7");
  EXPECT_EQ(Choose(kListMenu, "复制bv号", row), MenuOutcome::kDone);
  EXPECT_EQ(store.Scripted().ClipboardText(), "BV1GJ411x7h7");
  EXPECT_EQ(LastNotice(), "完成|复制:BV1GJ411x7h7");
  EXPECT_EQ(Choose(kListMenu, "复制json", row), MenuOutcome::kDone);
  EXPECT_EQ(store.Scripted().ClipboardText(), state.Tasks().CellText(row, kColRecord));
  EXPECT_EQ(LastNotice(), "完成|复制json完成");

  const int empty = AddRow(std::nullopt);
  EXPECT_EQ(Choose(kListMenu, "复制json", empty), MenuOutcome::kDone);
  EXPECT_EQ(store.Scripted().ClipboardText(), state.Tasks().CellText(row, kColRecord));
  EXPECT_EQ(LastNotice(), "失败|该任务还没有开始下载");
}

TEST_F(ListActionsTest, FileMenuPlaysTheFirstEpisodeAndOpensTheFolder) {
  const std::string first = File("lib/番剧/第一集 S1E1.mp4");
  File("lib/番剧/第二集 S1E2.mp4");
  File("lib/番剧/半个 S1E1.mp4.音频");
  const std::string folder = (sandbox / "lib/番剧").string();
  EXPECT_EQ(Choose(kFileMenu, "播放视频", 0, folder), MenuOutcome::kDone);
  EXPECT_EQ(Choose(kFileMenu, "打开目录", 0, folder), MenuOutcome::kDone);
  EXPECT_EQ(Opened(), (std::vector<std::string>{first, folder}));

  EXPECT_EQ(Choose(kFileMenu, "播放视频", 0, (sandbox / "lib").string() + "/空"),
            MenuOutcome::kDone);
  EXPECT_EQ(LastNotice(), "失败|文件夹中没有找到视频");
  EXPECT_EQ(Choose(kListMenu, "退出程序", 1), MenuOutcome::kExit);
  EXPECT_EQ(Choose(kExitMenu, "退出程序", 0), MenuOutcome::kExit);
  EXPECT_EQ(Choose(kFileMenu, "退出程序", 0), MenuOutcome::kUnknown);
  EXPECT_EQ(Choose("托盘菜单", "打开路径", 1), MenuOutcome::kUnknown);
}

TEST(ActionThreadTest, RunsJobsInOrderAndSurvivesAFailingOne) {
  std::vector<int> ran;
  {
    ActionThread actions;
    actions.Post([&] { ran.push_back(1); });
    actions.Post([] { throw std::runtime_error("broken action"); });
    actions.Post([&] { ran.push_back(2); });
    actions.Drain();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_TRUE(actions.Idle());
    actions.Post([&] { ran.push_back(3); });
  }  // jobs still waiting run before the thread ends
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace korvid
