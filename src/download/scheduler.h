#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/settings_file.h"
#include "controls/control_names.h"
#include "transfer/periodic_thread.h"
#include "transfer/worker_set.h"

namespace korvid {

inline constexpr std::string_view kBvidPattern = "BV[0-9a-zA-Z]{10}";

// The jobs the scheduler starts, each on a new thread of its own.
struct SchedulerJobs {
  // One download worker: pops the oldest task record itself and ends once
  // its download is handed over. Empty: no download is ever started.
  std::function<void()> downloadWorker;
  // Loads the details of the video in 编辑框_解析链接. Runs with the
  // kDetails busy flag set; the flag is cleared when it returns.
  std::function<void()> detailsLoader;
};

// The maximum number of downloads as the edit box holds it: its leading
// digits, 0 for a text that does not start with a number.
[[nodiscard]] int ParseMaxDownloads(std::string_view text);

// "正在下载:N  剩余任务:M", the caption text while downloads run, followed by
// "  总速度:" and the speed of all downloads together when they move.
[[nodiscard]] std::string DownloadCountsText(int running, int waiting,
                                             float totalKibPerSecond = 0.0F);

// The one-second tick that drains the task queue: at most one download worker
// started per tick while fewer downloads run than 编辑框_最大线程 allows, the
// download counts in the window caption, and the clipboard watch.
//
// Tick runs on one thread at a time: the window thread, driven by the
// window's 线程时钟 timer, or the scheduler's own clock thread (StartClock)
// in the command line. It never waits for a worker.
class Scheduler {
 public:
  static constexpr int kTickMs = 1000;

  Scheduler(AppState& state, SchedulerJobs jobs);
  // Stops the clock and waits for every worker it started.
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  void Tick();

  // The command line's pace, set before the first Tick: instead of one
  // worker per tick (the window's), every free slot is filled at once, and a
  // slot again as soon as it frees (SlotFreed, or a worker that ends without
  // a download). downloadsHeld: the downloads that hold a slot now (handed
  // over and not yet ended, also while they wait to retry); empty: the
  // running count, which counts a download only once its transfer began.
  void FillEverySlot(std::function<int()> downloadsHeld);
  // With FillEverySlot, set before the first Tick: a worker prepares its task
  // (stream, side files) without a slot and takes one in WaitForSlot only to
  // hand its download over, so no slot idles while a task is prepared. Up to
  // one worker per slot prepares ahead while every slot is busy.
  void PrepareAhead();
  // A download worker of this scheduler, once its task is prepared: waits
  // until a download slot is free and takes it until the worker ends. False
  // when the clock stopped meanwhile (the run is ending): nothing may start.
  // Returns true at once unless preparing ahead.
  [[nodiscard]] bool WaitForSlot();
  // A download ended: when filling every slot, its slot is filled now rather
  // than at the next tick; otherwise nothing. Any thread.
  void SlotFreed();
  // Tasks were queued: when filling every slot, the free ones are filled now.
  void TasksQueued() { SlotFreed(); }

  // Runs Tick every kTickMs on a thread of its own until StopClock.
  void StartClock();
  // Also ends SlotFreed's starts: after it only an explicit Tick starts a
  // worker.
  void StopClock();

  // Waits until every worker started so far has ended.
  void WaitForWorkers();
  // Workers started and not yet ended.
  [[nodiscard]] int ActiveWorkers() const;

 private:
  void StartDownloads();
  void FillSlots(int maximum);
  [[nodiscard]] bool StartFillingWorker();
  [[nodiscard]] int Maximum() const;
  [[nodiscard]] int DownloadsHeld() const;
  void WorkerEnded();
  void UpdateCaption();
  void WatchClipboard();

  AppState& m_state;
  SchedulerJobs m_jobs;
  bool m_fillEverySlot = false;
  std::function<int()> m_downloadsHeld;
  std::atomic<bool> m_refills{true};
  // Workers started by FillSlots that have not ended yet: each may still be
  // about to hand a download over.
  std::atomic<int> m_startingWorkers{0};
  bool m_prepareAhead = false;
  // Workers past WaitForSlot that have not ended: each holds a slot until
  // its download is counted as held (then counted twice for a moment).
  int m_slotsTaken = 0;  // m_slotMutex
  std::mutex m_slotMutex;
  std::condition_variable m_slotFreed;
  std::mutex m_tickMutex;  // one Tick at a time, whoever drives it
  PeriodicThread m_clock;
  // Last: its destructor joins the workers before the jobs they run go.
  WorkerSet m_workers;
};

}  // namespace korvid
