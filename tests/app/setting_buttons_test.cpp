#include "app/setting_buttons.h"

#include <gtest/gtest.h>

#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"

namespace korvid {
namespace {

class SettingButtonsTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateMainWindowControls(controls); }

  std::string StepFrom(std::string_view text, int delta) {
    controls.SetText(kMaxDownloadsBox, text);
    StepMaxThreads(controls, delta);
    return controls.Text(kMaxDownloadsBox);
  }

  ControlStore controls;
};

TEST_F(SettingButtonsTest, MaxThreadsStepsWithinOneToTen) {
  EXPECT_EQ(StepFrom("9", +1), "10");
  EXPECT_EQ(StepFrom("10", +1), "10");
  EXPECT_EQ(StepFrom("2", -1), "1");
  EXPECT_EQ(StepFrom("1", -1), "1");
  EXPECT_EQ(StepFrom("0", -1), "1");
  EXPECT_EQ(StepFrom("-5", +1), "1");
  EXPECT_EQ(StepFrom("25", -1), "10");
}

TEST_F(SettingButtonsTest, MaxThreadsTextThatIsNoNumberCountsAsZero) {
  EXPECT_EQ(StepFrom("", +1), "1");
  EXPECT_EQ(StepFrom("abc", +1), "1");
  EXPECT_EQ(StepFrom(" 4x", +1), "5");
  EXPECT_EQ(StepFrom("99999999999999999999999", -1), "10");
}

TEST_F(SettingButtonsTest, DefaultDanmakuStyleReplacesAnEditedOne) {
  controls.SetText(kDanmakuStyleBox, "Style: mine");
  RestoreDefaultDanmakuStyle(controls);
  EXPECT_EQ(controls.Text(kDanmakuStyleBox), kDefaultDanmakuStyle);
  EXPECT_NE(controls.Text(kDanmakuStyleBox).find("R2L,黑体,大小参数,"), std::string::npos);
}

TEST_F(SettingButtonsTest, DownloadFolderIsPickedFromTheOneInEffectAndOpened) {
  int saves = 0;
  const auto save = [&] {
    ++saves;
    EXPECT_EQ(controls.Text(kDownloadPathBox), "/srv/视频");  // saved after the change
  };
  controls.Scripted().QueueFolderAnswer("/srv/视频");
  EXPECT_TRUE(ChangeDownloadFolder(controls, "/opt/korvid/下载", save));
  EXPECT_FALSE(ChangeDownloadFolder(controls, "/opt/korvid/下载", save));  // cancelled
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(controls.Text(kDownloadPathBox), "/srv/视频");
  EXPECT_EQ(controls.Scripted().PickerTitles(),
            (std::vector<std::string>{"选择下载目录", "选择下载目录"}));
  EXPECT_EQ(controls.Scripted().PickerStartFolders(),
            (std::vector<std::string>{"/opt/korvid/下载", "/srv/视频"}));

  OpenDownloadFolder(controls, "/opt/korvid/下载");
  controls.SetText(kDownloadPathBox, "");
  controls.Scripted().SetOpenResult(false);
  OpenDownloadFolder(controls, "/opt/korvid/下载");
  EXPECT_EQ(controls.Scripted().OpenedPaths(),
            (std::vector<std::string>{"/srv/视频", "/opt/korvid/下载"}));
  ASSERT_EQ(controls.NoticeHistory().size(), 1u);
  EXPECT_EQ(controls.NoticeHistory()[0].text, "无法打开：/opt/korvid/下载");
}

}  // namespace
}  // namespace korvid
