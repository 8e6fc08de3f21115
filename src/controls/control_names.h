#pragma once

#include <string_view>

// The name of every control of the main window, each written once. The names
// are the window's own: the settings file stores values under them and the
// Qt widgets carry them as object names.
namespace korvid {

// The window itself: tabs, notice box, timer, hotkey helper.
inline constexpr std::string_view kComponentTabs = "选择夹_组件";
inline constexpr std::string_view kSettingsTabs = "选择夹_设置";
inline constexpr std::string_view kNoticeBox = "分组框_弹出提示";
inline constexpr std::string_view kTickTimer = "线程时钟";
inline constexpr std::string_view kHotkeyHelper = "热键标签";

// Task list, link entry and download settings.
inline constexpr std::string_view kTaskList = "超级列表框_下载列表";
inline constexpr std::string_view kTaskLinkBox = "编辑框_解析下载";
inline constexpr std::string_view kAddLinkButton = "按钮_解析下载";
inline constexpr std::string_view kDownloadPathLabel = "标签_默认下载目录";
inline constexpr std::string_view kDownloadPathBox = "编辑框_下载路径";
inline constexpr std::string_view kChangeFolderButton = "按钮_更改目录";
inline constexpr std::string_view kMaxDownloadsLabel = "标签_最大线程数";
inline constexpr std::string_view kMaxDownloadsBox = "编辑框_最大线程";
inline constexpr std::string_view kMaxDownloadsUpButton = "按钮_最大线程数加";
inline constexpr std::string_view kMaxDownloadsDownButton = "按钮_最大线程数减";
// 限速: KB/s shared by every running download; 0 or empty is no limit.
inline constexpr std::string_view kRateLimitLabel = "标签_限速";
inline constexpr std::string_view kRateLimitBox = "编辑框_限速";
inline constexpr std::string_view kByTypeCheck = "选择框_按类型分组";
inline constexpr std::string_view kByUploaderCheck = "选择框_按演员分组";
inline constexpr std::string_view kBestQualityCheck = "选择框_默认下载最高画质";
inline constexpr std::string_view kAiSubtitlesCheck = "选择框_下载AI字幕";
// A pasted video of a collection adds the whole collection.
inline constexpr std::string_view kWholeCollectionCheck = "选择框_解析整个合集";
// A licensed work's season adds its extras (番外, PV) beside the main episodes.
inline constexpr std::string_view kExtrasCheck = "选择框_下载番外PV";
inline constexpr std::string_view kCodecDrop = "下拉框_默认编码";

// Video details.
inline constexpr std::string_view kDetailsLinkBox = "编辑框_解析链接";
inline constexpr std::string_view kLoadDetailsButton = "按钮_解析链接";
inline constexpr std::string_view kTitleBox = "编辑框_视频标题";
inline constexpr std::string_view kUploaderNameBox = "编辑框_UP名";
inline constexpr std::string_view kUploaderIdBox = "编辑框_UPID";
inline constexpr std::string_view kUploaderFacePicture = "图片框_up头像";
inline constexpr std::string_view kCoverPicture = "图片框_视频封面";
inline constexpr std::string_view kPublishedBox = "编辑框_发布时间";
inline constexpr std::string_view kDescriptionBox = "编辑框_视频描述";
inline constexpr std::string_view kCategoryBox = "编辑框_视频分区";
inline constexpr std::string_view kAidBox = "编辑框_AID";
inline constexpr std::string_view kCidBox = "编辑框_CID";
inline constexpr std::string_view kPageCountBox = "编辑框_视频数";
inline constexpr std::string_view kDurationBox = "编辑框_视频时长";
inline constexpr std::string_view kLikesLabel = "标签_点赞数";
inline constexpr std::string_view kCoinsLabel = "标签_投币数";
inline constexpr std::string_view kFavouritesLabel = "标签_收藏数";
inline constexpr std::string_view kSharesLabel = "标签_分享数";
inline constexpr std::string_view kRepliesLabel = "标签_评论数";
inline constexpr std::string_view kDanmakuCountLabel = "标签_弹幕数";
inline constexpr std::string_view kPartDrop = "下拉框_视频part";
inline constexpr std::string_view kSourceDrop = "下拉框_默认下载源";
inline constexpr std::string_view kAddFromDetailsButton = "按钮_下载4K";

// Account.
inline constexpr std::string_view kCookiesBox = "编辑框_cookies";
inline constexpr std::string_view kQrLoginButton = "按钮_获取二维码";
inline constexpr std::string_view kQrPicture = "图片框_登录二维码";
inline constexpr std::string_view kCheckLoginButton = "按钮_验证是否登录";
inline constexpr std::string_view kUserInfoLabel = "标签_用户信息";
inline constexpr std::string_view kUserAvatarPicture = "图片框_用户头像";
inline constexpr std::string_view kVipBadgePicture = "窗口EX1";

// Danmaku.
inline constexpr std::string_view kScrollingSizeBox = "编辑框_滚动弹幕大小";
inline constexpr std::string_view kFixedSizeBox = "编辑框_固定弹幕大小";
inline constexpr std::string_view kBlockListBox = "编辑框_屏蔽弹幕";
inline constexpr std::string_view kDanmakuStyleBox = "编辑框_弹幕样式";
inline constexpr std::string_view kDefaultStyleButton = "按钮_默认弹幕样式";
inline constexpr std::string_view kRefreshDanmakuButton = "按钮_刷新弹幕";

// Library browser and Emby.
inline constexpr std::string_view kLibraryFolderBox = "编辑框_文件管理";
inline constexpr std::string_view kChooseLibraryButton = "按钮_文件管理";
inline constexpr std::string_view kKeywordBox = "编辑框_关键词";
inline constexpr std::string_view kScanLibraryButton = "按钮_初始化";
inline constexpr std::string_view kLibraryIconList = "图标列表框_文件管理";
inline constexpr std::string_view kEmbyUrlBox = "编辑框_emby_url";
inline constexpr std::string_view kEmbyKeyBox = "编辑框_emby_api";
inline constexpr std::string_view kOpenEmbyButton = "按钮_访问emby";
inline constexpr std::string_view kUploadAvatarsButton = "按钮_上传头像";

// Window behaviour and about.
inline constexpr std::string_view kTrayOnCloseCheck = "选择框_最小化到托盘";
inline constexpr std::string_view kClipboardWatchBox = "选择框_监控剪辑版";
inline constexpr std::string_view kHotkeyLabel = "标签_呼出快捷键";
inline constexpr std::string_view kHotkeyDrop = "下拉框_热键";
inline constexpr std::string_view kVersionLabel = "标签_当前版本";
inline constexpr std::string_view kAboutLabel = "标签_关于声明";

}  // namespace korvid
