// The queue in the user's hands, through the window's widgets against the
// fake site: keys and the list menu pause, continue, cancel and retry the
// selected rows; the exit and the clearing ask first; the tray tells how a
// batch ended; download folder problems are said once.

#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTableView>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/menus.h"
#include "app/tasks/task_progress.h"
#include "application.h"
#include "controls/control_names.h"
#include "net/site_hosts.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "task_list_model.h"
#include "task_view.h"
#include "transfer/target_lock.h"
#include "ui_test_support.h"
#include "window_tray.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using fakesite::MediaKind;

constexpr int kWaitMs = 60000;
constexpr const char* kOnePage = "/video/BV1Ks411D7aa";
constexpr const char* kThreePages = "/video/BV1Mp411T7bb";
constexpr std::int64_t kBigMedia = 800 * 1024;
constexpr std::int64_t kSlowBytesPerSecond = 150 * 1024;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class QueueControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_site.Start());
    m_app = std::make_unique<Application>(AppPaths{m_sandbox / "program"}, m_sockets.SocketPath());
    ASSERT_FALSE(m_app->Start().has_value());
    const std::string base = m_site.BaseUrl();
    SetCurrentSiteHosts(SiteHosts{base, base, base, base, base});
    m_app->Window().SetConfirmer([this](const QString& question) {
      m_questions.push_back(question);
      return m_answer;
    });
  }
  void TearDown() override {
    m_app.reset();
    SetCurrentSiteHosts(LoadSiteHosts());
  }

  [[nodiscard]] QTableView& View() { return m_app->Window().TaskView(); }
  [[nodiscard]] TaskList& Tasks() { return m_app->State().Tasks(); }
  [[nodiscard]] std::string State(int row) { return Tasks().CellText(row, kColState); }
  [[nodiscard]] fs::path Media(int row) { return RowMediaPathOf(row); }
  [[nodiscard]] fs::path RowMediaPathOf(int row);

  // Types the link into the link box and presses Enter there.
  void EnterLink(const std::string& path) {
    auto* box = m_app->Window().findChild<QLineEdit*>(Q(kTaskLinkBox));
    ASSERT_NE(box, nullptr);
    box->setText(QString::fromStdString(m_site.BaseUrl() + path));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &enter);
  }
  void PressKey(int key) {
    View().setFocus();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&View(), &press);
  }
  // Selects model rows as Ctrl+clicks would.
  void Select(const std::vector<int>& modelRows) {
    View().clearSelection();
    for (const int row : modelRows) {
      View().selectionModel()->select(View().model()->index(row, kColTitle),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  // Right-clicks the model row and picks the list menu's item.
  void ChooseFromMenu(int modelRow, std::string_view item) {
    const QPoint at = View().visualRect(View().model()->index(modelRow, kColTitle)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, View().viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(View().viewport(), &event);
    QAction* chosen = nullptr;
    for (QAction* action : m_app->Window().ListMenu().actions()) {
      if (action->text() == Q(item)) chosen = action;
    }
    ASSERT_NE(chosen, nullptr) << item;
    chosen->trigger();
    m_app->Window().ListMenu().hide();
  }
  [[nodiscard]] bool WaitForState(int row, std::string_view state) {
    return test::SpinUntil([&] { return State(row) == state; }, kWaitMs);
  }
  [[nodiscard]] bool WaitForRows(int rows) {
    return test::SpinUntil([&] { return View().model()->rowCount() == rows; }, kWaitMs);
  }
  [[nodiscard]] bool WaitForBytes(int row, double megabytes) {
    return test::SpinUntil(
        [&] {
          const auto received = CellMegabytes(Tasks().CellText(row, kColReceived));
          return received && *received > megabytes;
        },
        kWaitMs);
  }
  void SlowMedia() {
    m_site.SetProgressiveMediaSize(kBigMedia);
    m_site.SetFault("/media/", fakesite::Fault::Throttle(kSlowBytesPerSecond));
  }

  test::Sandbox m_sandbox;
  test::SocketFolder m_sockets;
  fakesite::FakeSite m_site;
  std::unique_ptr<Application> m_app;
  std::vector<QString> m_questions;
  bool m_answer = false;
};

fs::path QueueControlsTest::RowMediaPathOf(int row) {
  const std::string record = Tasks().CellText(row, kColRecord);
  const std::string key = "\"视频路径\":\"";
  const std::size_t at = record.find(key);
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size();
  return record.substr(from, record.find('"', from) - from);
}

// Space pauses the running download (its part stays, the bar stays) and
// continues it: the file ends whole, byte for byte.
TEST_F(QueueControlsTest, SpacePausesAndContinuesAThrottledDownload) {
  SlowMedia();
  EnterLink(kOnePage);
  ASSERT_TRUE(WaitForRows(1));
  ASSERT_TRUE(WaitForBytes(1, 0.1)) << State(1);
  ASSERT_TRUE(test::SpinUntil([&] {
    return View().model()->index(0, kColReceived).data(TaskListModel::kProgressRole).isValid();
  }));
  Select({0});
  PressKey(Qt::Key_Space);
  ASSERT_TRUE(WaitForState(1, kStatePaused)) << State(1);
  const fs::path media = Media(1);
  EXPECT_TRUE(fs::exists(PartPathOf(media.string())));
  EXPECT_FALSE(fs::exists(media));
  // The scheduler leaves it paused.
  test::SpinFor(1500);
  EXPECT_EQ(State(1), kStatePaused);

  m_site.ClearFaults();
  PressKey(Qt::Key_Space);
  ASSERT_TRUE(WaitForState(1, kStateDone)) << State(1);
  EXPECT_EQ(test::ReadWholeFile(media), m_site.MediaBytes(MediaKind::Progressive));
  EXPECT_TRUE(test::SpinUntil([&] {
    return View().model()->index(0, kColReceived).data(TaskListModel::kProgressRole).toInt() == 100;
  }));
}

// Delete on a finished and a running row: both rows go, the part goes, the
// finished file stays.
TEST_F(QueueControlsTest, DeleteRemovesRowsAndPartsAndKeepsFinishedFiles) {
  EnterLink(kOnePage);
  ASSERT_TRUE(WaitForRows(1));
  ASSERT_TRUE(WaitForState(1, kStateDone)) << State(1);
  const fs::path finished = Media(1);
  SlowMedia();
  EnterLink(kThreePages);
  ASSERT_TRUE(WaitForRows(4));
  ASSERT_TRUE(WaitForBytes(2, 0.05)) << State(2);
  const fs::path part = PartPathOf(Media(2).string());
  Select({0, 1});
  PressKey(Qt::Key_Delete);
  ASSERT_TRUE(
      test::SpinUntil([&] { return View().isRowHidden(0) && View().isRowHidden(1); }, kWaitMs));
  EXPECT_TRUE(Tasks().IsRemovedRow(1));
  EXPECT_TRUE(Tasks().IsRemovedRow(2));
  EXPECT_TRUE(fs::is_regular_file(finished));
  EXPECT_FALSE(fs::exists(part));
  EXPECT_FALSE(View().isRowHidden(2));
}

// Three failed rows selected together go back by "重试" and complete.
TEST_F(QueueControlsTest, RetryOfThreeSelectedFailedRows) {
  RetryPolicy once;
  once.retries = 0;
  m_app->Engine().SetRetryPolicy(once);
  m_site.SetFault("/media/", fakesite::Fault::Status(404));
  EnterLink(kThreePages);
  ASSERT_TRUE(WaitForRows(3));
  for (int row = 1; row <= 3; ++row) {
    ASSERT_TRUE(test::SpinUntil([&] { return IsFailedState(State(row)); }, kWaitMs)) << State(row);
  }
  m_site.ClearFaults();
  Select({0, 1, 2});
  ChooseFromMenu(1, kRetryItem);
  for (int row = 1; row <= 3; ++row) {
    EXPECT_TRUE(WaitForState(row, kStateDone)) << row << State(row);
  }
}

// With a task waiting, "退出程序" asks; no keeps the window, yes ends it.
// "清空列表" asks too. Both sit where the menu says.
TEST_F(QueueControlsTest, ExitAndClearAskWhileTasksWait) {
  m_app->Window().ThreadClock().stop();  // nothing starts: the rows wait
  EnterLink(kThreePages);
  ASSERT_TRUE(WaitForRows(3));
  ASSERT_TRUE(test::SpinUntil([&] { return State(3) == kStateWaiting; }));
  const QList<QAction*> items = m_app->Window().ListMenu().actions();
  ASSERT_GE(items.size(), 2);
  EXPECT_EQ(items.back()->text(), "退出程序");
  EXPECT_TRUE(items[items.size() - 2]->isSeparator());

  ChooseFromMenu(0, kClearItem);
  ASSERT_EQ(m_questions.size(), 1u);
  test::SpinFor(200);
  EXPECT_EQ(Tasks().RowCount(), 3);

  ChooseFromMenu(0, "退出程序");
  ASSERT_EQ(m_questions.size(), 2u);
  EXPECT_EQ(m_questions.back(), "有 3 个任务未完成，退出后下次启动继续。确定退出？");
  EXPECT_TRUE(m_app->Window().isVisible());
  EXPECT_FALSE(m_app->Window().close());  // closing asks the same

  m_answer = true;
  m_app->Window().ExitAction().trigger();
  EXPECT_FALSE(m_app->Window().isVisible());
  EXPECT_EQ(m_questions.size(), 4u);
}

// Enter in the details box loads the details; notices of a missing download
// folder come once; the tray tells the end of a batch while the window hides.
TEST_F(QueueControlsTest, HiddenWindowHearsOfTheBatchAndTheMissingFolderOnce) {
  m_app->Controls().SetText(kDownloadPathBox, (m_sandbox / "gone").string());
  m_app->Window().hide();
  EnterLink(kThreePages);
  ASSERT_TRUE(WaitForRows(3));
  for (int row = 1; row <= 3; ++row) ASSERT_TRUE(WaitForState(row, kStateDone)) << State(row);
  ASSERT_TRUE(test::SpinUntil([&] { return !m_app->Tray().LastMessage().isEmpty(); }, 5000));
  EXPECT_EQ(m_app->Tray().LastMessage(), "下载完成：3 个成功，0 个失败");
  int missing = 0;
  for (const auto& notice : m_app->Controls().NoticeHistory()) {
    missing +=
        notice.text == "下载目录不存在，已改用：" + (m_sandbox / "program" / "下载").string();
  }
  EXPECT_EQ(missing, 1);

  auto* details = m_app->Window().findChild<QLineEdit*>(Q(kDetailsLinkBox));
  ASSERT_NE(details, nullptr);
  details->setText(QString::fromStdString(m_site.BaseUrl() + kOnePage));
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(details, &enter);
  EXPECT_TRUE(test::SpinUntil(
      [&] { return m_app->Controls().Text(kTitleBox).find("单页视频") != std::string::npos; },
      kWaitMs));
}

// A link added while the site cannot be reached leaves a 解析失败 row and a
// notice that says why.
TEST_F(QueueControlsTest, ALinkAddedOfflineSaysWhyItFailed) {
  m_site.Stop();
  EnterLink(kOnePage);
  ASSERT_TRUE(WaitForRows(1));
  ASSERT_TRUE(WaitForState(1, kStateParseFailed));
  const std::string said = "解析失败：无法连接服务器";
  EXPECT_TRUE(test::SpinUntil(
      [&] {
        for (const auto& notice : m_app->Controls().NoticeHistory()) {
          if (notice.text == said && notice.title == kNoticeFailed) return true;
        }
        return false;
      },
      kWaitMs));
}

// A download folder that refuses new folders fails each row with the reason
// as its tip, and says so once.
TEST_F(QueueControlsTest, AnUnwritableDownloadFolderIsSaidOnceWithTheReasonOnEachRow) {
  std::error_code error;
  if (fs::create_directory("/sys/korvid-test", error) || !fs::is_directory("/sys")) {
    fs::remove("/sys/korvid-test", error);
    GTEST_SKIP() << "no folder here refuses writing";
  }
  m_app->Controls().SetText(kDownloadPathBox, "/sys");
  EnterLink(kThreePages);
  ASSERT_TRUE(WaitForRows(3));
  const std::string why = "无法写入下载目录：/sys";
  for (int row = 1; row <= 3; ++row) {
    ASSERT_TRUE(WaitForState(row, kStateStartFailed)) << State(row);
    EXPECT_TRUE(test::SpinUntil([&] {
      return View().model()->index(row - 1, kColState).data(Qt::ToolTipRole).toString() == Q(why);
    })) << Tasks().CellTip(row, kColState);
  }
  int said = 0;
  for (const auto& notice : m_app->Controls().NoticeHistory()) said += notice.text == why;
  EXPECT_EQ(said, 1);
}

// The title and page-title columns share the room left, never below 80 px,
// and a new row is scrolled into view.
TEST_F(QueueControlsTest, TextColumnsShareTheRoomAndNewRowsComeIntoView) {
  struct Case {
    int width;
    bool atMinimum;
  };
  for (const Case c : {Case{1366, false}, Case{720, true}}) {
    SCOPED_TRACE(c.width);
    m_app->Window().resize(c.width, 700);
    test::SpinFor(50);
    FitTextColumns(View());
    const int title = View().columnWidth(kColTitle);
    const int part = View().columnWidth(kColPart);
    EXPECT_GE(title, kMinTextColumnWidth);
    EXPECT_GE(part, kMinTextColumnWidth);
    EXPECT_LE(std::abs(title - part), 1);
    EXPECT_EQ(title == kMinTextColumnWidth, c.atMinimum);
  }
  m_app->Window().resize(1366, 400);
  m_app->Window().ThreadClock().stop();
  m_app->Controls().SetText(kTaskLinkBox, m_site.BaseUrl() + "/7/favlist?fid=30045");
  EnterLink("/7/favlist?fid=30045");
  ASSERT_TRUE(test::SpinUntil(
      [&] {
        return View().model()->rowCount() >= 45 && !m_app->State().Busy().IsSet(BusyFlag::kLinkAdd);
      },
      kWaitMs));
  test::SpinFor(200);
  const int lastRow = View().model()->rowCount() - 1;
  const QRect last = View().visualRect(View().model()->index(lastRow, kColTitle));
  EXPECT_TRUE(View().viewport()->rect().intersects(last))
      << lastRow << " " << last.y() << " " << View().viewport()->height() << " "
      << View().verticalScrollBar()->value() << "/" << View().verticalScrollBar()->maximum();
}

}  // namespace
}  // namespace korvid
