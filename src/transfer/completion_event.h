#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace korvid {

// An auto-reset event: Signal wakes one waiter (or the next one to come), and
// the wait that consumes the signal resets it. A waiter may destroy the event
// as soon as its wait returns: Signal notifies while it holds the mutex, so it
// is done with the event by then.
class CompletionEvent {
 public:
  void Signal() {
    std::lock_guard guard(m_mutex);
    m_signalled = true;
    m_changed.notify_one();
  }

  void Wait() {
    std::unique_lock held(m_mutex);
    m_changed.wait(held, [this] { return m_signalled; });
    m_signalled = false;
  }

  // False when timeoutMs passed without a signal.
  [[nodiscard]] bool WaitFor(int timeoutMs) {
    std::unique_lock held(m_mutex);
    if (!m_changed.wait_for(held, std::chrono::milliseconds(timeoutMs),
                            [this] { return m_signalled; })) {
      return false;
    }
    m_signalled = false;
    return true;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_signalled = false;
};

}  // namespace korvid
