#include "window_actions.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QValidator>

#include "controls/control_names.h"
#include "controls/window_layout.h"
#include "net/site_hosts.h"
#include "picture_box.h"
#include "support/fake_site_test.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

using test::SpinUntil;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The window with its actions on the core, a scripted desktop, and the site
// played by the fake site.
class WindowActionsTest : public test::FakeSiteTest {
 protected:
  WindowActionsTest() : m_state(m_store, AppPaths{m_sandbox / "program"}) {
    CreateMainWindowControls(m_store);
    m_window = std::make_unique<MainWindow>(m_store, m_state.Tasks());
    m_actions = std::make_unique<WindowActions>(*m_window, m_state);
    m_actions->Login().SetPollWait([](std::chrono::milliseconds) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    m_window->show();
  }

  void TearDown() override {
    m_actions.reset();
    FakeSiteTest::TearDown();
  }

  template <typename T>
  T* Find(std::string_view name) {
    return m_window->findChild<T*>(Q(name));
  }

  int AddRow(const std::string& bvid, const std::string& path) {
    const int row = m_state.Tasks().AppendRow();
    m_state.Tasks().SetCellText(row, kColTitle, "标题" + std::to_string(row));
    m_state.Tasks().SetCellText(
        row, kColRecord, R"({"data":{"bvid":")" + bvid + R"("},"视频路径":")" + path + R"("})");
    return row;
  }

  // Right-clicks a model row of the task list (or empty space below the rows).
  void RightClickRow(int modelRow) {
    auto* view = Find<QTableView>(kTaskList);
    ASSERT_TRUE(SpinUntil([&] { return view->model()->rowCount() == m_state.Tasks().RowCount(); }));
    QPoint at = modelRow < view->model()->rowCount()
                    ? view->visualRect(view->model()->index(modelRow, kColTitle)).center()
                    : QPoint(5, view->viewport()->height() - 3);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(view->viewport(), &event);
  }

  void Choose(QMenu& menu, const char* item) {
    for (QAction* action : menu.actions()) {
      if (action->text() == Q(item)) {
        action->trigger();
        menu.hide();
        m_actions->Actions().Drain();
        return;
      }
    }
    ADD_FAILURE() << "no item " << item;
  }

  std::string LastNotice() {
    const auto notices = m_store.NoticeHistory();
    return notices.empty() ? "" : notices.back().text;
  }

  test::Sandbox m_sandbox;
  ControlStore m_store;
  AppState m_state;
  std::unique_ptr<MainWindow> m_window;
  std::unique_ptr<WindowActions> m_actions;
};

TEST_F(WindowActionsTest, ListMenuActsOnTheRightClickedRow) {
  ASSERT_TRUE(m_sandbox.WriteFile("下载/合并 S1E1.mp4", "mp4"));
  const std::string merged = (m_sandbox / "下载/合并 S1E1.mp4").string();
  AddRow("BV1aa", merged + ".视频");
  AddRow("BV1bb", merged + ".音频");
  QMenu& menu = m_window->ListMenu();

  RightClickRow(5);  // below the rows: no menu
  EXPECT_FALSE(menu.isVisible());
  RightClickRow(1);
  EXPECT_TRUE(menu.isVisible());
  EXPECT_EQ(m_window->Target().row, 2);
  QStringList items;
  for (QAction* action : menu.actions()) items << action->text();
  EXPECT_EQ(items.join(","),
            "打开路径,重新下载,播放视频,暂停,继续,取消,重试,重试全部失败,,清空列表,复制bv号,"
            "复制json,,退出程序");
  m_window->SetConfirmer([](const QString&) { return true; });

  Choose(menu, "复制bv号");
  EXPECT_EQ(m_store.Scripted().ClipboardText(), "BV1bb");
  EXPECT_EQ(LastNotice(), "复制:BV1bb");
  Choose(menu, "复制json");
  EXPECT_EQ(m_store.Scripted().ClipboardText(), m_state.Tasks().CellText(2, kColRecord));
  Choose(menu, "播放视频");  // the audio half plays the merged file
  Choose(menu, "打开路径");
  EXPECT_EQ(m_store.Scripted().OpenedPaths(),
            (std::vector<std::string>{merged, (m_sandbox / "下载").string()}));

  Choose(menu, "重新下载");
  EXPECT_EQ(m_state.Tasks().CellText(2, kColState), "重新下载");
  ASSERT_EQ(m_state.TaskQueue().Count(), 1);
  Choose(menu, "清空列表");  // the re-downloaded task waits
  EXPECT_EQ(LastNotice(), "当前有任务在进行");
  EXPECT_EQ(m_state.Tasks().RowCount(), 2);
  std::string queued;
  ASSERT_TRUE(m_state.TaskQueue().PopText(queued));
  EXPECT_EQ(queued, m_state.Tasks().CellText(2, kColRecord));
  Choose(menu, "清空列表");
  auto* view = Find<QTableView>(kTaskList);
  EXPECT_TRUE(SpinUntil([&] { return view->model()->rowCount() == 0; }));

  int exits = 0;
  m_window->SetExitHandler([&] { ++exits; });
  Choose(menu, "退出程序");
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(m_window->isVisible());
}

TEST_F(WindowActionsTest, ThreadCountTakesDigitsOnly) {
  auto* count = Find<QLineEdit>(kMaxDownloadsBox);
  const QValidator* validator = count->validator();
  ASSERT_NE(validator, nullptr);
  for (const auto& [text, accepted] :
       {std::pair{"abc", false}, std::pair{"3", true}, std::pair{"10", true},
        std::pair{"11", false}, std::pair{"0", false}, std::pair{"-1", false},
        std::pair{"", true}}) {
    QString input = QString::fromUtf8(text);
    int position = 0;
    EXPECT_EQ(validator->validate(input, position) == QValidator::Acceptable, accepted) << text;
  }
}

TEST_F(WindowActionsTest, QrLogInFromTheButtonFillsTheAccount) {
  m_site.SetLoginScript(fakesite::LoginScript{30, 1, false});
  auto* login = Find<QPushButton>(kQrLoginButton);
  login->click();
  auto* qr = Find<PictureBox>(kQrPicture);
  ASSERT_TRUE(SpinUntil([&] { return qr->HasImage(); }));
  login->click();  // while the first one polls
  EXPECT_EQ(m_store.NoticeHistory().front().text, "请勿重复获取二维码");
  auto* info = Find<QLabel>(kUserInfoLabel);
  ASSERT_TRUE(SpinUntil([&] { return info->text().startsWith("登录状态：已登录"); }, 10000));
  EXPECT_TRUE(info->text().contains("用户名：社会易姐QwQ"));
  EXPECT_EQ(Find<QPlainTextEdit>(kCookiesBox)->toPlainText(), Q(m_site.LoginCookie()));
  EXPECT_TRUE(Find<PictureBox>(kVipBadgePicture)->HasImage());
  EXPECT_TRUE(SpinUntil([&] { return !m_state.Busy().IsSet(BusyFlag::kQrLogin); }));

  // The check button asks again; with the box emptied it fails at once.
  Find<QPushButton>(kCheckLoginButton)->click();
  Find<QPlainTextEdit>(kCookiesBox)->setPlainText("");
  Find<QPushButton>(kCheckLoginButton)->click();
  EXPECT_EQ(LastNotice(), "登录失败,请重新获取二维码登录");
}

TEST(QtTranslationTest, ChineseLocaleLoadsQtsOwnChineseTexts) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_FALSE(InstallQtTranslations(*QCoreApplication::instance()));
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  EXPECT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "取消");
  QLocale::setDefault(saved);
}

}  // namespace
}  // namespace korvid
