#pragma once

#include <filesystem>
#include <string>

namespace korvid {

// The program folder and the working folders inside it.
struct AppPaths {
  std::filesystem::path programFolder;

  [[nodiscard]] std::filesystem::path ConfigFolder() const { return programFolder / "配置"; }
  [[nodiscard]] std::filesystem::path DownloadFolder() const { return programFolder / "下载"; }
  [[nodiscard]] std::filesystem::path AvatarFolder() const { return programFolder / "头像"; }
  // 配置/Korvid配置.ini. Building the path creates 配置 when it is missing.
  [[nodiscard]] std::filesystem::path ConfigFile() const;
};

// Where the program keeps its files: $KORVID_HOME when set; else the folder of
// the executable when it is writable (portable use); else
// $XDG_DATA_HOME/Korvid (by default ~/.local/share/Korvid).
[[nodiscard]] AppPaths LocateAppPaths();

// The paths located once for this process (LocateAppPaths on first use).
[[nodiscard]] const AppPaths& ProgramPaths();

// Creates the program folder and 配置, 下载 and 头像 where missing. Failures are
// not reported here: whatever needs a folder fails later in its own way.
void CreateWorkingFolders(const AppPaths& paths);

// The FFmpeg to run: 配置/ffmpeg when such a file exists (used as it is),
// otherwise the ffmpeg found on PATH; empty when there is none.
[[nodiscard]] std::string FindFfmpeg(const AppPaths& paths);

}  // namespace korvid
