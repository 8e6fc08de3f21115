#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "danmaku/comment_file.h"
#include "transfer/worker_set.h"

namespace korvid {

inline constexpr std::string_view kRefreshBusyNotice = "有刷新任务在进行中...";
inline constexpr std::string_view kRefreshPickerTitle = "将所选择文件夹内的ass弹幕文件进行更新";
inline constexpr std::string_view kRefreshRunningCaption = "正在刷新影片弹幕...";

// The page an ASS file was made for, from its "Original Script:" header line.
struct AssSource {
  std::string cid;  // empty when the file names none
  std::string bvid;
};
[[nodiscard]] AssSource ReadAssSource(std::string_view assText);
// The start of an ASS file up to the end of its header ("[Events]"), at most
// kAssHeaderLimit bytes: never the whole file, however many events it holds.
inline constexpr std::size_t kAssHeaderLimit = 64 * 1024;
[[nodiscard]] std::string ReadAssHeader(const std::filesystem::path& file);

// "共刷新了N部影片弹幕"
[[nodiscard]] std::string RefreshDoneCaption(int fileCount);

enum class RefreshFileState {
  kRefreshed,  // fresh comments written
  kSkipped,    // no cid in the header (another program's file), or unreadable
  kKept,       // the comments could not be fetched; the files are unchanged
  kWriteFailed,
};

struct RefreshProgress {
  int index = 0;  // from 1
  int total = 0;
  std::filesystem::path file;
  RefreshFileState state = RefreshFileState::kSkipped;
  int comments = 0;
  std::string error;
};

struct RefreshSummary {
  int files = 0;  // every ASS file found, refreshed or not
  int refreshed = 0;
  int skipped = 0;
  int failed = 0;  // kept or not written
};

// Called on the refreshing thread after each file.
using RefreshReport = std::function<void(const RefreshProgress&)>;

// Refreshes the files in order, reading the danmaku settings from controls for
// each. Stops before the next file once stop is set. Blocks on the network.
[[nodiscard]] RefreshSummary RefreshAssFiles(const std::vector<std::filesystem::path>& files,
                                             const Controls& controls,
                                             const RefreshReport& report = {},
                                             const std::atomic<bool>* stop = nullptr);

// 按钮_刷新弹幕 and its worker. Start runs on the caller's thread (the window
// thread in the window) up to the folder question, then hands the folder to a
// worker thread of its own; the busy flag kDanmakuRefresh is held from the
// press until the worker ends.
class DanmakuRefresher {
 public:
  explicit DanmakuRefresher(AppState& state);
  // Asks a running worker to stop after its current file and waits for it.
  ~DanmakuRefresher();
  DanmakuRefresher(const DanmakuRefresher&) = delete;
  DanmakuRefresher& operator=(const DanmakuRefresher&) = delete;

  // False (and the notice "有刷新任务在进行中...") while a refresh runs.
  bool Start();
  // Waits for the current worker, if any (tests and shutdown).
  void Wait();

 private:
  void Run(const std::filesystem::path& folder);

  AppState& m_state;
  std::atomic<bool> m_stop{false};
  // Last: its destructor joins the worker before what it uses goes.
  WorkerSet m_worker;
};

}  // namespace korvid
