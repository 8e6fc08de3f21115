#include "main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <map>
#include <thread>

#include "app/tasks/task_list.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "picture_box.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

using test::SpinUntil;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::vector<std::uint8_t> PngBytes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return {bytes.begin(), bytes.end()};
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    CreateMainWindowControls(m_store);
    m_window = std::make_unique<MainWindow>(m_store, m_tasks);
    m_window->show();
  }

  template <typename T>
  T* Find(std::string_view name) {
    return m_window->findChild<T*>(Q(name));
  }

  // Writes from a worker thread, as the site and download code do.
  void OnWorker(const std::function<void()>& work) {
    std::thread worker(work);
    worker.join();
  }

  ControlStore m_store;
  TaskList m_tasks;
  std::unique_ptr<MainWindow> m_window;
};

bool HasWidgetOfKind(QObject* object, ControlKind kind, std::string_view name) {
  switch (kind) {
    case ControlKind::EditBox:
      return IsMultiLineEdit(name) ? qobject_cast<QPlainTextEdit*>(object) != nullptr
                                   : qobject_cast<QLineEdit*>(object) != nullptr;
    case ControlKind::Label:
    case ControlKind::Hidden:
      return qobject_cast<QLabel*>(object) != nullptr;
    case ControlKind::Button:
      return qobject_cast<QPushButton*>(object) != nullptr;
    case ControlKind::CheckBox:
      return qobject_cast<QCheckBox*>(object) != nullptr;
    case ControlKind::RadioButton:
      return qobject_cast<QRadioButton*>(object) != nullptr;
    case ControlKind::DropDown:
      return qobject_cast<QComboBox*>(object) != nullptr;
    case ControlKind::PictureBox:
      return qobject_cast<PictureBox*>(object) != nullptr;
    case ControlKind::GroupBox:
      return qobject_cast<QGroupBox*>(object) != nullptr;
    case ControlKind::TabControl:
      return qobject_cast<QTabWidget*>(object) != nullptr;
    case ControlKind::TaskList:
      return qobject_cast<QTableView*>(object) != nullptr;
    case ControlKind::IconList: {
      auto* list = qobject_cast<QListView*>(object);
      return list != nullptr && list->viewMode() == QListView::IconMode;
    }
    case ControlKind::Timer:
      return qobject_cast<QTimer*>(object) != nullptr;
    case ControlKind::Window:
      return false;
  }
  return false;
}

TEST_F(MainWindowTest, EveryLayoutControlIsAWidgetOfItsKindNamedAfterIt) {
  for (const ControlSpec& spec : MainWindowLayout()) {
    QObject* object = m_window->findChild<QObject*>(Q(spec.name));
    ASSERT_NE(object, nullptr) << spec.name;
    EXPECT_TRUE(HasWidgetOfKind(object, spec.kind, spec.name)) << spec.name;
  }
  EXPECT_EQ(m_window->windowTitle(), "Korvid");
  // Fits a 1366 x 768 laptop and 1920 x 1080 at 150 % (1280 x 720 logical),
  // with room for the title bar and the task bar.
  EXPECT_LE(m_window->minimumSizeHint().width(), 1280);
  EXPECT_LE(m_window->minimumSizeHint().height(), 600);
  EXPECT_LE(m_window->minimumWidth(), 1280);
  EXPECT_LE(m_window->minimumHeight(), 600);
  EXPECT_EQ(Find<QTabWidget>(kComponentTabs)->currentIndex(), 0);
  EXPECT_EQ(Find<QTabWidget>(kSettingsTabs)->currentIndex(), 0);
  EXPECT_TRUE(Find<QLabel>(kHotkeyHelper)->isHidden());
  EXPECT_TRUE(Find<QGroupBox>(kNoticeBox)->isHidden());
  auto* clock = Find<QTimer>(kTickTimer);
  EXPECT_TRUE(clock->isActive());
  EXPECT_EQ(clock->interval(), 1000);
}

// Names, titles and descriptions come from the site: markup in them must show
// as text, never render (a link or a remote image in a label).
TEST_F(MainWindowTest, EveryLabelShowsPlainText) {
  int labels = 0;
  for (const ControlSpec& spec : MainWindowLayout()) {
    auto* label = qobject_cast<QLabel*>(m_window->findChild<QObject*>(Q(spec.name)));
    if (label == nullptr) continue;
    ++labels;
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << spec.name;
  }
  EXPECT_GT(labels, 10);
}

