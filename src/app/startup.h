#pragma once

#include <string>

#include "app/app_paths.h"
#include "controls/controls.h"

namespace korvid {

inline constexpr std::string_view kVersionCaption = "当前版本: " KORVID_VERSION;
inline constexpr std::string_view kLoginStateFailed = "登录状态：失败";

struct CoreStart {
  std::string ffmpeg;        // empty when none was found
  std::string settingsPath;  // 配置/Korvid配置.ini
  bool settingsRestored = false;
};

// The start both front ends share, after the single-instance check: the
// working folders, FFmpeg, the saved control states, the site-host overrides
// of the settings file and the start settings. The controls must already hold
// the window layout.
[[nodiscard]] CoreStart StartCore(Controls& controls, const AppPaths& paths);

// The version label, and the logged-out display when there is no cookie.
void ApplyStartSettings(Controls& controls);

// Reads the [站点] section of the settings file into the process-wide hosts;
// environment variables still win.
void LoadSiteHostsFromSettings(const std::string& settingsPath);

}  // namespace korvid
