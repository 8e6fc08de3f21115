// The received column's bar: its text reads on the filled part and on the rest.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>

#include "task_list_model.h"
#include "task_view.h"

namespace korvid {
namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 30;

double Lightness(QRgb pixel) {
  return (qRed(pixel) * 0.2126 + qGreen(pixel) * 0.7152 + qBlue(pixel) * 0.0722) / 255.0;
}

struct Ink {
  int light = 0;  // pixels well lighter than the ground under them
  int dark = 0;   // pixels well darker
};

// Text pixels in the middle rows of [left, right): those far from the ground.
Ink InkIn(const QImage& image, int left, int right, QRgb ground) {
  Ink ink;
  const double base = Lightness(ground);
  for (int y = kHeight / 3; y < kHeight * 2 / 3; ++y) {
    for (int x = left; x < right; ++x) {
      const double lightness = Lightness(image.pixel(x, y));
      ink.light += lightness > base + 0.25 ? 1 : 0;
      ink.dark += lightness < base - 0.25 ? 1 : 0;
    }
  }
  return ink;
}

TEST(ProgressBar, TextIsLightOverTheFillAndDarkOverTheRest) {
  QStandardItemModel model(1, 1);
  const QModelIndex cell = model.index(0, 0);
  model.setData(cell, QStringLiteral("888.88MB 888.88MB"));
  model.setData(cell, 50, TaskListModel::kProgressRole);
  QTableView view;
  view.setModel(&model);
  QImage image(kWidth, kHeight, QImage::Format_ARGB32);
  image.fill(view.palette().color(QPalette::Base));
  {
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.widget = &view;
    option.rect = QRect(0, 0, kWidth, kHeight);
    option.state &= ~QStyle::State_Selected;
    ProgressDelegate delegate;
    delegate.paint(&painter, option, cell);
  }
  const QRgb fill = view.palette().color(QPalette::Highlight).rgb();
  // The fill's middle, and the empty part's, away from the boundary and frame.
  const int middle = kWidth / 2;
  const Ink onFill = InkIn(image, 12, middle - 6, fill);
  const Ink onRest = InkIn(image, middle + 6, kWidth - 12, image.pixel(kWidth - 8, kHeight / 2));
  EXPECT_GT(onFill.light, 10);
  EXPECT_EQ(onFill.dark, 0);
  EXPECT_GT(onRest.dark, 10);
  EXPECT_EQ(onRest.light, 0);
}

}  // namespace
}  // namespace korvid
