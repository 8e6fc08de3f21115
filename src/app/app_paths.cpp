#include "app/app_paths.h"

#include <cstdlib>
#include <string_view>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace korvid {

namespace {

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

fs::path ExecutableFolder() {
  std::error_code error;
  fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return exe.parent_path();
}

fs::path HomeFolder() {
  std::string home = EnvText("HOME");
  if (!home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return {};
}

// Relative values of XDG_DATA_HOME are invalid and ignored, as the XDG rules say.
fs::path DataHome() {
  fs::path xdg = EnvText("XDG_DATA_HOME");
  if (xdg.is_absolute()) return xdg;
  return HomeFolder() / ".local" / "share";
}

bool IsExecutableFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

fs::path AppPaths::ConfigFile() const {
  std::error_code error;
  fs::create_directories(ConfigFolder(), error);
  return ConfigFolder() / "Korvid配置.ini";
}

AppPaths LocateAppPaths() {
  if (std::string home = EnvText("KORVID_HOME"); !home.empty()) return AppPaths{fs::path(home)};
  fs::path exeFolder = ExecutableFolder();
  if (!exeFolder.empty() && ::access(exeFolder.c_str(), W_OK) == 0) return AppPaths{exeFolder};
  return AppPaths{DataHome() / "Korvid"};
}

const AppPaths& ProgramPaths() {
  static const AppPaths paths = LocateAppPaths();
  return paths;
}

void CreateWorkingFolders(const AppPaths& paths) {
  std::error_code error;
  for (const fs::path& folder :
       {paths.ConfigFolder(), paths.DownloadFolder(), paths.AvatarFolder()}) {
    fs::create_directories(folder, error);
  }
}

std::string FindFfmpeg(const AppPaths& paths) {
  const fs::path own = paths.ConfigFolder() / "ffmpeg";
  std::error_code error;
  if (fs::exists(own, error)) return own.string();
  const std::string searchPath = EnvText("PATH");
  std::string_view rest = searchPath;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (folder.empty()) continue;
    fs::path candidate = fs::path(folder) / "ffmpeg";
    if (IsExecutableFile(candidate)) return candidate.string();
  }
  return {};
}

}  // namespace korvid
