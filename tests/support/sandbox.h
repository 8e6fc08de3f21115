#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace korvid::test {

// A fresh, empty folder for one test under the build's test work folder,
// removed again when the test ends. The name carries the running test's name
// and the process id, so parallel test processes never share a folder.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  [[nodiscard]] const std::filesystem::path& Path() const { return m_path; }
  // Path() / relative; creates nothing.
  [[nodiscard]] std::filesystem::path operator/(const std::filesystem::path& relative) const;

  // Writes text to Path() / relative, creating parent folders; false on failure.
  [[nodiscard]] bool WriteFile(const std::filesystem::path& relative,
                               const std::string& bytes) const;
  // Whole file as bytes; empty when it cannot be read.
  [[nodiscard]] std::string ReadFile(const std::filesystem::path& relative) const;

  // Leave the folder on disk after the test (for looking at a failure).
  void Keep() { m_keep = true; }

 private:
  std::filesystem::path m_path;
  bool m_keep = false;
};

// The build's test work folder (KORVID_TEST_WORK_DIR), created when missing.
[[nodiscard]] std::filesystem::path TestWorkDir();

// Whole file as bytes; empty when it cannot be read.
[[nodiscard]] std::string ReadWholeFile(const std::filesystem::path& path);

// Polls predicate every few milliseconds until it is true or timeoutMs has
// passed; returns its last value. Bounded by time, so a test never hangs.
[[nodiscard]] bool WaitFor(const std::function<bool()>& predicate, int timeoutMs);

}  // namespace korvid::test
