#pragma once

#include <QImage>
#include <QString>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace korvid {

// The title and fan-art thumbnail of one library entry.
struct LoadedEntry {
  int generation = 0;  // which list the row belongs to
  int row = 0;
  bool dropped = false;  // not loaded: more recent requests pushed it out
  QString title;
  QImage thumbnail;  // kThumbnailWidth x kThumbnailHeight; null without fan art
};

// Builds the thumbnail of a fan-art file: scaled to fit 251 x 158, centred on
// a transparent picture of that size. Null when the file is missing or no image.
[[nodiscard]] QImage MakeThumbnail(const std::filesystem::path& fanart);
[[nodiscard]] LoadedEntry LoadEntry(int generation, int row, const std::filesystem::path& nfo);

// Loads library entries on threads of its own, newest request first, so the
// items the user looks at now come before those scrolled past. At most
// maxPending requests wait; older ones are dropped (and reported as dropped,
// so they can be asked for again). The deliver function runs on a loader
// thread (or, for dropped requests, the requesting one) and must not touch
// widgets.
class ThumbnailLoader {
 public:
  using Deliver = std::function<void(LoadedEntry)>;

  ThumbnailLoader(Deliver deliver, int threads, std::size_t maxPending);
  ~ThumbnailLoader();  // stops and waits for the loader threads
  ThumbnailLoader(const ThumbnailLoader&) = delete;
  ThumbnailLoader& operator=(const ThumbnailLoader&) = delete;

  void Request(int generation, int row, std::filesystem::path nfo);
  // Forgets every waiting request (a new list replaced the old one).
  void DropPending();

 private:
  struct Job {
    int generation = 0;
    int row = 0;
    std::filesystem::path nfo;
  };
  void Work();

  Deliver m_deliver;
  std::size_t m_maxPending;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Job> m_jobs;
  bool m_stop = false;
  std::vector<std::thread> m_threads;
};

}  // namespace korvid
