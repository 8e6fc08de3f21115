#include "transfer/worker_set.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

namespace korvid {
namespace {

void Report(std::string_view name, std::string_view verb, const char* what) {
  std::fprintf(stderr, "korvid: %.*s %.*s: %s\n", static_cast<int>(name.size()), name.data(),
               static_cast<int>(verb.size()), verb.data(), what);
}

}  // namespace

WorkerSet::~WorkerSet() {
  JoinAll();
}

bool WorkerSet::Start(std::string_view name, std::function<void()> job) {
  Reap();
  std::unique_lock guard(m_mutex);
  Worker& worker = m_workers.emplace_back();
  worker.name = std::string(name);
  ++m_active;
  try {
    // The thread waits for this lock before it runs, so the entry is complete.
    worker.thread =
        std::thread([this, &worker, job = std::move(job)]() mutable { Run(worker, job); });
  } catch (const std::system_error& error) {
    m_workers.pop_back();
    --m_active;
    guard.unlock();
    Report(name, "not started", error.what());
    return false;
  }
  return true;
}

void WorkerSet::Run(Worker& worker, std::function<void()>& job) {
  std::string name;
  {
    std::lock_guard guard(m_mutex);
    name = worker.name;
  }
  try {
    job();
  } catch (const std::exception& error) {
    Report(name, "ended", error.what());
  } catch (...) {
    Report(name, "ended", "an unknown exception");
  }
  // What the job holds (a busy guard, say) is let go before it counts as ended.
  job = nullptr;
  std::lock_guard guard(m_mutex);
  worker.done = true;
  --m_active;
  m_ended.notify_all();
}

std::list<WorkerSet::Worker> WorkerSet::TakeFinished() {
  std::list<Worker> finished;
  std::lock_guard guard(m_mutex);
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    const auto next = std::next(it);
    if (it->done) finished.splice(finished.end(), m_workers, it);
    it = next;
  }
  return finished;
}

void WorkerSet::Reap() {
  for (Worker& worker : TakeFinished()) {
    if (worker.thread.joinable()) worker.thread.join();
  }
}

void WorkerSet::JoinAll() {
  for (;;) {
    std::list<Worker> all;
    {
      std::lock_guard guard(m_mutex);
      if (m_workers.empty()) return;
      all.splice(all.end(), m_workers);
    }
    // A job may still touch its entry until it has set done; joining first
    // keeps the entry alive until then.
    for (Worker& worker : all) {
      if (worker.thread.joinable()) worker.thread.join();
    }
  }
}

bool WorkerSet::WaitIdle(int timeoutMs) {
  std::unique_lock guard(m_mutex);
  const auto idle = [this] { return m_active == 0; };
  if (timeoutMs < 0) {
    m_ended.wait(guard, idle);
    return true;
  }
  return m_ended.wait_for(guard, std::chrono::milliseconds(timeoutMs), idle);
}

int WorkerSet::Active() const {
  std::lock_guard guard(m_mutex);
  return m_active;
}

}  // namespace korvid
