#include "download/scheduler.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <optional>

#include "download/download_engine.h"
#include "net/regex_matcher.h"

namespace korvid {
namespace {

constexpr std::string_view kCountsCaptionPrefix = "Korvid - 正在下载:";
constexpr std::string_view kDownloadJobName = "download worker";
constexpr std::string_view kDetailsJobName = "details loader";

// The scheduler whose slot the current worker thread took in WaitForSlot;
// given back when the worker ends.
thread_local const Scheduler* t_slotHolder = nullptr;

std::string FullUnreachableCaption() {
  return "Korvid - " + std::string(kUnreachableCaption);
}

}  // namespace

int ParseMaxDownloads(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), INT_MAX);
  }
  return static_cast<int>(value);
}

std::string DownloadCountsText(int running, int waiting, float totalKibPerSecond) {
  std::string text =
      "正在下载:" + std::to_string(running) + "  剩余任务:" + std::to_string(waiting);
  if (totalKibPerSecond > 0.0F) text += "  总速度:" + SpeedText(totalKibPerSecond);
  return text;
}

Scheduler::Scheduler(AppState& state, SchedulerJobs jobs)
    : m_state(state), m_jobs(std::move(jobs)) {}

Scheduler::~Scheduler() {
  StopClock();
  m_workers.JoinAll();
}

void Scheduler::Tick() {
  const std::lock_guard lock(m_tickMutex);
  m_workers.Reap();
  StartDownloads();
  UpdateCaption();
  WatchClipboard();
}

void Scheduler::FillEverySlot(std::function<int()> downloadsHeld) {
  m_fillEverySlot = true;
  m_downloadsHeld = std::move(downloadsHeld);
}

void Scheduler::PrepareAhead() {
  m_prepareAhead = true;
}

bool Scheduler::WaitForSlot() {
  if (!m_prepareAhead) return true;
  std::unique_lock lock(m_slotMutex);
  m_slotFreed.wait(lock,
                   [this] { return !m_refills || DownloadsHeld() + m_slotsTaken < Maximum(); });
  if (!m_refills) return false;
  ++m_slotsTaken;
  t_slotHolder = this;
  return true;
}

void Scheduler::SlotFreed() {
  // Taken and let go before the wake: a worker between its check and its
  // wait holds the mutex, so it cannot miss this.
  { const std::lock_guard lock(m_slotMutex); }
  m_slotFreed.notify_all();
  if (!m_fillEverySlot) return;
  const std::lock_guard lock(m_tickMutex);
  StartDownloads();
}

void Scheduler::StartClock() {
  m_refills = true;
  (void)m_clock.StartPeriodic([this](int) { Tick(); }, kTickMs, kTickMs, 0, true);
}

// Set under the tick's lock: once this returns, no start that read the old
// value can still be on its way, also from a worker ending late.
void Scheduler::StopClock() {
  {
    const std::lock_guard lock(m_tickMutex);
    m_refills = false;
  }
  { const std::lock_guard lock(m_slotMutex); }
  m_slotFreed.notify_all();
  (void)m_clock.StopPeriodic(kTickMs * 5);
}

void Scheduler::WaitForWorkers() {
  m_workers.JoinAll();
}

int Scheduler::ActiveWorkers() const {
  return m_workers.Active();
}

// The running count rises only when a download reports its start, so a
// worker still resolving its stream is not counted yet and the next tick may
// start another; the limit holds for downloads that have begun.
void Scheduler::StartDownloads() {
  if (!m_jobs.downloadWorker || !m_refills) return;
  const int maximum = Maximum();
  if (m_fillEverySlot) {
    FillSlots(maximum);
    return;
  }
  if (m_state.RunningCount().load() < maximum && m_state.TaskQueue().Count() > 0 &&
      m_state.Reachability().TakeStart()) {
    // Counted before its thread runs, so ActiveWorkers never misses a worker
    // that has already taken a record; a thread that cannot be had is
    // reported by the set and the next tick tries again.
    (void)m_workers.Start(kDownloadJobName, m_jobs.downloadWorker);
  }
}

