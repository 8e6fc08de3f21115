#include "controls/window_layout.h"
#include "controls/control_names.h"

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
      {kComponentTabs, K::TabControl, A::Window, ""},
      {kSettingsTabs, K::TabControl, A::Window, ""},
      {kNoticeBox, K::GroupBox, A::Window, "", {}, -1, false, false},
      {kTickTimer, K::Timer, A::Window, ""},
      {kHotkeyHelper, K::Hidden, A::Window, "", {}, -1, false, false},

      // Task list, link entry and download settings.
      {kTaskList, K::TaskList, A::TaskPage, ""},
      {kTaskLinkBox, K::EditBox, A::TaskPage, ""},
      {kAddLinkButton, K::Button, A::TaskPage, "解析下载"},
      {kDownloadPathLabel, K::Label, A::TaskPage, "默认下载目录"},
      {kDownloadPathBox, K::EditBox, A::TaskPage, ""},
      {kChangeFolderButton, K::Button, A::TaskPage, "更改目录"},
      {kMaxDownloadsLabel, K::Label, A::TaskPage, "下载线程数"},
      {kMaxDownloadsBox, K::EditBox, A::TaskPage, "3"},
      {kMaxDownloadsUpButton, K::Button, A::TaskPage, "+"},
      {kMaxDownloadsDownButton, K::Button, A::TaskPage, "-"},
      {kRateLimitLabel, K::Label, A::TaskPage, "限速"},
      {kRateLimitBox, K::EditBox, A::TaskPage, "0"},
      {kByTypeCheck, K::CheckBox, A::TaskPage, "按分区分文件夹"},
      {kByUploaderCheck, K::CheckBox, A::TaskPage, "按UP主分文件夹"},
      {kBestQualityCheck, K::CheckBox, A::TaskPage, "登录后下载最高画质"},
      {kAiSubtitlesCheck, K::CheckBox, A::TaskPage, "下载AI字幕"},
      {kWholeCollectionCheck, K::CheckBox, A::TaskPage, "解析整个合集"},
      {kExtrasCheck, K::CheckBox, A::TaskPage, "下载番外/PV"},
      {kCodecDrop, K::DropDown, A::TaskPage, "AVC/H.264", CodecItems(), 0},

      // Video details: one video's data, its pages and streams.
      {kDetailsLinkBox, K::EditBox, A::DetailsPage, ""},
      {kLoadDetailsButton, K::Button, A::DetailsPage, "解析视频"},
      {kTitleBox, K::EditBox, A::DetailsPage, ""},
      {kUploaderNameBox, K::EditBox, A::DetailsPage, ""},
      {kUploaderIdBox, K::EditBox, A::DetailsPage, ""},
      {kUploaderFacePicture, K::PictureBox, A::DetailsPage, ""},
      {kCoverPicture, K::PictureBox, A::DetailsPage, ""},
      {kPublishedBox, K::EditBox, A::DetailsPage, ""},
      {kDescriptionBox, K::EditBox, A::DetailsPage, ""},
      {kCategoryBox, K::EditBox, A::DetailsPage, ""},
      {kAidBox, K::EditBox, A::DetailsPage, ""},
      {kCidBox, K::EditBox, A::DetailsPage, ""},
      {kPageCountBox, K::EditBox, A::DetailsPage, ""},
      {kDurationBox, K::EditBox, A::DetailsPage, ""},
      {kLikesLabel, K::Label, A::DetailsPage, "0"},
      {kCoinsLabel, K::Label, A::DetailsPage, "0"},
      {kFavouritesLabel, K::Label, A::DetailsPage, "0"},
      {kSharesLabel, K::Label, A::DetailsPage, "0"},
      {kRepliesLabel, K::Label, A::DetailsPage, "0"},
      {kDanmakuCountLabel, K::Label, A::DetailsPage, "0"},
      {kPartDrop, K::DropDown, A::DetailsPage, ""},
      {kSourceDrop, K::DropDown, A::DetailsPage, ""},
      {kAddFromDetailsButton, K::Button, A::DetailsPage, "下载所选清晰度"},

      // Account.
      {kCookiesBox, K::EditBox, A::AccountPage, ""},
      {kQrLoginButton, K::Button, A::AccountPage, "扫码登录"},
      {kQrPicture, K::PictureBox, A::AccountPage, ""},
      {kCheckLoginButton, K::Button, A::AccountPage, "验证是否登录"},
      {kUserInfoLabel, K::Label, A::AccountPage, "登录状态：未登录"},
      {kUserAvatarPicture, K::PictureBox, A::AccountPage, ""},
      {kVipBadgePicture, K::PictureBox, A::AccountPage, ""},

      // Danmaku.
      {kScrollingSizeBox, K::EditBox, A::DanmakuPage, "20"},
      {kFixedSizeBox, K::EditBox, A::DanmakuPage, "20"},
      {kBlockListBox, K::EditBox, A::DanmakuPage, kDefaultBlockList},
      {kDanmakuStyleBox, K::EditBox, A::DanmakuPage, kDefaultDanmakuStyle},
      {kDefaultStyleButton, K::Button, A::DanmakuPage, "恢复默认样式"},
      {kRefreshDanmakuButton, K::Button, A::DanmakuPage, "刷新文件夹弹幕"},

      // Library browser and Emby.
      {kLibraryFolderBox, K::EditBox, A::LibraryPage, ""},
      {kChooseLibraryButton, K::Button, A::LibraryPage, "选择文件夹"},
      {kKeywordBox, K::EditBox, A::LibraryPage, ""},
      {kScanLibraryButton, K::Button, A::LibraryPage, "加载列表"},
      {kLibraryIconList, K::IconList, A::LibraryPage, ""},
      {kEmbyUrlBox, K::EditBox, A::LibraryPage, ""},
      {kEmbyKeyBox, K::EditBox, A::LibraryPage, ""},
      {kOpenEmbyButton, K::Button, A::LibraryPage, "访问Emby"},
      {kUploadAvatarsButton, K::Button, A::LibraryPage, "上传头像到Emby"},

      // Window behaviour and about.
      {kTrayOnCloseCheck, K::CheckBox, A::SettingsPage, "关闭时最小化到托盘"},
      {kClipboardWatchBox, K::CheckBox, A::SettingsPage, "监控剪贴板中的BV号"},
      {kHotkeyLabel, K::Label, A::SettingsPage, "呼出快捷键"},
      {kHotkeyDrop, K::DropDown, A::SettingsPage, "F9", HotkeyItems(), kDefaultHotkeyIndex},
      {kVersionLabel, K::Label, A::SettingsPage, "当前版本: 0.1.1"},
      {kAboutLabel, K::Label, A::SettingsPage,
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
