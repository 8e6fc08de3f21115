#include "main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/setting_buttons.h"
#include "ui_fonts.h"
#include "window_pages.h"

namespace korvid {

namespace {

constexpr int kMinWidth = 1100;
constexpr int kMinHeight = 700;
constexpr int kWindowPointSize = 10;
constexpr int kCellTipMs = 3000;
constexpr int kRowHeight = 30;

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString PickFolderWithDialog(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start);
}

// Shows a task cell's full text as a tip for three seconds (cells are narrow).
class CellTipFilter : public QObject {
 public:
  explicit CellTipFilter(QTableView& view) : QObject(&view), m_view(view) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip || watched != m_view.viewport()) return false;
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = m_view.indexAt(help->pos());
    const QString text = index.isValid() ? index.data(Qt::DisplayRole).toString() : QString();
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

}  // namespace

MainWindow::MainWindow(ControlStore& store, TaskList& tasks, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_pickFolder(PickFolderWithDialog) {
  setFont(YaHeiFont(kWindowPointSize));
  setMinimumSize(kMinWidth, kMinHeight);
  resize(kMinWidth + 80, kMinHeight + 60);

  m_widgets = std::make_unique<ControlWidgets>(MainWindowLayout(), this);
  m_binder = new ControlBinder(m_store, this);
  m_taskModel = new TaskListModel(tasks, this);
  BuildMenu();
  BuildWindow();
  auto* noticeBox = qobject_cast<NoticeBox*>(m_widgets->Object("分组框_弹出提示"));
  if (noticeBox == nullptr) noticeBox = new NoticeBox(this);
  m_notices = new NoticePresenter(*this, *noticeBox, this);
  connect(m_binder, &ControlBinder::NoticeRequested, m_notices, &NoticePresenter::Show);
  BindControls();
  ConnectSettingButtons();
  m_binder->ApplyAll();
}

MainWindow::~MainWindow() = default;

QTimer& MainWindow::ThreadClock() {
  auto* timer = qobject_cast<QTimer*>(m_widgets->Object("线程时钟"));
  if (timer == nullptr) {
    // The layout always has the clock; a window without one still gets one.
    timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("线程时钟"));
  }
  return *timer;
}

void MainWindow::BuildMenu() {
  QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("文件(&F)"));
  m_exitAction = fileMenu->addAction(QStringLiteral("退出程序"));
  m_exitAction->setObjectName(QStringLiteral("退出程序"));
  m_exitAction->setShortcut(QKeySequence::Quit);
  connect(m_exitAction, &QAction::triggered, this, &MainWindow::Exit);
}

void MainWindow::BuildWindow() {
  ControlWidgets& widgets = *m_widgets;
  auto* components = widgets.Take<QTabWidget>("选择夹_组件");
  auto* settings = widgets.Take<QTabWidget>("选择夹_设置");
  if (components == nullptr) components = new QTabWidget;
  if (settings == nullptr) settings = new QTabWidget;

  QWidget* downloadPage = BuildDownloadSettingsPage(widgets);
  QWidget* windowPage = BuildWindowSettingsPage(widgets);
  settings->addTab(downloadPage, QStringLiteral("下载"));
  settings->addTab(windowPage, QStringLiteral("窗口与热键"));
  settings->addTab(BuildAboutPage(widgets), QStringLiteral("关于"));
  settings->setDocumentMode(true);

  QWidget* detailsPage = BuildDetailsPage(widgets);
  QWidget* accountPage = BuildAccountPage(widgets);
  QWidget* danmakuPage = BuildDanmakuPage(widgets);
  QWidget* libraryPage = BuildLibraryPage(widgets);
  components->addTab(detailsPage, QStringLiteral("视频详情"));
  components->addTab(accountPage, QStringLiteral("账号"));
  components->addTab(danmakuPage, QStringLiteral("弹幕"));
  components->addTab(libraryPage, QStringLiteral("媒体库"));
  components->addTab(settings, QStringLiteral("设置"));

  auto* central = new QWidget;
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(10, 8, 10, 10);
  column->setSpacing(6);
  column->addWidget(BuildLinkBar(widgets));
  column->addWidget(BuildFolderBar(widgets));

  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->setChildrenCollapsible(false);
  if (auto* view = widgets.Take<QTableView>("超级列表框_下载列表")) {
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
  view.setSelectionMode(QAbstractItemView::SingleSelection);
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
  for (int column = 0; column < kTaskColumnCount; ++column) {
    view.setColumnWidth(column, kTaskColumns[static_cast<std::size_t>(column)].width);
  }
  header->setSectionResizeMode(0, QHeaderView::Fixed);
  header->setStretchLastSection(true);
  view.viewport()->installEventFilter(new CellTipFilter(view));
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
  onClick("按钮_最大线程数加", [this] { StepMaxThreads(m_store, +1); });
  onClick("按钮_最大线程数减", [this] { StepMaxThreads(m_store, -1); });
  onClick("按钮_更改目录", [this] { ChangeDownloadFolder(); });
  onClick("按钮_默认弹幕样式", [this] { RestoreDefaultDanmakuStyle(m_store); });
}

void MainWindow::ChangeDownloadFolder() {
  const QString start = FromUtf8(m_store.Text("编辑框_下载路径"));
  const QString folder = m_pickFolder(this, QStringLiteral("选择下载目录"), start);
  if (folder.isEmpty()) return;
  m_store.SetText("编辑框_下载路径", folder.toStdString());
  if (m_saveStates) m_saveStates();
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
  if (m_exiting) return;
  m_exiting = true;
  if (m_onExit) m_onExit();
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // There is no tray icon yet, and a hidden window without one could not be
  // reached again: "minimise to tray" minimises for now.
  if (!m_exiting && m_store.Checked("选择框_最小化到托盘")) {
    event->ignore();
    showMinimized();
    return;
  }
  event->accept();
}

}  // namespace korvid
