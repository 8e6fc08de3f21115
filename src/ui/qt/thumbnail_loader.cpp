#include "thumbnail_loader.h"

#include <QImageReader>
#include <QPainter>
#include <algorithm>

#include "library/library_scan.h"

namespace korvid {

QImage MakeThumbnail(const std::filesystem::path& fanart) {
  QImageReader reader(QString::fromStdString(fanart.string()));
  const QSize full = reader.size();
  if (!full.isValid()) return {};
  const QSize box(kThumbnailWidth, kThumbnailHeight);
  // Decoding at the reduced size lets the JPEG decoder skip most of the work.
  reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio));
  const QImage scaled = reader.read();
  if (scaled.isNull()) return {};
  QImage thumbnail(box, QImage::Format_ARGB32_Premultiplied);
  thumbnail.fill(Qt::transparent);
  QPainter painter(&thumbnail);
  painter.drawImage((box.width() - scaled.width()) / 2, (box.height() - scaled.height()) / 2,
                    scaled);
  return thumbnail;
}

LoadedEntry LoadEntry(int generation, int row, const std::filesystem::path& nfo) {
  const LibraryEntryInfo info = ReadEntryInfo(nfo);
  LoadedEntry entry;
  entry.generation = generation;
  entry.row = row;
  entry.title = QString::fromStdString(info.title);
  entry.thumbnail = MakeThumbnail(info.fanart);
  return entry;
}

ThumbnailLoader::ThumbnailLoader(Deliver deliver, int threads, std::size_t maxPending)
    : m_deliver(std::move(deliver)), m_maxPending(std::max<std::size_t>(maxPending, 1)) {
  for (int i = 0; i < std::max(threads, 1); ++i)
    m_threads.emplace_back(&ThumbnailLoader::Work, this);
}

ThumbnailLoader::~ThumbnailLoader() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  for (std::thread& thread : m_threads) thread.join();
}

void ThumbnailLoader::Request(int generation, int row, std::filesystem::path nfo) {
  std::vector<Job> dropped;
  {
    std::lock_guard lock(m_mutex);
    m_jobs.push_back({generation, row, std::move(nfo)});
    while (m_jobs.size() > m_maxPending) {
      dropped.push_back(std::move(m_jobs.front()));
      m_jobs.pop_front();
    }
  }
  m_wake.notify_one();
  for (const Job& job : dropped) {
    LoadedEntry entry;
    entry.generation = job.generation;
    entry.row = job.row;
    entry.dropped = true;
    m_deliver(std::move(entry));
  }
}

void ThumbnailLoader::DropPending() {
  std::lock_guard lock(m_mutex);
  m_jobs.clear();
}

void ThumbnailLoader::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
      if (m_stop) return;
      job = std::move(m_jobs.back());
      m_jobs.pop_back();
    }
    m_deliver(LoadEntry(job.generation, job.row, job.nfo));
  }
}

}  // namespace korvid
