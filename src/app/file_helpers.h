#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// File-system helpers shared by the danmaku refresh, the task download and the
// library scan.
namespace korvid {

// Every regular file below folder whose name ends in extension (".ass"; ASCII
// letters compared without regard to case). A folder's own files come before
// those of its sub-folders, each level in the order the file system lists it.
// An empty folder means programFolder. Folders that cannot be read are left
// out, and a folder reached again through a symbolic link is searched only
// once, so a link loop cannot make the search endless.
[[nodiscard]] std::vector<std::filesystem::path> FindFiles(
    const std::filesystem::path& folder, std::string_view extension,
    const std::filesystem::path& programFolder);

// The same search, handing each file to visit as it is found (a long search
// then keeps no list of its own).
void ForEachFile(const std::filesystem::path& folder, std::string_view extension,
                 const std::function<void(const std::filesystem::path&)>& visit);

// The whole file; nullopt when it cannot be opened or read.
[[nodiscard]] std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);

// A file's bytes read into a buffer that was not zero-filled first (a
// std::string would be): for large files read once, such as comment documents.
// A large regular file is mapped instead: its pages are the page cache's
// own, neither copied nor allocated again.
class FileBuffer {
 public:
  FileBuffer() = default;
  FileBuffer(FileBuffer&& other) noexcept { *this = std::move(other); }
  FileBuffer& operator=(FileBuffer&& other) noexcept;
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;
  ~FileBuffer() { Release(); }

  [[nodiscard]] std::string_view View() const {
    return {m_mapped != nullptr ? m_mapped : m_bytes.get(), m_size};
  }

 private:
  friend std::optional<FileBuffer> ReadFileBuffer(const std::filesystem::path& path);
  void Release();

  std::unique_ptr<char[]> m_bytes;
  char* m_mapped = nullptr;
  std::size_t m_size = 0;
};

// The whole file, also when it grows while it is read; nullopt (errno set)
// when it cannot be opened or read.
[[nodiscard]] std::optional<FileBuffer> ReadFileBuffer(const std::filesystem::path& path);

// Writes bytes to a temporary file beside path and renames it over path, so a
// reader sees either the old file or the whole new one, never a part. False
// (and path untouched) when any step fails.
[[nodiscard]] bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// The same for a file written in pieces: they go to a temporary file beside
// path, which Commit renames over path. Dropped without a successful Commit,
// the temporary file is removed and path stays as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::filesystem::path path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // False once any piece could not be written (the later ones are dropped).
  [[nodiscard]] bool Append(std::string_view bytes);
  // False (and path untouched) when any step failed.
  [[nodiscard]] bool Commit();

 private:
  void Discard();

  std::filesystem::path m_path;
  std::filesystem::path m_temporary;
  std::FILE* m_file = nullptr;
  bool m_failed = false;
};

// Side files (NFO, artwork, danmaku) are written whole or not at all, and only
// once: a file that exists is left alone.
enum class SideFileResult {
  kWritten,  // the file was written now
  kExisted,  // a file was already there and was left alone
  kFailed,   // nothing was written (no bytes to write, or the disk refused)
};

// As WriteFileAtomically, but only when no file exists at path yet.
[[nodiscard]] SideFileResult WriteFileIfMissing(const std::filesystem::path& path,
                                                std::string_view bytes);

// Removes a file; a missing file is no error. Returns false only when a file
// that exists could not be removed.
[[nodiscard]] bool DeleteFile(const std::string& path);

// True when the path names an entry that is not a folder (a symbolic link
// counts by what it points to). Used to skip files already present.
[[nodiscard]] bool FileExists(const std::string& path);

}  // namespace korvid
