// download: links to finished files, as the window's 解析下载 button and its
// scheduler do, with one progress line per running task.

#include <unistd.h>

#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "app/app_state.h"
#include "app/tasks/task_record.h"
#include "app/tasks/task_store_writer.h"
#include "app/text_helpers.h"
#include "cli/download_run.h"
#include "cli/terminal_text.h"
#include "controls/control_names.h"
#include "download/download_engine.h"
#include "download/scheduler.h"
#include "download/task_download.h"
#include "site/cookie_refresh.h"
#include "site/link_jobs.h"
#include "transfer/rate_limiter.h"
#include "transfer/worker_set.h"

namespace korvid::cli {
namespace {

constexpr auto kRedrawPeriod = std::chrono::milliseconds(250);
constexpr auto kPlainPeriod = std::chrono::seconds(5);
constexpr int kInterrupted = 130;
constexpr std::string_view kSiteBackText = "网络已恢复，继续开始新任务";

std::atomic<bool> g_interrupted{false};
int g_scopes = 0;  // InterruptScopes alive; on the main thread only

void OnInterrupt(int) {
  g_interrupted = true;
}

bool ParseDownloadArgs(const Args& args, DownloadOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool takesValue =
        arg == "--dir" || arg == "--max" || arg == "--retries" || arg == "--limit-rate";
    if (takesValue && i + 1 >= args.size()) return false;
    if (arg == "--dir") {
      options.folder = args[++i];
    } else if (arg == "--max") {
      options.maximum = args[++i];
    } else if (arg == "--retries") {
      const std::string& value = args[++i];
      int retries = -1;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), retries);
      if (error != std::errc() || end != value.data() + value.size() || retries < 0) return false;
      options.retries = retries;
    } else if (arg == "--limit-rate") {
      options.rateLimit = ParseRateText(args[++i]);
      if (options.rateLimit < 0) return false;
    } else if (arg == "--split") {
      options.split = true;
    } else if (arg == "--no-store") {
      options.keepStore = false;
    } else if (arg.starts_with("--")) {
      return false;
    } else {
      options.links.push_back(arg);
    }
  }
  // With the store, no link continues what is stored.
  return options.keepStore || !options.links.empty();
}

bool IsRunningState(std::string_view state) {
  return state.empty() || state == kStateWaiting || state == kStateRedownload ||
         state == kStateStarted || state == kStateDownloading || state == kStateMerging ||
         state == kStateFileBusy || state.starts_with(kStateRetryingPrefix);
}

// A complete half of a split page still waits for its merge.
bool AwaitsMerge(TaskList& tasks, int row, std::string_view state) {
  if (state != kStateDone) return false;
  JsonDocument record;
  if (!record.Parse(tasks.CellText(row, kColRecord))) return false;
  return MergeHalvesOf(Unquote(record.GetValue(record::kMediaPath)), row).has_value();
}

struct RowView {
  std::string title, part, size, received, speed, state, timeLeft, percent;
  std::string tip;  // "弹幕获取失败": the media is there, its comments are not
};

RowView ReadRow(AppState& app, int row) {
  TaskList& tasks = app.Tasks();
  RowView view{tasks.CellText(row, kColTitle),       tasks.CellText(row, kColPart),
               tasks.CellText(row, kColSize),        tasks.CellText(row, kColReceived),
               tasks.CellText(row, kColSpeed),       tasks.CellText(row, kColState),
               tasks.CellText(row, kColumnTimeLeft), {},
               tasks.CellTip(row, kColState)};
  if (const auto progress = app.Downloads().ProgressOf(row)) {
    view.percent = PercentText(progress->received, progress->total);
  }
  return view;
}

std::string RowLine(int row, const RowView& view) {
  std::string line = "[" + std::to_string(row) + "] " + view.title;
  if (!view.part.empty()) line += " / " + view.part;
  if (!view.size.empty()) {
    line += "  " + view.received + " of " + view.size;
    if (!view.percent.empty()) line += " (" + view.percent + ")";
    line += "  " + view.speed;
    if (!view.timeLeft.empty()) line += "  剩余" + view.timeLeft;
  }
  line += "  " + (view.state.empty() ? std::string("等待") : view.state);
  return TerminalLine(view.tip.empty() ? line : line + " (" + view.tip + ")");
}