TEST_F(MainWindowTest, WidgetsStartWithTheDesignTimeState) {
  EXPECT_EQ(Find<QLineEdit>(kMaxDownloadsBox)->text(), "3");
  EXPECT_EQ(Find<QPushButton>(kAddLinkButton)->text(), "解析下载");
  auto* hotkey = Find<QComboBox>(kHotkeyDrop);
  ASSERT_EQ(hotkey->count(), 12);
  EXPECT_EQ(hotkey->itemText(4), "F5");
  EXPECT_EQ(hotkey->itemData(4).toLongLong(), 116);
  EXPECT_EQ(hotkey->currentIndex(), m_store.SelectedIndex(kHotkeyDrop));
  EXPECT_TRUE(Find<QLineEdit>(kTitleBox)->isReadOnly());
  EXPECT_FALSE(Find<QLineEdit>(kDetailsLinkBox)->isReadOnly());
}

TEST_F(MainWindowTest, TaskColumnsFitWhatTheyShowAndTheTitleTakesTheRest) {
  auto* view = Find<QTableView>(kTaskList);
  ASSERT_EQ(view->model()->columnCount(), kTaskColumnCount);
  m_window->resize(1300, 700);
  const QFontMetrics cells(view->font());
  const std::map<int, const char*> widest = {
      {kColSize, "1234.56MB"}, {kColReceived, "1234.56MB  100%"}, {kColSpeed, "123.4 MB/S"}};
  for (int column = 0; column < kTaskColumnCount; ++column) {
    const auto& spec = kTaskColumns[static_cast<std::size_t>(column)];
    EXPECT_EQ(view->model()->headerData(column, Qt::Horizontal).toString(), Q(spec.title));
    if (column != kColRecord) {
      EXPECT_GE(view->columnWidth(column), spec.width) << column;
    }
    if (const auto it = widest.find(column); it != widest.end()) {
      EXPECT_GT(view->columnWidth(column), cells.horizontalAdvance(Q(it->second))) << column;
    }
  }
  EXPECT_EQ(view->columnWidth(kColRecord), 1);
  QHeaderView* header = view->horizontalHeader();
  // The title and page-title columns share what the others leave.
  EXPECT_EQ(header->sectionResizeMode(kColTitle), QHeaderView::Interactive);
  EXPECT_EQ(header->sectionResizeMode(kColState), QHeaderView::Interactive);
  EXPECT_GT(view->columnWidth(kColTitle), view->columnWidth(kColState));
  EXPECT_LE(std::abs(view->columnWidth(kColTitle) - view->columnWidth(kColPart)), 1);
}

TEST_F(MainWindowTest, WorkerWritesReachTheWidgets) {
  const auto png = PngBytes(40, 30);
  OnWorker([&] {
    m_store.SetText(kTitleBox, "【4K】测试视频");
    m_store.SetText(kUserInfoLabel, "登录状态：已登录\r\n名字：Korvid");
    m_store.SetText(kDescriptionBox, "第一行\r\n第二行");
    m_store.SetChecked(kByTypeCheck, true);
    m_store.ClearItems(kSourceDrop);
    m_store.AddItem(kSourceDrop, DropItem{"1080P 高清 H.264", 80});
    m_store.AddItem(kSourceDrop, DropItem{"1080P 高清 H.265", 1080, 0xFFDC143C});
    m_store.SelectIndex(kSourceDrop, 1);
    m_store.SetPicture(kCoverPicture, png);
    m_store.SetVisible(kAddFromDetailsButton, false);
    SetStatusCaption(m_store, "正在下载 2 个");
  });
  auto* title = Find<QLineEdit>(kTitleBox);
  auto* source = Find<QComboBox>(kSourceDrop);
  ASSERT_TRUE(SpinUntil([&] { return source->currentIndex() == 1; }));
  EXPECT_EQ(title->text(), "【4K】测试视频");
  EXPECT_EQ(Find<QLabel>(kUserInfoLabel)->text(), "登录状态：已登录\n名字：Korvid");
  EXPECT_EQ(Find<QPlainTextEdit>(kDescriptionBox)->toPlainText(), "第一行\n第二行");
  EXPECT_TRUE(Find<QCheckBox>(kByTypeCheck)->isChecked());
  ASSERT_EQ(source->count(), 2);
  EXPECT_EQ(source->itemData(1).toLongLong(), 1080);
  EXPECT_EQ(source->itemData(1, Qt::ForegroundRole).value<QColor>().rgba(), 0xFFDC143Cu);
  EXPECT_TRUE(Find<PictureBox>(kCoverPicture)->HasImage());
  EXPECT_TRUE(Find<QPushButton>(kAddFromDetailsButton)->isHidden());
  EXPECT_EQ(m_window->windowTitle(), "Korvid - 正在下载 2 个");

  // Echoes of applied state are not user edits: nothing was written back.
  EXPECT_EQ(m_store.Text(kDescriptionBox), "第一行\r\n第二行");
  EXPECT_TRUE(m_store.TakeChangedControls().empty());

  OnWorker([&] {
    m_store.SetPicture(kCoverPicture, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'g'});
    SetStatusCaption(m_store, "");
  });
  ASSERT_TRUE(SpinUntil([&] { return m_window->windowTitle() == "Korvid"; }));
  EXPECT_FALSE(Find<PictureBox>(kCoverPicture)->HasImage());
}

