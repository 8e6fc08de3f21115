#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/app_paths.h"
#include "app/site_reachability.h"
#include "app/tasks/task_list.h"
#include "controls/controls.h"
#include "transfer/work_queue.h"

namespace korvid {

// The one-at-a-time workers, each guarded by its own busy flag.
enum class BusyFlag : int {
  kReserved = 0,  // not used by any worker
  kDetails = 1,   // video-details loader
  kLinkAdd = 2,   // link classification and adding
  kQrLogin = 3,   // QR-code log-in
  kDanmakuRefresh = 4,
  kAvatarUpload = 5,
  kLibraryScan = 6,
};
inline constexpr std::size_t kBusyFlagCount = 7;

// Holds one busy flag and clears it when it goes away, so every exit path of a
// worker clears its flag. Move it into the worker thread that does the job.
class BusyGuard {
 public:
  BusyGuard() = default;
  // Takes over a flag that is already set (by TryAcquire or the caller).
  explicit BusyGuard(std::atomic<int>& flag) : m_flag(&flag) {}
  BusyGuard(BusyGuard&& other) noexcept : m_flag(std::exchange(other.m_flag, nullptr)) {}
  BusyGuard& operator=(BusyGuard&& other) noexcept;
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
  ~BusyGuard() { Release(); }

  // Sets the flag when it is clear; the result owns nothing when it was set.
  [[nodiscard]] static BusyGuard TryAcquire(std::atomic<int>& flag);

  [[nodiscard]] bool Owns() const { return m_flag != nullptr; }
  explicit operator bool() const { return Owns(); }
  void Release();

 private:
  std::atomic<int>* m_flag = nullptr;
};

class BusyFlags {
 public:
  [[nodiscard]] std::atomic<int>& operator[](BusyFlag flag) {
    return m_flags[static_cast<std::size_t>(flag)];
  }
  [[nodiscard]] bool IsSet(BusyFlag flag) const {
    return m_flags[static_cast<std::size_t>(flag)].load() != 0;
  }
  // Check and set in one step, so two quick presses cannot both start a worker.
  [[nodiscard]] BusyGuard TryAcquire(BusyFlag flag) { return BusyGuard::TryAcquire((*this)[flag]); }

 private:
  std::array<std::atomic<int>, kBusyFlagCount> m_flags{};
};

// How far one running download has come, as its last report said.
struct DownloadProgress {
  std::int64_t total = 0;  // 0 while unknown
  std::int64_t received = 0;
  float speed = 0.0F;  // KiB/s
};

// Rows whose download engine runs, with their latest progress. Its lock is
// a leaf: nothing else is taken while it is held, so it may be taken under
// the list lock.
class DownloadRegistry {
 public:
  // False when the row already has a running download.
  [[nodiscard]] bool Register(int row);
  void Unregister(int row);
  [[nodiscard]] bool Contains(int row) const;
  [[nodiscard]] int Count() const;
  // Ignored for a row that is not registered.
  void SetProgress(int row, const DownloadProgress& progress);
  [[nodiscard]] std::optional<DownloadProgress> ProgressOf(int row) const;
  // The speeds of every running download added up, KiB/s.
  [[nodiscard]] float TotalSpeed() const;

 private:
  mutable std::mutex m_mutex;
  std::map<int, DownloadProgress> m_rows;
};

// Everything the process shares between the window and the workers.
// Created once at start with the window's controls (or a ControlStore for the
// command line and the tests) and alive until exit.
class AppState {
 public:
  AppState(Controls& controls, AppPaths paths);
  ~AppState();
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  [[nodiscard]] Controls& Ui() { return m_controls; }
  [[nodiscard]] const AppPaths& Paths() const { return m_paths; }
  [[nodiscard]] BusyFlags& Busy() { return m_busy; }
  // Task records waiting for a download worker. Where the list lock is needed
  // too, it is taken first.
  [[nodiscard]] WorkQueue& TaskQueue() { return m_taskQueue; }
  [[nodiscard]] TaskList& Tasks() { return m_tasks; }
  [[nodiscard]] Lock& ListLock() { return m_tasks.ListLock(); }
  // Puts a row's record on the task queue and notes it on the row, so the
  // task store can bring the queue back after a restart. List lock held.
  [[nodiscard]] bool QueueTask(int row, std::string_view record);
  // The same at the head of the queue: the next download worker takes it.
  [[nodiscard]] bool QueueTaskFirst(int row, std::string_view record);
  // Downloads under way: +1 on a start report, -1 on an end report.
  [[nodiscard]] std::atomic<int>& RunningCount() { return m_runningCount; }
  [[nodiscard]] DownloadRegistry& Downloads() { return m_downloads; }
  // Whether new tasks may start while the site cannot be reached.
  [[nodiscard]] SiteReachability& Reachability() { return m_reachability; }

  // True the first time a key is given: for notices shown once per session.
  [[nodiscard]] bool FirstTime(const std::string& key);

  // The clipboard text the clipboard watch saw last.
  [[nodiscard]] std::string LastClipboardText() const;
  void SetLastClipboardText(std::string text);

 private:
  Controls& m_controls;
  AppPaths m_paths;
  BusyFlags m_busy;
  WorkQueue m_taskQueue;
  TaskList m_tasks;
  std::atomic<int> m_runningCount{0};
  DownloadRegistry m_downloads;
  SiteReachability m_reachability;
  mutable std::mutex m_clipboardMutex;
  std::string m_lastClipboardText;
  std::mutex m_onceMutex;
  std::set<std::string> m_seenOnce;
};

}  // namespace korvid
