#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "net/json_document.h"
#include "site/site_job.h"

namespace korvid {

// Prefixes of the 标题 cell of a split task's two rows.
inline constexpr std::string_view kVideoTitlePrefix = "视频:";
inline constexpr std::string_view kAudioTitlePrefix = "音频:";

struct AddVideoFlags {
  // Given true: video and audio are separate tasks whatever the settings say.
  std::optional<bool> split;
  // Every task follows the source chosen in 下拉框_默认下载源.
  bool customSource = false;
};

// Whether the settings ask for separate video and audio tasks: logged in
// (编辑框_cookies not empty) with 选择框_默认下载最高画质 checked.
[[nodiscard]] bool SplitWanted(const Controls& controls);

// Turns one BV identifier into task rows and queued task records: one row per
// page, or a video row and an audio row per page when split. Each page's rows
// are appended, and their records pushed, under the list lock. Returns true
// when the video could not be read and a "解析失败" row was added instead.
// Worker thread.
[[nodiscard]] bool AddVideo(SiteJob& job, std::string_view bvid, AddVideoFlags flags = {});

// A video the user named (a pasted link, 按钮_下载4K): as AddVideo, and a
// failure also says why in a notice ("解析失败：无法连接服务器").
void AddNamedVideo(SiteJob& job, std::string_view bvid, AddVideoFlags flags = {});

struct AddVideoOutcome {
  bool added = false;
  bool gone = false;   // the site refused the video for good (VideoInfo::gone)
  std::string reason;  // why it was not added (VideoInfo::reason)
};
// AddVideo without the "解析失败" row: nothing is added when the video cannot
// be read. Worker thread.
[[nodiscard]] AddVideoOutcome TryAddVideo(SiteJob& job, std::string_view bvid,
                                          AddVideoFlags flags = {});
// The "解析失败" row AddVideo leaves for a video it could not read.
void AddFailureRow(AppState& app, std::string_view bvid);
// The rows of one prepared record of one page (an episode of a licensed work):
// "分集序号" = episode, the split as for AddVideo. Worker thread.
void AddEpisodeRows(SiteJob& job, JsonDocument& record, int episode);

// 按钮_下载4K: the video named in 编辑框_解析链接, split, following the chosen
// source. Does nothing without a BV identifier there. Worker thread.
void AddVideoFromDetails(SiteJob& job);

}  // namespace korvid
