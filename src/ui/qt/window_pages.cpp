#include "window_pages.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <utility>

#include "controls/control_names.h"
#include "picture_box.h"

namespace korvid {

namespace {

constexpr int kPageMargin = 10;
constexpr int kSpacing = 8;

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

QLabel* CaptionLabel(const char* text) {
  auto* label = new QLabel(Text(text));
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

// A caption and its field in a grid; nothing when the layout lacks the field.
void AddField(QGridLayout& grid, int row, int column, const char* caption, QWidget* field,
              int span = 1) {
  if (field == nullptr) return;
  grid.addWidget(CaptionLabel(caption), row, column);
  grid.addWidget(field, row, column + 1, 1, span);
}

void AddIf(QBoxLayout& box, QWidget* widget, int stretch = 0) {
  if (widget != nullptr) box.addWidget(widget, stretch);
}

QWidget* NewPage(QLayout* layout) {
  auto* page = new QWidget;
  layout->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, kPageMargin);
  layout->setSpacing(kSpacing);
  page->setLayout(layout);
  return page;
}

QGroupBox* Group(const char* title, QLayout* layout) {
  auto* group = new QGroupBox(Text(title));
  layout->setSpacing(kSpacing);
  group->setLayout(layout);
  return group;
}

void FixPicture(QWidget* picture, int width, int height, const char* placeholder) {
  auto* box = qobject_cast<PictureBox*>(picture);
  if (box == nullptr) return;
  box->setFixedSize(width, height);
  box->SetPlaceholder(Text(placeholder));
}

QWidget* StatsGrid(ControlWidgets& widgets) {
  static const std::array<std::pair<const char*, std::string_view>, 6> kStats = {{
      {"点赞", kLikesLabel},
      {"投币", kCoinsLabel},
      {"收藏", kFavouritesLabel},
      {"分享", kSharesLabel},
      {"评论", kRepliesLabel},
      {"弹幕", kDanmakuCountLabel},
  }};
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  int cell = 0;
  for (const auto& [caption, name] : kStats) {
    QWidget* value = widgets.Take(name);
    if (value == nullptr) continue;
    value->setMinimumWidth(56);
    grid->addWidget(CaptionLabel(caption), cell / 2, (cell % 2) * 2);
    grid->addWidget(value, cell / 2, (cell % 2) * 2 + 1);
    ++cell;
  }
  return Group("数据", grid);
}

}  // namespace

QWidget* BuildLinkBar(ControlWidgets& widgets) {
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  if (auto* link = widgets.Take<QLineEdit>(kTaskLinkBox)) {
    link->setPlaceholderText(Text("粘贴视频链接、BV号、UP主空间、空间搜索或收藏夹链接"));
    link->setClearButtonEnabled(true);
    link->setMinimumHeight(30);
    row->addWidget(link, 1);
  }
  if (auto* button = widgets.Take<QPushButton>(kAddLinkButton)) {
    button->setMinimumSize(110, 30);
    button->setDefault(true);
    row->addWidget(button);
  }
  auto* bar = new QWidget;
  bar->setLayout(row);
  return bar;
}

QWidget* BuildFolderBar(ControlWidgets& widgets) {
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  AddIf(*row, widgets.Take(kDownloadPathLabel));
  if (auto* path = widgets.Take<QLineEdit>(kDownloadPathBox)) {
    path->setPlaceholderText(Text("留空时下载到程序文件夹下的“下载”文件夹"));
    row->addWidget(path, 1);
  }
  AddIf(*row, widgets.Take(kChangeFolderButton));
  auto* open = new QPushButton(Text("打开"));
  open->setObjectName(QStringLiteral("打开下载目录"));
  open->setToolTip(Text("在文件管理器中打开下载目录"));
  row->addWidget(open);
  row->addSpacing(24);
  AddIf(*row, widgets.Take(kMaxDownloadsLabel));
  QWidget* minus = widgets.Take(kMaxDownloadsDownButton);
  QWidget* plus = widgets.Take(kMaxDownloadsUpButton);
  auto* count = widgets.Take<QLineEdit>(kMaxDownloadsBox);
  for (QWidget* step : {minus, plus}) {
    if (step != nullptr) step->setFixedWidth(30);
  }
  if (count != nullptr) {
    count->setFixedWidth(44);
    count->setAlignment(Qt::AlignCenter);
  }
  AddIf(*row, minus);
  AddIf(*row, count);
  AddIf(*row, plus);
  row->addSpacing(24);
  AddIf(*row, widgets.Take(kRateLimitLabel));
  if (auto* limit = widgets.Take<QLineEdit>(kRateLimitBox)) {
    limit->setFixedWidth(64);
    limit->setAlignment(Qt::AlignCenter);
    limit->setToolTip(Text("所有下载合计的速度上限，单位 KB/s；0 为不限速"));
    row->addWidget(limit);
  }
  auto* bar = new QWidget;
  bar->setLayout(row);
  return bar;
}

QWidget* BuildDetailsPage(ControlWidgets& widgets) {
  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(kSpacing);
  fields->setVerticalSpacing(6);
  fields->setColumnStretch(1, 1);
  fields->setColumnStretch(3, 1);
  AddField(*fields, 0, 0, "视频链接", widgets.Take(kDetailsLinkBox), 2);
  if (QWidget* load = widgets.Take(kLoadDetailsButton)) fields->addWidget(load, 0, 3);
  AddField(*fields, 1, 0, "标题", widgets.Take(kTitleBox), 3);
  AddField(*fields, 2, 0, "UP主", widgets.Take(kUploaderNameBox));
  AddField(*fields, 2, 2, "UP主ID", widgets.Take(kUploaderIdBox));
  AddField(*fields, 3, 0, "发布时间", widgets.Take(kPublishedBox));
  AddField(*fields, 3, 2, "分区", widgets.Take(kCategoryBox));
  AddField(*fields, 4, 0, "AID", widgets.Take(kAidBox));
  AddField(*fields, 4, 2, "CID", widgets.Take(kCidBox));
  AddField(*fields, 5, 0, "分P数", widgets.Take(kPageCountBox));
  AddField(*fields, 5, 2, "时长", widgets.Take(kDurationBox));
  AddField(*fields, 6, 0, "分P", widgets.Take(kPartDrop));
  AddField(*fields, 6, 2, "清晰度", widgets.Take(kSourceDrop));
  if (QWidget* download = widgets.Take(kAddFromDetailsButton)) {
    fields->addWidget(download, 7, 3, Qt::AlignRight);
  }
  fields->setRowStretch(8, 1);

  auto* describe = new QVBoxLayout;
  AddIf(*describe, widgets.Take(kDescriptionBox));
  QGroupBox* describeGroup = Group("简介", describe);

  auto* pictures = new QVBoxLayout;
  QWidget* cover = widgets.Take(kCoverPicture);
  FixPicture(cover, 208, 130, "封面");
  AddIf(*pictures, cover);
  auto* uploaderRow = new QHBoxLayout;
  QWidget* face = widgets.Take(kUploaderFacePicture);
  FixPicture(face, 64, 64, "UP主");
  AddIf(*uploaderRow, face);
  uploaderRow->addWidget(StatsGrid(widgets), 1);
  pictures->addLayout(uploaderRow);
  pictures->addStretch(1);

  auto* page = new QHBoxLayout;
  page->addLayout(fields, 5);
  page->addWidget(describeGroup, 3);
  page->addLayout(pictures, 0);
  return NewPage(page);
}

QWidget* BuildAccountPage(ControlWidgets& widgets) {
  auto* cookieBox = new QVBoxLayout;
  if (auto* cookies = widgets.Take<QPlainTextEdit>(kCookiesBox)) {
    cookies->setPlaceholderText(Text("登录后自动填写；也可粘贴浏览器中的 Cookie"));
    cookieBox->addWidget(cookies, 1);
  }
  auto* buttons = new QHBoxLayout;
  AddIf(*buttons, widgets.Take(kQrLoginButton));
  AddIf(*buttons, widgets.Take(kCheckLoginButton));
  buttons->addStretch(1);
  cookieBox->addLayout(buttons);

  auto* qrBox = new QHBoxLayout;
  QWidget* qr = widgets.Take(kQrPicture);
  // Whole pixels per module: the code is drawn 4 px a module and not scaled.
  FixPicture(qr, 220, 220, "登录二维码");
  AddIf(*qrBox, qr);

  auto* userBox = new QHBoxLayout;
  auto* face = new QVBoxLayout;
  QWidget* avatar = widgets.Take(kUserAvatarPicture);
  FixPicture(avatar, 80, 80, "头像");
  AddIf(*face, avatar);
  QWidget* badge = widgets.Take(kVipBadgePicture);
  FixPicture(badge, 72, 28, "");
  AddIf(*face, badge);
  face->addStretch(1);
  userBox->addLayout(face);
  if (auto* info = widgets.Take<QLabel>(kUserInfoLabel)) {
    info->setWordWrap(true);
    info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    userBox->addWidget(info, 1);
  }

  auto* page = new QHBoxLayout;
  page->addWidget(Group("Cookie", cookieBox), 3);
  page->addWidget(Group("扫码登录", qrBox), 0);
  page->addWidget(Group("账号信息", userBox), 2);
  return NewPage(page);
}

QWidget* BuildDanmakuPage(ControlWidgets& widgets) {
  auto* sizes = new QHBoxLayout;
  for (const auto& [caption, name] :
       {std::pair{"滚动弹幕字号", kScrollingSizeBox}, std::pair{"固定弹幕字号", kFixedSizeBox}}) {
    QWidget* box = widgets.Take(name);
    if (box == nullptr) continue;
    box->setFixedWidth(60);
    sizes->addWidget(new QLabel(Text(caption)));
    sizes->addWidget(box);
    sizes->addSpacing(16);
  }
  sizes->addStretch(1);
  AddIf(*sizes, widgets.Take(kRefreshDanmakuButton));

  auto* style = new QVBoxLayout;
  AddIf(*style, widgets.Take(kDanmakuStyleBox), 1);
  if (QWidget* reset = widgets.Take(kDefaultStyleButton))
    style->addWidget(reset, 0, Qt::AlignRight);
  auto* block = new QVBoxLayout;
  AddIf(*block, widgets.Take(kBlockListBox), 1);

  auto* texts = new QHBoxLayout;
  texts->addWidget(Group("弹幕样式（“大小参数”处填入字号）", style), 1);
  texts->addWidget(Group("屏蔽弹幕（逗号分隔）", block), 1);

  auto* page = new QVBoxLayout;
  page->addLayout(sizes);
  page->addLayout(texts, 1);
  return NewPage(page);
}

QWidget* BuildLibraryPage(ControlWidgets& widgets) {
  auto* folderRow = new QHBoxLayout;
  if (QWidget* folder = widgets.Take(kLibraryFolderBox)) {
    folderRow->addWidget(new QLabel(Text("文件夹")));
    folderRow->addWidget(folder, 2);
  }
  AddIf(*folderRow, widgets.Take(kChooseLibraryButton));
  if (QWidget* keyword = widgets.Take(kKeywordBox)) {
    folderRow->addSpacing(12);
    folderRow->addWidget(new QLabel(Text("关键词")));
    folderRow->addWidget(keyword, 1);
  }
  AddIf(*folderRow, widgets.Take(kScanLibraryButton));

  auto* browser = new QVBoxLayout;
  browser->addLayout(folderRow);
  AddIf(*browser, widgets.Take(kLibraryIconList), 1);

  auto* emby = new QFormLayout;
  if (QWidget* url = widgets.Take(kEmbyUrlBox)) emby->addRow(Text("服务器地址"), url);
  if (QWidget* key = widgets.Take(kEmbyKeyBox)) emby->addRow(Text("API 密钥"), key);
  auto* embyButtons = new QHBoxLayout;
  AddIf(*embyButtons, widgets.Take(kOpenEmbyButton));
  AddIf(*embyButtons, widgets.Take(kUploadAvatarsButton));
  emby->addRow(embyButtons);
  QGroupBox* embyGroup = Group("Emby", emby);
  embyGroup->setFixedWidth(320);

  auto* page = new QHBoxLayout;
  page->addLayout(browser, 1);
  page->addWidget(embyGroup, 0, Qt::AlignTop);
  return NewPage(page);
}

QWidget* BuildDownloadSettingsPage(ControlWidgets& widgets) {
  auto* page = new QVBoxLayout;
  AddIf(*page, widgets.Take(kByTypeCheck));
  AddIf(*page, widgets.Take(kByUploaderCheck));
  AddIf(*page, widgets.Take(kBestQualityCheck));
  AddIf(*page, widgets.Take(kAiSubtitlesCheck));
  AddIf(*page, widgets.Take(kWholeCollectionCheck));
  AddIf(*page, widgets.Take(kExtrasCheck));
  if (QWidget* codec = widgets.Take(kCodecDrop)) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(Text("默认编码")));
    codec->setMinimumWidth(140);
    row->addWidget(codec);
    row->addStretch(1);
    page->addLayout(row);
  }
  page->addStretch(1);
  return NewPage(page);
}

