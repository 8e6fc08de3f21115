#pragma once

#include <string_view>

// Keys a task record adds to the video-information answer. All values are
// stored as JSON strings.
namespace korvid::record {

inline constexpr std::string_view kCid = "cid序号";
inline constexpr std::string_view kPart = "视频part";
inline constexpr std::string_view kRow = "任务id";
inline constexpr std::string_view kEpisode = "分集序号";
inline constexpr std::string_view kSplit = "音视分离";
inline constexpr std::string_view kStreamKind = "音视状态";
inline constexpr std::string_view kCustomSource = "自定义源";
inline constexpr std::string_view kMediaPath = "视频路径";
// An episode of a licensed work (番剧, 电影, ...): an object holding the
// season answer without its episode lists ("season"), the episode
// ("episode"), and "special" = kTrue for an extra (番外, PV), which goes in
// season 0 of the library.
inline constexpr std::string_view kLicensed = "番剧";
inline constexpr std::string_view kLicensedSeason = "番剧.season";
inline constexpr std::string_view kLicensedEpisode = "番剧.episode";
inline constexpr std::string_view kLicensedSpecial = "番剧.special";

// Values of kSplit and kStreamKind (kCustomSource holds its own name).
inline constexpr std::string_view kTrue = "真";
inline constexpr std::string_view kFalse = "假";
inline constexpr std::string_view kVideo = "视频";
inline constexpr std::string_view kAudio = "音频";

}  // namespace korvid::record
