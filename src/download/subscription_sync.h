#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/tasks/library_store.h"
#include "site/site_job.h"
#include "site/subscribed_list.h"

// Keeping a library in step with the lists it follows: which listed videos
// are new, queued as task rows like any added link; the downloads then run
// as every download does.
namespace korvid {

// How a sync paces itself so a large first run does not read as a bot, and
// how it waits out the site's risk control. Tests set the waits to nothing.
struct SyncPacing {
  using Duration = std::chrono::milliseconds;
  Duration pause{1000};  // between list pages and between videos
  std::vector<Duration> backoff{std::chrono::minutes(1), std::chrono::minutes(5),
                                std::chrono::minutes(15)};
  // Waits for the duration; false when a stop was asked for meanwhile.
  // Empty: sleeps in short steps, watching `stopped`.
  std::function<bool(Duration)> wait;
  std::function<bool()> stopped;
  // Progress for the user (a back-off, a refused video).
  std::function<void(std::string_view)> say;

  [[nodiscard]] bool Wait(Duration duration) const;
  [[nodiscard]] bool Stopped() const { return stopped && stopped(); }
  void Say(std::string_view text) const {
    if (say) say(text);
  }
};

// "30m", "2h", "45s", "500ms", or a number of seconds ("1.5"); nullopt
// for anything else, and for a negative duration.
[[nodiscard]] std::optional<SyncPacing::Duration> ParseDuration(std::string_view text);

// "新视频 N，已下载 M，失败 K"
[[nodiscard]] std::string SyncResultText(int fresh, int downloaded, int failed);

struct ListScan {
  std::vector<std::string> listed;  // every video the pages read showed
  std::vector<std::string> fresh;   // of those, the ones not known; newest first
  int pages = 0;                    // pages read
  bool failed = false;              // a page stayed refused: `notice`
  bool stopped = false;
  std::string notice;
};

// Reads the list newest first. Without `full` it stops after the first page
// whose oldest video is known: everything older was seen by an earlier run.
// A page refused by risk control is asked again after each back-off.
[[nodiscard]] ListScan ScanList(const SubscribedList& list, SiteTransport& transport,
                                const std::set<std::string>& known, bool full,
                                const SyncPacing& pacing);

// The task rows one video was given (none when it could not be read).
struct QueuedVideo {
  std::string bvid;
  int firstRow = 0;
  int lastRow = -1;
};

struct QueueResult {
  std::vector<QueuedVideo> videos;  // unreadable ones with their "解析失败" row
  std::vector<std::string> gone;    // refused for good, noted in the store
  bool stopped = false;
};

// Adds the videos in the order given, as AddVideo does. One the site
// refuses for good is noted in the store (and not asked again by later runs)
// instead of getting a "解析失败" row.
[[nodiscard]] QueueResult QueueVideos(SiteJob& job, const std::vector<std::string>& inOrder,
                                      bool split, LibraryStore& store, const SyncPacing& pacing);

// Adds the episodes of the season answer named by their keys (EpisodeKey),
// in the order given, as a pasted season link does (season-title folder,
// tvshow.nfo, episode NFOs). A key the season no longer lists is noted in
// the store like a refused video. A VIP-only episode without a VIP log-in is
// left for a later run (said, neither queued nor counted).
[[nodiscard]] QueueResult QueueEpisodes(SiteJob& job, const JsonDocument& season,
                                        const std::vector<std::string>& keys, bool split,
                                        LibraryStore& store, const SyncPacing& pacing);

struct VideoTally {
  int downloaded = 0;
  int failed = 0;
};
// How the queued videos ended: a video is downloaded when every row of it
// ended well, failed when one ended otherwise (or it had no row).
[[nodiscard]] VideoTally TallyVideos(TaskList& tasks, const std::vector<QueuedVideo>& videos);

// The BV ids (an episode's: its EpisodeKey) of rows that are queued or
// running (a cut-off run's rows, put back on the queue): not queued a
// second time.
[[nodiscard]] std::set<std::string> PendingVideos(TaskList& tasks);

// Records in the history every video folder below `folder` whose tvshow.nfo
// or subtitle header names a BV id, with its media files, and every episode
// of a licensed work whose NFO names its ep_id. Returns the number of videos
// and episodes found.
[[nodiscard]] int AdoptLibrary(const std::filesystem::path& folder, LibraryStore& store,
                               std::int64_t now);
// The BV id an ASS header names ("Original Script: [bid_BV...]"), else "".
[[nodiscard]] std::string AssVideoId(std::string_view header);

}  // namespace korvid
