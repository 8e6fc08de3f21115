// refresh-metadata: brings the video folders below a folder up to what this
// version writes beside the media files.

#include <iostream>
#include <system_error>

#include "cli/cli_command.h"
#include "danmaku/danmaku_to_ass.h"
#include "library/metadata_refresh.h"

namespace korvid::cli {
namespace {

constexpr std::string_view kVerb = "refresh-metadata";

int RefreshMetadata(const Args& args) {
  bool force = false;
  std::string folderText;
  for (const std::string& arg : args) {
    if (arg == "--force") {
      force = true;
    } else if (folderText.empty() && !arg.empty() && !arg.starts_with("--")) {
      folderText = arg;
    } else {
      return UsageError(kVerb, "unexpected argument " + arg);
    }
  }
  if (folderText.empty()) return UsageError(kVerb, "needs one folder");
  const std::filesystem::path root = folderText;
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return Fail(folderText + " is not a folder");

  Core core;
  MetadataRefreshOptions options;
  options.force = force;
  options.episode = EpisodeOptions::Read(core.controls);
  options.danmaku = ReadDanmakuSettings(core.controls);
  const MetadataSources sources = MetadataSources::Site();
  int failed = 0;
  int files = 0;
  const std::vector<VideoFolder> folders = FindVideoFolders(root);
  for (const VideoFolder& video : folders) {
    const FolderRefresh done = RefreshVideoFolder(video, options, sources);
    std::cout << video.folder.string() << " (" << video.bvid << ")";
    if (!done.error.empty()) {
      ++failed;
      std::cout << ": " << done.error << "\n";
      continue;
    }
    std::cout << ": " << done.written.size() << " written\n";
    for (const std::filesystem::path& path : done.written)
      std::cout << "  " << path.string() << "\n";
    if (done.nfoLeftAlone)
      std::cout << "  tvshow.nfo kept (not written by Korvid; --force rewrites it)\n";
    files += static_cast<int>(done.written.size());
  }
  std::cout << folders.size() << " video folders, " << files << " files written, " << failed
            << " failed\n";
  return failed == 0 ? 0 : 1;
}

}  // namespace

KORVID_CLI_COMMAND("refresh-metadata",
                   "refresh-metadata FOLDER [--force]\n"
                   "                        writes what is missing beside every video below\n"
                   "                        FOLDER: episode NFOs, poster, thumbs, subtitles,\n"
                   "                        danmaku; rewrites tvshow.nfo (one Korvid did not\n"
                   "                        write only with --force); never touches media",
                   RefreshMetadata, 42);

}  // namespace korvid::cli
