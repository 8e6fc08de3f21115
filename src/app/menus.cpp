#include "app/menus.h"

#include "app/list_actions.h"

namespace korvid {

namespace {

MenuOutcome ListMenuChoice(AppState& state, std::string_view item, int row) {
  if (item == "打开路径") {
    OpenRowFolder(state, row);
  } else if (item == "重新下载") {
    (void)RedownloadRow(state, row);
  } else if (item == "播放视频") {
    PlayRowMedia(state, row);
  } else if (item == "清空列表") {
    (void)ClearTaskList(state);
  } else if (item == "复制bv号") {
    CopyRowBvid(state, row);
  } else if (item == "复制json") {
    CopyRowJson(state, row);
  } else if (item == kExitItem) {
    return MenuOutcome::kExit;
  } else {
    return MenuOutcome::kUnknown;
  }
  return MenuOutcome::kDone;
}

MenuOutcome FileMenuChoice(Controls& controls, std::string_view item, const std::string& folder) {
  if (item == "播放视频") {
    PlayLibraryEntry(controls, folder);
  } else if (item == "打开目录") {
    OpenLibraryEntry(controls, folder);
  } else {
    return MenuOutcome::kUnknown;
  }
  return MenuOutcome::kDone;
}

}  // namespace

std::string UnfinishedExitQuestion(int unfinished) {
  return "有 " + std::to_string(unfinished) + " 个任务未完成，退出后下次启动继续。确定退出？";
}

MenuOutcome HandleMenuChoice(AppState& state, std::string_view menu, std::string_view item,
                             const MenuTarget& target) {
  if (menu == kListMenu) return ListMenuChoice(state, item, target.row);
  if (menu == kFileMenu) return FileMenuChoice(state.Ui(), item, target.libraryFolder);
  if (menu == kExitMenu && item == kExitItem) return MenuOutcome::kExit;
  return MenuOutcome::kUnknown;
}

}  // namespace korvid
