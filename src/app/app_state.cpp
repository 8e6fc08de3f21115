#include "app/app_state.h"

#include <utility>

namespace korvid {

BusyGuard& BusyGuard::operator=(BusyGuard&& other) noexcept {
  if (this != &other) {
    Release();
    m_flag = std::exchange(other.m_flag, nullptr);
  }
  return *this;
}

BusyGuard BusyGuard::TryAcquire(std::atomic<int>& flag) {
  int expected = 0;
  if (!flag.compare_exchange_strong(expected, 1)) return BusyGuard();
  return BusyGuard(flag);
}

void BusyGuard::Release() {
  if (m_flag) std::exchange(m_flag, nullptr)->store(0);
}

bool DownloadRegistry::Register(int row) {
  std::lock_guard guard(m_mutex);
  return m_rows.emplace(row, DownloadProgress{}).second;
}

void DownloadRegistry::Unregister(int row) {
  std::lock_guard guard(m_mutex);
  m_rows.erase(row);
}

bool DownloadRegistry::Contains(int row) const {
  std::lock_guard guard(m_mutex);
  return m_rows.contains(row);
}

int DownloadRegistry::Count() const {
  std::lock_guard guard(m_mutex);
  return static_cast<int>(m_rows.size());
}

void DownloadRegistry::SetProgress(int row, const DownloadProgress& progress) {
  std::lock_guard guard(m_mutex);
  const auto it = m_rows.find(row);
  if (it != m_rows.end()) it->second = progress;
}

std::optional<DownloadProgress> DownloadRegistry::ProgressOf(int row) const {
  std::lock_guard guard(m_mutex);
  const auto it = m_rows.find(row);
  if (it == m_rows.end()) return std::nullopt;
  return it->second;
}

float DownloadRegistry::TotalSpeed() const {
  std::lock_guard guard(m_mutex);
  float total = 0.0F;
  for (const auto& [row, progress] : m_rows) total += progress.speed;
  return total;
}

AppState::AppState(Controls& controls, AppPaths paths)
    : m_controls(controls), m_paths(std::move(paths)) {}

AppState::~AppState() = default;

bool AppState::QueueTask(int row, std::string_view record) {
  if (!m_taskQueue.PushText(record)) return false;
  m_tasks.NoteQueued(row, std::string(record));
  return true;
}

bool AppState::QueueTaskFirst(int row, std::string_view record) {
  if (!m_taskQueue.PushTextFront(record)) return false;
  m_tasks.NoteQueuedFirst(row, std::string(record));
  return true;
}

bool AppState::FirstTime(const std::string& key) {
  std::lock_guard guard(m_onceMutex);
  return m_seenOnce.insert(key).second;
}

std::string AppState::LastClipboardText() const {
  std::lock_guard guard(m_clipboardMutex);
  return m_lastClipboardText;
}

void AppState::SetLastClipboardText(std::string text) {
  std::lock_guard guard(m_clipboardMutex);
  m_lastClipboardText = std::move(text);
}

}  // namespace korvid
