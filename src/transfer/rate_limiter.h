#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

namespace korvid {

// One bandwidth limit shared by every download that holds it: a token bucket
// in which each caller reserves its bytes and waits for its turn, so the
// downloads together never pass the rate however many run. Thread-safe.
//
// The bucket holds at most kBurstMs of the rate, so a download that was idle
// starts with a short burst rather than a second's worth at once.
class RateLimiter {
 public:
  // Milliseconds of a monotonic clock; tests inject their own.
  using Clock = std::function<std::int64_t()>;
  static constexpr std::int64_t kBurstMs = 250;
  // The longest single wait before the limit and the stop flag are looked at
  // again.
  static constexpr std::int64_t kWaitSliceMs = 100;

  explicit RateLimiter(Clock clock = {});

  // 0: no limit. Takes effect at once, also for callers that are waiting.
  void SetBytesPerSecond(std::int64_t rate);
  [[nodiscard]] std::int64_t BytesPerSecond() const;

  // Takes bytes from the bucket and returns how long the caller must wait
  // before it may use them (0: at once).
  [[nodiscard]] std::int64_t Reserve(std::int64_t bytes);
  // Reserve, then waits that long. Returns at once when the limit changes
  // meanwhile; false when stop became true.
  [[nodiscard]] bool Acquire(std::int64_t bytes, const std::atomic<bool>& stop);

 private:
  Clock m_clock;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::int64_t m_rate = 0;         // bytes per second; m_mutex
  double m_freeAtMs = 0;           // when the bucket is full again; m_mutex
  std::uint64_t m_generation = 0;  // counts limit changes; m_mutex
};

// "500K", "2M", "300000" (bytes per second; K and M count 1024s, either
// case) → bytes per second; -1 for anything else. "0" is no limit.
[[nodiscard]] std::int64_t ParseRateText(std::string_view text);

}  // namespace korvid