// Shows the rows: final states once each, running rows redrawn in place on a
// terminal, or every few seconds as plain lines.
class ProgressPrinter {
 public:
  // Rows in `earlier` ended in an earlier run and are not shown.
  ProgressPrinter(AppState& app, const std::set<int>& earlier)
      : m_app(app), m_tasks(app.Tasks()), m_terminal(::isatty(STDERR_FILENO) == 1) {
    for (int row : earlier) m_reported.emplace(row, true);
  }

  // force: the last call, every row has its final state.
  void Show(bool force) {
    m_final = force;
    std::vector<std::string> running;
    std::vector<std::string> ended;
    {
      const std::lock_guard held(m_tasks.ListLock());
      for (int row = 1; row <= m_tasks.RowCount(); ++row) {
        const RowView view = ReadRow(m_app, row);
        if (IsRunningState(view.state) || (!m_final && AwaitsMerge(m_tasks, row, view.state))) {
          if (!view.state.empty()) running.push_back(RowLine(row, view));
        } else if (m_reported.emplace(row, true).second) {
          ended.push_back(RowLine(row, view));
        }
      }
    }
    if (m_terminal) {
      if (m_drawn > 0) std::cerr << "\x1b[" << m_drawn << "F\x1b[J";
      for (const auto& line : ended) std::cerr << line << "\n";
      for (const auto& line : running) std::cerr << line << "\x1b[K\n";
      m_drawn = static_cast<int>(running.size());
    } else {
      for (const auto& line : ended) std::cerr << line << "\n";
      const auto now = std::chrono::steady_clock::now();
      if (force || now - m_lastPlain >= kPlainPeriod) {
        for (const auto& line : running) std::cerr << line << "\n";
        m_lastPlain = now;
      }
    }
    std::cerr << std::flush;
  }

 private:
  AppState& m_app;
  TaskList& m_tasks;
  bool m_terminal;
  int m_drawn = 0;
  bool m_final = false;
  std::map<int, bool> m_reported;
  std::chrono::steady_clock::time_point m_lastPlain{};
};

// Adds the links as 按钮_解析下载 does; true when one of them failed.
bool AddLinks(Core& core, AppState& app, const DownloadOptions& options) {
  LinkJobs jobs(app);
  if (options.split) jobs.SetSplitCondition(true);
  bool failed = false;
  for (const std::string& link : options.links) {
    if (g_interrupted) break;
    core.controls.SetText(kTaskLinkBox, link);
    jobs.OnAddLinkPressed();
    jobs.WaitAll();
    for (const NoticeRecord& notice : core.controls.TakeNotices()) {
      std::cerr << notice.title << ": " << TerminalText(notice.text) << "\n";
      failed = failed || notice.title == kNoticeFailed;
    }
  }
  return failed;
}

// Runs DownloadOptions::addTasks on a thread of its own, so the first
// videos download while later ones are still being listed and read.
class BackgroundAdder {
 public:
  BackgroundAdder(AppState& app, const std::function<bool(AppState&)>& add) {
    if (!add) return;
    m_running = true;
    const bool started = m_thread.Start("task adder", [this, &app, add] {
      m_failed = add(app);
      m_running = false;
    });
    if (!started) {
      m_failed = true;
      m_running = false;
    }
  }
  BackgroundAdder(const BackgroundAdder&) = delete;
  BackgroundAdder& operator=(const BackgroundAdder&) = delete;

  [[nodiscard]] bool Running() const { return m_running; }
  // Waits for the adding to end; true when something could not be added.
  [[nodiscard]] bool Join() {
    m_thread.JoinAll();
    return m_failed;
  }

 private:
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_failed{false};
  WorkerSet m_thread;
};

