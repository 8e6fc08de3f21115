#include "transfer/work_queue.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace korvid {

namespace {

constexpr std::size_t kLengthBytes = 4;

void WriteLength(std::uint8_t* at, std::uint32_t length) {
  for (std::size_t i = 0; i < kLengthBytes; ++i)
    at[i] = static_cast<std::uint8_t>(length >> (8 * i));
}

std::uint32_t ReadLength(const std::uint8_t* at) {
  std::uint32_t length = 0;
  for (std::size_t i = 0; i < kLengthBytes; ++i)
    length |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return length;
}

}  // namespace

WorkQueue::WorkQueue() : m_buffer(kDefaultGrowthStep, 0) {}

void WorkQueue::SetGrowthStep(std::size_t kib) {
  std::lock_guard guard(m_mutex);
  m_growthStep = kib == 0 ? kDefaultGrowthStep : kib * 1024;
}

bool WorkQueue::PushBytes(std::span<const std::uint8_t> bytes) {
  std::lock_guard guard(m_mutex);
  return Push(bytes.data(), bytes.size());
}

bool WorkQueue::PushText(std::string_view text) {
  std::lock_guard guard(m_mutex);
  return Push(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool WorkQueue::PushInteger(std::int32_t value) {
  std::uint8_t bytes[kLengthBytes];
  WriteLength(bytes, static_cast<std::uint32_t>(value));
  std::lock_guard guard(m_mutex);
  return Push(bytes, sizeof bytes);
}

bool WorkQueue::PopBytes(std::vector<std::uint8_t>& out) {
  std::lock_guard guard(m_mutex);
  std::size_t offset = 0;
  std::size_t size = 0;
  if (!PopFront(offset, size)) return false;
  out.assign(m_buffer.begin() + static_cast<std::ptrdiff_t>(offset),
             m_buffer.begin() + static_cast<std::ptrdiff_t>(offset + size));
  return true;
}

bool WorkQueue::PopText(std::string& out) {
  std::lock_guard guard(m_mutex);
  std::size_t offset = 0;
  std::size_t size = 0;
  if (!PopFront(offset, size)) return false;
  out.assign(reinterpret_cast<const char*>(m_buffer.data() + offset), size);
  return true;
}

bool WorkQueue::PopInteger(std::int32_t& out) {
  std::lock_guard guard(m_mutex);
  std::size_t offset = 0;
  std::size_t size = 0;
  if (!PopFront(offset, size)) return false;
  std::uint8_t bytes[kLengthBytes] = {};
  std::memcpy(bytes, m_buffer.data() + offset, std::min(size, kLengthBytes));
  out = static_cast<std::int32_t>(ReadLength(bytes));
  return true;
}

bool WorkQueue::PushTextFront(std::string_view text) {
  if (text.empty() || text.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  std::lock_guard guard(m_mutex);
  std::vector<std::string> kept;
  std::vector<std::string_view> records{text};
  for (const auto& [offset, size] : Unread()) {
    kept.emplace_back(reinterpret_cast<const char*>(m_buffer.data() + offset), size);
  }
  records.insert(records.end(), kept.begin(), kept.end());
  return Rebuild(records);
}

int WorkQueue::RemoveText(std::string_view text) {
  std::lock_guard guard(m_mutex);
  std::vector<std::string> kept;
  int removed = 0;
  for (const auto& [offset, size] : Unread()) {
    const std::string_view record(reinterpret_cast<const char*>(m_buffer.data() + offset), size);
    if (record == text) {
      ++removed;
    } else {
      kept.emplace_back(record);
    }
  }
  if (removed == 0) return 0;
  return Rebuild({kept.begin(), kept.end()}) ? removed : 0;
}

std::vector<std::pair<std::size_t, std::size_t>> WorkQueue::Unread() const {
  std::vector<std::pair<std::size_t, std::size_t>> records;
  std::size_t at = m_read;
  for (int i = 0; i < m_count; ++i) {
    const std::size_t size = ReadLength(m_buffer.data() + at);
    records.emplace_back(at + kLengthBytes, size);
    at += kLengthBytes + size;
  }
  return records;
}

bool WorkQueue::Rebuild(const std::vector<std::string_view>& records) {
  std::size_t needed = 0;
  for (const std::string_view record : records) needed += kLengthBytes + record.size();
  try {
    std::vector<std::uint8_t> rebuilt(std::max(needed + m_growthStep, m_buffer.size()), 0);
    std::size_t at = 0;
    for (const std::string_view record : records) {
      WriteLength(rebuilt.data() + at, static_cast<std::uint32_t>(record.size()));
      std::memcpy(rebuilt.data() + at + kLengthBytes, record.data(), record.size());
      at += kLengthBytes + record.size();
    }
    m_buffer.swap(rebuilt);
    m_read = 0;
    m_write = at;
    m_count = static_cast<int>(records.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

int WorkQueue::Count() const {
  std::lock_guard guard(m_mutex);
  return m_count;
}

std::size_t WorkQueue::Capacity() const {
  std::lock_guard guard(m_mutex);
  return m_buffer.size();
}

bool WorkQueue::Push(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > std::numeric_limits<std::uint32_t>::max()) return false;
  const std::size_t needed = kLengthBytes + size;
  if (m_write + needed > m_buffer.size() && !Grow(needed)) return false;
  WriteLength(m_buffer.data() + m_write, static_cast<std::uint32_t>(size));
  std::memcpy(m_buffer.data() + m_write + kLengthBytes, data, size);
  m_write += needed;
  ++m_count;
  return true;
}

// On success the record's bytes stay valid at m_buffer[offset, offset + size)
// until the next operation.
bool WorkQueue::PopFront(std::size_t& offset, std::size_t& size) {
  if (m_count == 0) return false;
  if (m_read > m_growthStep) Compact();  // a failed compaction only wastes room
  size = ReadLength(m_buffer.data() + m_read);
  offset = m_read + kLengthBytes;
  m_read = offset + size;
  --m_count;
  return true;
}

bool WorkQueue::Grow(std::size_t extra) {
  return MoveUnreadTo(m_buffer.size() - m_read + m_growthStep + extra);
}

bool WorkQueue::Compact() {
  return MoveUnreadTo(m_buffer.size() - m_read);
}

bool WorkQueue::MoveUnreadTo(std::size_t newCapacity) {
  try {
    std::vector<std::uint8_t> moved(newCapacity, 0);
    std::copy(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_read),
              m_buffer.begin() + static_cast<std::ptrdiff_t>(m_write), moved.begin());
    m_buffer.swap(moved);
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_write -= m_read;
  m_read = 0;
  return true;
}

}  // namespace korvid
