#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/app_state.h"

namespace korvid {

// The popup menus: a title that tells them apart and their items in order.
inline constexpr std::string_view kListMenu = "列表菜单";
inline constexpr std::array<std::string_view, 7> kListMenuItems = {
    "打开路径", "重新下载", "播放视频", "清空列表", "复制bv号", "复制json", "退出程序"};
inline constexpr std::string_view kFileMenu = "文件菜单";
inline constexpr std::array<std::string_view, 2> kFileMenuItems = {"播放视频", "打开目录"};
inline constexpr std::string_view kExitMenu = "退出程序";
inline constexpr std::array<std::string_view, 1> kExitMenuItems = {"退出程序"};
inline constexpr std::string_view kExitItem = "退出程序";

// What a menu works on: the task row last right-clicked (1-based) and the
// folder of the library entry last right-clicked.
struct MenuTarget {
  int row = 0;
  std::string libraryFolder;
};

enum class MenuOutcome {
  kDone,     // the item's action ran
  kExit,     // "退出程序": the front end saves and ends
  kUnknown,  // no such menu or item
};

// The one handler of every menu choice, dispatching on menu and item. Runs
// the task-list actions, which take the list lock: call it on a worker.
[[nodiscard]] MenuOutcome HandleMenuChoice(AppState& state, std::string_view menu,
                                           std::string_view item, const MenuTarget& target);

}  // namespace korvid
