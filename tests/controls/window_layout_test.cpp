#include "controls/window_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace korvid {
namespace {

std::set<std::string> NamesOf(const ControlStore& store, ControlKind kind) {
  auto names = store.Names(kind);
  return {names.begin(), names.end()};
}

class WindowLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateMainWindowControls(store); }
  ControlStore store;
};

// The settings file persists exactly these controls, by kind.
TEST_F(WindowLayoutTest, PersistedControlsMatchTheSettingsLists) {
  EXPECT_EQ(NamesOf(store, ControlKind::EditBox),
            (std::set<std::string>{
                "编辑框_下载路径", "编辑框_最大线程",     "编辑框_cookies",      "编辑框_emby_url",
                "编辑框_emby_api", "编辑框_固定弹幕大小", "编辑框_滚动弹幕大小", "编辑框_弹幕样式",
                "编辑框_屏蔽弹幕", "编辑框_解析下载",     "编辑框_解析链接",     "编辑框_关键词",
                "编辑框_文件管理", "编辑框_视频标题",     "编辑框_UP名",         "编辑框_UPID",
                "编辑框_发布时间", "编辑框_视频描述",     "编辑框_视频分区",     "编辑框_AID",
                "编辑框_CID",      "编辑框_视频数",       "编辑框_视频时长",     "编辑框_限速"}));
  EXPECT_EQ(
      NamesOf(store, ControlKind::CheckBox),
      (std::set<std::string>{"选择框_默认下载最高画质", "选择框_监控剪辑版", "选择框_按演员分组",
                             "选择框_按类型分组", "选择框_最小化到托盘", "选择框_下载AI字幕",
                             "选择框_解析整个合集", "选择框_下载番外PV"}));
  EXPECT_EQ(NamesOf(store, ControlKind::DropDown),
            (std::set<std::string>{"下拉框_热键", "下拉框_默认编码", "下拉框_视频part",
                                   "下拉框_默认下载源"}));
  EXPECT_TRUE(NamesOf(store, ControlKind::RadioButton).empty());
}

TEST_F(WindowLayoutTest, EveryNamedControlOfTheWindowExistsWithItsKind) {
  const std::vector<std::pair<std::string, ControlKind>> expected = {
      {"超级列表框_下载列表", ControlKind::TaskList},
      {"按钮_解析下载", ControlKind::Button},
      {"按钮_更改目录", ControlKind::Button},
      {"标签_默认下载目录", ControlKind::Label},
      {"标签_最大线程数", ControlKind::Label},
      {"按钮_最大线程数加", ControlKind::Button},
      {"按钮_最大线程数减", ControlKind::Button},
      {"按钮_下载4K", ControlKind::Button},
      {"标签_呼出快捷键", ControlKind::Label},
      {"热键标签", ControlKind::Hidden},
      {"线程时钟", ControlKind::Timer},
      {"按钮_解析链接", ControlKind::Button},
      {"图片框_up头像", ControlKind::PictureBox},
      {"图片框_视频封面", ControlKind::PictureBox},
      {"标签_点赞数", ControlKind::Label},
      {"标签_投币数", ControlKind::Label},
      {"标签_收藏数", ControlKind::Label},
      {"标签_分享数", ControlKind::Label},
      {"标签_评论数", ControlKind::Label},
      {"标签_弹幕数", ControlKind::Label},
      {"按钮_获取二维码", ControlKind::Button},
      {"图片框_登录二维码", ControlKind::PictureBox},
      {"按钮_验证是否登录", ControlKind::Button},
      {"标签_用户信息", ControlKind::Label},
      {"图片框_用户头像", ControlKind::PictureBox},
      {"窗口EX1", ControlKind::PictureBox},
      {"按钮_刷新弹幕", ControlKind::Button},
      {"按钮_文件管理", ControlKind::Button},
      {"图标列表框_文件管理", ControlKind::IconList},
      {"按钮_访问emby", ControlKind::Button},
      {"按钮_初始化", ControlKind::Button},
      {"按钮_上传头像", ControlKind::Button},
      {"标签_当前版本", ControlKind::Label},
      {"标签_关于声明", ControlKind::Label},
      {"分组框_弹出提示", ControlKind::GroupBox},
      {"选择夹_组件", ControlKind::TabControl},
      {"选择夹_设置", ControlKind::TabControl},
  };
  for (const auto& [name, kind] : expected) {
    EXPECT_TRUE(store.Has(name)) << name;
    EXPECT_EQ(store.KindOf(name), kind) << name;
  }
}

TEST_F(WindowLayoutTest, NamesAreUniqueAndEveryButtonAndLabelHasACaption) {
  std::set<std::string_view> seen;
  for (const ControlSpec& spec : MainWindowLayout()) {
    EXPECT_TRUE(seen.insert(spec.name).second) << spec.name;
    if (spec.kind == ControlKind::Button || spec.kind == ControlKind::CheckBox) {
      EXPECT_FALSE(spec.caption.empty()) << spec.name;
    }
  }
}

TEST_F(WindowLayoutTest, DesignTimeDefaults) {
  EXPECT_EQ(store.Text("编辑框_滚动弹幕大小"), "20");
  EXPECT_EQ(store.Text("编辑框_固定弹幕大小"), "20");
  EXPECT_EQ(store.Text("编辑框_屏蔽弹幕"),
            "1,2,3,4,5,6,7,打卡,再来一遍,再来亿遍,再来一次,每日一遍,好,来了,来了来了,有人吗,"
            "卧槽,看看,又看一遍,芜湖,生日快乐,?,666,999,yyds,YYDS");
  EXPECT_EQ(store.Text("编辑框_弹幕样式"),
            "Style: R2L,黑体,大小参数,&H80FFFFFF,&H80FFFFFF,&H80000000,&H80000000,0,0,0,0,100,"
            "100,0.00,0.00,1,1.00,0.00,2,30,30,30,0");
  EXPECT_EQ(store.Text("编辑框_最大线程"), "3");
  EXPECT_EQ(store.Text("标签_当前版本"), "当前版本: 0.1.1");
  EXPECT_EQ(store.Text("标签_最大线程数"), "下载线程数");

  const auto codecs = store.Items("下拉框_默认编码");
  ASSERT_EQ(codecs.size(), 3u);
  EXPECT_EQ(codecs[0].text, "AVC/H.264");
  EXPECT_EQ(codecs[1].text, "HEVC/H.265");
  EXPECT_EQ(codecs[2].text, "AV1");
  EXPECT_EQ(codecs[2].value, 13);
  EXPECT_EQ(store.SelectedIndex("下拉框_默认编码"), 0);
  EXPECT_EQ(store.Text("下拉框_默认编码"), "AVC/H.264");

  const auto keys = store.Items("下拉框_热键");
  ASSERT_EQ(keys.size(), 12u);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].text, "F" + std::to_string(i + 1));
    EXPECT_EQ(keys[i].value, static_cast<std::int64_t>(112 + i));
  }
  // The fifth entry is F5: key code 112 + index.
  EXPECT_EQ(keys[4].value, 116);
  const int hotkey = store.SelectedIndex("下拉框_热键");
  ASSERT_GE(hotkey, 0);
  EXPECT_EQ(store.Text("下拉框_热键"), keys[static_cast<std::size_t>(hotkey)].text);

  EXPECT_FALSE(store.Visible("分组框_弹出提示"));
  EXPECT_FALSE(store.Visible("热键标签"));
  EXPECT_TRUE(store.Visible("超级列表框_下载列表"));
  EXPECT_EQ(store.Caption(), "Korvid");
}

}  // namespace
}  // namespace korvid