bool Idle(AppState& app, DownloadEngine& engine, const Scheduler& scheduler) {
  return app.TaskQueue().Count() == 0 && scheduler.ActiveWorkers() == 0 &&
         engine.ActiveCount() == 0;
}

// Tasks queued while nothing runs.
bool Waiting(AppState& app, DownloadEngine& engine, const Scheduler& scheduler) {
  return app.TaskQueue().Count() > 0 && scheduler.ActiveWorkers() == 0 && engine.ActiveCount() == 0;
}

// Stops the clock first, so no worker starts while the transfers stop.
void StopEverything(DownloadEngine& engine, Scheduler& scheduler) {
  scheduler.StopClock();
  while (scheduler.ActiveWorkers() > 0) {
    engine.StopAll();
    std::this_thread::sleep_for(kRedrawPeriod);
  }
  scheduler.WaitForWorkers();
  engine.StopAll();
  while (!engine.WaitIdle(1000)) engine.StopAll();
}

// The sizes the downloads ended with, by final file; a file that is not
// there (or not that size) at the end is not counted done, whatever its row says.
class ExpectedFiles {
 public:
  void Downloaded(const DownloadEnd& end) {
    if (end.result.end != FetchResult::End::kComplete) return;
    std::lock_guard guard(m_mutex);
    m_sizes[end.targetPath] = end.result.total;
  }
  [[nodiscard]] bool Present(TaskList& tasks, int row) const {
    JsonDocument record;
    if (!record.Parse(tasks.CellText(row, kColRecord))) return true;  // nothing to check
    std::string path = Unquote(record.GetValue(record::kMediaPath));
    if (path.empty()) return true;
    const std::string state = tasks.CellText(row, kColState);
    if (state == kStateInVideoFile) return true;
    const std::optional<MergeHalves> halves = MergeHalvesOf(path, row);
    if (halves && state == kStateMerged) path = halves->output;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0) return false;
    std::lock_guard guard(m_mutex);
    const auto it = m_sizes.find(path);
    return it == m_sizes.end() || static_cast<std::int64_t>(size) == it->second;
  }

 private:
  mutable std::mutex m_mutex;
  std::map<std::string, std::int64_t> m_sizes;
};

// How a run ended, for its summary.
struct RunEnd {
  bool linkFailed = false;
  bool interrupted = false;
  bool noRowsIsFine = false;  // a run that looked for new videos and found none
  bool kept = false;          // the cut-off rows wait in the task store
  std::set<int> cutOff;       // rows a signal stopped before they ended
};

// The rows of this run that have not ended; a signal cuts them off.
std::set<int> UnfinishedRows(AppState& app, const std::set<int>& earlier) {
  TaskList& tasks = app.Tasks();
  const std::lock_guard held(tasks.ListLock());
  std::set<int> rows;
  for (int row = 1; row <= tasks.RowCount(); ++row) {
    if (earlier.contains(row) || tasks.IsRemovedRow(row)) continue;
    if (IsRunningState(tasks.CellText(row, kColState))) rows.insert(row);
  }
  return rows;
}

// Drops the cut-off rows that ended well before the stop reached them. The
// stop left the others short; when kept, the store has them waiting for the
// next run, and so they read here.
void SettleCutOff(AppState& app, std::set<int>& cutOff, const ExpectedFiles& files, bool kept) {
  TaskList& tasks = app.Tasks();
  const std::lock_guard held(tasks.ListLock());
  for (auto it = cutOff.begin(); it != cutOff.end();) {
    const int row = *it;
    if (IsSuccessState(tasks.CellText(row, kColState)) && files.Present(tasks, row)) {
      it = cutOff.erase(it);
      continue;
    }
    ++it;
    if (!kept) continue;
    tasks.SetCellText(row, kColState, kStateWaiting);
    tasks.SetCellText(row, kColSpeed, {});
    tasks.SetCellTip(row, kColState, {});
    tasks.ResetRowColors(row);
  }
}

