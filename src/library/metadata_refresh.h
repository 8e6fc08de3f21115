#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "danmaku/danmaku_to_ass.h"
#include "library/episode_files.h"

// Brings the video folders of a library up to what this version writes:
// episode NFOs, posters, thumbs, subtitles, a missing danmaku file, and the
// show's tvshow.nfo. Folders made by earlier versions are found by their
// tvshow.nfo (<id>BV...</id>) or the "Original Script:" header of an ASS file.
namespace korvid {

struct VideoFolder {
  std::filesystem::path folder;
  std::string bvid;
  // Episode number -> the media path without ".mp4" (S1E<n> at its end),
  // from the .mp4 and .ass files in the folder.
  std::map<int, std::filesystem::path> episodes;
};

// Every folder below root (root included) that names a video, in search order.
[[nodiscard]] std::vector<VideoFolder> FindVideoFolders(const std::filesystem::path& root);

// The BV id a tvshow.nfo names (our uniqueid, else <id>); empty when none.
[[nodiscard]] std::string NfoBvid(std::string_view nfoText);
// True when the file is one this program wrote (it carries our uniqueid).
[[nodiscard]] bool IsOurTvshowNfo(std::string_view nfoText);

struct MetadataRefreshOptions {
  bool force = false;  // rewrite a tvshow.nfo that is not ours (the user's edits are lost)
  EpisodeOptions episode;
  DanmakuSettings danmaku;
};

// What the refresh needs from the site; tests give the fake site's.
struct MetadataSources {
  // The view answer of a video ({"code":0,"data":{...}}); "" when refused.
  std::function<std::string(std::string_view bvid)> video;
  SubtitleSource subtitles;
  std::function<std::string(std::string_view bvid)> pageTags;
  [[nodiscard]] static MetadataSources Site();
};

struct FolderRefresh {
  VideoFolder video;
  std::vector<std::filesystem::path> written;
  bool nfoLeftAlone = false;  // a tvshow.nfo of the user's kept (no --force)
  std::string error;          // the video could not be read: nothing written
};

// Fetches the video once and writes what is missing. Media files are never
// touched. Worker threads only.
[[nodiscard]] FolderRefresh RefreshVideoFolder(const VideoFolder& video,
                                               const MetadataRefreshOptions& options,
                                               const MetadataSources& sources);

}  // namespace korvid
