#include "transfer/file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace korvid {
namespace {

long WriteAt(int fd, const void* data, std::size_t size, std::int64_t offset) {
  return ::pwrite(fd, data, size, offset);
}

int SyncData(int fd) {
  return ::fdatasync(fd);
}

}  // namespace

FileWriter::~FileWriter() {
  if (!m_finished) (void)Finish();
}

bool FileWriter::Start(int fd, std::int64_t offset, bool regularFile) {
  if (m_io.writeAt == nullptr) m_io.writeAt = WriteAt;
  if (m_io.syncData == nullptr) m_io.syncData = SyncData;
  m_fd = fd;
  m_positional = regularFile;
  m_start = m_end = offset;
  for (std::size_t i = 0; i < kBufferCount; ++i) {
    Buffer buffer;
    // Untouched pages of a buffer cost no memory: a slow transfer uses one.
    buffer.memory.reset(new (std::nothrow) char[kBufferBytes]);
    if (!buffer.memory) break;
    m_free.push_back(std::move(buffer));
  }
  if (m_free.empty()) {
    m_finished = true;
    return false;
  }
  m_filling = std::move(m_free.back());
  m_free.pop_back();
  m_filling.base = offset;
  try {
    m_thread = std::thread(&FileWriter::Run, this);
  } catch (const std::system_error&) {
    m_finished = true;
    return false;
  }
  return true;
}

bool FileWriter::Append(const char* data, std::size_t size) {
  if (!m_filling.memory) return false;  // a write failed before
  std::unique_lock lock(m_mutex, std::defer_lock);
  while (size > 0) {
    const std::size_t piece = std::min(size, kBufferBytes - m_filling.end);
    std::memcpy(m_filling.memory.get() + m_filling.end, data, piece);
    m_filling.end += piece;
    data += piece;
    size -= piece;
    if (m_filling.end == kBufferBytes) {
      lock.lock();
      if (!Submit(lock)) return false;
      lock.unlock();
    }
  }
  return true;
}

bool FileWriter::Submit(std::unique_lock<std::mutex>& lock) {
  const std::int64_t next = m_filling.base + static_cast<std::int64_t>(kBufferBytes);
  m_full.push_back(std::move(m_filling));
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return !m_free.empty() || m_failed; });
  if (m_failed) return false;
  m_filling = std::move(m_free.back());
  m_free.pop_back();
  m_filling.base = next;
  m_filling.end = 0;
  return true;
}

bool FileWriter::Finish() {
  if (m_finished) return !m_failed;
  m_finished = true;
  {
    std::lock_guard guard(m_mutex);
    if (m_filling.memory && m_filling.end > 0) m_full.push_back(std::move(m_filling));
    m_closing = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
  if (!m_failed && m_positional && !Flush()) {
    m_failed = true;
    m_systemError = errno;
    m_end = m_start;
  }
  return !m_failed;
}

// A file system that offers no flush for the file (EINVAL) has nothing to wait for.
bool FileWriter::Flush() {
  if (m_end == m_start) return true;
  const int result = m_io.syncData(m_fd);
  if (result != 0 && errno != EINVAL) return false;
  LeaveCache(m_start, m_end);
  return true;
}

void FileWriter::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return !m_full.empty() || m_closing; });
    if (m_full.empty()) return;
    Buffer buffer = std::move(m_full.front());
    m_full.pop_front();
    const bool skip = m_failed;
    lock.unlock();
    const int error = skip || WriteBuffer(buffer) ? 0 : errno;
    lock.lock();
    if (!skip && error == 0) {
      m_end = buffer.base + static_cast<std::int64_t>(buffer.end);
    } else if (!skip) {
      m_failed = true;
      m_systemError = error;
    }
    m_free.push_back(std::move(buffer));
    m_changed.notify_all();
  }
}

bool FileWriter::WriteBuffer(const Buffer& buffer) {
  const char* data = buffer.memory.get();
  std::size_t size = buffer.end;
  std::int64_t offset = buffer.base;
  while (size > 0) {
    const long n =
        m_positional ? m_io.writeAt(m_fd, data, size, offset) : ::write(m_fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  if (!m_positional) return true;
  // Hints only: a file system that ignores them costs nothing but the cache.
  const auto length = static_cast<off_t>(buffer.end);
  ::sync_file_range(m_fd, buffer.base, length, SYNC_FILE_RANGE_WRITE);
  LeaveCache(buffer.base - kDropBehindBytes, offset - kDropBehindBytes);
  LeaveCache(buffer.base - 4 * kDropBehindBytes, offset - 4 * kDropBehindBytes);
  return true;
}

// Drops the clean pages of [from, to); pages still being written stay.
void FileWriter::LeaveCache(std::int64_t from, std::int64_t to) const {
  from = std::max(from, m_start);
  if (to > from) ::posix_fadvise(m_fd, from, to - from, POSIX_FADV_DONTNEED);
}

}  // namespace korvid
