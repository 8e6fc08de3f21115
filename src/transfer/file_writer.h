#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvid {

// Writes a stream of bytes to an open file on a thread of its own, so the
// next bytes can be received while the last are written, in large writes.
// A regular file is written through the page cache but not left in it: each
// write starts its own writeback at once, and what lies well behind is dropped
// from the cache, so a download of gigabytes neither waits for a burst of
// writeback at the end nor evicts what other programs use, and the cache's
// pages are reused warm. Finish waits until the bytes are on the disk: a
// write the disk later refuses must not read as a finished file. Any other
// target (/dev/null, a pipe) is written in order and nothing more.
class FileWriter {
 public:
  static constexpr std::size_t kBufferBytes = 1024 * 1024;
  static constexpr std::size_t kBufferCount = 4;
  // Written bytes this far behind the newest are dropped from the cache, and
  // again four times as far behind when they were still being written out.
  static constexpr std::int64_t kDropBehindBytes = 32 * 1024 * 1024;

  // Hooks for tests: the positional write and the final flush.
  struct Io {
    long (*writeAt)(int fd, const void* data, std::size_t size, std::int64_t offset) = nullptr;
    int (*syncData)(int fd) = nullptr;
  };

  FileWriter() = default;
  explicit FileWriter(Io io) : m_io(io) {}
  // Writes what is held and waits for the thread.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // fd stays the caller's; the bytes go to offset on. False when no thread
  // could start (nothing is written then).
  [[nodiscard]] bool Start(int fd, std::int64_t offset, bool regularFile);
  // Copies the bytes in, waiting while every buffer is full. False once a
  // write has failed: later bytes are dropped.
  [[nodiscard]] bool Append(const char* data, std::size_t size);
  // Writes everything held, flushes a regular file to the disk and waits;
  // false when any write or the flush failed.
  [[nodiscard]] bool Finish();

  // After Finish: the end of what is in the file, and errno of a failure.
  // A failed flush trusts none of this run's bytes: the end is the offset.
  [[nodiscard]] std::int64_t End() const { return m_end; }
  [[nodiscard]] int SystemError() const { return m_systemError; }

 private:
  struct Buffer {
    std::unique_ptr<char[]> memory;
    std::int64_t base = 0;  // file offset of memory[0]
    std::size_t end = 0;    // one past the last byte held
  };

  void Run();
  [[nodiscard]] bool WriteBuffer(const Buffer& buffer);
  void LeaveCache(std::int64_t from, std::int64_t to) const;
  [[nodiscard]] bool Flush();
  // Hands the filling buffer to the thread; false once a write failed.
  [[nodiscard]] bool Submit(std::unique_lock<std::mutex>& lock);

  Io m_io;
  int m_fd = -1;
  bool m_positional = false;  // a regular file: pwrite at offsets
  std::int64_t m_start = 0;
  std::thread m_thread;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Buffer> m_free;  // m_mutex
  std::deque<Buffer> m_full;   // m_mutex
  bool m_closing = false;      // m_mutex
  bool m_failed = false;       // m_mutex
  int m_systemError = 0;       // m_mutex until Finish
  std::int64_t m_end = 0;      // m_mutex until Finish
  Buffer m_filling;            // the appending thread's
  bool m_finished = false;
};

}  // namespace korvid