// A worker counts as holding a slot from its start until it ends, also once
// it has handed its download over (then counted twice for a moment: a start
// too few, made up when it ends), and takes a waiting record of its own: so
// no more workers start than slots are free or records wait.
//
// Preparing ahead, only the workers past WaitForSlot hold a slot; those still
// preparing (or waiting for a slot) may number the free slots plus one more
// per slot.
void Scheduler::FillSlots(int maximum) {
  const int starting = m_startingWorkers.load();
  const int held = DownloadsHeld();
  const int queued = m_state.TaskQueue().Count();
  int free = std::min(maximum - held - starting, queued - starting);
  if (m_prepareAhead) {
    int taken = 0;
    {
      const std::lock_guard lock(m_slotMutex);
      taken = m_slotsTaken;
    }
    const int preparing = starting - taken;
    const long long freeSlots = std::max(0, maximum - held - taken);
    free =
        static_cast<int>(std::min<long long>(freeSlots + maximum - preparing, queued - preparing));
  }
  // While the site is unreachable, TakeStart lets one try through now and then.
  for (; free > 0 && m_state.Reachability().TakeStart(); --free) {
    if (!StartFillingWorker()) return;
  }
}

bool Scheduler::StartFillingWorker() {
  ++m_startingWorkers;
  const bool started = m_workers.Start(kDownloadJobName, [this] {
    // Also when the worker throws: its end frees the slot it held.
    struct Ended {
      explicit Ended(Scheduler& owner) : scheduler(owner) {}
      Ended(const Ended&) = delete;
      Ended& operator=(const Ended&) = delete;
      ~Ended() { scheduler.WorkerEnded(); }
      Scheduler& scheduler;
    } ended(*this);
    m_jobs.downloadWorker();
  });
  if (!started) --m_startingWorkers;
  return started;
}

void Scheduler::WorkerEnded() {
  if (t_slotHolder == this) {
    t_slotHolder = nullptr;
    const std::lock_guard lock(m_slotMutex);
    --m_slotsTaken;
  }
  --m_startingWorkers;
  SlotFreed();
}

int Scheduler::Maximum() const {
  return ParseMaxDownloads(m_state.Ui().Text(kMaxDownloadsBox));
}

int Scheduler::DownloadsHeld() const {
  return m_downloadsHeld ? m_downloadsHeld() : m_state.RunningCount().load();
}

// Only the counts text that this scheduler wrote is cleared once nothing
// runs; any other caption is left alone.
void Scheduler::UpdateCaption() {
  Controls& ui = m_state.Ui();
  const int running = m_state.RunningCount().load();
  if (m_state.Reachability().Paused()) {
    SetStatusCaption(ui, kUnreachableCaption);
  } else if (running != 0) {
    SetStatusCaption(ui, DownloadCountsText(running, m_state.TaskQueue().Count(),
                                            m_state.Downloads().TotalSpeed()));
  } else if (ui.Caption().starts_with(kCountsCaptionPrefix) ||
             ui.Caption() == FullUnreachableCaption()) {
    SetStatusCaption(ui, "");
  }
}

void Scheduler::WatchClipboard() {
  Controls& ui = m_state.Ui();
  if (!ui.Checked(kClipboardWatchBox)) return;
  std::string text = ui.Shell().ClipboardText();
  if (text == m_state.LastClipboardText()) return;
  const std::optional<std::string> bvid = FirstMatch(kBvidPattern, text);
  m_state.SetLastClipboardText(std::move(text));
  if (!bvid || bvid->size() != 12) return;
  ui.SetText(kDetailsLinkBox, *bvid);
  ui.SetText(kTaskLinkBox, *bvid);
  if (!m_jobs.detailsLoader) return;
  BusyGuard busy = m_state.Busy().TryAcquire(BusyFlag::kDetails);
  if (!busy) return;
  auto guard = std::make_shared<BusyGuard>(std::move(busy));
  (void)m_workers.Start(kDetailsJobName, [loader = m_jobs.detailsLoader, guard] {
    loader();
    guard->Release();
  });
}

}  // namespace korvid
