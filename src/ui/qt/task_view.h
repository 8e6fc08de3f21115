#pragma once

#include <QStyledItemDelegate>
#include <functional>
#include <vector>

class QTableView;

namespace korvid {

// Draws the received column as a progress bar with the cell's text and the
// percentage on it, while the size is known; other cells as usual.
class ProgressDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

// The narrowest the title and page-title columns get when the list is small.
inline constexpr int kMinTextColumnWidth = 80;

// Gives the title and page-title columns the width the other columns leave,
// half each, neither below kMinTextColumnWidth (the list scrolls sideways
// then).
void FitTextColumns(QTableView& view);

// The 1-based task rows selected in the view, ascending.
[[nodiscard]] std::vector<int> SelectedTaskRows(const QTableView& view);

// Hides the rows of the model range [first, last] that were removed.
void HideRemovedRows(QTableView& view, int first, int last);

// Keys of the task list: Space and Delete, with the rows selected then.
class TaskKeyFilter : public QObject {
 public:
  using Handler = std::function<void(int key)>;
  TaskKeyFilter(QTableView& view, Handler handler);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTableView& m_view;
  Handler m_handler;
};

}  // namespace korvid
