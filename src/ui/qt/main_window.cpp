#include "main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

#include "app/setting_buttons.h"
#include "controls/control_names.h"
#include "task_view.h"
#include "ui_fonts.h"
#include "window_pages.h"

namespace korvid {

namespace {

// Small enough for a 1366 x 768 laptop and for 1920 x 1080 at 150 %
// (1280 x 720 logical); the lower pages scroll when the window is that small.
constexpr int kMinWidth = 720;
constexpr int kMinHeight = 440;
constexpr QSize kPreferredSize(1180, 760);
constexpr int kWindowPointSize = 10;
constexpr int kCellTipMs = 3000;
constexpr int kRowHeight = 30;
constexpr int kMenuPointSize = 12;
constexpr int kMenuWidth = 60;
constexpr int kCellPadding = 18;
constexpr int kHeaderPadding = 24;

// The widest text each task column usually shows; its width fits this at the
// list's font (never narrower than the starting width).
constexpr std::array<const char*, kTaskColumnCount> kWidestCell = {
    "",        "9999",       "",         "",          "2160", "1234.56MB", "1234.56MB  100%",
    "99999秒", "123.4 MB/S", "失败下载", "99小时59分"};
// The question of "清空列表".
constexpr const char* kClearQuestion = "确定清空列表？所有任务都将从列表中移除。";

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* Scrollable(QWidget* page) {
  auto* area = new QScrollArea;
  area->setWidget(page);
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  return area;
}

int FittedWidth(int column, const QFontMetrics& cells, const QFontMetrics& titles) {
  const auto& spec = kTaskColumns[static_cast<std::size_t>(column)];
  if (column == kColRecord) return spec.width;
  const int cell = cells.horizontalAdvance(QString::fromUtf8(kWidestCell[column])) + kCellPadding;
  const int title = titles.horizontalAdvance(FromUtf8(spec.title)) + kHeaderPadding;
  return std::max({spec.width, cell, title});
}

// Shows a task cell's tip for three seconds: its full text (cells are narrow), or
// what the row has to say beyond it (a failure's reason, the time left).
class CellTipFilter : public QObject {
 public:
  explicit CellTipFilter(QTableView& view) : QObject(&view), m_view(view) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip || watched != m_view.viewport()) return false;
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = m_view.indexAt(help->pos());
    const QString text = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
    if (text.isEmpty()) {
      QToolTip::hideText();
    } else {
      // Cells hold titles from the site; a tip would render them as markup.
      QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(text), m_view.viewport(),
                         m_view.visualRect(index), kCellTipMs);
    }
    return true;
  }

 private:
  QTableView& m_view;
};

// Gives the title columns the room left whenever the list's width changes.
class TextColumnFitter : public QObject {
 public:
  explicit TextColumnFitter(QTableView& view) : QObject(&view), m_view(view) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The type first: while the view is destroyed its viewport must not be asked.
    if (event->type() == QEvent::Resize && watched == m_view.viewport()) FitTextColumns(m_view);
    return false;
  }

 private:
  QTableView& m_view;
};

}  // namespace

MainWindow::MainWindow(ControlStore& store, TaskList& tasks, QWidget* parent)
    : QMainWindow(parent), m_store(store) {
  setFont(YaHeiFont(kWindowPointSize));
  setMinimumSize(kMinWidth, kMinHeight);
  FitToScreen();

  m_widgets = std::make_unique<ControlWidgets>(MainWindowLayout(), this);
  m_binder = new ControlBinder(m_store, this);
  m_taskModel = new TaskListModel(tasks, this);
  BuildMenu();
  BuildWindow();
  auto* noticeBox = qobject_cast<NoticeBox*>(m_widgets->Object(kNoticeBox));
  if (noticeBox == nullptr) noticeBox = new NoticeBox(this);
  m_notices = new NoticePresenter(*this, *noticeBox, this);
  connect(m_binder, &ControlBinder::NoticeRequested, m_notices, &NoticePresenter::Show);
  BindControls();
  ConnectSettingButtons();
  ConnectEnterKeys();
  m_binder->ApplyAll();
}

MainWindow::~MainWindow() = default;

QTimer& MainWindow::ThreadClock() {
  auto* timer = qobject_cast<QTimer*>(m_widgets->Object(kTickTimer));
  if (timer == nullptr) {
    // The layout always has the clock; a window without one still gets one.
    timer = new QTimer(this);
    timer->setObjectName(FromUtf8(kTickTimer));
  }
  return *timer;
}

