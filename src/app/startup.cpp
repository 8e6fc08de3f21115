#include "app/startup.h"

#include "app/settings_file.h"
#include "net/site_hosts.h"

namespace korvid {

CoreStart StartCore(Controls& controls, const AppPaths& paths) {
  CoreStart started;
  CreateWorkingFolders(paths);
  started.ffmpeg = FindFfmpeg(paths);
  started.settingsPath = paths.ConfigFile().string();
  started.settingsRestored = RestoreStates(controls, started.settingsPath);
  LoadSiteHostsFromSettings(started.settingsPath);
  ApplyStartSettings(controls);
  return started;
}

void ApplyStartSettings(Controls& controls) {
  controls.SetText("标签_当前版本", kVersionCaption);
  if (controls.Text("编辑框_cookies").empty()) {
    controls.SetPicture("图片框_用户头像", {});
    controls.SetText("标签_用户信息", kLoginStateFailed);
  }
}

void LoadSiteHostsFromSettings(const std::string& settingsPath) {
  IniFile ini;
  const bool loaded = ini.Load(settingsPath);
  const auto lookup = [&](std::string_view key) {
    return loaded ? ini.Get(kSiteHostsSection, key) : std::string();
  };
  SetCurrentSiteHosts(LoadSiteHosts(lookup));
  SetCurrentRefreshKey(LoadRefreshKey(lookup));
}

}  // namespace korvid
