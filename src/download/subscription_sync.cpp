#include "download/subscription_sync.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

#include "app/tasks/task_record.h"
#include "controls/control_names.h"
#include "download/task_download.h"
#include "net/json_document.h"
#include "site/add_video.h"
#include "site/licensed_work.h"
#include "site/stream_selection.h"

namespace korvid {

namespace {

namespace fs = std::filesystem;

constexpr auto kWaitStep = std::chrono::milliseconds(100);
// An uploader with more pages than this is not read further in one run.
constexpr int kMaxListPages = 10000;
constexpr std::size_t kAssHeaderBytes = 4096;
constexpr std::size_t kNfoHeadBytes = 8192;
constexpr std::string_view kEpisodeIdType = "bilibili_ep";
constexpr std::string_view kVideoIdType = "bilibili";
constexpr std::string_view kAssBidOpen = "[bid_";
// Bounds the walk of a library, whatever links it holds.
constexpr int kMaxAdoptDepth = 8;

std::string MinutesText(SyncPacing::Duration duration) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  if (seconds % 60 == 0) return std::to_string(seconds / 60) + " 分钟";
  return std::to_string(seconds) + " 秒";
}

// One page, asked again after each back-off while risk control refuses it.
ListPageRead ReadWithBackoff(const SubscribedList& list, SiteTransport& transport, int page,
                             const SyncPacing& pacing, bool& stopped) {
  ListPageRead read = list.read(transport, page);
  for (const SyncPacing::Duration& wait : pacing.backoff) {
    if (!read.refused || !read.riskControl) break;
    pacing.Say(read.notice + "，" + MinutesText(wait) + "后重试");
    if (!pacing.Wait(wait)) {
      stopped = true;
      break;
    }
    read = list.read(transport, page);
  }
  return read;
}

// The key a sync knows a row's video by: an episode's EpisodeKey, else its BV id.
std::string KeyOfRecord(std::string_view text) {
  JsonDocument record;
  if (text.empty() || !record.Parse(text)) return {};
  const std::string episode = std::string(record::kLicensedEpisode);
  std::string epId = record.GetValue(episode + ".ep_id");
  if (epId.empty()) epId = record.GetValue(episode + ".id");
  return epId.empty() ? record.GetValue("data.bvid") : EpisodeKey(epId);
}

void NoteGone(LibraryStore& store, const std::string& key) {
  (void)store.NoteRefused(key, "gone", static_cast<std::int64_t>(std::time(nullptr)));
}

// "…S1E<n>.mp4": n, else "".
std::string EpisodeOfName(const std::string& name) {
  static const std::regex kEpisode("S1E([0-9]+)\\.(mp4|ass)$");
  std::smatch match;
  return std::regex_search(name, match, kEpisode) ? match[1].str() : std::string();
}

std::string ReadHead(const fs::path& path, std::size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string text(bytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(bytes));
  text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return text;
}

// The text of <uniqueid type="TYPE" ...>TEXT</uniqueid> in an NFO, else "".
std::string NfoUniqueId(std::string_view nfo, std::string_view type) {
  const std::string open = "<uniqueid type=\"" + std::string(type) + "\"";
  const std::size_t at = nfo.find(open);
  const std::size_t from = at == std::string_view::npos ? at : nfo.find('>', at);
  if (from == std::string_view::npos) return {};
  const std::size_t close = nfo.find('<', from);
  if (close == std::string_view::npos) return {};
  return std::string(nfo.substr(from + 1, close - from - 1));
}

// A media file's entry; a licensed work's episode is named by the NFO beside
// it (its ep_id and BV id).
HistoryEntry MediaEntry(const fs::directory_entry& file, std::int64_t now) {
  const fs::path& path = file.path();
  std::error_code ec;
  HistoryEntry entry{{},
                     EpisodeOfName(path.filename().string()),
                     {},
                     path.string(),
                     static_cast<std::int64_t>(file.file_size(ec)),
                     now,
                     {}};
  fs::path nfoPath = path;
  nfoPath.replace_extension(".nfo");
  if (fs::is_regular_file(nfoPath, ec)) {
    const std::string nfo = ReadHead(nfoPath, kNfoHeadBytes);
    entry.episode = NfoUniqueId(nfo, kEpisodeIdType);
    if (!entry.episode.empty()) entry.bvid = NfoUniqueId(nfo, kVideoIdType);
  }
  return entry;
}

// The entries of one video folder: a media file per episode, or the folder.
std::vector<HistoryEntry> FolderEntries(const fs::path& dir, std::int64_t now) {
  std::string bvid = FolderVideoId(dir);
  std::vector<HistoryEntry> entries;
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(dir, ec)) {
    const fs::path& path = file.path();
    if (bvid.empty() && path.extension() == ".ass") {
      bvid = AssVideoId(ReadHead(path, kAssHeaderBytes));
    }
    if (path.extension() == ".mp4" && file.is_regular_file(ec)) {
      entries.push_back(MediaEntry(file, now));
    }
  }
  if (entries.empty() && !bvid.empty()) entries.push_back({{}, {}, {}, dir.string(), 0, now, {}});
  std::erase_if(entries, [&bvid](HistoryEntry& entry) {
    if (entry.episode.empty()) entry.bvid = bvid;
    return entry.bvid.empty() && entry.episode.empty();
  });
  return entries;
}

}  // namespace

