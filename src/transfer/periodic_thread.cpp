#include "transfer/periodic_thread.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <system_error>
#include <utility>

namespace korvid {

namespace {

// The routine belongs to the caller; whatever it throws ends here, once, at
// the entry of the thread that runs it.
void CallRoutine(const PeriodicThread::Routine& routine, int argument) {
  try {
    routine(argument);
  } catch (...) {
  }
}

}  // namespace

PeriodicThread::~PeriodicThread() {
  {
    std::lock_guard guard(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  JoinLoop();
  JoinTicks(false);
}

PeriodicThread::Handle PeriodicThread::StartPeriodic(Routine routine, int intervalMs,
                                                     int firstDelayMs, int argument,
                                                     bool callInThread) {
  {
    std::lock_guard guard(m_mutex);
    if (m_running && !m_stop) return m_handle;
    if (OnLoopThread()) return 0;  // a stopping loop cannot wait for itself
  }
  std::lock_guard joinGuard(m_joinMutex);
  if (m_thread.joinable()) m_thread.join();  // a loop told to stop finishes first

  std::lock_guard guard(m_mutex);
  if (m_running) return m_handle;  // another thread started one meanwhile
  m_routine = std::move(routine);
  m_intervalMs = std::max(intervalMs, 0);
  m_stop = false;
  m_suspended = false;
  try {
    m_thread =
        std::thread(&PeriodicThread::Loop, this, callInThread, std::max(firstDelayMs, 0), argument);
  } catch (const std::system_error&) {
    return 0;
  }
  m_running = true;
  m_handle = ++m_lastHandle;
  m_loopId = m_thread.get_id();
  return m_handle;
}

int PeriodicThread::StopPeriodic(int waitMs, bool noWait) {
  std::unique_lock held(m_mutex);
  if (!m_running) {
    held.unlock();
    JoinLoop();
    return kStopNoThread;
  }
  m_stop = true;
  m_wake.notify_all();
  if (noWait || OnLoopThread()) return 0;
  const bool ended = m_ended.wait_for(held, std::chrono::milliseconds(std::max(waitMs, 0)),
                                      [this] { return !m_running; });
  held.unlock();
  if (!ended) return kStopTimedOut;
  JoinLoop();
  return 0;
}

bool PeriodicThread::Suspend() {
  std::lock_guard guard(m_mutex);
  if (!m_running || m_stop || m_suspended) return false;
  m_suspended = true;
  return true;
}

bool PeriodicThread::Resume() {
  {
    std::lock_guard guard(m_mutex);
    if (!m_running || !m_suspended) return false;
    m_suspended = false;
  }
  m_wake.notify_all();
  return true;
}

int PeriodicThread::Terminate() {
  return StopPeriodic(std::numeric_limits<int>::max());
}

void PeriodicThread::SetInterval(int intervalMs) {
  std::lock_guard guard(m_mutex);
  m_intervalMs = std::max(intervalMs, 0);
}

PeriodicThread::Handle PeriodicThread::CurrentHandle() const {
  std::lock_guard guard(m_mutex);
  return m_handle;
}

bool PeriodicThread::IsSuspended() const {
  std::lock_guard guard(m_mutex);
  return m_suspended;
}

void PeriodicThread::Loop(bool callInThread, int firstDelayMs, int argument) {
  std::unique_lock held(m_mutex);
  const Routine routine = m_routine;  // ticks of a finished run may outlive a restart
  int delayMs = firstDelayMs;
  while (Sleep(delayMs, held)) {
    held.unlock();
    RunTick(routine, callInThread, argument);
    held.lock();
    delayMs = m_intervalMs;
  }
  m_running = false;
  m_handle = 0;
  m_loopId = {};
  m_ended.notify_all();
}

bool PeriodicThread::Sleep(int ms, std::unique_lock<std::mutex>& held) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  m_wake.wait_until(held, deadline, [this] { return m_stop; });
  m_wake.wait(held, [this] { return m_stop || !m_suspended; });
  return !m_stop;
}

void PeriodicThread::RunTick(const Routine& routine, bool callInThread, int argument) {
  if (callInThread) {
    CallRoutine(routine, argument);
    return;
  }
  JoinTicks(true);
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread tick([routine, argument, done] {
      CallRoutine(routine, argument);
      done->store(true);
    });
    std::lock_guard guard(m_tickMutex);
    m_ticks.push_back(TickThread{std::move(tick), std::move(done)});
  } catch (const std::system_error&) {
    // No thread to be had: this tick is skipped, the next one tries again.
  }
}

void PeriodicThread::JoinLoop() {
  std::lock_guard guard(m_joinMutex);
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void PeriodicThread::JoinTicks(bool onlyFinished) {
  std::vector<TickThread> finished;
  {
    std::lock_guard guard(m_tickMutex);
    auto split = std::stable_partition(m_ticks.begin(), m_ticks.end(), [onlyFinished](auto& t) {
      return onlyFinished && !t.done->load();
    });
    std::move(split, m_ticks.end(), std::back_inserter(finished));
    m_ticks.erase(split, m_ticks.end());
  }
  for (auto& tick : finished) {
    if (tick.thread.get_id() == std::this_thread::get_id()) {
      tick.thread.detach();  // the object is being destroyed from its own routine
    } else {
      tick.thread.join();
    }
  }
}

bool PeriodicThread::OnLoopThread() const {
  return m_loopId == std::this_thread::get_id();
}

}  // namespace korvid
