#include "controls/window_layout.h"

#include <string>

namespace korvid {

namespace {

constexpr std::string_view kDefaultBlockList =
    "1,2,3,4,5,6,7,打卡,再来一遍,再来亿遍,再来一次,每日一遍,好,来了,来了来了,有人吗,卧槽,看看,"
    "又看一遍,芜湖,生日快乐,?,666,999,yyds,YYDS";

// F9 by default: F1 (help), F5 (reload), F11/F12 (full screen, developer tools)
// are taken by many other programs, and the key is grabbed system-wide.
constexpr int kDefaultHotkeyIndex = 8;

std::vector<DropItem> HotkeyItems() {
  std::vector<DropItem> items;
  for (int key = 1; key <= 12; ++key) {
    items.push_back(DropItem{"F" + std::to_string(key), 111 + key});
  }
  return items;
}

// Item values follow the site's codec ids (7 = AVC, 12 = HEVC); only which
// entry is selected matters to the download.
std::vector<DropItem> CodecItems() {
  return {DropItem{"AVC/H.264", 7}, DropItem{"HEVC/H.265", 12}, DropItem{"AV1", 13}};
}

std::vector<ControlSpec> BuildLayout() {
  using K = ControlKind;
  using A = WindowArea;
  std::vector<ControlSpec> layout = {
      // The window itself: tabs, notice box, timer, hotkey helper.
      {"选择夹_组件", K::TabControl, A::Window, ""},
      {"选择夹_设置", K::TabControl, A::Window, ""},
      {"分组框_弹出提示", K::GroupBox, A::Window, "", {}, -1, false, false},
      {"线程时钟", K::Timer, A::Window, ""},
      {"热键标签", K::Hidden, A::Window, "", {}, -1, false, false},

      // Task list, link entry and download settings.
      {"超级列表框_下载列表", K::TaskList, A::TaskPage, ""},
      {"编辑框_解析下载", K::EditBox, A::TaskPage, ""},
      {"按钮_解析下载", K::Button, A::TaskPage, "解析下载"},
      {"标签_默认下载目录", K::Label, A::TaskPage, "默认下载目录"},
      {"编辑框_下载路径", K::EditBox, A::TaskPage, ""},
      {"按钮_更改目录", K::Button, A::TaskPage, "更改目录"},
      {"标签_最大线程数", K::Label, A::TaskPage, "下载线程数"},
      {"编辑框_最大线程", K::EditBox, A::TaskPage, "3"},
      {"按钮_最大线程数加", K::Button, A::TaskPage, "+"},
      {"按钮_最大线程数减", K::Button, A::TaskPage, "-"},
      {"选择框_按类型分组", K::CheckBox, A::TaskPage, "按分区分文件夹"},
      {"选择框_按演员分组", K::CheckBox, A::TaskPage, "按UP主分文件夹"},
      {"选择框_默认下载最高画质", K::CheckBox, A::TaskPage, "登录后下载最高画质"},
      {"选择框_下载AI字幕", K::CheckBox, A::TaskPage, "下载AI字幕"},
      {"下拉框_默认编码", K::DropDown, A::TaskPage, "AVC/H.264", CodecItems(), 0},

      // Video details: one video's data, its pages and streams.
      {"编辑框_解析链接", K::EditBox, A::DetailsPage, ""},
      {"按钮_解析链接", K::Button, A::DetailsPage, "解析视频"},
      {"编辑框_视频标题", K::EditBox, A::DetailsPage, ""},
      {"编辑框_UP名", K::EditBox, A::DetailsPage, ""},
      {"编辑框_UPID", K::EditBox, A::DetailsPage, ""},
      {"图片框_up头像", K::PictureBox, A::DetailsPage, ""},
      {"图片框_视频封面", K::PictureBox, A::DetailsPage, ""},
      {"编辑框_发布时间", K::EditBox, A::DetailsPage, ""},
      {"编辑框_视频描述", K::EditBox, A::DetailsPage, ""},
      {"编辑框_视频分区", K::EditBox, A::DetailsPage, ""},
      {"编辑框_AID", K::EditBox, A::DetailsPage, ""},
      {"编辑框_CID", K::EditBox, A::DetailsPage, ""},
      {"编辑框_视频数", K::EditBox, A::DetailsPage, ""},
      {"编辑框_视频时长", K::EditBox, A::DetailsPage, ""},
      {"标签_点赞数", K::Label, A::DetailsPage, "0"},
      {"标签_投币数", K::Label, A::DetailsPage, "0"},
      {"标签_收藏数", K::Label, A::DetailsPage, "0"},
      {"标签_分享数", K::Label, A::DetailsPage, "0"},
      {"标签_评论数", K::Label, A::DetailsPage, "0"},
      {"标签_弹幕数", K::Label, A::DetailsPage, "0"},
      {"下拉框_视频part", K::DropDown, A::DetailsPage, ""},
      {"下拉框_默认下载源", K::DropDown, A::DetailsPage, ""},
      {"按钮_下载4K", K::Button, A::DetailsPage, "下载所选清晰度"},

      // Account.
      {"编辑框_cookies", K::EditBox, A::AccountPage, ""},
      {"按钮_获取二维码", K::Button, A::AccountPage, "扫码登录"},
      {"图片框_登录二维码", K::PictureBox, A::AccountPage, ""},
      {"按钮_验证是否登录", K::Button, A::AccountPage, "验证是否登录"},
      {"标签_用户信息", K::Label, A::AccountPage, "登录状态：未登录"},
      {"图片框_用户头像", K::PictureBox, A::AccountPage, ""},
      {"窗口EX1", K::PictureBox, A::AccountPage, ""},

      // Danmaku.
      {"编辑框_滚动弹幕大小", K::EditBox, A::DanmakuPage, "20"},
      {"编辑框_固定弹幕大小", K::EditBox, A::DanmakuPage, "20"},
      {"编辑框_屏蔽弹幕", K::EditBox, A::DanmakuPage, kDefaultBlockList},
      {"编辑框_弹幕样式", K::EditBox, A::DanmakuPage, kDefaultDanmakuStyle},
      {"按钮_默认弹幕样式", K::Button, A::DanmakuPage, "恢复默认样式"},
      {"按钮_刷新弹幕", K::Button, A::DanmakuPage, "刷新文件夹弹幕"},

      // Library browser and Emby.
      {"编辑框_文件管理", K::EditBox, A::LibraryPage, ""},
      {"按钮_文件管理", K::Button, A::LibraryPage, "选择文件夹"},
      {"编辑框_关键词", K::EditBox, A::LibraryPage, ""},
      {"按钮_初始化", K::Button, A::LibraryPage, "加载列表"},
      {"图标列表框_文件管理", K::IconList, A::LibraryPage, ""},
      {"编辑框_emby_url", K::EditBox, A::LibraryPage, ""},
      {"编辑框_emby_api", K::EditBox, A::LibraryPage, ""},
      {"按钮_访问emby", K::Button, A::LibraryPage, "访问Emby"},
      {"按钮_上传头像", K::Button, A::LibraryPage, "上传头像到Emby"},

      // Window behaviour and about.
      {"选择框_最小化到托盘", K::CheckBox, A::SettingsPage, "关闭时最小化到托盘"},
      {"选择框_监控剪辑版", K::CheckBox, A::SettingsPage, "监控剪贴板中的BV号"},
      {"标签_呼出快捷键", K::Label, A::SettingsPage, "呼出快捷键"},
      {"下拉框_热键", K::DropDown, A::SettingsPage, "F9", HotkeyItems(), kDefaultHotkeyIndex},
      {"标签_当前版本", K::Label, A::SettingsPage, "当前版本: 0.1.1"},
      {"标签_关于声明", K::Label, A::SettingsPage,
       "本软件免费开源，仅供个人学习与整理家庭媒体库使用，请勿用于商业用途。"
       "下载的内容版权归原作者所有。"},
  };
  return layout;
}

}  // namespace

const std::vector<ControlSpec>& MainWindowLayout() {
  static const std::vector<ControlSpec> layout = BuildLayout();
  return layout;
}

void CreateMainWindowControls(ControlStore& store) {
  for (const ControlSpec& spec : MainWindowLayout()) {
    store.Add(spec.name, spec.kind);
    if (!spec.items.empty()) {
      store.ClearItems(spec.name);
      for (const DropItem& item : spec.items) store.AddItem(spec.name, item);
    }
    if (spec.selected >= 0) store.SelectIndex(spec.name, spec.selected);
    if (!spec.caption.empty() && spec.selected < 0) store.SetText(spec.name, spec.caption);
    if (spec.checked) store.SetChecked(spec.name, true);
    if (!spec.visible) store.SetVisible(spec.name, false);
  }
}

}  // namespace korvid
