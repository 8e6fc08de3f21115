#pragma once
// The download both `download` and `demo` run: links to task rows, the
// scheduler's clock draining the queue, one progress line per running task.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_command.h"
#include "transfer/resumable_download.h"

namespace korvid::cli {

struct DownloadOptions {
  std::vector<std::string> links;
  std::string folder;                          // --dir: 编辑框_下载路径 for this run
  std::string maximum;                         // --max: 编辑框_最大线程 for this run
  bool split = false;                          // --split
  std::string cookies;                         // 编辑框_cookies for this run (the demo's log-in)
  int retries = RetryPolicy::kDefaultRetries;  // --retries: of a download that broke off (0: none)
  // --limit-rate in bytes per second (0: none); -1: the 限速 setting.
  std::int64_t rateLimit = -1;
  // Keep the rows in 配置/任务.db: add to the stored queue and run it until
  // empty. False: a private list in memory (--no-store, the demo).
  bool keepStore = false;
};

// Exit code when another process holds the task store.
inline constexpr int kStoreHeld = 2;

// Exit code: 0 when every task ended 完成, 合并完成 or 已存在; 130 after
// Ctrl-C; 2 when the task store is held elsewhere; 1 otherwise, after a summary of the failures.
int RunDownloads(Core& core, const DownloadOptions& options);

}  // namespace korvid::cli
