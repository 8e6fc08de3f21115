#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/tasks/task_list.h"
#include "cross_thread_poster.h"

namespace korvid {

// The Qt face of the core TaskList. Workers update the list from any thread;
// the list's notifier posts one "changed" to the window thread, which starts a
// short timer, and on its tick the model takes the batch of changes and emits
// one dataChanged per dirty row (or one range when most rows changed). So
// hundreds of progress reports a second cost a few repaints, not hundreds.
//
// The view reads a copy of the cells made on that tick. Workers hold the list
// lock across network requests (the details loader does), and the window
// thread must never wait for them: when the lock is busy the tick is simply
// tried again later. Column 0 (the task record, shown 1 px wide) is not
// copied; actions that need the record read it from the list.
class TaskListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The received column's share of the size, 0..100; invalid while unknown.
  static constexpr int kProgressRole = Qt::UserRole + 1;
  // True for a row the user removed; the view hides it.
  static constexpr int kRemovedRole = Qt::UserRole + 2;

  // How long a burst of changes is collected before the view hears of it.
  static constexpr int kBatchMs = 100;

  explicit TaskListModel(TaskList& list, QObject* parent = nullptr);
  ~TaskListModel() override;
  TaskListModel(const TaskListModel&) = delete;
  TaskListModel& operator=(const TaskListModel&) = delete;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Takes the list's pending changes and tells the view. Runs on the batch
  // timer; tests may call it directly. False when the list lock was busy (the
  // timer then tries again).
  bool ApplyChanges();

  // The 1-based list row shown at a model row.
  static int ListRow(int modelRow) { return modelRow + 1; }

 private:
  struct Row {
    std::array<QString, kTaskColumnCount> text;
    std::array<std::uint32_t, kTaskColumnCount> color{};
    std::array<QString, kTaskColumnCount> tip;
    bool removed = false;
  };

  [[nodiscard]] QVariant ProgressTip(const Row& row) const;

  void ScheduleApply();
  // List lock held.
  [[nodiscard]] Row ReadRow(int listRow) const;
  void ReadRows(int fromModelRow, int toModelRow, std::vector<Row>& into) const;

  TaskList& m_list;
  std::vector<Row> m_rows;
  QFont m_cellFont;
  QFont m_headerFont;
  QTimer m_batchTimer;
  std::shared_ptr<CrossThreadPoster> m_poster;
};

}  // namespace korvid