QWidget* BuildWindowSettingsPage(ControlWidgets& widgets) {
  auto* page = new QVBoxLayout;
  AddIf(*page, widgets.Take(kTrayOnCloseCheck));
  AddIf(*page, widgets.Take(kClipboardWatchBox));
  auto* hotkey = new QHBoxLayout;
  AddIf(*hotkey, widgets.Take(kHotkeyLabel));
  if (QWidget* key = widgets.Take(kHotkeyDrop)) {
    key->setMinimumWidth(90);
    hotkey->addWidget(key);
  }
  hotkey->addStretch(1);
  page->addLayout(hotkey);
  page->addStretch(1);
  return NewPage(page);
}

QWidget* BuildAboutPage(ControlWidgets& widgets) {
  auto* page = new QVBoxLayout;
  AddIf(*page, widgets.Take(kVersionLabel));
  if (auto* about = widgets.Take<QLabel>(kAboutLabel)) {
    about->setWordWrap(true);
    page->addWidget(about);
  }
  page->addStretch(1);
  return NewPage(page);
}

void AppendUnplaced(ControlWidgets& widgets, WindowArea area, QWidget& page) {
  const std::vector<QWidget*> rest = widgets.Unplaced(area);
  auto* pageLayout = qobject_cast<QBoxLayout*>(page.layout());
  if (rest.empty() || pageLayout == nullptr) return;
  auto* flow = new QHBoxLayout;
  for (QWidget* widget : rest) {
    (void)widgets.Take(widget->objectName().toStdString());
    flow->addWidget(widget);
  }
  flow->addStretch(1);
  pageLayout->addWidget(Group("更多", flow));
}

}  // namespace korvid
