#include "application.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <csignal>
#include <filesystem>

#include "app/settings_file.h"
#include "app/window_placement.h"
#include "controls/control_names.h"
#include "net/site_hosts.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "support/shell_run.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

class ApplicationTest : public ::testing::Test {
 protected:
  AppPaths Paths() const { return AppPaths{m_sandbox / "program"}; }
  QString InstanceName() const { return m_sockets.SocketPath(); }

  template <typename T>
  static T* Find(Application& application, std::string_view name) {
    return application.Window().findChild<T*>(
        QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  }

  // The settings file's [站点] section sets the process-wide hosts.
  void TearDown() override { SetCurrentSiteHosts(LoadSiteHosts()); }

  test::Sandbox m_sandbox;
  test::SocketFolder m_sockets;
};

TEST_F(ApplicationTest, FirstStartCreatesTheFoldersAndAppliesTheStartSettings) {
  Application application(Paths(), InstanceName());
  ASSERT_FALSE(application.Start().has_value());
  EXPECT_TRUE(fs::is_directory(Paths().ConfigFolder()));
  EXPECT_TRUE(fs::is_directory(Paths().DownloadFolder()));
  EXPECT_TRUE(fs::is_directory(Paths().AvatarFolder()));
  EXPECT_TRUE(application.Window().isVisible());
  EXPECT_EQ(Find<QLabel>(application, kVersionLabel)->text(), "当前版本: 0.1.1");
  // No cookie: the account shows the failed log-in and no picture.
  EXPECT_EQ(Find<QLabel>(application, kUserInfoLabel)->text(), "登录状态：失败");
  EXPECT_TRUE(application.Controls().Picture(kUserAvatarPicture).empty());
  EXPECT_EQ(application.Window().windowTitle(), "Korvid");
}

TEST_F(ApplicationTest, SavedStatesAreShownAtStartAndSavedByExit) {
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string cookies = site.LoginCookie() + "; note=\"x\"";
  {
    ControlStore saved;
    CreateMainWindowControls(saved);
    saved.SetText(kDownloadPathBox, "/srv/media");
    saved.SetText(kCookiesBox, cookies);
    saved.SetChecked(kByUploaderCheck, true);
    const std::string file = Paths().ConfigFile().string();
    ASSERT_TRUE(SaveStates(saved, file));
    IniFile ini;
    ASSERT_TRUE(ini.Load(file));
    ini.Set(kSiteHostsSection, "KORVID_API_BASE", site.BaseUrl());
    ASSERT_TRUE(ini.Save(file));
  }
  {
    Application application(Paths(), InstanceName());
    ASSERT_FALSE(application.Start().has_value());
    EXPECT_EQ(Find<QLineEdit>(application, kDownloadPathBox)->text(), "/srv/media");
    // With a cookie the account worker shows who is logged in.
    auto* info = Find<QLabel>(application, kUserInfoLabel);
    EXPECT_TRUE(test::SpinUntil([&] { return info->text().startsWith("登录状态：已登录"); }));

    Find<QLineEdit>(application, kEmbyUrlBox)->setText("http://nas:8096");
    application.Window().ExitAction().trigger();
    EXPECT_FALSE(application.Window().isVisible());
  }
  ControlStore restored;
  CreateMainWindowControls(restored);
  ASSERT_TRUE(RestoreStates(restored, Paths().ConfigFile().string()));
  EXPECT_EQ(restored.Text(kEmbyUrlBox), "http://nas:8096");
  EXPECT_EQ(restored.Text(kCookiesBox), cookies);
  EXPECT_TRUE(restored.Checked(kByUploaderCheck));
}

TEST_F(ApplicationTest, ClosingTheWindowSavesTheStatesSizeAndTabsForTheNextStart) {
  const WindowPlacement placement{30, 20, 760, 560, false, 1, 2};
  {
    Application application(Paths(), InstanceName());
    ASSERT_FALSE(application.Start().has_value());
    Find<QLineEdit>(application, kEmbyUrlBox)->setText("http://nas:8096");
    application.Window().ApplyPlacement(placement);
    EXPECT_TRUE(application.Window().close());
  }
  ControlStore restored;
  CreateMainWindowControls(restored);
  (void)RestoreStates(restored, Paths().ConfigFile().string());
  EXPECT_EQ(restored.Text(kEmbyUrlBox), "http://nas:8096");
  EXPECT_EQ(LoadWindowPlacement(Paths().ConfigFile().string()), placement);

  Application again(Paths(), InstanceName());
  ASSERT_FALSE(again.Start().has_value());
  EXPECT_EQ(again.Window().Placement(), placement);
  EXPECT_EQ(Find<QTabWidget>(again, kComponentTabs)->currentIndex(), 1);
  EXPECT_EQ(Find<QTabWidget>(again, kSettingsTabs)->currentIndex(), 2);
}

// Settings reach the disk as they change and at a SIGTERM (a desktop
// log-out), the task list too; the next start shows both.
TEST_F(ApplicationTest, ChangesAreKeptWithoutTheExitMenu) {
  const std::string file = Paths().ConfigFile().string();
  const auto stored = [&file](std::string_view name) {
    IniFile ini;
    return ini.Load(file) ? ini.Get(kSectionEditBox, name) : std::string();
  };
  {
    Application application(Paths(), InstanceName());
    ASSERT_FALSE(application.Start().has_value());
    Find<QLineEdit>(application, kEmbyUrlBox)->setText("http://nas:8096");
    EXPECT_TRUE(test::SpinUntil([&] { return stored(kEmbyUrlBox) == "http://nas:8096"; }));

    auto* maximum = Find<QLineEdit>(application, kMaxDownloadsBox);
    maximum->setText("4");
    maximum->setText("");
    emit maximum->editingFinished();  // what leaving the box sends
    EXPECT_EQ(maximum->text(), "4");

    AppState& state = application.State();
    {
      std::lock_guard held(state.ListLock());
      const int row = state.Tasks().AppendRow();
      ASSERT_TRUE(state.QueueTask(row, R"({"任务id":"1"})"));
      state.Tasks().SetCellText(row, kColState, kStateDownloading);
    }
    // A log-in's cookie, then the session ends.
    application.Controls().SetText(kCookiesBox, "SESSDATA=kept");
    std::raise(SIGTERM);
    EXPECT_TRUE(test::SpinUntil([&] { return stored(kCookiesBox) == "SESSDATA=kept"; }));
    EXPECT_EQ(stored(kMaxDownloadsBox), "4");
  }
  Application again(Paths(), InstanceName());
  ASSERT_FALSE(again.Start().has_value());
  EXPECT_EQ(again.Controls().Text(kCookiesBox), "SESSDATA=kept");
  ASSERT_EQ(again.State().Tasks().RowCount(), 1);
  EXPECT_EQ(again.State().Tasks().CellText(1, kColState), kStateWaiting);
  EXPECT_EQ(again.State().TaskQueue().Count(), 1);
}

TEST_F(ApplicationTest, SecondStartRaisesTheFirstWindowAndEndsWithoutOne) {
  Application first(Paths(), InstanceName());
  ASSERT_FALSE(first.Start().has_value());
  first.Window().showMinimized();

  Application second(Paths(), InstanceName());
  const std::optional<int> exitCode = second.Start();
  ASSERT_TRUE(exitCode.has_value());
  EXPECT_EQ(*exitCode, 0);
  EXPECT_TRUE(test::SpinUntil([&] { return !first.Window().isMinimized(); }));
}

TEST(CommandLineTest, HelpAndVersionPrintAndEndWithoutAWindow) {
  for (const auto& [option, expected] :
       {std::pair{"--version", "Korvid 0.1.1\n"}, std::pair{"-v", "Korvid 0.1.1\n"},
        std::pair{"--help", "Usage: korvid"}, std::pair{"-h", "Usage: korvid"}}) {
    // No display at all: the answer must not need one.
    const std::string command =
        std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + KORVID_GUI_PATH +
        " " + option + " 2>&1";
    const test::ShellRun run = test::RunShell(command);
    EXPECT_EQ(run.exitCode, 0) << option;
    EXPECT_TRUE(run.output.starts_with(expected)) << option << ": " << run.output;
  }
}

TEST(DisplayCheckTest, NeedsADisplayOrAChosenPlatform) {
  const QByteArray display = qgetenv("DISPLAY");
  const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  qunsetenv("DISPLAY");
  qunsetenv("WAYLAND_DISPLAY");
  qunsetenv("QT_QPA_PLATFORM");
  EXPECT_FALSE(DisplayAvailable());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  EXPECT_TRUE(DisplayAvailable());
  qunsetenv("QT_QPA_PLATFORM");
  qputenv("DISPLAY", ":0");
  EXPECT_TRUE(DisplayAvailable());
  for (const auto& [name, value] :
       {std::pair{"DISPLAY", display}, std::pair{"WAYLAND_DISPLAY", wayland},
        std::pair{"QT_QPA_PLATFORM", platform}}) {
    if (value.isEmpty()) {
      qunsetenv(name);
    } else {
      qputenv(name, value);
    }
  }
}

TEST_F(ApplicationTest, TheDanmakuRefreshButtonIsRefusedWhileARefreshRuns) {
  Application application(Paths(), InstanceName());
  ASSERT_FALSE(application.Start().has_value());
  application.State().Busy()[BusyFlag::kDanmakuRefresh] = 1;
  Find<QPushButton>(application, kRefreshDanmakuButton)->click();
  const auto notices = application.Controls().NoticeHistory();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, "有刷新任务在进行中...");
  application.State().Busy()[BusyFlag::kDanmakuRefresh] = 0;
}

}  // namespace
}  // namespace korvid
