// sync: keeps the library in step with the lists it follows (favourites
// folders, uploader spaces, collections, series, watch later, 番剧 seasons);
// history: what the library holds.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/tasks/library_store.h"
#include "app/tasks/task_store_writer.h"
#include "cli/download_run.h"
#include "controls/control_names.h"
#include "download/subscription_sync.h"
#include "site/licensed_work.h"
#include "site/subscribed_list.h"

namespace korvid::cli {
namespace {

constexpr std::string_view kSyncVerb = "sync";
constexpr auto kEveryStep = std::chrono::milliseconds(200);

std::int64_t NowSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::unique_ptr<LibraryStore> OpenLibrary() {
  const std::string path = TaskStorePath(ProgramPaths());
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::string why;
  auto store = LibraryStore::Open(path, &why);
  if (!store) Fail("the task list cannot be opened: " + why);
  return store;
}

std::optional<std::int64_t> ParseId(const std::string& text) {
  std::int64_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || end != text.data() + text.size() || id <= 0) return std::nullopt;
  return id;
}

std::string TimeText(std::int64_t seconds) {
  if (seconds <= 0) return "从未";
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_r(&time, &local);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

std::string DefaultName(const SubscribedList& list) {
  if (list.kind == LinkKind::kWatchLater) return std::string(ListKindName(list.kind));
  return std::string(ListKindName(list.kind)) + " " + list.id;
}

// What `sync add` keeps of a link: the season of a licensed work's link
// (an episode's or a media's: the whole season, told), the one written form
// of a collection, series or watch-later link, else the link as given.
struct FollowedLink {
  std::string link;
  std::string name;
};

std::optional<FollowedLink> SeasonToFollow(const ClassifiedLink& classified) {
  NetTransport transport;
  const SeasonAnswer season = ReadLinkedSeason(transport, classified.kind, classified.id);
  const std::string seasonId = season.answer.GetValue("result.season_id");
  if (season.refusal || seasonId.empty()) {
    (void)Fail(season.refusal.value_or(std::string(kSeasonFailed)));
    return std::nullopt;
  }
  const std::string title = season.answer.GetValue("result.title");
  FollowedLink followed{CurrentSiteHosts().web + "/bangumi/play/ss" + seasonId,
                        title.empty() ? "番剧 ss" + seasonId : title};
  if (classified.kind == LinkKind::kPgcEpisode) {
    std::cerr << "ep" << classified.id << " belongs to season ss" << seasonId
              << ": following the whole season (订阅整季: " << TerminalText(title) << ")\n";
  }
  return followed;
}

std::optional<FollowedLink> LinkToFollow(std::string_view link, const SubscribedList& list) {
  const ClassifiedLink classified = ClassifyLinkText(link, CurrentSiteHosts());
  if (list.season) return SeasonToFollow(classified);
  const bool source = list.kind == LinkKind::kCollection || list.kind == LinkKind::kSeries ||
                      list.kind == LinkKind::kWatchLater;
  return FollowedLink{source ? classified.boxText.value_or(std::string(link)) : std::string(link),
                      DefaultName(list)};
}

int AddSubscription(const Args& args) {
  std::string link;
  std::string name;
  bool split = false;
  bool extras = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--name" && i + 1 < args.size()) {
      name = args[++i];
    } else if (args[i] == "--split") {
      split = true;
    } else if (args[i] == "--extras") {
      extras = true;
    } else if (link.empty() && !args[i].starts_with("--")) {
      link = args[i];
    } else {
      return UsageError(kSyncVerb, "sync add takes one link, --name TEXT, --split and --extras");
    }
  }
  if (link.empty()) return UsageError(kSyncVerb, "sync add needs a link");
  const std::optional<SubscribedList> list = SubscribedListFor(link, CurrentSiteHosts());
  if (!list) {
    if (ClassifyLinkText(link, CurrentSiteHosts()).kind == LinkKind::kVideo) {
      return Fail(
          "a single video cannot be followed (单个视频无法订阅): give a favourites "
          "folder, an uploader space, a collection, a series, watch later or a 番剧 season");
    }
    return Fail(kCannotParseLink);
  }
  if (extras && !list->season) return Fail("--extras is for a 番剧 season only");
  const std::optional<FollowedLink> followed = LinkToFollow(link, *list);
  if (!followed) return 1;
  const auto store = OpenLibrary();
  if (!store) return 1;
  if (name.empty()) name = followed->name;
  const std::optional<std::int64_t> id =
      store->AddSubscription(followed->link, name, split, extras);
  if (!id) return Fail("this link is followed already (已订阅)");
  std::cout << *id << "\t" << TerminalText(name) << "\n";
  return 0;
}

