#pragma once

#include <string>
#include <string_view>

#include "app/app_state.h"

namespace korvid {

// What the task list's menu does to one row (1-based), and what the library
// list's menu does to one entry folder. Each reports its outcome as a notice;
// the list lock is taken where a row's cells and the task queue change
// together, so these run on a worker, never on the window thread.

// The task record's "视频路径" of a row (column 0), unquoted; empty when the
// row's download never started.
[[nodiscard]] std::string RowMediaPath(TaskList& tasks, int row);
// A ".视频"/".音频" half becomes the merged file's name; other paths stay.
[[nodiscard]] std::string MergedMediaPath(std::string_view path);

// "打开路径": the folder holding the row's file.
void OpenRowFolder(AppState& state, int row);
// "播放视频": the row's file (the merged file for either half of a pair).
void PlayRowMedia(AppState& state, int row);
// "重新下载": marks the row and queues its record again, once until the row's
// state changes. False when nothing was queued.
bool RedownloadRow(AppState& state, int row);
// "清空列表": only while nothing runs or waits. False when refused.
bool ClearTaskList(AppState& state);
// "复制bv号" and "复制json".
void CopyRowBvid(AppState& state, int row);
void CopyRowJson(AppState& state, int row);

// The library list's "播放视频": the first "*S1E1*.mp4" in the entry's folder.
void PlayLibraryEntry(Controls& controls, const std::string& folder);
// The library list's "打开目录".
void OpenLibraryEntry(Controls& controls, const std::string& folder);

// Notice texts of the actions that the old program did not have.
inline constexpr std::string_view kNoticeNotDownloaded = "该任务还没有开始下载";
inline constexpr std::string_view kNoticeCannotOpen = "无法打开：";
inline constexpr std::string_view kNoticeNoEpisode = "文件夹中没有找到视频";

}  // namespace korvid
