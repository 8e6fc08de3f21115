#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <memory>

#include "application.h"
#include "controls/window_layout.h"
#include "global_hotkey.h"
#include "main_window.h"
#include "support/sandbox.h"
#include "ui_test_support.h"
#include "window_tray.h"

namespace korvid {
namespace {

TEST(TrayTip, CutTo127BytesOnACharacterBoundary) {
  EXPECT_EQ(TrayTip("Korvid"), "Korvid");
  EXPECT_EQ(TrayTip(std::string(200, 'a')), std::string(127, 'a'));
  std::string chinese;
  for (int i = 0; i < 50; ++i) chinese += "视";  // 3 bytes each
  const std::string cut = TrayTip(chinese);
  EXPECT_EQ(cut.size(), 126U);
  EXPECT_EQ(QString::fromStdString(cut).size(), 42);
}

TEST(Hotkey, EntriesAreF1ToF12) {
  EXPECT_EQ(HotkeyCode(0), 112);
  EXPECT_EQ(HotkeyCode(4), 116);  // the fifth entry: F5
  EXPECT_EQ(HotkeyCode(11), 123);
  EXPECT_EQ(HotkeyCode(12), 0);
  EXPECT_EQ(HotkeyCode(-1), 0);
}

class TrayTest : public ::testing::Test {
 protected:
  TrayTest() {
    CreateMainWindowControls(m_store);
    m_window = std::make_unique<MainWindow>(m_store, m_tasks);
    m_tray = new WindowTray(m_store, *m_window);
    m_window->show();
  }

  ControlStore m_store;
  TaskList m_tasks;
  std::unique_ptr<MainWindow> m_window;
  WindowTray* m_tray = nullptr;
};

TEST_F(TrayTest, LeftClickAndToggleShowTheWindowAndTheMenuExits) {
  EXPECT_EQ(m_tray->Icon().toolTip(), "Korvid");
  EXPECT_FALSE(m_tray->Icon().icon().isNull());

  ToggleWindow(*m_window);
  EXPECT_FALSE(m_window->isVisible());
  ToggleWindow(*m_window);
  EXPECT_TRUE(m_window->isVisible());

  m_window->hide();
  emit m_tray->Icon().activated(QSystemTrayIcon::Context);
  EXPECT_FALSE(m_window->isVisible());
  emit m_tray->Icon().activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(m_window->isVisible());

  int exits = 0;
  m_window->SetExitHandler([&] { ++exits; });
  EXPECT_EQ(m_tray->Menu().title(), "退出程序");
  const QList<QAction*> items = m_tray->Menu().actions();
  ASSERT_EQ(items.size(), 1);
  EXPECT_EQ(items[0]->text(), "退出程序");
  items[0]->trigger();
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(m_window->isVisible());
  EXPECT_FALSE(m_tray->Shown());
}

TEST(ApplicationHotkey, WithoutAGlobalKeyTheLabelSaysSoAndTheProgramRunsOn) {
  test::Sandbox sandbox;
  test::SocketFolder sockets;
  Application application(AppPaths{sandbox / "program"}, sockets.SocketPath());
  ASSERT_FALSE(application.Start().has_value());
  auto* label = application.Window().findChild<QLabel*>(QStringLiteral("标签_呼出快捷键"));
  ASSERT_NE(label, nullptr);
  // Offscreen (as the tests run) no key can be grabbed; under X11 it can.
  const QString expected = application.Hotkey().Registered() ? "呼出快捷键" : "热键注册失败";
  EXPECT_TRUE(test::SpinUntil([&] { return label->text() == expected; }));
  EXPECT_TRUE(application.Window().isVisible());
}

}  // namespace
}  // namespace korvid
