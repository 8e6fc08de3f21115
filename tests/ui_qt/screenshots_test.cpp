// Pictures of the window for the documentation: downloads with progress
// bars, a paused row, and the question of "退出程序". Runs only when asked
// (KORVID_SCREENSHOT_DIR names the folder for the pictures), on a real X
// display such as Xvfb:
//   QT_QPA_PLATFORM=xcb KORVID_SCREENSHOT_DIR=docs
//     xvfb-run -s "-screen 0 1366x768x24" test_ui_qt --gtest_filter='Screenshots.*'
// KORVID_SCREENSHOT_SUFFIX is added to each name ("-150" for the 150 % set).

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <memory>
#include <string>

#include "app/tasks/task_progress.h"
#include "application.h"
#include "controls/control_names.h"
#include "net/site_hosts.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

constexpr int kWaitMs = 60000;

bool SaveScreen(const QString& path) {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr && screen->grabWindow(0).save(path);
}

void AddLink(Application& app, const std::string& link) {
  auto* box = app.Window().findChild<QLineEdit*>(QStringLiteral("编辑框_解析下载"));
  ASSERT_NE(box, nullptr);
  box->setText(QString::fromStdString(link));
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(box, &enter);
}

TEST(Screenshots, DownloadsWithBarsAPausedRowAndTheExitQuestion) {
  const QString folder = qEnvironmentVariable("KORVID_SCREENSHOT_DIR");
  if (folder.isEmpty() || QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    GTEST_SKIP() << "pictures only when KORVID_SCREENSHOT_DIR is set, on a display";
  }
  const QString suffix = qEnvironmentVariable("KORVID_SCREENSHOT_SUFFIX");
  test::Sandbox sandbox;
  test::SocketFolder sockets;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  site.SetProgressiveMediaSize(6 * 1024 * 1024);
  site.SetFault("/media/", fakesite::Fault::Throttle(120 * 1024));
  Application app(AppPaths{sandbox / "program"}, sockets.SocketPath());
  ASSERT_FALSE(app.Start().has_value());
  const std::string base = site.BaseUrl();
  SetCurrentSiteHosts(SiteHosts{base, base, base, base, base});
  app.Window().setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
  app.Window().show();

  AddLink(app, base + "/video/BV1Mp411T7bb");
  TaskList& tasks = app.State().Tasks();
  ASSERT_TRUE(test::SpinUntil([&] { return tasks.RowCount() == 3; }, kWaitMs));
  AddLink(app, base + "/video/BV1Ks411D7aa");
  ASSERT_TRUE(test::SpinUntil([&] { return tasks.RowCount() == 4; }, kWaitMs));
  const auto received = [&](int row) {
    return CellMegabytes(tasks.CellText(row, kColReceived)).value_or(0.0);
  };
  ASSERT_TRUE(test::SpinUntil([&] { return received(2) > 0.4; }, kWaitMs));
  QTableView& view = app.Window().TaskView();
  view.selectRow(1);
  view.setFocus();
  QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &space);
  ASSERT_TRUE(test::SpinUntil([&] { return tasks.CellText(2, kColState) == kStatePaused; }));
  test::SpinUntil([&] { return received(1) > 1.6; }, kWaitMs);
  view.clearSelection();
  test::SpinFor(1200);
  EXPECT_TRUE(SaveScreen(folder + QStringLiteral("/screenshot%1.png").arg(suffix)));

  // The real question, answered "no" once its picture is taken.
  QTimer::singleShot(1000, &app, [&] {
    EXPECT_TRUE(SaveScreen(folder + QStringLiteral("/screenshot-confirm%1.png").arg(suffix)));
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
  });
  app.Window().ExitAction().trigger();
  EXPECT_TRUE(app.Window().isVisible());

  // Long notices show whole, wrapped.
  app.Controls().ShowNotice("下载目录不存在，已改用：" + (sandbox / "program" / "下载").string(),
                            kNoticeFailed);
  // One longer than two lines gets a taller box, below the first.
  app.Controls().ShowNotice(
      "无法写入下载目录：" + (sandbox / "一个很长的文件夹名字" / "又一层很长的文件夹名字" /
                              "korvid" / "下载" / "番剧与纪录片" / "第一季")
                                 .string(),
      kNoticeFailed);
  test::SpinFor(800);
  EXPECT_TRUE(SaveScreen(folder + QStringLiteral("/screenshot-notice%1.png").arg(suffix)));
  SetCurrentSiteHosts(LoadSiteHosts());
}

}  // namespace
}  // namespace korvid
