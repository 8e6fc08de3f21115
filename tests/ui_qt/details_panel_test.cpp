// The details panel in the window: the button starts the loader on a worker,
// the window keeps handling events meanwhile, and a page chosen by the user
// reloads that page's stream list.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "application.h"
#include "controls/control_names.h"
#include "net/site_hosts.h"
#include "support/fake_site_test.h"
#include "support/sandbox.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

constexpr int kWaitMs = 20000;

class DetailsPanelWindowTest : public test::FakeSiteTest {
 protected:
  void SetUp() override {
    test::FakeSiteTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_FALSE(m_app.Start().has_value());
    const std::string base = m_site.BaseUrl();
    // Start restored the (absent) settings; the hosts stay the fake site's.
    SetCurrentSiteHosts(SiteHosts{base, base, base, base, base});
  }
  void TearDown() override {
    EXPECT_TRUE(m_app.Details().WaitIdle(kWaitMs));
    test::FakeSiteTest::TearDown();
  }

  template <typename T>
  T* Find(std::string_view name) {
    return m_app.Window().findChild<T*>(
        QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  }

  test::Sandbox m_sandbox;
  test::SocketFolder m_sockets;
  Application m_app{AppPaths{m_sandbox / "program"}, m_sockets.SocketPath()};
};

TEST_F(DetailsPanelWindowTest, LoadsOnAWorkerWhileTheWindowRuns) {
  m_app.Controls().SetText(kCookiesBox, "SESSDATA=fakesite");
  // Slow pages: the load takes a while, during which the window must run on.
  m_site.SetFault("/video/", fakesite::Fault::Delay(400));
  auto* link = Find<QLineEdit>(kDetailsLinkBox);
  auto* load = Find<QPushButton>(kLoadDetailsButton);
  ASSERT_NE(link, nullptr);
  ASSERT_NE(load, nullptr);
  link->setText(QStringLiteral("https://www.bilibili.com/video/BV1Mp411T7bb"));

  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
  ticker.start(10);
  load->click();  // returns at once: the worker does the requests
  EXPECT_TRUE(m_app.State().Busy().IsSet(BusyFlag::kDetails));
  auto* title = Find<QLineEdit>(kTitleBox);
  auto* streams = Find<QComboBox>(kSourceDrop);
  ASSERT_TRUE(test::SpinUntil([&] { return streams->count() == 8; }, kWaitMs));
  EXPECT_GE(ticks, 10);  // at least 100 ms of timer ticks went by during the load
  EXPECT_EQ(title->text(), QStringLiteral("三集测试视频"));
  EXPECT_EQ(Find<QLineEdit>(kDurationBox)->text(), QStringLiteral("2分5秒"));
  EXPECT_EQ(Find<QLineEdit>(kUploaderNameBox)->text(), QStringLiteral("测试UP主乙"));
  auto* parts = Find<QComboBox>(kPartDrop);
  ASSERT_EQ(parts->count(), 3);
  EXPECT_EQ(parts->itemText(1), QStringLiteral("第二集/中段"));
  EXPECT_TRUE(
      test::SpinUntil([&] { return !m_app.State().Busy().IsSet(BusyFlag::kDetails); }, kWaitMs));

  // The user picks page 3: its streams are asked for, off the window thread.
  m_site.ClearRequests();
  parts->setCurrentIndex(2);
  emit parts->activated(2);
  ASSERT_TRUE(test::SpinUntil(
      [&] {
        for (const auto& request : m_site.Requests()) {
          if (request.query.find("cid=35306865853&") != std::string::npos) return true;
        }
        return false;
      },
      kWaitMs));
  ASSERT_TRUE(m_app.Details().WaitIdle(kWaitMs));
  EXPECT_TRUE(test::SpinUntil([&] { return streams->count() == 8; }, kWaitMs));
}

}  // namespace
}  // namespace korvid
