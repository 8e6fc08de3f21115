#pragma once

#include <optional>
#include <stop_token>

#include "app/app_state.h"
#include "site/site_transport.h"

namespace korvid {

// What one link job works with, on its worker thread.
struct SiteJob {
  AppState& app;
  SiteTransport& transport;
  // Asked to stop (the program ends): no further video is started.
  std::stop_token stop = {};
  // Set: the split condition of AddVideo, in place of the log-in cookie and
  // 选择框_默认下载最高画质 (the command line's --split).
  std::optional<bool> splitCondition = std::nullopt;
};

}  // namespace korvid
