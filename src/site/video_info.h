#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "net/json_document.h"
#include "site/site_transport.h"

namespace korvid {

// A video's information as the view API answers it: the video under "data".
struct VideoInfo {
  JsonDocument answer;
  // The view API refused (message "请求被拦截" or code not 0): nothing to add.
  bool refused = false;
  // Refused because the site does not have the video (deleted) or will not
  // show it (private, under review): asking again will not help.
  bool gone = false;
  // Where the answer came from (the page's embedded state or the view API).
  bool fromPage = false;
  // When refused: why, for the user (ReplyFailureReason); may be empty.
  std::string reason;
};

// The video page's embedded state with "videoData" renamed to "data", when
// the page holds exactly one window.__INITIAL_STATE__ line.
[[nodiscard]] std::optional<std::string> EmbeddedVideoState(std::string_view page);

// Reads the video page; when it does not describe this very identifier (exact
// comparison with data.bvid) asks the view API instead. Worker thread.
[[nodiscard]] VideoInfo FetchVideoInfo(SiteTransport& transport, std::string_view bvid);

}  // namespace korvid
