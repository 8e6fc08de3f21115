#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "net/json_document.h"

// The two pieces of the video-adding code the details panel shares with it:
// how a video's information is obtained, and how a name becomes a file name.
namespace korvid {

// The video information (root key `data`) from the video page's embedded
// state, or from the view API when the page does not yield this video.
// nullopt when the view API refuses ("请求被拦截", or `code` not 0) or gives
// no JSON. Blocking; worker threads only.
[[nodiscard]] std::optional<JsonDocument> ObtainVideoInfo(std::string_view bvid);

// A name cleaned for a file name, digits kept (as avatars are named).
[[nodiscard]] std::string CleanFileName(std::string_view name);

}  // namespace korvid