TEST_F(MainWindowTest, ManyWorkerWritesCoalesceIntoFewRefreshes) {
  auto* title = Find<QLineEdit>(kTitleBox);
  int shownTexts = 0;
  QObject::connect(title, &QLineEdit::textChanged, [&] { ++shownTexts; });
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < 500; ++i) m_store.SetText(kTitleBox, std::to_string(w * 1000 + i));
    });
  }
  for (auto& worker : workers) worker.join();
  m_store.SetText(kTitleBox, "last");
  ASSERT_TRUE(SpinUntil([&] { return title->text() == "last"; }));
  // Every write marks the control; the window only applies what is current.
  EXPECT_LE(shownTexts, 20);
}

TEST_F(MainWindowTest, UserEditsReachTheStoreForOtherThreads) {
  Find<QLineEdit>(kTaskLinkBox)->setText("BV1xx411c7mD");
  Find<QPlainTextEdit>(kDanmakuStyleBox)->setPlainText("Style: A\nStyle: B");
  Find<QCheckBox>(kTrayOnCloseCheck)->click();
  Find<QComboBox>(kCodecDrop)->setCurrentIndex(1);

  std::string link, style, codec;
  bool tray = false;
  int codecIndex = -1;
  OnWorker([&] {
    link = m_store.Text(kTaskLinkBox);
    style = m_store.Text(kDanmakuStyleBox);
    tray = m_store.Checked(kTrayOnCloseCheck);
    codecIndex = m_store.SelectedIndex(kCodecDrop);
    codec = m_store.Text(kCodecDrop);
  });
  EXPECT_EQ(link, "BV1xx411c7mD");
  EXPECT_EQ(style, "Style: A\r\nStyle: B");
  EXPECT_TRUE(tray);
  EXPECT_EQ(codecIndex, 1);
  EXPECT_EQ(codec, "HEVC/H.265");
  // User edits are not pending changes to push back into the widgets.
  EXPECT_TRUE(m_store.TakeChangedControls().empty());
}

TEST_F(MainWindowTest, MaxThreadButtonsStayWithinOneToTen) {
  auto* count = Find<QLineEdit>(kMaxDownloadsBox);
  auto* plus = Find<QPushButton>(kMaxDownloadsUpButton);
  auto* minus = Find<QPushButton>(kMaxDownloadsDownButton);
  const auto pressAndRead = [&](QPushButton* button) {
    button->click();
    const std::string expected = m_store.Text(kMaxDownloadsBox);
    EXPECT_TRUE(SpinUntil([&] { return count->text().toStdString() == expected; }));
    return expected;
  };
  count->setText("9");
  EXPECT_EQ(pressAndRead(plus), "10");
  EXPECT_EQ(pressAndRead(plus), "10");
  count->setText("25");
  EXPECT_EQ(pressAndRead(plus), "10");
  EXPECT_EQ(pressAndRead(minus), "9");
  count->setText("1");
  EXPECT_EQ(pressAndRead(minus), "1");
  count->setText("-7");
  EXPECT_EQ(pressAndRead(minus), "1");
  count->setText("abc");
  EXPECT_EQ(pressAndRead(plus), "1");
  count->setText(" 4");
  EXPECT_EQ(pressAndRead(plus), "5");
  count->setText("99999999999999999999999");
  EXPECT_EQ(pressAndRead(minus), "10");
}

