#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvid {

// A thread-safe first-in-first-out queue of byte records (the task queue).
// Records lie back to back in one growable buffer, each as a 4-byte
// little-endian length followed by its bytes; popped records are skipped by a
// read offset and squeezed out once that offset has passed the growth step.
// Every operation holds the internal mutex for its whole run.
class WorkQueue {
 public:
  static constexpr std::size_t kDefaultGrowthStep = 1048576;

  WorkQueue();
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // In KiB; 0 means the default of 1 MiB. Applies to later growth.
  void SetGrowthStep(std::size_t kib);

  // Empty values (and records of 4 GiB or more) are refused; false also when
  // the buffer cannot grow.
  [[nodiscard]] bool PushBytes(std::span<const std::uint8_t> bytes);
  [[nodiscard]] bool PushText(std::string_view text);
  // Stores the 4 bytes of the integer, little-endian.
  [[nodiscard]] bool PushInteger(std::int32_t value);

  // Remove the oldest record. False on an empty queue, out left unchanged.
  [[nodiscard]] bool PopBytes(std::vector<std::uint8_t>& out);
  [[nodiscard]] bool PopText(std::string& out);
  // Reads the record's first 4 bytes as a little-endian integer (a shorter
  // record is zero-extended).
  [[nodiscard]] bool PopInteger(std::int32_t& out);

  // Puts a text record before every other one (it is popped next).
  [[nodiscard]] bool PushTextFront(std::string_view text);
  // Takes out every record equal to text, keeping the others in order;
  // returns how many went.
  int RemoveText(std::string_view text);

  [[nodiscard]] int Count() const;
  // Bytes reserved for records (for tests and measurements).
  [[nodiscard]] std::size_t Capacity() const;

 private:
  bool Push(const std::uint8_t* data, std::size_t size);  // m_mutex held
  bool PopFront(std::size_t& offset, std::size_t& size);  // m_mutex held
  bool Grow(std::size_t extra);                           // m_mutex held
  bool Compact();                                         // m_mutex held
  bool MoveUnreadTo(std::size_t newCapacity);             // m_mutex held
  // The unread records as (offset, size) of their bytes. m_mutex held.
  [[nodiscard]] std::vector<std::pair<std::size_t, std::size_t>> Unread() const;
  // Replaces the unread records by these, in order. m_mutex held.
  bool Rebuild(const std::vector<std::string_view>& records);

  mutable std::mutex m_mutex;
  std::vector<std::uint8_t> m_buffer;  // size() is the capacity
  std::size_t m_growthStep = kDefaultGrowthStep;
  std::size_t m_write = 0;
  std::size_t m_read = 0;
  int m_count = 0;
};

}  // namespace korvid
