#include "app/list_actions.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "app/tasks/task_record.h"
#include "app/text_helpers.h"
#include "net/json_document.h"

namespace fs = std::filesystem;

namespace korvid {

namespace {

std::string RecordValue(std::string_view record, std::string_view path) {
  JsonDocument document;
  if (!document.Parse(record)) return {};
  return Unquote(document.GetValue(path));
}

void OpenOrTell(Controls& controls, const std::string& path) {
  std::error_code error;
  if (path.empty() || !fs::exists(fs::path(path), error) || !controls.Shell().Open(path)) {
    controls.ShowNotice(std::string(kNoticeCannotOpen) + path, kNoticeFailed);
  }
}

// The record of a row, or a notice saying there is none yet.
std::string RecordOrTell(AppState& state, int row) {
  std::string record = state.Tasks().CellText(row, kColRecord);
  if (record.empty()) state.Ui().ShowNotice(kNoticeNotDownloaded, kNoticeFailed);
  return record;
}

}  // namespace

std::string RowMediaPath(TaskList& tasks, int row) {
  const std::string record = tasks.CellText(row, kColRecord);
  return record.empty() ? std::string() : RecordValue(record, record::kMediaPath);
}

std::string MergedMediaPath(std::string_view path) {
  const std::optional<MergeHalves> halves = MergeHalvesOf(path, 0);
  return halves ? halves->output : std::string(path);
}

void OpenRowFolder(AppState& state, int row) {
  const std::string path = RowMediaPath(state.Tasks(), row);
  if (path.empty()) {
    state.Ui().ShowNotice(kNoticeNotDownloaded, kNoticeFailed);
    return;
  }
  OpenOrTell(state.Ui(), fs::path(path).parent_path().string());
}

void PlayRowMedia(AppState& state, int row) {
  const std::string path = RowMediaPath(state.Tasks(), row);
  if (path.empty()) {
    state.Ui().ShowNotice(kNoticeNotDownloaded, kNoticeFailed);
    return;
  }
  OpenOrTell(state.Ui(), MergedMediaPath(path));
}

bool RedownloadRow(AppState& state, int row) {
  std::lock_guard listLock(state.ListLock());
  TaskList& tasks = state.Tasks();
  if (tasks.CellText(row, kColState) == kStateRedownload) return false;
  const std::string record = RecordOrTell(state, row);
  if (record.empty() || !state.QueueTask(row, record)) return false;
  tasks.SetCellText(row, kColState, kStateRedownload);
  return true;
}

bool ClearTaskList(AppState& state) {
  std::lock_guard listLock(state.ListLock());
  if (state.RunningCount().load() != 0 || state.TaskQueue().Count() != 0) {
    state.Ui().ShowNotice("当前有任务在进行", kNoticeFailed);
    return false;
  }
  state.Tasks().Clear();
  return true;
}

void CopyRowBvid(AppState& state, int row) {
  const std::string record = RecordOrTell(state, row);
  if (record.empty()) return;
  const std::string bvid = RecordValue(record, "data.bvid");
  state.Ui().Shell().SetClipboardText(bvid);
  state.Ui().ShowNotice("复制:" + bvid, kNoticeDone);
}

void CopyRowJson(AppState& state, int row) {
  const std::string record = RecordOrTell(state, row);
  if (record.empty()) return;
  state.Ui().Shell().SetClipboardText(record);
  state.Ui().ShowNotice("复制json完成", kNoticeDone);
}

void PlayLibraryEntry(Controls& controls, const std::string& folder) {
  std::vector<fs::path> episodes;
  std::error_code error;
  for (fs::recursive_directory_iterator it(fs::path(folder), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file(error) && name.find("S1E1") != std::string::npos &&
        name.ends_with(".mp4")) {
      episodes.push_back(it->path());
    }
  }
  if (episodes.empty()) {
    controls.ShowNotice(kNoticeNoEpisode, kNoticeFailed);
    return;
  }
  // Directory order is arbitrary; the first by name is the same every time.
  OpenOrTell(controls, std::min_element(episodes.begin(), episodes.end())->string());
}

void OpenLibraryEntry(Controls& controls, const std::string& folder) {
  OpenOrTell(controls, folder);
}

}  // namespace korvid