bool SyncPacing::Wait(Duration duration) const {
  if (wait) return wait(duration);
  const auto end = std::chrono::steady_clock::now() + duration;
  while (!Stopped()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kWaitStep, end - now));
  }
  return false;
}

std::optional<SyncPacing::Duration> ParseDuration(std::string_view text) {
  struct Unit {
    std::string_view suffix;
    double ms;
  };
  static constexpr Unit kUnits[] = {{"ms", 1}, {"s", 1000}, {"m", 60'000}, {"h", 3'600'000}};
  double scale = 1000;
  for (const Unit& unit : kUnits) {
    if (text.ends_with(unit.suffix) && text.size() > unit.suffix.size()) {
      const std::string_view number = text.substr(0, text.size() - unit.suffix.size());
      if (number.find_first_not_of("0123456789.") == std::string_view::npos) {
        text = number;
        scale = unit.ms;
        break;
      }
    }
  }
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      std::count(text.begin(), text.end(), '.') > 1 || text == ".") {
    return std::nullopt;
  }
  const double value = std::stod(std::string(text)) * scale;
  constexpr double kLongest = 366.0 * 24 * 3'600'000;
  if (value > kLongest) return std::nullopt;
  return SyncPacing::Duration(static_cast<std::int64_t>(value));
}

std::string SyncResultText(int fresh, int downloaded, int failed) {
  return "新视频 " + std::to_string(fresh) + "，已下载 " + std::to_string(downloaded) + "，失败 " +
         std::to_string(failed);
}

ListScan ScanList(const SubscribedList& list, SiteTransport& transport,
                  const std::set<std::string>& known, bool full, const SyncPacing& pacing) {
  ListScan scan;
  std::set<std::string> seen;
  for (int page = 1; page <= kMaxListPages; ++page) {
    if (page > 1 && !pacing.Wait(pacing.pause)) scan.stopped = true;
    if (scan.stopped || pacing.Stopped()) {
      scan.stopped = true;
      break;
    }
    ListPageRead read = ReadWithBackoff(list, transport, page, pacing, scan.stopped);
    if (scan.stopped) break;
    if (read.refused) {
      scan.failed = true;
      scan.notice = std::move(read.notice);
      break;
    }
    ++scan.pages;
    for (const std::string& bvid : read.bvids) {
      if (!seen.insert(bvid).second) continue;
      scan.listed.push_back(bvid);
      if (!known.contains(bvid)) scan.fresh.push_back(bvid);
    }
    const bool reachedKnown = !read.bvids.empty() && known.contains(read.bvids.back());
    const bool mayStop = reachedKnown && !full && list.newestFirst;
    if (read.bvids.empty() || !read.more || mayStop) break;
  }
  return scan;
}

QueueResult QueueVideos(SiteJob& job, const std::vector<std::string>& inOrder, bool split,
                        LibraryStore& store, const SyncPacing& pacing) {
  QueueResult result;
  bool first = true;
  for (auto it = inOrder.begin(); it != inOrder.end(); ++it) {
    if (job.stop.stop_requested() || pacing.Stopped() || (!first && !pacing.Wait(pacing.pause))) {
      result.stopped = true;
      break;
    }
    first = false;
    const int before = job.app.Tasks().RowCount();
    const AddVideoOutcome outcome = TryAddVideo(job, *it, AddVideoFlags{split, false});
    if (outcome.gone) {
      NoteGone(store, *it);
      pacing.Say(*it + ": 视频已失效或不公开，以后不再尝试");
      result.gone.push_back(*it);
      continue;
    }
    if (!outcome.added) AddFailureRow(job.app, *it);
    result.videos.push_back({*it, before + 1, job.app.Tasks().RowCount()});
  }
  return result;
}

QueueResult QueueEpisodes(SiteJob& job, const JsonDocument& season,
                          const std::vector<std::string>& keys, bool split, LibraryStore& store,
                          const SyncPacing& pacing) {
  std::map<std::string, SeasonEpisode> byKey;
  for (const SeasonEpisode& episode : SeasonEpisodes(season, true)) {
    byKey.emplace(EpisodeKey(EpisodeId(season, episode)), episode);
  }
  const std::optional<bool> splitBefore = job.splitCondition;
  job.splitCondition = split;
  std::optional<bool> vip;
  QueueResult result;
  for (const std::string& key : keys) {
    if (job.stop.stop_requested() || pacing.Stopped()) {
      result.stopped = true;
      break;
    }
    const auto found = byKey.find(key);
    if (found == byKey.end()) {
      NoteGone(store, key);
      result.gone.push_back(key);
      continue;
    }
    if (VipOnlyEpisode(season.GetObject(found->second.path))) {
      if (!vip) vip = VipLogin(job.app.Ui().Text(kCookiesBox));
      if (!*vip) {
        pacing.Say(key + " " + EpisodeTitle(season, found->second) + ": " + std::string(kNeedsVip) +
                   "，登录大会员后再同步");
        continue;
      }
    }
    const int before = job.app.Tasks().RowCount();
    JsonDocument record = EpisodeRecord(season, found->second);
    AddEpisodeRows(job, record, found->second.number);
    result.videos.push_back({key, before + 1, job.app.Tasks().RowCount()});
  }
  job.splitCondition = splitBefore;
  return result;
}

VideoTally TallyVideos(TaskList& tasks, const std::vector<QueuedVideo>& videos) {
  VideoTally tally;
  const std::lock_guard held(tasks.ListLock());
  for (const QueuedVideo& video : videos) {
    bool good = video.lastRow >= video.firstRow;
    bool bad = !good;
    for (int row = video.firstRow; row <= video.lastRow; ++row) {
      const std::string state = tasks.CellText(row, kColState);
      good = good && IsSuccessState(state);
      bad = bad || (IsFinalState(state) && !IsSuccessState(state));
    }
    if (good) ++tally.downloaded;
    if (bad) ++tally.failed;
  }
  return tally;
}

std::set<std::string> PendingVideos(TaskList& tasks) {
  std::set<std::string> pending;
  const std::lock_guard held(tasks.ListLock());
  for (int row = 1; row <= tasks.RowCount(); ++row) {
    if (IsFinalState(tasks.CellText(row, kColState))) continue;
    std::string bvid = KeyOfRecord(tasks.QueuedRecord(row));
    if (bvid.empty()) bvid = KeyOfRecord(tasks.CellText(row, kColRecord));
    if (!bvid.empty()) pending.insert(std::move(bvid));
  }
  return pending;
}

std::string AssVideoId(std::string_view header) {
  const std::size_t open = header.find(kAssBidOpen);
  if (open == std::string_view::npos) return {};
  const std::size_t from = open + kAssBidOpen.size();
  const std::size_t close = header.find(']', from);
  if (close == std::string_view::npos) return {};
  const std::string_view bvid = header.substr(from, close - from);
  const bool plausible = bvid.size() == 12 && (bvid.starts_with("BV") || bvid.starts_with("bv"));
  return plausible ? std::string(bvid) : std::string();
}

int AdoptLibrary(const fs::path& folder, LibraryStore& store, std::int64_t now) {
  std::error_code ec;
  std::vector<HistoryEntry> entries;
  std::set<std::string> videos;
  const auto take = [&](const fs::path& dir) {
    for (HistoryEntry& entry : FolderEntries(dir, now)) {
      videos.insert(entry.episode.empty() ? entry.bvid : EpisodeKey(entry.episode));
      entries.push_back(std::move(entry));
    }
  };
  take(folder);
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it.depth() >= kMaxAdoptDepth) it.disable_recursion_pending();
    if (it->is_directory(ec) && !it->is_symlink(ec)) take(it->path());
  }
  if (!store.AddHistory(entries)) return -1;
  return static_cast<int>(videos.size());
}

}  // namespace korvid
