#include "app/action_thread.h"

#include <utility>

namespace korvid {

ActionThread::ActionThread() : m_thread([this] { Run(); }) {}

ActionThread::~ActionThread() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

void ActionThread::Post(std::function<void()> job) {
  {
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
  }
  m_wake.notify_one();
}

void ActionThread::Drain() {
  std::unique_lock lock(m_mutex);
  m_idle.wait(lock, [this] { return m_jobs.empty() && !m_running; });
}

bool ActionThread::Idle() {
  std::lock_guard lock(m_mutex);
  return m_jobs.empty() && !m_running;
}

void ActionThread::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
    if (m_jobs.empty()) return;  // stopping, nothing left
    std::function<void()> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_running = true;
    lock.unlock();
    try {
      job();
    } catch (...) {
      // One failed action must not end the thread every later action needs.
    }
    lock.lock();
    m_running = false;
    if (m_jobs.empty()) m_idle.notify_all();
  }
}

}  // namespace korvid
