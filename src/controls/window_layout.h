#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "controls/control_store.h"
#include "controls/controls.h"

namespace korvid {

// Which tab page (or area) of the main window a control sits on. The Qt window
// places widgets by this; the headless store ignores it.
enum class WindowArea {
  TaskPage,      // task list, link box, download settings
  DetailsPage,   // video details (quality/codec choice)
  AccountPage,   // log-in and account
  DanmakuPage,   // danmaku settings and refresh
  LibraryPage,   // library browser and Emby
  SettingsPage,  // window behaviour, about
  Window,        // the window itself, the notice box, tab controls, hidden helpers
};

// One named control of the main window with its design-time state.
struct ControlSpec {
  std::string_view name;
  ControlKind kind;
  WindowArea area;
  std::string_view caption;          // label/button/check-box caption or initial text
  std::vector<DropItem> items = {};  // drop-downs: design-time items
  int selected = -1;                 // drop-downs: design-time selection
  bool checked = false;
  bool visible = true;
};

// The danmaku style line a new window starts with; "大小参数" stands for the
// font size.
inline constexpr std::string_view kDefaultDanmakuStyle =
    "Style: "
    "R2L,黑体,大小参数,&H80FFFFFF,&H80FFFFFF,&H80000000,&H80000000,0,0,0,0,100,100,0.00,0.00,1,"
    "1.00,0.00,2,30,30,30,0";

// Every control the main window has, in creation order.
const std::vector<ControlSpec>& MainWindowLayout();

// Creates every control of the layout in the store with its design-time state.
void CreateMainWindowControls(ControlStore& store);

}  // namespace korvid
