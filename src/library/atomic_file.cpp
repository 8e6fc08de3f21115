#include "library/atomic_file.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <system_error>

namespace korvid {
namespace {

// Hidden, and unique per process and call, so two workers writing the same
// side file never share a temporary file.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  std::string name = "." + path.filename().string() + ".part-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter.fetch_add(1));
  return path.parent_path() / name;
}

bool WriteWhole(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path temporary = TemporaryPathFor(path);
  std::error_code error;
  if (WriteWhole(temporary, bytes)) {
    std::filesystem::rename(temporary, path, error);
    if (!error) return true;
  }
  std::filesystem::remove(temporary, error);
  return false;
}

SideFileResult WriteFileIfMissing(const std::filesystem::path& path, std::string_view bytes) {
  std::error_code error;
  if (std::filesystem::exists(path, error)) return SideFileResult::kExisted;
  if (bytes.empty()) return SideFileResult::kFailed;
  return WriteFileAtomically(path, bytes) ? SideFileResult::kWritten : SideFileResult::kFailed;
}

}  // namespace korvid