// "番剧", or "番剧+番外/PV" when its extras are followed too.
std::string KindText(const Subscription& sub) {
  const LinkKind kind = ClassifyLinkText(sub.link, CurrentSiteHosts()).kind;
  std::string text(ListKindName(kind));
  if (sub.extras) text += "+番外/PV";
  return text.empty() ? "?" : text;
}

int ListSubscriptions() {
  const auto store = OpenLibrary();
  if (!store) return 1;
  for (const Subscription& sub : store->Subscriptions()) {
    std::cout << sub.id << "\t" << KindText(sub) << "\t" << TerminalText(sub.name) << "\t"
              << TerminalText(sub.link) << "\t" << TimeText(sub.lastRun) << "\t" << sub.known
              << "\t" << TerminalText(sub.lastResult) << "\n";
  }
  return 0;
}

int SyncList(const Args& args) {
  return args.empty() ? ListSubscriptions() : NoArguments("sync list");
}

int RemoveSubscription(const Args& args) {
  const std::optional<std::int64_t> id = args.size() == 1 ? ParseId(args[0]) : std::nullopt;
  if (!id) return UsageError(kSyncVerb, "sync remove takes one subscription id");
  const auto store = OpenLibrary();
  if (!store) return 1;
  if (!store->RemoveSubscription(*id)) return Fail("no subscription " + args[0]);
  return 0;
}

int Adopt(const Args& args) {
  if (args.size() != 1) return UsageError(kSyncVerb, "sync adopt takes one folder");
  std::error_code ec;
  if (!std::filesystem::is_directory(args[0], ec)) return Fail("not a folder: " + args[0]);
  const auto store = OpenLibrary();
  if (!store) return 1;
  const int videos = AdoptLibrary(args[0], *store, NowSeconds());
  if (videos < 0) return Fail("the history cannot be written");
  std::cout << "已记录 " << videos << " 个视频\n";
  return 0;
}

struct SyncOptions {
  DownloadOptions download;
  std::vector<std::int64_t> ids;
  bool full = false;
  std::optional<SyncPacing::Duration> every;
  SyncPacing pacing;
};

bool ParseDurationArg(const std::string& text, SyncPacing::Duration& out) {
  const auto duration = ParseDuration(text);
  if (duration) out = *duration;
  return duration.has_value();
}

bool ParseBackoff(const std::string& text, std::vector<SyncPacing::Duration>& out) {
  out.clear();
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    SyncPacing::Duration step{};
    if (!ParseDurationArg(text.substr(from, comma - from), step)) return false;
    out.push_back(step);
    from = comma + 1;
  }
  return !out.empty();
}

bool ParseSyncArgs(const Args& args, SyncOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool takesValue = arg == "--dir" || arg == "--max" || arg == "--every" ||
                            arg == "--pause" || arg == "--backoff" || arg == "--retries";
    if (takesValue && i + 1 >= args.size()) return false;
    if (arg == "--full") {
      options.full = true;
    } else if (arg == "--dir") {
      options.download.folder = args[++i];
    } else if (arg == "--max") {
      options.download.maximum = args[++i];
    } else if (arg == "--retries") {
      const auto retries = ParseId(args[++i]);
      if (!retries && args[i] != "0") return false;
      options.download.retries = retries ? static_cast<int>(*retries) : 0;
    } else if (arg == "--every") {
      SyncPacing::Duration every{};
      if (!ParseDurationArg(args[++i], every) || every.count() <= 0) return false;
      options.every = every;
    } else if (arg == "--pause") {
      if (!ParseDurationArg(args[++i], options.pacing.pause)) return false;
    } else if (arg == "--backoff") {
      if (!ParseBackoff(args[++i], options.pacing.backoff)) return false;
    } else if (const auto id = ParseId(arg)) {
      options.ids.push_back(*id);
    } else {
      return false;
    }
  }
  return true;
}

// What one subscription's run found and queued.
struct SubscriptionRun {
  Subscription sub;
  QueueResult queued;
  bool listFailed = false;
  std::string notice;
};

