#include "transfer/target_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace korvid {
namespace {

constexpr std::string_view kPartSuffix = ".part";
constexpr std::string_view kLockSuffix = ".lock";
constexpr std::size_t kMaxNoteBytes = 4096;
// A holder may remove the lock file between our open and our flock; the
// next open then finds a new file. Bounded, as a loop in a lock must be.
constexpr int kOpenAttempts = 8;

bool SameFile(int fd, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

std::string PartPathOf(std::string_view target) {
  return std::string(target) + std::string(kPartSuffix);
}

std::string LockPathOf(std::string_view target) {
  return PartPathOf(target) + std::string(kLockSuffix);
}

TargetLock::TargetLock(TargetLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_error(other.m_error),
      m_path(std::move(other.m_path)) {}

TargetLock& TargetLock::operator=(TargetLock&& other) noexcept {
  if (this != &other) {
    Release();
    m_fd = std::exchange(other.m_fd, -1);
    m_error = other.m_error;
    m_path = std::move(other.m_path);
  }
  return *this;
}

TargetLock::Result TargetLock::TryAcquire(std::string_view target) {
  Release();
  m_path = LockPathOf(target);
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      m_error = errno;
      return Result::kFailed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return Result::kBusy;
      m_error = error;
      return Result::kFailed;
    }
    // Locked a file its holder had already removed: try the new one.
    if (SameFile(fd, m_path)) {
      m_fd = fd;
      return Result::kHeld;
    }
    ::close(fd);
  }
  return Result::kBusy;
}

std::string TargetLock::ReadNote() const {
  if (m_fd < 0) return {};
  std::string note(kMaxNoteBytes, '\0');
  const ssize_t n = ::pread(m_fd, note.data(), note.size(), 0);
  note.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return note;
}

void TargetLock::WriteNote(std::string_view note) {
  if (m_fd < 0) return;
  if (::ftruncate(m_fd, 0) != 0) return;
  (void)!::pwrite(m_fd, note.data(), note.size(), 0);
}

void TargetLock::ReleaseAndRemove() {
  if (m_fd >= 0) ::unlink(m_path.c_str());
  Release();
}

void TargetLock::Release() {
  if (m_fd < 0) return;
  ::close(m_fd);  // closing the only descriptor drops the flock
  m_fd = -1;
}

}  // namespace korvid
