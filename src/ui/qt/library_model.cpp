#include "library_model.h"

namespace korvid {

namespace {

// Requests waiting beyond this are the ones scrolled past long ago.
constexpr std::size_t kMaxPending = 96;

QPixmap LoadingPicture() {
  QPixmap picture(kThumbnailWidth, kThumbnailHeight);
  picture.fill(QColor(0xEE, 0xF1, 0xF5));
  return picture;
}

}  // namespace

LibraryModel::LibraryModel(QObject* parent, int loaderThreads)
    : QAbstractListModel(parent),
      m_entries(std::make_shared<const LibraryList>()),
      m_loading(LoadingPicture()),
      m_cache(kCachedEntries) {
  m_loader = std::make_unique<ThumbnailLoader>(
      [this](LoadedEntry entry) {
        // Loader thread: hand the result to the window thread; the queued call
        // is dropped if the model is gone by then.
        QMetaObject::invokeMethod(
            this, [this, entry = std::move(entry)] { Accept(entry); }, Qt::QueuedConnection);
      },
      loaderThreads, kMaxPending);
}

LibraryModel::~LibraryModel() {
  m_loader.reset();
}

void LibraryModel::SetEntries(std::shared_ptr<const LibraryList> entries) {
  beginResetModel();
  m_loader->DropPending();
  ++m_generation;
  m_entries = entries ? std::move(entries) : std::make_shared<const LibraryList>();
  m_cache.clear();
  m_requested.clear();
  endResetModel();
}

int LibraryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_entries->size());
}

QVariant LibraryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const int row = index.row();
  if (role == Qt::ToolTipRole) {
    const std::filesystem::path nfo = (*m_entries)[static_cast<std::size_t>(row)];
    return QString::fromStdString(nfo.parent_path().string());
  }
  if (role == Qt::SizeHintRole) return kItemSize;
  if (role != Qt::DisplayRole && role != Qt::DecorationRole) return {};
  const Shown* shown = m_cache.object(row);
  if (shown == nullptr) {
    Request(row);
    return role == Qt::DecorationRole ? QVariant(m_loading) : QVariant();
  }
  if (role == Qt::DisplayRole) return shown->title;
  return shown->thumbnail.isNull() ? QVariant() : QVariant(shown->thumbnail);
}

void LibraryModel::Request(int row) const {
  if (m_requested.contains(row)) return;
  m_requested.insert(row);
  m_loader->Request(m_generation, row, (*m_entries)[static_cast<std::size_t>(row)]);
}

void LibraryModel::Accept(const LoadedEntry& entry) {
  if (entry.generation != m_generation) return;
  m_requested.remove(entry.row);
  if (entry.dropped || entry.row >= rowCount()) return;
  auto* shown = new Shown{entry.title, QPixmap::fromImage(entry.thumbnail)};
  m_cache.insert(entry.row, shown);
  const QModelIndex changed = index(entry.row);
  emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::DecorationRole});
  emit EntryLoaded(entry.row);
}

}  // namespace korvid
