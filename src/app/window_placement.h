#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvid {

// Where the main window was and which tabs it showed, kept in a section of its
// own in the settings file so the control sections stay as they are.
struct WindowPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool maximized = false;
  int componentsTab = 0;  // 选择夹_组件
  int settingsTab = 0;    // 选择夹_设置

  bool operator==(const WindowPlacement&) const = default;
};

inline constexpr std::string_view kWindowSection = "窗口";

// Nothing when the file has no usable placement (missing, or a size that is
// not positive).
[[nodiscard]] std::optional<WindowPlacement> LoadWindowPlacement(const std::string& settingsPath);
// Writes the section, keeping every other section of the file.
bool SaveWindowPlacement(const std::string& settingsPath, const WindowPlacement& placement);

}  // namespace korvid
