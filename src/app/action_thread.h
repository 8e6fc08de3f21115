#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace korvid {

// One worker thread that runs short jobs in the order they were posted: the
// window hands it the actions that take the list lock, which a network
// worker may hold for the length of a request. The destructor runs the jobs
// still waiting, then joins.
class ActionThread {
 public:
  ActionThread();
  ~ActionThread();
  ActionThread(const ActionThread&) = delete;
  ActionThread& operator=(const ActionThread&) = delete;

  // Any thread. A job that throws is dropped; the thread carries on.
  void Post(std::function<void()> job);
  // Blocks until every job posted before the call has run (tests, shutdown).
  void Drain();
  // True when no job waits or runs. A window thread that must not block
  // spins its own events until this holds, since jobs may call into it.
  [[nodiscard]] bool Idle();

 private:
  void Run();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::deque<std::function<void()>> m_jobs;
  bool m_running = false;  // a job is being run
  bool m_stopping = false;
  std::thread m_thread;
};

}  // namespace korvid
