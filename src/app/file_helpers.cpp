#include "app/file_helpers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <system_error>
#include <utility>

#include "net/http_text.h"

namespace korvid {
namespace fs = std::filesystem;

namespace {

bool EndsWithIgnoreCase(std::string_view name, std::string_view extension) {
  return name.size() >= extension.size() &&
         EqualsIgnoreCase(name.substr(name.size() - extension.size()), extension);
}

class FileSearch {
 public:
  FileSearch(std::string_view extension, const std::function<void(const fs::path&)>& visit)
      : m_extension(extension), m_visit(visit) {}

  void Search(const fs::path& folder) {
    // A link back up the tree would otherwise make the search endless. One
    // stat per folder: cheaper than resolving every path.
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !m_visited.emplace(info.st_dev, info.st_ino).second) {
      return;
    }
    std::error_code error;
    std::vector<fs::path> subFolders;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      const fs::directory_entry& entry = *it;
      std::error_code kindError;
      if (entry.is_directory(kindError)) {
        subFolders.push_back(entry.path());
      } else if (entry.is_regular_file(kindError) &&
                 EndsWithIgnoreCase(entry.path().filename().native(), m_extension)) {
        m_visit(entry.path());
      }
    }
    for (const fs::path& sub : subFolders) Search(sub);
  }

 private:
  std::string_view m_extension;
  std::set<std::pair<dev_t, ino_t>> m_visited;
  const std::function<void(const fs::path&)>& m_visit;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

fs::path TemporaryPathBeside(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  return path.parent_path() / ("." + path.filename().string() + "." + std::to_string(::getpid()) +
                               "." + std::to_string(++counter) + ".tmp");
}

}  // namespace

void ForEachFile(const fs::path& folder, std::string_view extension,
                 const std::function<void(const fs::path&)>& visit) {
  FileSearch(extension, visit).Search(folder);
}

std::vector<fs::path> FindFiles(const fs::path& folder, std::string_view extension,
                                const fs::path& programFolder) {
  std::vector<fs::path> found;
  ForEachFile(folder.empty() ? programFolder : folder, extension,
              [&found](const fs::path& file) { found.push_back(file); });
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

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    m_bytes = std::move(other.m_bytes);
    m_mapped = std::exchange(other.m_mapped, nullptr);
    m_size = std::exchange(other.m_size, 0);
  }
  return *this;
}

void FileBuffer::Release() {
  if (m_mapped != nullptr) ::munmap(m_mapped, m_size);
  m_mapped = nullptr;
  m_bytes.reset();
  m_size = 0;
}

namespace {

// Smaller files are read: mapping costs more than copying a few pages.
constexpr std::size_t kMapFromBytes = 256 * 1024;

// The file's pages mapped, when it is a large regular file and kept its size
// while it was mapped; nullptr otherwise (it is read then).
char* MapFile(int fd, const struct stat& info) {
  if (!S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) < kMapFromBytes) {
    return nullptr;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (mapped == MAP_FAILED) return nullptr;
  struct stat after {};
  if (::fstat(fd, &after) != 0 || after.st_size != info.st_size) {
    ::munmap(mapped, size);
    return nullptr;
  }
  return static_cast<char*>(mapped);
}

}  // namespace

std::optional<FileBuffer> ReadFileBuffer(const fs::path& path) {
  // Room for one byte more than the size: reaching the end needs no second
  // buffer unless the file grew.
  constexpr std::size_t kSlack = 1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  const bool known = ::fstat(fd, &info) == 0;
  FileBuffer buffer;
  buffer.m_mapped = known ? MapFile(fd, info) : nullptr;
  if (buffer.m_mapped != nullptr) {
    buffer.m_size = static_cast<std::size_t>(info.st_size);
    ::close(fd);
    return buffer;
  }
  std::size_t capacity =
      (known && info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0) + kSlack;
  buffer.m_bytes = std::make_unique_for_overwrite<char[]>(capacity);
  for (;;) {
    if (buffer.m_size == capacity) {
      capacity *= 2;
      auto larger = std::make_unique_for_overwrite<char[]>(capacity);
      std::memcpy(larger.get(), buffer.m_bytes.get(), buffer.m_size);
      buffer.m_bytes = std::move(larger);
    }
    const ssize_t n = ::read(fd, buffer.m_bytes.get() + buffer.m_size, capacity - buffer.m_size);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return std::nullopt;
    }
    buffer.m_size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return buffer;
}

bool WriteFileAtomically(const fs::path& path, std::string_view bytes) {
  AtomicFileWriter writer(path);
  return writer.Append(bytes) && writer.Commit();
}

AtomicFileWriter::AtomicFileWriter(fs::path path)
    : m_path(std::move(path)), m_temporary(TemporaryPathBeside(m_path)) {
  m_file = std::fopen(m_temporary.c_str(), "wb");
  m_failed = m_file == nullptr;
}

AtomicFileWriter::~AtomicFileWriter() {
  Discard();
}

bool AtomicFileWriter::Append(std::string_view bytes) {
  if (!m_failed && !bytes.empty() &&
      std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) {
    m_failed = true;
  }
  return !m_failed;
}

bool AtomicFileWriter::Commit() {
  if (m_failed) return false;
  const bool closed = std::fclose(m_file) == 0;
  m_file = nullptr;
  m_failed = true;  // whatever follows, this writer is done
  std::error_code error;
  if (closed) fs::rename(m_temporary, m_path, error);
  if (!closed || error) {
    fs::remove(m_temporary, error);
    return false;
  }
  m_temporary.clear();
  return true;
}

void AtomicFileWriter::Discard() {
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
  std::error_code error;
  if (!m_temporary.empty()) fs::remove(m_temporary, error);
  m_temporary.clear();
}

SideFileResult WriteFileIfMissing(const fs::path& path, std::string_view bytes) {
  std::error_code error;
  if (fs::exists(path, error)) return SideFileResult::kExisted;
  if (bytes.empty()) return SideFileResult::kFailed;
  return WriteFileAtomically(path, bytes) ? SideFileResult::kWritten : SideFileResult::kFailed;
}

bool DeleteFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return true;
  return errno == ENOENT;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace korvid
