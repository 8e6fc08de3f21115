#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace korvid {

// Runs named jobs, each on a thread of its own, and joins them.
//
// Start may be called from any thread, also from a job of the same set. What a
// job throws is caught at the thread's entry and written to stderr as
// "korvid: <name> ended: <what>"; a thread that cannot be had is reported the
// same way and Start answers false, so no exception reaches the caller (the
// window thread, a scheduler tick). Finished threads are joined by the next
// Start, by Reap, or at the latest by JoinAll, which the destructor calls.
// JoinAll must not run on one of the set's own threads.
class WorkerSet {
 public:
  WorkerSet() = default;
  ~WorkerSet();
  WorkerSet(const WorkerSet&) = delete;
  WorkerSet& operator=(const WorkerSet&) = delete;

  // False when no thread could be started; job then never runs.
  [[nodiscard]] bool Start(std::string_view name, std::function<void()> job);

  // Joins the threads whose job has ended.
  void Reap();
  // Waits for every job, also those started meanwhile by other jobs.
  void JoinAll();
  // True when no job runs any more (within timeoutMs; negative: no limit).
  [[nodiscard]] bool WaitIdle(int timeoutMs);
  // Jobs started and not yet ended.
  [[nodiscard]] int Active() const;

 private:
  struct Worker {
    std::string name;
    std::thread thread;
    bool done = false;  // m_mutex
  };

  void Run(Worker& worker, std::function<void()>& job);
  [[nodiscard]] std::list<Worker> TakeFinished();

  mutable std::mutex m_mutex;
  std::condition_variable m_ended;
  // A list: a worker's entry stays where it is while other entries come and go.
  std::list<Worker> m_workers;
  int m_active = 0;  // m_mutex
};

}  // namespace korvid