std::vector<std::string> Union(std::vector<std::string> fresh,
                               const std::vector<std::string>& older,
                               const std::set<std::string>& known) {
  std::set<std::string> have(fresh.begin(), fresh.end());
  for (const std::string& bvid : older) {
    if (!known.contains(bvid) && have.insert(bvid).second) fresh.push_back(bvid);
  }
  return fresh;
}

// Oldest first: a list read newest first is turned round; a source read in
// its own order (a collection, a series, a season) keeps it.
std::vector<std::string> InQueueOrder(const SubscribedList& list, std::vector<std::string> videos) {
  if (list.newestFirst) std::reverse(videos.begin(), videos.end());
  return videos;
}

QueueResult QueueListed(SiteJob& job, const SubscribedList& list,
                        const std::vector<std::string>& inOrder, bool split, LibraryStore& store,
                        const SyncPacing& pacing) {
  if (!list.season) return QueueVideos(job, inOrder, split, store, pacing);
  // A season not read this run names no episode: nothing is queued (and
  // nothing taken for gone).
  const bool read = list.season->answer.TypeOf("result") == kJsonObject;
  if (inOrder.empty() || list.season->refusal || !read) return {};
  return QueueEpisodes(job, list.season->answer, inOrder, split, store, pacing);
}

// Reads each list and queues its new videos; true when a list failed.
bool QueueNewVideos(AppState& app, LibraryStore& store, const SyncOptions& options,
                    std::vector<SubscriptionRun>& runs) {
  std::set<std::string> known = store.KnownVideos();
  for (const std::string& bvid : PendingVideos(app.Tasks())) known.insert(bvid);
  NetTransport transport;
  SiteJob job{app, transport};
  bool failed = false;
  for (SubscriptionRun& run : runs) {
    if (Interrupted()) break;
    const std::optional<SubscribedList> list = SubscribedListFor(
        run.sub.link, CurrentSiteHosts(), {app.Ui().Text(kCookiesBox), run.sub.extras});
    if (!list) {
      run.listFailed = true;
      run.notice = kCannotParseLink;
      failed = true;
      continue;
    }
    // Videos an earlier run listed but could not finish are tried again.
    const std::vector<std::string> earlier = store.ListedVideos(run.sub.id);
    const ListScan scan = ScanList(*list, transport, known, options.full, options.pacing);
    (void)store.NoteListed(run.sub.id, scan.listed);
    run.listFailed = scan.failed;
    run.notice = scan.notice;
    failed = failed || scan.failed;
    if (scan.stopped) break;
    std::vector<std::string> fresh = Union(scan.fresh, earlier, known);
    run.queued =
        QueueListed(job, *list, InQueueOrder(*list, fresh), run.sub.split, store, options.pacing);
    known.insert(fresh.begin(), fresh.end());
    if (run.queued.stopped) break;
  }
  return failed;
}

void ReportRuns(AppState& app, LibraryStore& store, const std::vector<SubscriptionRun>& runs) {
  for (const SubscriptionRun& run : runs) {
    const VideoTally tally = TallyVideos(app.Tasks(), run.queued.videos);
    const int fresh = static_cast<int>(run.queued.videos.size());
    std::string result = SyncResultText(fresh, tally.downloaded, tally.failed);
    if (run.listFailed) result += "；" + run.notice;
    std::cout << TerminalText(run.sub.name) << ": " << result << "\n" << std::flush;
    (void)store.FinishRun(run.sub.id, NowSeconds(), result);
  }
}

int SyncOnce(Core& core, SyncOptions& options) {
  const auto store = OpenLibrary();
  if (!store) return 1;
  std::vector<SubscriptionRun> runs;
  std::set<std::int64_t> asked(options.ids.begin(), options.ids.end());
  for (const Subscription& sub : store->Subscriptions()) {
    if (options.ids.empty() || asked.erase(sub.id) > 0) runs.push_back({sub, {}, false, {}});
  }
  if (!asked.empty()) return Fail("no subscription " + std::to_string(*asked.begin()));
  if (runs.empty()) {
    std::cerr << "korvid-cli: no subscriptions (没有订阅); add one with sync add LINK\n";
    return 0;
  }
  DownloadOptions download = options.download;
  download.keepStore = true;
  download.addTasks = [&](AppState& app) { return QueueNewVideos(app, *store, options, runs); };
  download.finished = [&](AppState& app) { ReportRuns(app, *store, runs); };
  return RunDownloads(core, download);
}