int Summarise(AppState& app, const std::set<int>& earlier, const ExpectedFiles& files,
              const RunEnd& end) {
  TaskList& tasks = app.Tasks();
  int failures = 0;
  const int rows = tasks.RowCount() - static_cast<int>(earlier.size());
  const int cutOff = static_cast<int>(end.cutOff.size());
  for (int row = 1; row <= tasks.RowCount(); ++row) {
    if (earlier.contains(row) || end.cutOff.contains(row)) continue;
    const RowView view = ReadRow(app, row);
    if (IsSuccessState(view.state) && files.Present(tasks, row)) continue;
    if (failures++ == 0) std::cerr << "Not downloaded:\n";
    std::cerr << "  " << RowLine(row, view) << "\n";
  }
  std::cerr << rows << " tasks, " << rows - failures - cutOff << " done, " << failures << " failed";
  if (cutOff > 0) std::cerr << ", " << cutOff << (end.kept ? " kept for the next run" : " stopped");
  std::cerr << "\n";
  if (end.interrupted) {
    std::cerr << "korvid-cli: interrupted\n";
    return kInterrupted;
  }
  if (rows == 0 && !end.noRowsIsFine) return Fail("no task rows were added");
  return failures > 0 || end.linkFailed ? 1 : 0;
}

int Download(const Args& args) {
  DownloadOptions options;
  options.keepStore = true;
  if (!ParseDownloadArgs(args, options)) {
    return UsageError("download", "download needs a link (and a value after --dir/--max)");
  }
  Core core;
  return RunDownloads(core, options);
}

}  // namespace

// Ctrl-C, and the end of a session (SIGTERM, SIGHUP): the run stops its
// transfers and writes the task list before it ends. The outermost scope
// clears what an earlier one saw.
InterruptScope::InterruptScope() {
  if (g_scopes++ == 0) g_interrupted = false;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    m_previous[i] = std::signal(kSignals[i], OnInterrupt);
  }
}

InterruptScope::~InterruptScope() {
  for (std::size_t i = 0; i < kSignals.size(); ++i) std::signal(kSignals[i], m_previous[i]);
  --g_scopes;
}

bool Interrupted() {
  return g_interrupted;
}

