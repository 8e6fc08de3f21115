#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "controls/desktop_shell.h"

namespace korvid {

// The kinds of named controls the main window has. The settings file persists
// EditBox, RadioButton, CheckBox and DropDown by name.
enum class ControlKind {
  Window,
  EditBox,
  Label,
  Button,
  CheckBox,
  RadioButton,
  DropDown,
  PictureBox,
  GroupBox,
  TabControl,
  TaskList,
  IconList,
  Timer,
  Hidden,
};

// Default colour of a drop-down item as the settings file restores it.
inline constexpr std::uint32_t kDropItemColor = 0xFF708090;
inline constexpr int kDropItemHeight = 40;

struct DropItem {
  std::string text;
  std::int64_t value = 0;
  std::uint32_t color = kDropItemColor;  // ARGB
  int height = kDropItemHeight;

  friend bool operator==(const DropItem&, const DropItem&) = default;
};

// Titles of ShowNotice: they only choose the icon.
inline constexpr std::string_view kNoticeDone = "完成";
inline constexpr std::string_view kNoticeFailed = "失败";

// The seam between all behaviour and the window. Controls are addressed by their
// layout names (编辑框_下载路径, 下拉框_默认编码, ...). Every method may be called
// from any thread and never waits for the window thread: reads come from a
// mirror of the widget state, writes are applied to the widgets later on the
// window thread. Names come from controls/control_names.h; an unknown name
// stops a debug build, and in a release build reads as empty and ignores writes.
class Controls {
 public:
  virtual ~Controls() = default;

  [[nodiscard]] virtual bool Has(std::string_view name) const = 0;
  [[nodiscard]] virtual ControlKind KindOf(std::string_view name) const = 0;
  // Names of all controls of one kind, in creation order.
  [[nodiscard]] virtual std::vector<std::string> Names(ControlKind kind) const = 0;

  // Edit-box and label text, button and group-box caption, drop-down shown text.
  [[nodiscard]] virtual std::string Text(std::string_view name) const = 0;
  virtual void SetText(std::string_view name, std::string_view text) = 0;

  // Check boxes and radio buttons.
  [[nodiscard]] virtual bool Checked(std::string_view name) const = 0;
  virtual void SetChecked(std::string_view name, bool checked) = 0;

  // Drop-downs. SelectedIndex is -1 when nothing is selected; selecting an
  // index also shows that item's text.
  [[nodiscard]] virtual std::vector<DropItem> Items(std::string_view name) const = 0;
  virtual void ClearItems(std::string_view name) = 0;
  virtual void AddItem(std::string_view name, DropItem item) = 0;
  [[nodiscard]] virtual int SelectedIndex(std::string_view name) const = 0;
  virtual void SelectIndex(std::string_view name, int index) = 0;
  // Value of the selected item; 0 when nothing is selected.
  [[nodiscard]] virtual std::int64_t SelectedValue(std::string_view name) const = 0;

  // Picture boxes: encoded image bytes (JPEG, PNG, GIF); empty clears the box.
  [[nodiscard]] virtual std::vector<std::uint8_t> Picture(std::string_view name) const = 0;
  virtual void SetPicture(std::string_view name, std::vector<std::uint8_t> bytes) = 0;

  [[nodiscard]] virtual bool Visible(std::string_view name) const = 0;
  virtual void SetVisible(std::string_view name, bool visible) = 0;

  // Main window caption.
  [[nodiscard]] virtual std::string Caption() const = 0;
  virtual void SetCaption(std::string_view caption) = 0;

  // The sliding notice in 分组框_弹出提示. Returns at once; the slide runs on
  // the window's own timer.
  virtual void ShowNotice(std::string_view text, std::string_view title) = 0;

  // Folder picker, clipboard and the desktop's "open".
  [[nodiscard]] virtual DesktopShell& Shell() = 0;
};

// "Korvid - " + text, or "Korvid" alone for an empty text.
void SetStatusCaption(Controls& controls, std::string_view text);

}  // namespace korvid
