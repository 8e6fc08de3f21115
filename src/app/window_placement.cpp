#include "app/window_placement.h"

#include <charconv>

#include "app/settings_file.h"

namespace korvid {

namespace {

std::optional<int> ToInt(const std::string& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<WindowPlacement> LoadWindowPlacement(const std::string& settingsPath) {
  IniFile ini;
  if (!ini.Load(settingsPath)) return std::nullopt;
  auto get = [&](std::string_view key) { return ToInt(ini.Get(kWindowSection, key)); };
  const auto x = get("左边");
  const auto y = get("顶边");
  const auto width = get("宽度");
  const auto height = get("高度");
  if (!x || !y || !width || !height || *width <= 0 || *height <= 0) return std::nullopt;
  WindowPlacement placement{*x, *y, *width, *height};
  placement.maximized = ini.Get(kWindowSection, "最大化") == "真";
  placement.componentsTab = get("组件页").value_or(0);
  placement.settingsTab = get("设置页").value_or(0);
  return placement;
}

bool SaveWindowPlacement(const std::string& settingsPath, const WindowPlacement& placement) {
  IniFile ini;
  (void)ini.Load(settingsPath);  // other sections are kept; an unreadable file is replaced
  ini.Set(kWindowSection, "左边", std::to_string(placement.x));
  ini.Set(kWindowSection, "顶边", std::to_string(placement.y));
  ini.Set(kWindowSection, "宽度", std::to_string(placement.width));
  ini.Set(kWindowSection, "高度", std::to_string(placement.height));
  ini.Set(kWindowSection, "最大化", placement.maximized ? "真" : "假");
  ini.Set(kWindowSection, "组件页", std::to_string(placement.componentsTab));
  ini.Set(kWindowSection, "设置页", std::to_string(placement.settingsTab));
  return ini.Save(settingsPath);
}

}  // namespace korvid
