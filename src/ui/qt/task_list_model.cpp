#include "task_list_model.h"

#include <QColor>
#include <mutex>

#include "app/readable_color.h"
#include "app/tasks/task_progress.h"
#include "ui_fonts.h"

namespace korvid {

TaskListModel::TaskListModel(TaskList& list, QObject* parent)
    : QAbstractTableModel(parent),
      m_list(list),
      m_cellFont(YaHeiFont(kTaskCellPointSize)),
      m_headerFont(YaHeiFont(kTaskHeaderPointSize, true)),
      m_poster(std::make_shared<CrossThreadPoster>(this, [this] { ScheduleApply(); })) {
  m_batchTimer.setSingleShot(true);
  m_batchTimer.setInterval(kBatchMs);
  connect(&m_batchTimer, &QTimer::timeout, this, &TaskListModel::ApplyChanges);
  m_list.SetChangeNotifier(MakeNotifier(m_poster));
  // Rows that existed before the model did.
  ApplyChanges();
}

TaskListModel::~TaskListModel() {
  m_poster->Detach();
  m_list.SetChangeNotifier({});
}

int TaskListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TaskListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kTaskColumnCount;
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kTaskColumnCount)
    return {};
  const Row& row = m_rows[static_cast<std::size_t>(index.row())];
  const auto column = static_cast<std::size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return row.text[column];
    case Qt::ToolTipRole:
      if (column == kColReceived && row.tip[column].isEmpty()) return ProgressTip(row);
      return row.tip[column].isEmpty() ? row.text[column] : row.tip[column];
    case Qt::ForegroundRole: {
      const std::uint32_t argb = row.color[column];
      if (argb == kColorDefault) return {};
      return QColor::fromRgba(ReadableOn(argb, kListBackground));
    }
    case kProgressRole: {
      if (column != kColReceived) return {};
      const auto percent =
          ProgressPercent(row.text[kColSize].toStdString(), row.text[kColReceived].toStdString());
      return percent ? QVariant(*percent) : QVariant();
    }
    case kRemovedRole:
      return row.removed;
    case Qt::FontRole:
      return m_cellFont;
    default:
      return {};
  }
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kTaskColumnCount) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  switch (role) {
    case Qt::DisplayRole: {
      const std::string_view title = kTaskColumns[static_cast<std::size_t>(section)].title;
      return QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    }
    case Qt::FontRole:
      return m_headerFont;
    default:
      return {};
  }
}

QVariant TaskListModel::ProgressTip(const Row& row) const {
  const std::string size = row.text[kColSize].toStdString();
  const std::string received = row.text[kColReceived].toStdString();
  const auto percent = ProgressPercent(size, received);
  if (!percent) return row.text[kColReceived];
  QString tip = QStringLiteral("%1 / %2（%3%）")
                    .arg(row.text[kColReceived], row.text[kColSize])
                    .arg(*percent);
  const std::string state = row.text[kColState].toStdString();
  const auto left = SecondsLeft(size, received, row.text[kColSpeed].toStdString());
  if (left && !IsFinalState(state)) {
    tip += QStringLiteral("\n剩余时间：") + QString::fromStdString(TimeLeftText(*left));
  }
  return tip;
}

void TaskListModel::ScheduleApply() {
  if (!m_batchTimer.isActive()) m_batchTimer.start();
}

bool TaskListModel::ApplyChanges() {
  std::unique_lock held(m_list.ListLock(), std::try_to_lock);
  if (!held.owns_lock()) {
    ScheduleApply();
    return false;
  }
  const TaskListChanges changes = m_list.TakeChanges();
  const int oldRowCount = rowCount();
  // Rows only ever disappear all together (with a reset); a shrink without
  // one is treated as a reset all the same.
  if (changes.reset || changes.rowCount < oldRowCount) {
    std::vector<Row> rows;
    ReadRows(0, changes.rowCount, rows);
    held.unlock();
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    return true;
  }
  std::vector<Row> added;
  ReadRows(oldRowCount, changes.rowCount, added);
  // New rows are painted anyway; only rows the view already had need a
  // dataChanged.
  std::vector<int> dirty;
  for (int listRow : changes.dirtyRows) {
    const int modelRow = listRow - 1;
    if (modelRow < 0 || modelRow >= oldRowCount) continue;
    m_rows[static_cast<std::size_t>(modelRow)] = ReadRow(listRow);
    dirty.push_back(modelRow);
  }
  held.unlock();

  if (!added.empty()) {
    beginInsertRows(QModelIndex(), oldRowCount, changes.rowCount - 1);
    std::move(added.begin(), added.end(), std::back_inserter(m_rows));
    endInsertRows();
  }
  if (dirty.empty()) return true;
  const int lastColumn = kTaskColumnCount - 1;
  if (dirty.size() * 2 > static_cast<std::size_t>(oldRowCount)) {
    emit dataChanged(index(dirty.front(), 0), index(dirty.back(), lastColumn));
    return true;
  }
  for (int modelRow : dirty) {
    emit dataChanged(index(modelRow, 0), index(modelRow, lastColumn));
  }
  return true;
}

TaskListModel::Row TaskListModel::ReadRow(int listRow) const {
  Row row;
  // Column 0 holds the whole task record; the view shows it 1 px wide.
  for (int column = 1; column < kTaskColumnCount; ++column) {
    const auto at = static_cast<std::size_t>(column);
    row.text[at] = QString::fromStdString(m_list.CellText(listRow, column));
    row.color[at] = m_list.CellColor(listRow, column);
    row.tip[at] = QString::fromStdString(m_list.CellTip(listRow, column));
  }
  row.removed = m_list.IsRemovedRow(listRow);
  return row;
}

void TaskListModel::ReadRows(int fromModelRow, int toModelRow, std::vector<Row>& into) const {
  for (int modelRow = fromModelRow; modelRow < toModelRow; ++modelRow) {
    into.push_back(ReadRow(ListRow(modelRow)));
  }
}

}  // namespace korvid
