#include "transfer/file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace korvid {
namespace {

int OpenDirect(const char* path) {
  return ::open(path, O_WRONLY | O_DIRECT | O_CLOEXEC);
}

long PwriteDirect(int fd, const void* data, std::size_t size, std::int64_t offset) {
  return ::pwrite(fd, data, size, offset);
}

constexpr std::size_t AlignDown(std::size_t at) {
  return at / FileWriter::kBlockBytes * FileWriter::kBlockBytes;
}

constexpr std::size_t AlignUp(std::size_t at) {
  return AlignDown(at + FileWriter::kBlockBytes - 1);
}

}  // namespace

FileWriter::~FileWriter() {
  if (!m_finished) (void)Finish();
}

bool FileWriter::Start(int fd, std::int64_t offset, bool regularFile) {
  if (m_io.openDirect == nullptr) m_io.openDirect = OpenDirect;
  if (m_io.pwriteDirect == nullptr) m_io.pwriteDirect = PwriteDirect;
  m_fd = fd;
  m_positional = regularFile;
  m_end = offset;
  // Opened again through the descriptor: the path may name another file by now.
  if (regularFile) m_directFd = m_io.openDirect(("/proc/self/fd/" + std::to_string(fd)).c_str());
  for (std::size_t i = 0; i < kBufferCount; ++i) {
    Buffer buffer;
    // Untouched pages of a buffer cost no memory: a slow transfer uses one.
    buffer.memory = {static_cast<char*>(std::aligned_alloc(kBlockBytes, kBufferBytes)), std::free};
    if (!buffer.memory) break;
    m_free.push_back(std::move(buffer));
  }
  if (m_free.empty()) {
    Abandon();
    return false;
  }
  m_filling = std::move(m_free.back());
  m_free.pop_back();
  const auto base = static_cast<std::int64_t>(AlignDown(static_cast<std::size_t>(offset)));
  m_filling.base = base;
  m_filling.begin = m_filling.end = static_cast<std::size_t>(offset - base);
  try {
    m_thread = std::thread(&FileWriter::Run, this);
  } catch (const std::system_error&) {
    Abandon();
    return false;
  }
  return true;
}

void FileWriter::Abandon() {
  m_finished = true;
  if (m_directFd >= 0) ::close(m_directFd);
  m_directFd = -1;
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
  m_filling.begin = m_filling.end = 0;
  return true;
}

bool FileWriter::Finish() {
  if (m_finished) return !m_failed;
  m_finished = true;
  {
    std::lock_guard guard(m_mutex);
    if (m_filling.memory && m_filling.end > m_filling.begin) m_full.push_back(std::move(m_filling));
    m_closing = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
  if (m_directFd >= 0) ::close(m_directFd);
  return !m_failed;
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
  const char* memory = buffer.memory.get();
  const auto at = [&buffer](std::size_t index) {
    return buffer.base + static_cast<std::int64_t>(index);
  };
  const std::size_t head = std::min(AlignUp(buffer.begin), buffer.end);
  const std::size_t tail = std::max(AlignDown(buffer.end), head);
  if (!m_positional || m_directFd < 0 || m_directRefused || head == tail) {
    return WriteCached(memory + buffer.begin, buffer.end - buffer.begin, at(buffer.begin));
  }
  return WriteCached(memory + buffer.begin, head - buffer.begin, at(buffer.begin)) &&
         WriteDirect(memory + head, tail - head, at(head)) &&
         WriteCached(memory + tail, buffer.end - tail, at(tail));
}

bool FileWriter::WriteCached(const char* data, std::size_t size, std::int64_t offset) {
  while (size > 0) {
    const ssize_t n = m_positional ? ::pwrite(m_fd, data, size, offset) : ::write(m_fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

// A file system may refuse direct writes only when they come; the rest of
// the file then goes through the cache. A short write leaves an unaligned
// remainder, which the cache takes too.
bool FileWriter::WriteDirect(const char* data, std::size_t size, std::int64_t offset) {
  while (size > 0 && !m_directRefused) {
    const long n = m_io.pwriteDirect(m_directFd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EINVAL) m_directRefused = true;
    if (n < 0 && !m_directRefused) return false;
    if (n <= 0 || static_cast<std::size_t>(n) != size) {
      const std::size_t done = n > 0 ? static_cast<std::size_t>(n) : 0;
      return WriteCached(data + done, size - done, offset + static_cast<std::int64_t>(done));
    }
    size = 0;
  }
  return size == 0 || WriteCached(data, size, offset);
}

}  // namespace korvid
