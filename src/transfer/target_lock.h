#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvid {

// "<target>.part": where a download of target is written until it is whole.
[[nodiscard]] std::string PartPathOf(std::string_view target);
// "<target>.part.lock": held by whoever writes target, in any process.
[[nodiscard]] std::string LockPathOf(std::string_view target);

// An exclusive claim on one target file (a download or a merge), held as an
// flock on the lock file beside the part file. flock locks belong to one
// open file, so two claims conflict within one process as across processes;
// the kernel drops the claim when its holder dies, also by kill -9.
//
// The lock file also keeps a short note of its part file (the body's
// identity), read and written only by the holder.
class TargetLock {
 public:
  enum class Result { kHeld, kBusy, kFailed };

  TargetLock() = default;
  ~TargetLock() { Release(); }
  TargetLock(TargetLock&& other) noexcept;
  TargetLock& operator=(TargetLock&& other) noexcept;
  TargetLock(const TargetLock&) = delete;
  TargetLock& operator=(const TargetLock&) = delete;

  // Never waits. kBusy: another claim holds target; kFailed: no lock file
  // could be made there (errno is kept in SystemError).
  [[nodiscard]] Result TryAcquire(std::string_view target);
  [[nodiscard]] bool Held() const { return m_fd >= 0; }
  [[nodiscard]] int SystemError() const { return m_error; }

  [[nodiscard]] std::string ReadNote() const;
  // Best effort: a torn note only means the part is not resumed.
  void WriteNote(std::string_view note);

  // Removes the lock file (the part is gone or renamed) and lets go.
  void ReleaseAndRemove();
  void Release();

 private:
  int m_fd = -1;
  int m_error = 0;
  std::string m_path;
};

}  // namespace korvid
