#include "library/find_files.h"

#include <sys/stat.h>

#include <set>
#include <system_error>
#include <utility>

#include "net/http_text.h"

namespace korvid {
namespace fs = std::filesystem;

namespace {

bool EndsWithIgnoreCase(std::string_view name, std::string_view ending) {
  return name.size() >= ending.size() &&
         EqualsIgnoreCase(name.substr(name.size() - ending.size()), ending);
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
      } else if (EndsWithIgnoreCase(entry.path().filename().native(), m_extension)) {
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

}  // namespace

void ForEachFile(const fs::path& folder, std::string_view extension,
                 const std::function<void(const fs::path&)>& visit) {
  FileSearch(extension, visit).Search(folder);
}

std::vector<fs::path> FindFiles(const fs::path& folder, std::string_view extension) {
  std::vector<fs::path> found;
  ForEachFile(folder, extension, [&found](const fs::path& file) { found.push_back(file); });
  return found;
}

}  // namespace korvid