int RunDownloads(Core& core, const DownloadOptions& options) {
  if (!options.folder.empty()) {
    // A folder named on the command line is wanted there: make it rather than
    // fall back to 下载 as a stale setting would.
    std::error_code error;
    std::filesystem::create_directories(options.folder, error);
    if (!std::filesystem::is_directory(options.folder, error)) {
      return Fail("cannot create the download folder " + options.folder);
    }
    core.controls.SetText(kDownloadPathBox, options.folder);
  }
  if (!options.maximum.empty()) core.controls.SetText(kMaxDownloadsBox, options.maximum);
  if (!options.cookies.empty()) core.controls.SetText(kCookiesBox, options.cookies);
  if (ParseMaxDownloads(core.controls.Text(kMaxDownloadsBox)) <= 0) {
    return Fail("the maximum number of downloads must be a number above 0");
  }
  // Before the first request with the cookie: renew it when the site asks.
  (void)RefreshLoginIfDue(core.controls, core.started.settingsPath, UnixNowMs());
  AppState app(core.controls, core.paths);
  KeptTaskList kept;
  std::set<int> earlier;  // stored rows that ended in an earlier run
  if (options.keepStore) {
    const KeptTaskList::Outcome outcome = kept.Open(app);
    for (const NoticeRecord& notice : core.controls.TakeNotices()) {
      std::cerr << notice.title << ": " << notice.text << "\n";
    }
    if (outcome == KeptTaskList::Outcome::kHeld) {
      Fail("the task list is in use by process " + std::to_string(kept.HolderPid()) +
           " (任务列表正被其他进程使用); --no-store runs a list of its own");
      return kStoreHeld;
    }
    if (outcome == KeptTaskList::Outcome::kUnusable) return Fail("the task list cannot be kept");
    const std::set<int> requeued(kept.Requeued().begin(), kept.Requeued().end());
    for (int row = 1; row <= app.Tasks().RowCount(); ++row) {
      if (!requeued.contains(row)) earlier.insert(row);
    }
    if (options.links.empty() && requeued.empty() && !options.addTasks) {
      std::cerr << "korvid-cli: no waiting tasks (没有等待中的任务)\n";
      return 0;
    }
  }
  DownloadEngine engine(app);
  if (!core.started.ffmpeg.empty()) engine.SetFfmpeg(core.started.ffmpeg);
  RetryPolicy retries;
  retries.retries = options.retries;
  engine.SetRetryPolicy(retries);
  if (options.rateLimit >= 0) engine.SetRateLimit(options.rateLimit);
  // No slot waits for the next tick: all are filled at the first, and each
  // again as soon as its download ends.
  Scheduler scheduler(app,
                      SchedulerJobs{[&app, &engine] { (void)DownloadOneTask(app, engine); }, {}});
  scheduler.FillEverySlot([&engine] { return engine.DownloadCount(); });
  ExpectedFiles files;
  engine.SetObservers(
      [&files, &scheduler](const DownloadEnd& end) {
        files.Downloaded(end);
        scheduler.SlotFreed();
      },
      {});
  const InterruptScope interrupt;
  // The first tasks start now, not a second later, and while the later links
  // are still being added.
  scheduler.Tick();
  scheduler.StartClock();
  const bool linksFailed = AddLinks(core, app, options);
  ProgressPrinter printer(app, earlier);
  BackgroundAdder adder(app, options.addTasks);
  bool held = false;
  while (!g_interrupted && (adder.Running() || !Idle(app, engine, scheduler))) {
    // The first tasks the adder queued start now, not at the clock's next tick.
    if (options.addTasks && Waiting(app, engine, scheduler)) scheduler.Tick();
    if (app.Reachability().Paused() != held) {
      held = !held;
      std::cerr << "korvid-cli: " << (held ? kUnreachableCaption : kSiteBackText) << "\n";
    }
    printer.Show(false);
    std::this_thread::sleep_for(kRedrawPeriod);
  }
  RunEnd end;
  end.linkFailed = adder.Join() || linksFailed;
  end.interrupted = g_interrupted;
  end.noRowsIsFine = options.addTasks != nullptr;
  end.kept = options.keepStore;
  if (end.interrupted) {
    end.cutOff = UnfinishedRows(app, earlier);
    // Written before the transfers are stopped: a stopped transfer ends short,
    // and the rows it cut off are to wait for the next run, not read as failed.
    kept.Close();
  }
  StopEverything(engine, scheduler);
  SettleCutOff(app, end.cutOff, files, end.kept);
  printer.Show(true);
  kept.Close();
  if (options.finished) options.finished(app);
  return Summarise(app, earlier, files, end);
}

KORVID_CLI_COMMAND(
    "download",
    "download [LINK...] [--dir DIR] [--max N] [--split] [--retries N] [--limit-rate R]\n"
    "         [--no-store]\n"
    "                      add the links as the window's 解析下载 button does and download\n"
    "                      every task into the library layout (video folder, S1E names,\n"
    "                      tvshow.nfo, fanart.jpg, danmaku). --dir: download folder for\n"
    "                      this run; --max: parallel downloads; --split: video and audio\n"
    "                      as separate tasks, merged with FFmpeg (needs a log-in cookie);\n"
    "                      --retries: retries of a broken-off download (default 5, 0 = off).\n"
    "                      --limit-rate: all downloads together at most R bytes a\n"
    "                      second (500K, 2M or plain bytes; 0 = none; default: 限速).\n"
    "                      The tasks are kept in 配置/任务.db: the links join the stored\n"
    "                      queue and the run lasts until it is empty; without a link it\n"
    "                      continues an interrupted run. --no-store: a list of its own.\n"
    "                      Exit 0 when every task ended 完成, 合并完成 or 已存在 and its file\n"
    "                      is there with the size the site gave; 2 when another process\n"
    "                      holds the task list",
    Download, 35);

}  // namespace korvid::cli
