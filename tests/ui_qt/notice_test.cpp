#include <gtest/gtest.h>

#include <QWidget>
#include <thread>

#include "control_binder.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "notice_presenter.h"
#include "ui_test_support.h"

namespace korvid {
namespace {

using test::SpinUntil;

class NoticeTest : public ::testing::Test {
 protected:
  NoticeTest() : m_firstBox(new NoticeBox(&m_window)), m_notices(m_window, *m_firstBox) {
    m_firstBox->setObjectName(ToWidgetText(kNoticeBox));
    m_window.resize(1100, 700);
    m_window.show();
  }

  NoticeBox* BoxOfLast() { return m_notices.BoxOf(m_notices.LastNoticeId()); }

  QWidget m_window;
  NoticeBox* m_firstBox;
  NoticePresenter m_notices;
};

TEST_F(NoticeTest, SlidesDownStaysAndSlidesBackUp) {
  m_notices.Show("复制json完成", "完成");
  NoticeBox* box = BoxOfLast();
  ASSERT_EQ(box, m_firstBox);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->title(), "复制json完成");
  EXPECT_EQ(box->Icon(), NoticeIcon::Success);
  EXPECT_EQ(box->geometry(), QRect(1100 / 2 - 115, 10, 230, 60));

  m_notices.Advance(25);
  EXPECT_EQ(box->y(), 20);
  m_notices.Advance(75);
  EXPECT_EQ(box->y(), 50);
  m_notices.Advance(1499);
  EXPECT_EQ(box->y(), 50);
  m_notices.Advance(26);
  EXPECT_LT(box->y(), 50);  // on its way back up
  EXPECT_GT(box->y(), 10);
  m_notices.Advance(100);
  EXPECT_FALSE(box->isVisible());
  EXPECT_EQ(m_notices.OnScreen(), 0);
}

TEST_F(NoticeTest, NoticesShownTogetherStackSixtyPixelsApart) {
  m_notices.Show("当前有任务在进行", "失败");
  NoticeBox* first = BoxOfLast();
  m_notices.Show("一二三四五六七八九十", "完成");  // 20 GBK bytes
  NoticeBox* second = BoxOfLast();
  ASSERT_NE(first, second);
  EXPECT_EQ(first, m_firstBox);
  EXPECT_EQ(second->metaObject(), m_firstBox->metaObject());
  EXPECT_TRUE(second->objectName().startsWith(ToWidgetText(kNoticeBox)));

  m_notices.Advance(500);
  EXPECT_EQ(first->y(), 50);
  EXPECT_EQ(second->y(), 110);
  EXPECT_EQ(first->x(), second->x());
  EXPECT_EQ(first->width(), 230);
  EXPECT_EQ(second->width(), 350);
  EXPECT_EQ(first->Icon(), NoticeIcon::Failure);
  EXPECT_EQ(second->Icon(), NoticeIcon::Success);

  // Once both are gone the window's own box is used again first.
  m_notices.Advance(5000);
  EXPECT_EQ(m_notices.OnScreen(), 0);
  m_notices.Show("九个汉字的提示文本", "other");  // 18 bytes: narrow
  EXPECT_EQ(BoxOfLast(), m_firstBox);
  EXPECT_EQ(m_firstBox->width(), 230);
  EXPECT_EQ(m_firstBox->Icon(), NoticeIcon::Success);  // an unknown title keeps the last icon
}

TEST_F(NoticeTest, WorkerNoticesArriveThroughTheStoreAndAnimateOnTheirOwn) {
  ControlStore store;
  ControlBinder binder(store);
  QObject::connect(&binder, &ControlBinder::NoticeRequested, &m_notices, &NoticePresenter::Show);
  std::thread worker([&] { store.ShowNotice("解析失败", "失败"); });
  worker.join();
  ASSERT_TRUE(SpinUntil([&] { return m_firstBox->isVisible(); }));
  EXPECT_EQ(m_firstBox->title(), "解析失败");
  // The real timer moves it down, then away (1.7 s in all).
  EXPECT_TRUE(SpinUntil([&] { return m_firstBox->y() == 50; }, 2000));
  EXPECT_TRUE(SpinUntil([&] { return !m_firstBox->isVisible(); }, 5000));
  EXPECT_EQ(m_notices.OnScreen(), 0);
}

TEST(NoticeIconTest, DrawsDistinctIcons) {
  const QImage success = DrawNoticeIcon(NoticeIcon::Success, 28).toImage();
  const QImage failure = DrawNoticeIcon(NoticeIcon::Failure, 28).toImage();
  EXPECT_NE(success, failure);
  EXPECT_EQ(success.size(), QSize(28, 28));
  // Centre-left of the disc shows its colour: green for success, red for failure.
  const QColor ok = success.pixelColor(5, 14);
  const QColor bad = failure.pixelColor(5, 14);
  EXPECT_GT(ok.green(), ok.red());
  EXPECT_GT(bad.red(), bad.green());
}

}  // namespace
}  // namespace korvid
