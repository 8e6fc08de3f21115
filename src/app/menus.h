#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"

namespace korvid {

// The popup menus: a title that tells them apart and their items in order.
inline constexpr std::string_view kListMenu = "列表菜单";
// The list menu's actions on every selected row.
inline constexpr std::string_view kPauseItem = "暂停";
inline constexpr std::string_view kContinueItem = "继续";
inline constexpr std::string_view kCancelItem = "取消";
inline constexpr std::string_view kRetryItem = "重试";
inline constexpr std::string_view kRetryFailedItem = "重试全部失败";
inline constexpr std::string_view kClearItem = "清空列表";
// The space key of the task list: pauses the selected rows, or continues them
// when all are paused. No menu item.
inline constexpr std::string_view kTogglePauseItem = "暂停/继续";
// An empty item stands for a separator line.
inline constexpr std::string_view kMenuSeparator = "";
inline constexpr std::array<std::string_view, 14> kListMenuItems = {
    "打开路径",  "重新下载", "播放视频",       kPauseItem,     kContinueItem,
    kCancelItem, kRetryItem, kRetryFailedItem, kMenuSeparator, kClearItem,
    "复制bv号",  "复制json", kMenuSeparator,   "退出程序"};
inline constexpr std::string_view kFileMenu = "文件菜单";
inline constexpr std::array<std::string_view, 2> kFileMenuItems = {"播放视频", "打开目录"};
inline constexpr std::string_view kExitMenu = "退出程序";
inline constexpr std::array<std::string_view, 1> kExitMenuItems = {"退出程序"};
inline constexpr std::string_view kExitItem = "退出程序";

// What a menu works on: the task row last right-clicked (1-based), the
// folder of the library entry last right-clicked, and the selected task rows
// (1-based, ascending; the row actions work on these).
struct MenuTarget {
  int row = 0;
  std::string libraryFolder;
  std::vector<int> rows;
};

// The question "退出程序" asks while tasks run or wait.
[[nodiscard]] std::string UnfinishedExitQuestion(int unfinished);

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
