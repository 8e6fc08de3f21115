#include "app/file_helpers.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <system_error>

#include "net/http_text.h"

namespace korvid {
namespace fs = std::filesystem;

namespace {

bool EndsWithIgnoreCase(std::string_view name, std::string_view extension) {
  return name.size() >= extension.size() &&
         EqualsIgnoreCase(name.substr(name.size() - extension.size()), extension);
}

void CollectFiles(const fs::path& folder, std::string_view extension,
                  std::vector<fs::path>& found) {
  std::error_code error;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  std::vector<fs::path> subFolders;
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    std::error_code typeError;
    if (entry.is_directory(typeError) && !entry.is_symlink(typeError)) {
      subFolders.push_back(entry.path());
    } else if (entry.is_regular_file(typeError) &&
               EndsWithIgnoreCase(entry.path().filename().string(), extension)) {
      found.push_back(entry.path());
    }
  }
  for (const fs::path& sub : subFolders) CollectFiles(sub, extension, found);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

fs::path TemporaryPathBeside(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  return path.parent_path() / ("." + path.filename().string() + "." + std::to_string(::getpid()) +
                               "." + std::to_string(++counter) + ".tmp");
}

bool WriteAll(const fs::path& path, std::string_view bytes) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return false;
  }
  return std::fclose(file.release()) == 0;
}

}  // namespace

std::vector<fs::path> FindFiles(const fs::path& folder, std::string_view extension,
                                const fs::path& programFolder) {
  std::vector<fs::path> found;
  CollectFiles(folder.empty() ? programFolder : folder, extension, found);
  return found;
}

std::optional<std::string> ReadFileBytes(const fs::path& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::error_code error;
  const auto expected = fs::file_size(path, error);
  // Read straight into the result; a file that grows meanwhile is read on.
  std::string bytes(error ? 0 : static_cast<std::size_t>(expected), '\0');
  const std::size_t total = std::fread(bytes.data(), 1, bytes.size(), file.get());
  char buffer[1 << 14];
  std::size_t read = 0;
  bytes.resize(total);
  while ((read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, read);
  if (std::ferror(file.get())) return std::nullopt;
  return bytes;
}

bool WriteFileAtomically(const fs::path& path, std::string_view bytes) {
  const fs::path temporary = TemporaryPathBeside(path);
  std::error_code error;
  if (!WriteAll(temporary, bytes)) {
    fs::remove(temporary, error);
    return false;
  }
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

SideFileResult WriteFileIfMissing(const fs::path& path, std::string_view bytes) {
  std::error_code error;
  if (fs::exists(path, error)) return SideFileResult::kExisted;
  if (bytes.empty()) return SideFileResult::kFailed;
  return WriteFileAtomically(path, bytes) ? SideFileResult::kWritten : SideFileResult::kFailed;
}

}  // namespace korvid
