// The link buttons of the window start their work on a worker: the window
// thread goes on with its events while rows arrive.

#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <filesystem>
#include <set>

#include "application.h"
#include "controls/control_names.h"
#include "net/site_hosts.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

TEST(LinkButtonsTest, AddingAFolderLeavesTheWindowResponsiveAndShowsRowsAsTheyCome) {
  test::Sandbox sandbox;
  test::SocketFolder sockets;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string base = site.BaseUrl();
  // Every video page takes a while, so the adding outlasts the click by far.
  site.SetFault("/video/", fakesite::Fault::Delay(40));

  Application application(AppPaths{sandbox / "program"}, sockets.SocketPath());
  ASSERT_FALSE(application.Start().has_value());
  // After the start, which reads the hosts of the settings file.
  SetCurrentSiteHosts(SiteHosts{base, base, base, base, base});
  application.Controls().SetText(kTaskLinkBox, base + "/7/favlist?fid=30045");
  auto* button = application.Window().findChild<QPushButton*>(QStringLiteral("按钮_解析下载"));
  ASSERT_NE(button, nullptr);
  button->click();
  // The click returned while the worker still runs.
  EXPECT_TRUE(application.State().Busy().IsSet(BusyFlag::kLinkAdd));

  std::set<int> rowCountsSeen;
  const auto& model = application.Window().TaskModel();
  EXPECT_TRUE(test::SpinUntil(
      [&] {
        rowCountsSeen.insert(model.rowCount());
        return model.rowCount() == 45 && !application.State().Busy().IsSet(BusyFlag::kLinkAdd);
      },
      60000));
  EXPECT_GT(rowCountsSeen.size(), 3u);  // rows showed up along the way

  // A press while nothing runs starts again; an unknown link says so.
  application.Controls().SetText(kTaskLinkBox, "nothing to see");
  button->click();
  EXPECT_TRUE(test::SpinUntil([&] { return !application.State().Busy().IsSet(BusyFlag::kLinkAdd); },
                              10000));
  const auto notices = application.Controls().NoticeHistory();
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.back().text, "无法解析链接");
  SetCurrentSiteHosts(LoadSiteHosts());
}

}  // namespace
}  // namespace korvid

namespace korvid {
namespace {

// The window's clock drains the queue: a pasted link ends as a downloaded
// file, with nobody pressing anything but 解析下载.
TEST(LinkButtonsTest, APastedLinkIsDownloadedByTheWindowsScheduler) {
  test::Sandbox sandbox;
  test::SocketFolder sockets;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string base = site.BaseUrl();
  Application application(AppPaths{sandbox / "program"}, sockets.SocketPath());
  ASSERT_FALSE(application.Start().has_value());
  SetCurrentSiteHosts(SiteHosts{base, base, base, base, base});
  application.Controls().SetText(kTaskLinkBox, base + "/video/BV1Ks411D7aa");
  auto* button = application.Window().findChild<QPushButton*>(QStringLiteral("按钮_解析下载"));
  ASSERT_NE(button, nullptr);
  button->click();
  TaskList& tasks = application.State().Tasks();
  EXPECT_TRUE(test::SpinUntil([&] { return tasks.CellText(1, kColState) == "完成"; }, 60000))
      << tasks.CellText(1, kColState);
  const auto media = sandbox / "program" / "下载" / "单页视频 A一 BC" / "唯一的一集S1E1.mp4";
  EXPECT_EQ(test::ReadWholeFile(media), site.MediaBytes(fakesite::MediaKind::Progressive));

  // 重新下载 from the row's menu queues the record again and the row downloads
  // again: the file is back, whole.
  std::filesystem::remove(media);
  QTableView& view =
      *application.Window().findChild<QTableView*>(QStringLiteral("超级列表框_下载列表"));
  const QPoint at = view.visualRect(view.model()->index(0, kColTitle)).center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(view.viewport(), &event);
  QAction* again = nullptr;
  for (QAction* action : application.Window().ListMenu().actions()) {
    if (action->text() == QStringLiteral("重新下载")) again = action;
  }
  ASSERT_NE(again, nullptr);
  again->trigger();
  application.Window().ListMenu().hide();
  EXPECT_TRUE(test::SpinUntil([&] { return tasks.CellText(1, kColState) == "重新下载"; }, 10000));
  EXPECT_TRUE(test::SpinUntil([&] { return tasks.CellText(1, kColState) == "完成"; }, 60000))
      << tasks.CellText(1, kColState);
  EXPECT_EQ(test::ReadWholeFile(media), site.MediaBytes(fakesite::MediaKind::Progressive));
  SetCurrentSiteHosts(LoadSiteHosts());
}

}  // namespace
}  // namespace korvid
