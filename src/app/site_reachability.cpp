#include "app/site_reachability.h"

#include <chrono>

namespace korvid {
namespace {

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

SiteReachability::SiteReachability() : m_clock(SteadyMs) {}

void SiteReachability::SetClock(Clock clock) {
  std::lock_guard guard(m_mutex);
  m_clock = clock ? std::move(clock) : Clock(SteadyMs);
}

void SiteReachability::NoteUnreachable() {
  std::lock_guard guard(m_mutex);
  if (++m_failures < kFailuresToPause) return;
  // The next try comes a whole interval after the last failure.
  m_paused = true;
  m_lastTryMs = m_clock();
}

void SiteReachability::NoteReached() {
  std::lock_guard guard(m_mutex);
  m_failures = 0;
  m_paused = false;
}

bool SiteReachability::Paused() const {
  std::lock_guard guard(m_mutex);
  return m_paused;
}

bool SiteReachability::TakeStart() {
  std::lock_guard guard(m_mutex);
  if (!m_paused) return true;
  const std::int64_t now = m_clock();
  if (now - m_lastTryMs < kProbeIntervalMs) return false;
  m_lastTryMs = now;
  return true;
}

}  // namespace korvid
