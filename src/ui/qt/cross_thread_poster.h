#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace korvid {

// Hands "something changed" from any thread to a function run on the thread of
// a QObject. At most one call is pending at a time: a burst of changes on the
// workers becomes one call on the window thread. The target's owner calls
// Detach() before the target dies, so a worker that reports during shutdown
// posts nothing instead of touching a dead object.
class CrossThreadPoster : public std::enable_shared_from_this<CrossThreadPoster> {
 public:
  CrossThreadPoster(QObject* target, std::function<void()> onTargetThread)
      : m_target(target), m_onTargetThread(std::move(onTargetThread)) {}

  // Any thread. Never waits for the target's thread.
  void Post() {
    if (m_pending.exchange(true)) return;
    std::lock_guard guard(m_mutex);
    if (m_target == nullptr) return;
    // The queued functor is dropped by Qt when the target has been destroyed.
    QMetaObject::invokeMethod(
        m_target,
        [self = weak_from_this()] {
          if (auto poster = self.lock()) poster->RunOnTargetThread();
        },
        Qt::QueuedConnection);
  }

  // Target's thread, before the target is destroyed.
  void Detach() {
    std::lock_guard guard(m_mutex);
    m_target = nullptr;
  }

 private:
  void RunOnTargetThread() {
    // Cleared first: a change that lands while the function runs posts again.
    m_pending.store(false);
    {
      std::lock_guard guard(m_mutex);
      if (m_target == nullptr) return;
    }
    m_onTargetThread();
  }

  std::mutex m_mutex;
  QObject* m_target;
  std::function<void()> m_onTargetThread;
  std::atomic<bool> m_pending{false};
};

// The notifier a core model calls; keeps the poster alive as long as the model
// may still call it.
inline std::function<void()> MakeNotifier(const std::shared_ptr<CrossThreadPoster>& poster) {
  return [poster] { poster->Post(); };
}

}  // namespace korvid