// Runs a sync every period until a signal; a run cut off by the signal
// gives its code, a stop between runs ends well.
int SyncEvery(Core& core, SyncOptions& options) {
  const InterruptScope interrupt;
  while (true) {
    const int code = SyncOnce(core, options);
    if (Interrupted()) return code;
    const auto next = std::chrono::steady_clock::now() + *options.every;
    while (!Interrupted() && std::chrono::steady_clock::now() < next) {
      std::this_thread::sleep_for(kEveryStep);
    }
    if (Interrupted()) return 0;
  }
}

int Sync(const Args& args) {
  if (!args.empty()) {
    const Args rest(args.begin() + 1, args.end());
    if (args[0] == "add") return AddSubscription(rest);
    if (args[0] == "list") return SyncList(rest);
    if (args[0] == "remove") return RemoveSubscription(rest);
    if (args[0] == "adopt") return Adopt(rest);
  }
  SyncOptions options;
  if (!ParseSyncArgs(args, options)) return UsageError(kSyncVerb, "sync: unknown argument");
  options.pacing.stopped = [] { return Interrupted(); };
  options.pacing.say = [](std::string_view text) {
    std::cerr << TerminalText(text) << "\n" << std::flush;
  };
  Core core;
  if (options.every) return SyncEvery(core, options);
  const InterruptScope interrupt;
  return SyncOnce(core, options);
}

int History(const Args& args) {
  const bool json = args.size() == 1 && args[0] == "--json";
  if (!args.empty() && !json) return UsageError("history", "history takes only --json");
  const auto store = OpenLibrary();
  if (!store) return 1;
  nlohmann::json list = nlohmann::json::array();
  for (const HistoryEntry& entry : store->History()) {
    if (json) {
      list.push_back({{"bvid", entry.bvid},
                      {"page", entry.page},
                      {"cid", entry.cid},
                      {"path", entry.path},
                      {"size", entry.size},
                      {"time", entry.time},
                      {"episode", entry.episode}});
    } else {
      std::cout << TimeText(entry.time) << "\t" << entry.bvid << "\t" << entry.page << "\t"
                << entry.cid << "\t" << entry.size << "\t" << TerminalText(entry.path) << "\n";
    }
  }
  if (json) std::cout << list.dump(2) << "\n";
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND(
    "sync",
    "sync [ID...] [--full] [--every 30m] [--dir DIR] [--max N] [--pause 1s] [--backoff 1m,5m,15m]\n"
    "                      for each followed list (all, or the ids given): read it newest first\n"
    "                      up to the videos seen before (--full: all of it; a collection,\n"
    "                      series, watch later or season: all of it in its own order), queue\n"
    "                      the new videos (a season's new episodes) and download them as\n"
    "                      download does; one line per list:\n"
    "                      \"<name>: 新视频 N，已下载 M，失败 K\". Exit 0 only when nothing\n"
    "                      failed. --every: again after each period until SIGTERM; --pause:\n"
    "                      wait between list pages and videos; --backoff: waits when the\n"
    "                      site's risk control refuses a list (-352/-412)",
    Sync, 37);

// The sub-verbs have usage lines of their own (and answer as "sync add" too).
KORVID_CLI_COMMAND("sync add",
                   "sync add LINK [--name TEXT] [--split] [--extras]\n"
                   "                      follow a favourites folder, an uploader space, a\n"
                   "                      collection (合集), a series (列表), watch later or a\n"
                   "                      番剧 season (ss, md, or an ep link: its season);\n"
                   "                      --extras: a season's 番外/PV too",
                   AddSubscription, 37);
KORVID_CLI_COMMAND("sync list",
                   "sync list             id, kind, name, link, last run, videos known, last\n"
                   "                      result",
                   SyncList, 37);
KORVID_CLI_COMMAND("sync remove",
                   "sync remove ID        stop following a list (its downloads stay)",
                   RemoveSubscription, 37);
KORVID_CLI_COMMAND("sync adopt",
                   "sync adopt FOLDER     record the videos already below FOLDER (tvshow.nfo\n"
                   "                      or subtitle header naming a BV id), so sync does not\n"
                   "                      fetch them again",
                   Adopt, 37);

KORVID_CLI_COMMAND("history",
                   "history [--json]      every file downloaded or found present: time, BV,\n"
                   "                      page, cid, size and path",
                   History, 38);

}  // namespace korvid::cli
