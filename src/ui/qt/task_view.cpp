#include "task_view.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QRegion>
#include <QStyleOptionProgressBar>
#include <QTableView>
#include <algorithm>

#include "app/readable_color.h"
#include "app/tasks/task_list.h"
#include "task_list_model.h"

namespace korvid {

namespace {

constexpr int kBarMarginX = 3;
constexpr int kBarMarginY = 5;
constexpr int kPercentMax = 100;
constexpr QRgb kLightText = 0xFFFFFFFF;
constexpr QRgb kDarkText = 0xFF1A1A1A;

// The style's text for highlighted things (light on the usual blue), unless
// it is hard to read on this fill; then light or dark, whichever reads better.
QColor TextOnFill(const QPalette& palette) {
  const QRgb fill = palette.color(QPalette::Highlight).rgba();
  const QRgb text = palette.color(QPalette::HighlightedText).rgba();
  if (ContrastRatio(text, fill) >= kMinTextContrast) return QColor::fromRgba(text);
  return ContrastRatio(kLightText, fill) >= ContrastRatio(kDarkText, fill) ? QColor(kLightText)
                                                                           : QColor(kDarkText);
}

// Draws the text clipped to one part of the bar, within the clip already set.
void DrawTextIn(QPainter& painter, const QStyleOptionProgressBar& bar, const QRegion& part,
                const QColor& color) {
  painter.save();
  painter.setClipRegion(part, Qt::IntersectClip);
  painter.setPen(color);
  painter.drawText(bar.rect, Qt::AlignCenter, bar.text);
  painter.restore();
}

// The bar's text, each part readable on what lies under it: light on the
// fill, the list's text colour on the rest.
void DrawBarText(QPainter& painter, const QStyleOptionProgressBar& bar) {
  const QRect area = bar.rect;
  const int filled = area.width() * bar.progress / kPercentMax;
  const QRect done(area.left(), area.top(), filled, area.height());
  DrawTextIn(painter, bar, QRegion(area).subtracted(QRegion(done)),
             bar.palette.color(QPalette::Text));
  if (filled > 0) DrawTextIn(painter, bar, QRegion(done), TextOnFill(bar.palette));
}

}  // namespace

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const QVariant progress = index.data(TaskListModel::kProgressRole);
  if (!progress.isValid()) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  const QString text = cell.text;
  cell.text.clear();
  const QWidget* widget = option.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  // The row's background and selection, then the bar over it.
  style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
  QStyleOptionProgressBar bar;
  bar.initFrom(widget);
  bar.rect = option.rect.adjusted(kBarMarginX, kBarMarginY, -kBarMarginX, -kBarMarginY);
  bar.minimum = 0;
  bar.maximum = kPercentMax;
  bar.progress = std::clamp(progress.toInt(), 0, kPercentMax);
  bar.text = QStringLiteral("%1  %2%").arg(text).arg(bar.progress);
  bar.textVisible = false;  // drawn below, readable over the fill too
  bar.textAlignment = Qt::AlignCenter;
  bar.state |= QStyle::State_Horizontal;
  bar.fontMetrics = QFontMetrics(cell.font);
  painter->save();
  painter->setFont(cell.font);
  style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
  DrawBarText(*painter, bar);
  painter->restore();
}

void FitTextColumns(QTableView& view) {
  int others = 0;
  for (int column = 0; column < view.model()->columnCount(); ++column) {
    if (column != kColTitle && column != kColPart && !view.isColumnHidden(column)) {
      others += view.columnWidth(column);
    }
  }
  const int spare = view.viewport()->width() - others;
  const int title = std::max(kMinTextColumnWidth, spare / 2);
  const int part = std::max(kMinTextColumnWidth, spare - title);
  view.setColumnWidth(kColTitle, title);
  view.setColumnWidth(kColPart, part);
}

std::vector<int> SelectedTaskRows(const QTableView& view) {
  std::vector<int> rows;
  if (view.selectionModel() == nullptr) return rows;
  for (const QModelIndex& index : view.selectionModel()->selectedRows()) {
    if (!view.isRowHidden(index.row())) rows.push_back(TaskListModel::ListRow(index.row()));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void HideRemovedRows(QTableView& view, int first, int last) {
  const QAbstractItemModel* model = view.model();
  for (int row = std::max(first, 0); row <= last && row < model->rowCount(); ++row) {
    const bool removed = model->index(row, kColIndex).data(TaskListModel::kRemovedRole).toBool();
    if (view.isRowHidden(row) != removed) view.setRowHidden(row, removed);
  }
}

TaskKeyFilter::TaskKeyFilter(QTableView& view, Handler handler)
    : QObject(&view), m_view(view), m_handler(std::move(handler)) {}

bool TaskKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &m_view || event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<QKeyEvent*>(event)->key();
  if (key != Qt::Key_Space && key != Qt::Key_Delete) return false;
  m_handler(key);
  return true;
}

}  // namespace korvid
