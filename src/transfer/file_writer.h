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
// next bytes can be received while the last are written. A regular file is
// written past the page cache (O_DIRECT) where the file system allows it: a
// cache filled with gigabytes of video costs more than the disk itself, and
// evicts what other programs use. The unaligned head and tail of the range go
// through the cache; a file system that refuses direct writes gets them all
// that way. Any other target (/dev/null, a pipe) is written in order.
class FileWriter {
 public:
  static constexpr std::size_t kBlockBytes = 4096;
  static constexpr std::size_t kBufferBytes = 1024 * 1024;
  static constexpr std::size_t kBufferCount = 4;

  // Hooks for tests: the direct descriptor's open and write.
  struct Io {
    int (*openDirect)(const char* path) = nullptr;
    long (*pwriteDirect)(int fd, const void* data, std::size_t size, std::int64_t offset) = nullptr;
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
  // Writes everything held and waits; false when any write failed.
  [[nodiscard]] bool Finish();

  // After Finish: the end of what is in the file, and errno of a failure.
  [[nodiscard]] std::int64_t End() const { return m_end; }
  [[nodiscard]] int SystemError() const { return m_systemError; }
  // After Finish: the file system took direct writes (or was never offered one).
  [[nodiscard]] bool WritesDirect() const { return m_directFd >= 0 && !m_directRefused; }

 private:
  struct Buffer {
    std::unique_ptr<char, void (*)(void*)> memory{nullptr, nullptr};
    std::int64_t base = 0;  // file offset of memory[0], a block boundary
    std::size_t begin = 0;  // first byte held
    std::size_t end = 0;    // one past the last byte held
  };

  void Run();
  void Abandon();  // a Start that failed
  [[nodiscard]] bool WriteBuffer(const Buffer& buffer);
  [[nodiscard]] bool WriteCached(const char* data, std::size_t size, std::int64_t offset);
  [[nodiscard]] bool WriteDirect(const char* data, std::size_t size, std::int64_t offset);
  // Hands the filling buffer to the thread; false once a write failed.
  [[nodiscard]] bool Submit(std::unique_lock<std::mutex>& lock);

  Io m_io;
  int m_fd = -1;
  int m_directFd = -1;
  bool m_directRefused = false;  // the writer thread's
  bool m_positional = false;     // a regular file: pwrite at offsets
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
