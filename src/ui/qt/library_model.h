#pragma once

#include <QAbstractListModel>
#include <QCache>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <memory>

#include "library/library_scan.h"
#include "thumbnail_loader.h"

namespace korvid {

// The icon list's model over the last scan. Titles and thumbnails are loaded
// only when the view asks for a row (that is, when it is on screen), off the
// window thread, and kept in a cache of bounded size, so a library of any
// size costs the same memory. Window thread only.
class LibraryModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // Thumbnails kept (160 KB each): several screens' worth.
  static constexpr int kCachedEntries = 160;
  // Every item's size, known before its entry is loaded: the view lays out
  // and paints (and so asks for) exactly the items on screen.
  static constexpr QSize kItemSize{kThumbnailWidth + 8, kThumbnailHeight + 44};

  explicit LibraryModel(QObject* parent = nullptr, int loaderThreads = 2);
  ~LibraryModel() override;

  void SetEntries(std::shared_ptr<const LibraryList> entries);
  [[nodiscard]] std::shared_ptr<const LibraryList> Entries() const { return m_entries; }

  [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;

  // Whether a row's title and thumbnail are in the cache.
  [[nodiscard]] bool IsLoaded(int row) const { return m_cache.contains(row); }

 signals:
  void EntryLoaded(int row);

 private:
  struct Shown {
    QString title;
    QPixmap thumbnail;
  };
  void Request(int row) const;
  void Accept(const LoadedEntry& entry);

  std::shared_ptr<const LibraryList> m_entries;
  QPixmap m_loading;  // shown until a row's thumbnail is there
  int m_generation = 0;
  QCache<int, Shown> m_cache;
  // Rows asked of the loader and not yet answered; mutable because data() asks.
  mutable QSet<int> m_requested;
  // Last member: its threads stop first, before the rest goes away.
  std::unique_ptr<ThumbnailLoader> m_loader;
};

}  // namespace korvid
