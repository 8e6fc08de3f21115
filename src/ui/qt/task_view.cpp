#include "task_view.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <QTableView>
#include <algorithm>

#include "app/tasks/task_list.h"
#include "task_list_model.h"

namespace korvid {

namespace {

constexpr int kBarMarginX = 3;
constexpr int kBarMarginY = 5;
constexpr int kPercentMax = 100;

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
  bar.textVisible = true;
  bar.textAlignment = Qt::AlignCenter;
  bar.state |= QStyle::State_Horizontal;
  bar.fontMetrics = QFontMetrics(cell.font);
  painter->save();
  painter->setFont(cell.font);
  style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
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
