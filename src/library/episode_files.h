#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "controls/control_names.h"
#include "controls/controls.h"
#include "site/player_subtitles.h"

// The files a media server reads beside one episode (one page of a video):
// <name>.nfo, <name>-thumb.jpg, <name>.<lan>.srt, and the show's poster.jpg.
// <name> is the media file's name without ".mp4".
namespace korvid {

inline constexpr std::string_view kThumbSuffix = "-thumb.jpg";

struct EpisodeOptions {
  bool aiSubtitles = false;  // 选择框_下载AI字幕
  std::string cookies;       // 编辑框_cookies
  [[nodiscard]] static EpisodeOptions Read(const Controls& controls);
};

// One page of a task record (the view answer with the task's keys).
struct EpisodeInfo {
  std::string bvid, aid, cid;
  std::string title;      // the page title; the video title for a one-page video
  std::string showTitle;  // the video title
  std::string episode;    // from 1
  std::string plot;
  std::string aired;             // YYYY-MM-DD, China Standard Time
  long long runtimeMinutes = 0;  // rounded up; 0 when unknown
  std::string firstFrame;        // the page's first frame; empty when the answer has none
  std::string cover;             // data.pic
  std::string season = "1";      // "0" for the extras of a licensed work
  std::string epId;              // the ep_id of a licensed work's episode
};
[[nodiscard]] EpisodeInfo ReadEpisodeInfo(std::string_view recordText);

// The <episodedetails> NFO (UTF-8, CR LF line ends), every value XML-escaped.
[[nodiscard]] std::string BuildEpisodeNfo(const EpisodeInfo& info);

// Track list and body fetches; tests put the fake site's answers in.
struct SubtitleSource {
  std::function<std::vector<SubtitleTrack>(const SubtitleRequest&)> list;
  std::function<std::string(std::string_view url)> body;
  [[nodiscard]] static SubtitleSource Site();  // the player calls and PlainGet
};

// Writes what is missing of the episode's files, each whole by a temporary
// file and a rename; files that exist are left alone. base is the media path
// without ".mp4". Returns the files written now. A failed fetch writes
// nothing, so the next run tries again. Worker threads only.
[[nodiscard]] std::vector<std::filesystem::path> WriteEpisodeFiles(
    std::string_view recordText, const std::filesystem::path& base, const EpisodeOptions& options,
    const SubtitleSource& subtitles = SubtitleSource::Site());

}  // namespace korvid
