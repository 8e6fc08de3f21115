#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvid {

// Calls a routine at a fixed interval on a thread of its own until stopped.
//
// Mode A (callInThread true): the routine runs on the periodic thread itself,
// so a slow call delays the next one. Mode B (false): every tick starts a
// short-lived thread for the routine, so a slow routine never delays the next
// tick; the routine must then be thread-safe.
//
// The sleeps wait on a condition variable, so a stop ends them at once. One
// owner thread starts and stops the thread; the routine may stop it too.
// Destruction stops the loop and waits for it and for every tick thread of
// mode B, so no thread outlives the object (the object must therefore not be
// destroyed by its own routine).
class PeriodicThread {
 public:
  using Routine = std::function<void(int)>;
  using Handle = std::uint64_t;  // 0: no thread

  static constexpr int kStopNoThread = -1;
  // StopPeriodic's answer when the loop did not end within the wait time
  // (the value of a timed-out wait on the original platform).
  static constexpr int kStopTimedOut = 258;

  PeriodicThread() = default;
  ~PeriodicThread();
  PeriodicThread(const PeriodicThread&) = delete;
  PeriodicThread& operator=(const PeriodicThread&) = delete;

  // Starts the loop: wait firstDelayMs, then call routine(argument) every
  // intervalMs (measured from the end of a mode-A call). When a loop already
  // runs, changes nothing and returns its handle. A loop that was told to stop
  // but has not ended yet is waited for before the new one starts.
  Handle StartPeriodic(Routine routine, int intervalMs, int firstDelayMs = 0, int argument = 0,
                       bool callInThread = false);

  // Ends the loop. Returns kStopNoThread when none runs; 0 with noWait; 0 when
  // the loop ended within waitMs; kStopTimedOut otherwise (it still ends after
  // its current call). Called from the routine in mode A, it cannot wait for
  // its own thread and returns 0 at once.
  int StopPeriodic(int waitMs = 1000, bool noWait = false);

  // Threads cannot be frozen portably: a suspended loop skips its calls until
  // Resume. False when no loop runs (or it is already in that state).
  bool Suspend();
  bool Resume();
  // No forced kill either: stops the loop and waits for it without limit.
  // Returns StopPeriodic's code.
  int Terminate();
  // Takes effect from the next sleep.
  void SetInterval(int intervalMs);

  // The running loop's handle, 0 when idle (also once a stopped loop ended).
  [[nodiscard]] Handle CurrentHandle() const;
  [[nodiscard]] bool IsSuspended() const;

 private:
  struct TickThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void Loop(bool callInThread, int firstDelayMs, int argument);  // the periodic thread
  // False when the sleep was ended by a stop. m_mutex held.
  bool Sleep(int ms, std::unique_lock<std::mutex>& held);
  void RunTick(const Routine& routine, bool callInThread, int argument);
  void JoinLoop();
  void JoinTicks(bool onlyFinished);
  [[nodiscard]] bool OnLoopThread() const;

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;   // stop, resume, interval change
  std::condition_variable m_ended;  // the loop returned
  Routine m_routine;
  int m_intervalMs = 0;
  Handle m_handle = 0;
  Handle m_lastHandle = 0;
  bool m_stop = false;
  bool m_suspended = false;
  bool m_running = false;
  std::thread::id m_loopId;

  std::mutex m_joinMutex;  // guards m_thread; taken before m_mutex
  std::thread m_thread;

  std::mutex m_tickMutex;
  std::vector<TickThread> m_ticks;
};

}  // namespace korvid