void MainWindow::BuildMenu() {
  QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("文件(&F)"));
  m_exitAction = fileMenu->addAction(QStringLiteral("退出程序"));
  m_exitAction->setObjectName(QStringLiteral("退出程序"));
  m_exitAction->setShortcut(QKeySequence::Quit);
  connect(m_exitAction, &QAction::triggered, this, &MainWindow::Exit);
  m_listMenu = BuildPopupMenu(kListMenu, kListMenuItems);
  m_exitMenu = BuildPopupMenu(kExitMenu, kExitMenuItems);
}

QMenu* MainWindow::BuildPopupMenu(std::string_view title, std::span<const std::string_view> items) {
  auto* menu = new QMenu(this);
  menu->setObjectName(FromUtf8(title));
  menu->setTitle(FromUtf8(title));
  menu->setFont(YaHeiFont(kMenuPointSize));
  menu->setMinimumWidth(kMenuWidth);
  menu->setStyleSheet(QStringLiteral("QMenu::item { min-height: 24px; padding: 0 16px; }"));
  for (const std::string_view item : items) {
    if (item == kMenuSeparator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(FromUtf8(item));
    connect(action, &QAction::triggered, this,
            [this, menuTitle = std::string(title), itemText = std::string(item)] {
              if (itemText == kExitItem) {
                Exit();
              } else if (itemText == kClearItem && !Confirm(QString::fromUtf8(kClearQuestion))) {
                return;
              } else if (m_onMenu) {
                m_onMenu(menuTitle, itemText, m_target);
              }
            });
  }
  return menu;
}

void MainWindow::OpenListMenu(const QPoint& position) {
  const QModelIndex index = m_taskView->indexAt(position);
  if (!index.isValid()) return;
  m_target.row = TaskListModel::ListRow(index.row());
  // A click outside the selection selects that row alone; inside it, the
  // menu acts on the whole selection.
  if (!m_taskView->selectionModel()->isRowSelected(index.row(), QModelIndex())) {
    m_taskView->selectRow(index.row());
  }
  m_target.rows = SelectedTaskRows(*m_taskView);
  m_listMenu->popup(m_taskView->viewport()->mapToGlobal(position));
}

void MainWindow::FitToScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    resize(kPreferredSize);
    return;
  }
  const QRect available = screen->availableGeometry();
  const QSize size = kPreferredSize.boundedTo(available.size() * 0.95)
                         .expandedTo(QSize(kMinWidth, kMinHeight))
                         .boundedTo(available.size());
  resize(size);
  move(available.center() - QPoint(size.width() / 2, size.height() / 2));
}

void MainWindow::BuildWindow() {
  ControlWidgets& widgets = *m_widgets;
  auto* components = widgets.Take<QTabWidget>(kComponentTabs);
  auto* settings = widgets.Take<QTabWidget>(kSettingsTabs);
  if (components == nullptr) components = new QTabWidget;
  if (settings == nullptr) settings = new QTabWidget;

  QWidget* downloadPage = BuildDownloadSettingsPage(widgets);
  QWidget* windowPage = BuildWindowSettingsPage(widgets);
  settings->addTab(Scrollable(downloadPage), QStringLiteral("下载"));
  settings->addTab(Scrollable(windowPage), QStringLiteral("窗口与热键"));
  settings->addTab(Scrollable(BuildAboutPage(widgets)), QStringLiteral("关于"));
  settings->setDocumentMode(true);

  QWidget* detailsPage = BuildDetailsPage(widgets);
  QWidget* accountPage = BuildAccountPage(widgets);
  QWidget* danmakuPage = BuildDanmakuPage(widgets);
  QWidget* libraryPage = BuildLibraryPage(widgets);
  components->addTab(Scrollable(detailsPage), QStringLiteral("视频详情"));
  components->addTab(Scrollable(accountPage), QStringLiteral("账号"));
  components->addTab(Scrollable(danmakuPage), QStringLiteral("弹幕"));
  components->addTab(Scrollable(libraryPage), QStringLiteral("媒体库"));
  components->addTab(settings, QStringLiteral("设置"));

  auto* central = new QWidget;
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(10, 8, 10, 10);
  column->setSpacing(6);
  column->addWidget(BuildLinkBar(widgets));
  column->addWidget(BuildFolderBar(widgets));

  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->setChildrenCollapsible(false);
  if (auto* view = widgets.Take<QTableView>(kTaskList)) {
    m_taskView = view;
    SetUpTaskView(*view);
    splitter->addWidget(view);
  }
  splitter->addWidget(components);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  column->addWidget(splitter, 1);
  setCentralWidget(central);

  AppendUnplaced(widgets, WindowArea::TaskPage, *downloadPage);
  AppendUnplaced(widgets, WindowArea::SettingsPage, *windowPage);
  AppendUnplaced(widgets, WindowArea::DetailsPage, *detailsPage);
  AppendUnplaced(widgets, WindowArea::AccountPage, *accountPage);
  AppendUnplaced(widgets, WindowArea::DanmakuPage, *danmakuPage);
  AppendUnplaced(widgets, WindowArea::LibraryPage, *libraryPage);

  components->setCurrentIndex(0);
  settings->setCurrentIndex(0);
}

