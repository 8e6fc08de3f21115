#include "danmaku/danmaku_refresh.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <memory>
#include <system_error>

#include "app/file_helpers.h"
#include "controls/control_names.h"
#include "net/http_text.h"

namespace korvid {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRefreshJob = "danmaku refresh";

RefreshFileState StateOf(CommentFileState state) {
  switch (state) {
    case CommentFileState::kWritten:
      return RefreshFileState::kRefreshed;
    case CommentFileState::kFetchFailed:
    case CommentFileState::kKeptExisting:
      return RefreshFileState::kKept;
    case CommentFileState::kWriteFailed:
      break;
  }
  return RefreshFileState::kWriteFailed;
}

RefreshProgress RefreshOne(const fs::path& file, const Controls& controls) {
  RefreshProgress progress;
  progress.file = file;
  const AssSource source = ReadAssSource(ReadAssHeader(file));
  if (source.cid.empty()) return progress;
  const CommentFileResult result = FetchCommentFile(controls, source.cid, source.bvid, file);
  progress.state = StateOf(result.state);
  progress.comments = result.comments;
  progress.error = result.error;
  return progress;
}

fs::path StartFolder(const AppState& state, const Controls& controls) {
  const std::string downloads = controls.Text(kDownloadPathBox);
  std::error_code error;
  if (!downloads.empty() && fs::is_directory(downloads, error)) return downloads;
  return state.Paths().programFolder;
}

}  // namespace

AssSource ReadAssSource(std::string_view assText) {
  const std::string marker = TextBetween(assText, "Original Script:", "$");
  return {TextBetween(marker, "[cid_", "]"), TextBetween(marker, "[bid_", "]")};
}

std::string ReadAssHeader(const fs::path& file) {
  constexpr std::size_t kBlock = 4096;
  constexpr std::string_view kEventsSection = "[Events]";
  std::ifstream in(file, std::ios::binary);
  std::string header;
  char block[kBlock];
  while (in && header.size() < kAssHeaderLimit) {
    in.read(block, static_cast<std::streamsize>(std::min(kBlock, kAssHeaderLimit - header.size())));
    const std::size_t searchFrom =
        header.size() > kEventsSection.size() ? header.size() - kEventsSection.size() : 0;
    header.append(block, static_cast<std::size_t>(in.gcount()));
    const std::size_t events = header.find(kEventsSection, searchFrom);
    if (events != std::string::npos) {
      header.resize(events);
      break;
    }
  }
  return header;
}

std::string RefreshDoneCaption(int fileCount) {
  return "共刷新了" + std::to_string(fileCount) + "部影片弹幕";
}

RefreshSummary RefreshAssFiles(const std::vector<fs::path>& files, const Controls& controls,
                               const RefreshReport& report, const std::atomic<bool>* stop) {
  RefreshSummary summary;
  summary.files = static_cast<int>(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (stop != nullptr && stop->load()) break;
    RefreshProgress progress = RefreshOne(files[i], controls);
    progress.index = static_cast<int>(i + 1);
    progress.total = summary.files;
    switch (progress.state) {
      case RefreshFileState::kRefreshed:
        ++summary.refreshed;
        break;
      case RefreshFileState::kSkipped:
        ++summary.skipped;
        break;
      default:
        ++summary.failed;
    }
    if (report) report(progress);
  }
  return summary;
}

DanmakuRefresher::DanmakuRefresher(AppState& state) : m_state(state) {}

DanmakuRefresher::~DanmakuRefresher() {
  m_stop = true;
  Wait();
}

void DanmakuRefresher::Wait() {
  m_worker.JoinAll();
}

bool DanmakuRefresher::Start() {
  Controls& controls = m_state.Ui();
  // Taken here rather than by the worker, so two quick presses cannot both
  // start one.
  BusyGuard busy = m_state.Busy().TryAcquire(BusyFlag::kDanmakuRefresh);
  if (!busy) {
    controls.ShowNotice(kRefreshBusyNotice, kNoticeFailed);
    return false;
  }
  SetStatusCaption(controls, kRefreshRunningCaption);
  // A cancelled question leaves the folder empty, which means the program
  // folder (it holds the default download folder).
  const std::string folder =
      controls.Shell().PickFolder(kRefreshPickerTitle, StartFolder(m_state, controls).string());
  Wait();  // the previous worker has cleared the flag and is ending
  auto held = std::make_shared<BusyGuard>(std::move(busy));
  return m_worker.Start(kRefreshJob, [this, held, path = fs::path(folder)] {
    Run(path);
    held->Release();
  });
}

void DanmakuRefresher::Run(const fs::path& folder) {
  Controls& controls = m_state.Ui();
  try {
    const std::vector<fs::path> files = FindFiles(folder, ".ass", m_state.Paths().programFolder);
    (void)RefreshAssFiles(files, controls, {}, &m_stop);
    SetStatusCaption(controls, RefreshDoneCaption(static_cast<int>(files.size())));
  } catch (const std::exception& error) {
    SetStatusCaption(controls, std::string("刷新弹幕失败: ") + error.what());
  }
}

}  // namespace korvid
