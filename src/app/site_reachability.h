#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

namespace korvid {

// The caption while the site cannot be reached and no task is started.
inline constexpr std::string_view kUnreachableCaption = "网络不可用，暂停开始新任务";

// Whether the site answers, as the download workers find it. After
// kFailuresToPause tasks in a row could not reach the site, new tasks are
// held back and one task tries every kProbeIntervalMs; the first task that
// reaches the site again lets everything go on. Thread-safe.
class SiteReachability {
 public:
  // Milliseconds of a monotonic clock; tests set their own.
  using Clock = std::function<std::int64_t()>;
  static constexpr int kFailuresToPause = 3;
  static constexpr std::int64_t kProbeIntervalMs = 30000;

  SiteReachability();
  void SetClock(Clock clock);

  // A task could not connect to the site (name lookup or connection failed).
  void NoteUnreachable();
  // A task got an answer from the site.
  void NoteReached();
  [[nodiscard]] bool Paused() const;
  // Whether a task may start now: always while not paused; while paused,
  // once per kProbeIntervalMs (that task is the try).
  [[nodiscard]] bool TakeStart();

 private:
  mutable std::mutex m_mutex;
  Clock m_clock;
  int m_failures = 0;
  bool m_paused = false;
  std::int64_t m_lastTryMs = 0;
};

}  // namespace korvid
