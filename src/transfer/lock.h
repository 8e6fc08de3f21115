#pragma once

#include <memory>
#include <mutex>

namespace korvid {

// A recursive lock, like a critical section: the holder may enter again. A copy
// is a second handle on the same lock. Also usable with std::lock_guard and
// std::unique_lock (lock/unlock/try_lock).
class Lock {
 public:
  Lock() : m_mutex(std::make_shared<std::recursive_mutex>()) {}

  void Enter() { m_mutex->lock(); }
  void Leave() { m_mutex->unlock(); }
  [[nodiscard]] bool TryEnter() { return m_mutex->try_lock(); }

  void lock() { Enter(); }
  void unlock() { Leave(); }
  [[nodiscard]] bool try_lock() { return TryEnter(); }

 private:
  std::shared_ptr<std::recursive_mutex> m_mutex;
};

}  // namespace korvid