TEST_F(MainWindowTest, ChangeFolderPutsThePickInThePathBoxAndSaves) {
  int saves = 0;
  m_window->SetSaveStatesHandler([&] {
    ++saves;
    // Saved after the path box holds the new folder.
    EXPECT_EQ(m_store.Text(kDownloadPathBox), "/srv/视频");
  });
  m_window->SetDefaultDownloadFolder("/opt/korvid/下载");
  m_store.Scripted().QueueFolderAnswer("/srv/视频");
  auto* change = Find<QPushButton>(kChangeFolderButton);
  change->click();
  EXPECT_EQ(saves, 1);
  EXPECT_TRUE(SpinUntil([&] { return Find<QLineEdit>(kDownloadPathBox)->text() == "/srv/视频"; }));

  change->click();  // cancelled: nothing changes, nothing is saved
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(m_store.Text(kDownloadPathBox), "/srv/视频");
  EXPECT_EQ(m_store.Scripted().PickerTitles(),
            (std::vector<std::string>{"选择下载目录", "选择下载目录"}));
  // The picker opens at the folder in effect.
  EXPECT_EQ(m_store.Scripted().PickerStartFolders(),
            (std::vector<std::string>{"/opt/korvid/下载", "/srv/视频"}));

  Find<QPushButton>("打开下载目录")->click();
  EXPECT_EQ(m_store.Scripted().OpenedPaths(), std::vector<std::string>{"/srv/视频"});
}

TEST_F(MainWindowTest, CloseMinimisesWhileMinimiseToTrayIsChecked) {
  int exits = 0;
  m_window->SetExitHandler([&] { ++exits; });
  Find<QCheckBox>(kTrayOnCloseCheck)->setChecked(true);
  EXPECT_FALSE(m_window->close());
  EXPECT_TRUE(m_window->isVisible());
  EXPECT_EQ(exits, 0);

  // "退出程序" always ends, and runs the exit handler once.
  m_window->ExitAction().trigger();
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(m_window->isVisible());
}

TEST_F(MainWindowTest, CloseEndsWhenMinimiseToTrayIsOff) {
  int exits = 0;
  m_window->SetExitHandler([&] { ++exits; });
  EXPECT_TRUE(m_window->close());
  EXPECT_FALSE(m_window->isVisible());
  // Closing ends the program the way "退出程序" does (states saved), once.
  EXPECT_EQ(exits, 1);
  m_window->Exit();
  EXPECT_EQ(exits, 1);
}

TEST_F(MainWindowTest, BringToFrontRestoresAMinimisedWindow) {
  m_window->showMinimized();
  m_window->BringToFront();
  EXPECT_FALSE(m_window->isMinimized());
  EXPECT_TRUE(m_window->isVisible());
}

TEST(MainWindowStartTest, NoticesFromBeforeTheWindowShowWhenItOpens) {
  ControlStore store;
  CreateMainWindowControls(store);
  TaskList tasks;
  store.ShowNotice("解析失败", "失败");
  MainWindow window(store, tasks);
  window.show();
  auto* box = window.findChild<QGroupBox*>(Q(kNoticeBox));
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->title(), "解析失败");
}

TEST(ControlTextTest, LineBreaksAreCrLfInTheStoreAndLfInWidgets) {
  EXPECT_EQ(ToWidgetText("a\r\nb\r\n"), "a\nb\n");
  EXPECT_EQ(ToWidgetText("a\nb"), "a\nb");
  EXPECT_EQ(FromWidgetText("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(FromWidgetText("a\r\nb"), "a\r\nb");
  EXPECT_EQ(FromWidgetText(ToWidgetText("x\r\ny")), "x\r\ny");
}

}  // namespace
}  // namespace korvid
