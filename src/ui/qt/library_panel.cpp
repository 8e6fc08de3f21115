#include "library_panel.h"

#include <QAction>
#include <QDesktopServices>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QUrl>

#include "control_binder.h"
#include "controls/control_names.h"
#include "net/http_text.h"
#include "ui_fonts.h"

namespace korvid {

namespace {

constexpr int kMenuPointSize = 12;
constexpr int kGridMargin = 16;
constexpr int kCaptionHeight = 44;

}  // namespace

LibraryPanel::LibraryPanel(AppState& state, QMainWindow& window, MsClock clock)
    : QObject(&window),
      m_state(state),
      m_window(window),
      m_browser(std::make_unique<LibraryBrowser>(state, std::move(clock))),
      m_uploader(std::make_unique<AvatarUploader>(state)) {
  m_model = new LibraryModel(this);
  m_view = window.findChild<QListView*>(ToWidgetText(kLibraryIconList));
  // Scan worker: the list crosses to the window thread as a whole.
  m_browser->SetListListener([this](std::shared_ptr<const LibraryList> entries) {
    QMetaObject::invokeMethod(
        this, [this, entries = std::move(entries)] { ShowList(entries); }, Qt::QueuedConnection);
  });
  SetUpView();
  ConnectButtons();
}

LibraryPanel::~LibraryPanel() {
  // The workers end before the model and the window they report to.
  m_browser.reset();
  m_uploader.reset();
}

void LibraryPanel::SetUpView() {
  if (m_view == nullptr) return;
  m_view->setModel(m_model);
  m_view->setViewMode(QListView::IconMode);
  m_view->setMovement(QListView::Static);
  m_view->setResizeMode(QListView::Adjust);
  m_view->setLayoutMode(QListView::Batched);
  m_view->setUniformItemSizes(true);
  m_view->setWordWrap(true);
  m_view->setSpacing(0);
  m_view->setIconSize(QSize(kThumbnailWidth, kThumbnailHeight));
  m_view->setGridSize(
      QSize(kThumbnailWidth + kGridMargin, kThumbnailHeight + kCaptionHeight + kGridMargin));
  m_view->setSelectionMode(QAbstractItemView::SingleSelection);
  m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_view->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_view, &QListView::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = m_view->indexAt(at);
    if (!index.isValid()) return;
    QMenu* menu = CreateFileMenu(index.row(), m_view);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_view->viewport()->mapToGlobal(at));
  });
  connect(m_view, &QListView::activated, this, [this](const QModelIndex& index) {
    (void)m_browser->PlayVideo(static_cast<std::size_t>(index.row()));
  });
}

QMenu* LibraryPanel::CreateFileMenu(int row, QWidget* parent) {
  auto* menu = new QMenu(QStringLiteral("文件菜单"), parent);
  menu->setObjectName(QStringLiteral("文件菜单"));
  menu->setFont(YaHeiFont(kMenuPointSize));
  const auto index = static_cast<std::size_t>(row);
  connect(menu->addAction(QStringLiteral("播放视频")), &QAction::triggered, this,
          [this, index] { (void)m_browser->PlayVideo(index); });
  connect(menu->addAction(QStringLiteral("打开目录")), &QAction::triggered, this,
          [this, index] { (void)m_browser->OpenFolder(index); });
  return menu;
}

void LibraryPanel::ConnectButtons() {
  auto onClick = [this](std::string_view name, auto handler) {
    if (auto* button = m_window.findChild<QPushButton*>(ToWidgetText(name))) {
      connect(button, &QPushButton::clicked, this, handler);
    }
  };
  onClick(kChooseLibraryButton, [this] { (void)m_browser->ChooseFolderAndScan(); });
  onClick(kScanLibraryButton, [this] { (void)m_browser->StartScan(); });
  onClick(kUploadAvatarsButton, [this] { (void)m_uploader->Start(); });
  onClick(kOpenEmbyButton, [this] { OpenEmbyInBrowser(); });
}

void LibraryPanel::ShowList(std::shared_ptr<const LibraryList> entries) {
  m_model->SetEntries(std::move(entries));
  // The scan's result is meant to be seen: a hidden window comes back.
  if (m_window.isHidden()) m_window.show();
}

void LibraryPanel::OpenEmbyInBrowser() {
  const std::string url = m_state.Ui().Text(kEmbyUrlBox);
  if (Trim(url).empty()) {
    m_state.Ui().ShowNotice(EmbyFailureText(EmbyFailure::kNoAddress), kNoticeFailed);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(EmbyAddress(url))));
}

}  // namespace korvid
