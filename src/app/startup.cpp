#include "app/startup.h"

#include "app/settings_file.h"
#include "controls/control_names.h"
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
  controls.SetText(kVersionLabel, kVersionCaption);
  if (controls.Text(kCookiesBox).empty()) {
    controls.SetPicture(kUserAvatarPicture, {});
    controls.SetText(kUserInfoLabel, kLoginStateFailed);
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