void MainWindow::SetUpTaskView(QTableView& view) {
  view.setModel(m_taskModel);
  view.setSelectionBehavior(QAbstractItemView::SelectRows);
  view.setSelectionMode(QAbstractItemView::ExtendedSelection);
  view.setItemDelegateForColumn(kColReceived, new ProgressDelegate(&view));
  view.setEditTriggers(QAbstractItemView::NoEditTriggers);
  view.setAlternatingRowColors(true);
  view.setShowGrid(false);
  view.setWordWrap(false);
  view.setFont(YaHeiFont(kTaskCellPointSize));
  view.verticalHeader()->hide();
  view.verticalHeader()->setDefaultSectionSize(kRowHeight);
  QHeaderView* header = view.horizontalHeader();
  // Column 0 carries the task record at one pixel; the default minimum would
  // widen it.
  header->setMinimumSectionSize(1);
  header->setFont(YaHeiFont(kTaskHeaderPointSize, true));
  header->setHighlightSections(false);
  const QFontMetrics cells(view.font());
  const QFontMetrics titles(header->font());
  for (int column = 0; column < kTaskColumnCount; ++column) {
    view.setColumnWidth(column, FittedWidth(column, cells, titles));
  }
  // The user may widen any column; the title and page-title columns share
  // the room that is left.
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setSectionResizeMode(kColRecord, QHeaderView::Fixed);
  header->setStretchLastSection(false);
  view.viewport()->installEventFilter(new CellTipFilter(view));
  view.viewport()->installEventFilter(new TextColumnFitter(view));
  view.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&view, &QWidget::customContextMenuRequested, this, &MainWindow::OpenListMenu);
  ConnectTaskView(view);
}

void MainWindow::ConnectTaskView(QTableView& view) {
  connect(view.horizontalHeader(), &QHeaderView::sectionResized, this,
          [&view](int column, int /*oldSize*/, int /*newSize*/) {
            if (column != kColTitle && column != kColPart) FitTextColumns(view);
          });
  connect(m_taskModel, &QAbstractItemModel::rowsInserted, this,
          [&view](const QModelIndex& /*parent*/, int first, int last) {
            HideRemovedRows(view, first, last);
            // Once the view has laid the new rows out: right away it may
            // still scroll by the old height.
            QTimer::singleShot(0, &view, [&view] { view.scrollToBottom(); });
          });
  connect(m_taskModel, &QAbstractItemModel::dataChanged, this,
          [&view](const QModelIndex& from, const QModelIndex& to) {
            HideRemovedRows(view, from.row(), to.row());
          });
  connect(m_taskModel, &QAbstractItemModel::modelReset, this,
          [&view] { HideRemovedRows(view, 0, view.model()->rowCount() - 1); });
  HideRemovedRows(view, 0, m_taskModel->rowCount() - 1);
  view.installEventFilter(new TaskKeyFilter(view, [this](int key) { OnTaskKey(key); }));
}

void MainWindow::OnTaskKey(int key) {
  MenuTarget target;
  target.rows = SelectedTaskRows(*m_taskView);
  if (target.rows.empty() || !m_onMenu) return;
  target.row = target.rows.front();
  m_onMenu(std::string(kListMenu),
           std::string(key == Qt::Key_Delete ? kCancelItem : kTogglePauseItem), target);
}

void MainWindow::ConnectEnterKeys() {
  // Enter in a text box presses the button beside it (default buttons work
  // only in dialogs).
  for (const auto& [box, button] :
       {std::pair{kTaskLinkBox, kAddLinkButton}, std::pair{kDetailsLinkBox, kLoadDetailsButton}}) {
    auto* edit = qobject_cast<QLineEdit*>(m_widgets->Object(box));
    auto* press = qobject_cast<QPushButton*>(m_widgets->Object(button));
    if (edit == nullptr || press == nullptr) continue;
    connect(edit, &QLineEdit::returnPressed, press, [press] {
      if (press->isEnabled()) press->click();
    });
  }
}

bool MainWindow::Confirm(const QString& question) {
  if (m_confirm) return m_confirm(question);
  QMessageBox box(QMessageBox::Question, windowTitle(), question, QMessageBox::NoButton, this);
  QPushButton* yes = box.addButton(QStringLiteral("确定"), QMessageBox::YesRole);
  box.setDefaultButton(box.addButton(QStringLiteral("取消"), QMessageBox::NoRole));
  box.exec();
  return box.clickedButton() == yes;
}

