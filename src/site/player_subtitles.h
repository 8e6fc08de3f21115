#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "site/wbi_keys.h"

// The subtitles the site offers for one video page, from the player answer.
namespace korvid {

inline constexpr std::string_view kSignedPlayerPath = "/x/player/wbi/v2";
inline constexpr std::string_view kPlayerPath = "/x/player/v2";

struct SubtitleTrack {
  std::string lan;     // "zh-CN", "en-US", "ai-zh" ... as the site names it
  std::string lanDoc;  // "中文（中国）"
  std::string url;     // absolute: a protocol-relative address gets https:
  bool ai = false;     // made by speech recognition (type 1 or an "ai-" language)
};

// The tracks of data.subtitle.subtitles[] in a player answer, in answer order.
// None for an answer without the member, with an empty list, or that is no
// answer at all; entries without lan or address are passed over, and a lan
// that could climb out of a file name ("/", "\", "..") too.
[[nodiscard]] std::vector<SubtitleTrack> ParseSubtitleTracks(std::string_view playerAnswer);

struct SubtitleRequest {
  std::string aid;
  std::string cid;
  std::string cookies;  // 编辑框_cookies: the site lists more to a logged-in user
};

// The page's tracks: the signed player call first, the unsigned one when the
// signed one is refused or gives no answer. get fetches an address (empty:
// GetSiteApi with the request's cookies). Worker threads only.
[[nodiscard]] std::vector<SubtitleTrack> FetchSubtitleTracks(const SubtitleRequest& request,
                                                             WbiKeyCache& keys,
                                                             const ApiGet& get = {},
                                                             const UnixClock& now = {});

}  // namespace korvid
