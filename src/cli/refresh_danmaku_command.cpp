// refresh-danmaku: fetches the comments of every ASS file in a folder tree again.

#include <unistd.h>

#include <iostream>
#include <system_error>

#include "app/file_helpers.h"
#include "cli/cli_command.h"
#include "danmaku/danmaku_refresh.h"

namespace korvid::cli {
namespace {

std::string_view StateText(RefreshFileState state) {
  switch (state) {
    case RefreshFileState::kRefreshed:
      return "refreshed";
    case RefreshFileState::kSkipped:
      return "skipped (no cid in its header)";
    case RefreshFileState::kKept:
      return "kept as it was";
    case RefreshFileState::kWriteFailed:
      break;
  }
  return "not written";
}

// One line per file; on a terminal the line is redrawn in place and only
// failures stay on screen.
void PrintProgress(const RefreshProgress& progress, bool terminal) {
  const bool failed =
      progress.state == RefreshFileState::kKept || progress.state == RefreshFileState::kWriteFailed;
  std::string line = "[" + std::to_string(progress.index) + "/" + std::to_string(progress.total) +
                     "] " + progress.file.string() + ": " + std::string(StateText(progress.state));
  if (progress.state == RefreshFileState::kRefreshed) {
    line += " (" + std::to_string(progress.comments) + " comments)";
  }
  if (!progress.error.empty()) line += ": " + progress.error;
  line = TerminalLine(line);
  if (terminal) {
    std::cout << "\r\033[K" << line << (failed ? "\n" : "") << std::flush;
  } else {
    std::cout << line << "\n";
  }
}

int RefreshDanmaku(const Args& args) {
  if (args.size() != 1 || args[0].empty()) return Fail("refresh-danmaku needs one folder");
  const std::filesystem::path folder = args[0];
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    return Fail(folder.string() + " is not a folder");
  }
  Core core;
  const std::vector<std::filesystem::path> files =
      FindFiles(folder, ".ass", core.paths.programFolder);
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  const RefreshSummary summary =
      RefreshAssFiles(files, core.controls,
                      [&](const RefreshProgress& progress) { PrintProgress(progress, terminal); });
  if (terminal && summary.files > 0) std::cout << "\r\033[K";
  std::cout << RefreshDoneCaption(summary.files) << ": " << summary.refreshed << " refreshed, "
            << summary.skipped << " skipped, " << summary.failed << " failed\n";
  return summary.failed == 0 ? 0 : 1;
}

}  // namespace

KORVID_CLI_COMMAND("refresh-danmaku",
                   "refresh-danmaku FOLDER\n"
                   "                        fetches the comments of every ASS file below FOLDER\n"
                   "                        again and rewrites it and its XML; a file whose\n"
                   "                        comments cannot be fetched is left as it was",
                   RefreshDanmaku, 41);

}  // namespace korvid::cli