bool MainWindow::ConfirmExit() {
  const int unfinished = m_unfinished ? m_unfinished() : 0;
  if (unfinished <= 0) return true;
  return Confirm(QString::fromUtf8(UnfinishedExitQuestion(unfinished)));
}

void MainWindow::BindControls() {
  m_binder->Bind("", ControlKind::Window, this);
  for (const ControlWidgets::Entry* entry : m_widgets->Entries()) {
    m_binder->Bind(entry->name, entry->kind, entry->object);
  }
}

void MainWindow::ConnectSettingButtons() {
  auto onClick = [this](std::string_view name, auto handler) {
    if (auto* button = qobject_cast<QPushButton*>(m_widgets->Object(name))) {
      connect(button, &QPushButton::clicked, this, handler);
    }
  };
  onClick(kMaxDownloadsUpButton, [this] { StepMaxThreads(m_store, +1); });
  onClick(kMaxDownloadsDownButton, [this] { StepMaxThreads(m_store, -1); });
  onClick(kChangeFolderButton,
          [this] { (void)ChangeDownloadFolder(m_store, m_defaultFolder, m_saveStates); });
  onClick(kDefaultStyleButton, [this] { RestoreDefaultDanmakuStyle(m_store); });
  if (auto* open = findChild<QPushButton*>(QStringLiteral("打开下载目录"))) {
    connect(open, &QPushButton::clicked, this,
            [this] { OpenDownloadFolder(m_store, m_defaultFolder); });
  }
  // Text that is no thread count would stop every download.
  if (auto* count = qobject_cast<QLineEdit*>(m_widgets->Object(kMaxDownloadsBox))) {
    count->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("(10|[1-9])?")), count));
  }
}

void MainWindow::OnButton(std::string_view name, std::function<void()> handler) {
  if (auto* button = qobject_cast<QPushButton*>(m_widgets->Object(name))) {
    connect(button, &QPushButton::clicked, this, std::move(handler));
  }
}

WindowPlacement MainWindow::Placement() const {
  const QRect normal = normalGeometry();
  WindowPlacement placement{normal.x(), normal.y(), normal.width(), normal.height(), isMaximized()};
  if (auto* tabs = qobject_cast<QTabWidget*>(m_widgets->Object(kComponentTabs))) {
    placement.componentsTab = tabs->currentIndex();
  }
  if (auto* tabs = qobject_cast<QTabWidget*>(m_widgets->Object(kSettingsTabs))) {
    placement.settingsTab = tabs->currentIndex();
  }
  return placement;
}

void MainWindow::ApplyPlacement(const WindowPlacement& placement) {
  QRect wanted(placement.x, placement.y, placement.width, placement.height);
  const QScreen* screen = QGuiApplication::screenAt(wanted.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    // A screen that went away or shrank: the window comes back whole.
    const QRect available = screen->availableGeometry();
    wanted.setSize(wanted.size().boundedTo(available.size()).expandedTo(minimumSize()));
    if (!available.contains(wanted.center())) wanted.moveCenter(available.center());
    wanted.moveLeft(std::clamp(wanted.left(), available.left(),
                               std::max(available.left(), available.right() - wanted.width())));
    wanted.moveTop(std::clamp(wanted.top(), available.top(),
                              std::max(available.top(), available.bottom() - wanted.height())));
  }
  setGeometry(wanted);
  if (placement.maximized) setWindowState(windowState() | Qt::WindowMaximized);
  for (const auto& [name, index] : {std::pair{kComponentTabs, placement.componentsTab},
                                    std::pair{kSettingsTabs, placement.settingsTab}}) {
    auto* tabs = qobject_cast<QTabWidget*>(m_widgets->Object(name));
    if (tabs != nullptr && index >= 0 && index < tabs->count()) tabs->setCurrentIndex(index);
  }
}

void MainWindow::BringToFront() {
  if (isMinimized()) {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  }
  show();
  raise();
  activateWindow();
}

void MainWindow::Exit() {
  if (m_exiting || !ConfirmExit()) return;
  m_exiting = true;
  if (m_onExit) m_onExit();
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // There is no tray icon yet, and a hidden window without one could not be
  // reached again: "minimise to tray" minimises for now.
  if (!m_exiting && m_store.Checked(kTrayOnCloseCheck)) {
    event->ignore();
    showMinimized();
    return;
  }
  // Closing ends the program like "退出程序": nothing the user set is lost.
  if (!m_exiting && !ConfirmExit()) {
    event->ignore();
    return;
  }
  if (!m_exiting) {
    m_exiting = true;
    if (m_onExit) m_onExit();
  }
  event->accept();
}

}  // namespace korvid
