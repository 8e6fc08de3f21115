#include "transfer/rate_limiter.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <climits>

namespace korvid {
namespace {

constexpr std::int64_t kKibi = 1024;
constexpr double kMsPerSecond = 1000.0;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

RateLimiter::RateLimiter(Clock clock) : m_clock(clock ? std::move(clock) : Clock(SteadyMs)) {}

void RateLimiter::SetBytesPerSecond(std::int64_t rate) {
  rate = std::max<std::int64_t>(rate, 0);
  {
    std::lock_guard guard(m_mutex);
    if (rate == m_rate) return;
    m_rate = rate;
    // What was reserved at the old rate is forgiven: the new one starts
    // with a full bucket.
    m_freeAtMs = static_cast<double>(m_clock() - kBurstMs);
    ++m_generation;
  }
  m_changed.notify_all();
}

std::int64_t RateLimiter::BytesPerSecond() const {
  std::lock_guard guard(m_mutex);
  return m_rate;
}

std::int64_t RateLimiter::Reserve(std::int64_t bytes) {
  std::lock_guard guard(m_mutex);
  if (m_rate <= 0 || bytes <= 0) return 0;
  const auto now = static_cast<double>(m_clock());
  m_freeAtMs = std::max(m_freeAtMs, now - static_cast<double>(kBurstMs));
  m_freeAtMs += static_cast<double>(bytes) * kMsPerSecond / static_cast<double>(m_rate);
  return static_cast<std::int64_t>(std::max(0.0, m_freeAtMs - now));
}

bool RateLimiter::Acquire(std::int64_t bytes, const std::atomic<bool>& stop) {
  std::uint64_t generation = 0;
  {
    std::lock_guard guard(m_mutex);
    generation = m_generation;
  }
  const std::int64_t waitMs = Reserve(bytes);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  std::unique_lock held(m_mutex);
  while (!stop.load() && m_generation == generation) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    const auto slice = std::min<std::chrono::steady_clock::duration>(
        deadline - now, std::chrono::milliseconds(kWaitSliceMs));
    m_changed.wait_for(held, slice);
  }
  return !stop.load();
}

std::int64_t ParseRateText(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  std::int64_t unit = 1;
  if (!text.empty()) {
    const char last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    if (last == 'K' || last == 'M') {
      unit = last == 'K' ? kKibi : kKibi * kKibi;
      text.remove_suffix(1);
    }
  }
  std::int64_t value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > LLONG_MAX / unit) {
    return -1;
  }
  return value * unit;
}

}  // namespace korvid
