#include "download/download_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/app_state.h"
#include "app/tasks/task_record.h"
#include "app/text_helpers.h"
#include "controls/control_names.h"
#include "net/json_document.h"
#include "transfer/completion_event.h"
#include "transfer/media_merge.h"
#include "transfer/target_lock.h"

namespace korvid {
namespace {

constexpr double kBytesPerMegabyte = 1048576.0;
constexpr double kKibPerMegabyte = 1024.0;
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
// Beyond this the estimate means nothing.
constexpr std::int64_t kMaxTimeLeftSeconds = 100 * kSecondsPerHour - 1;
constexpr std::string_view kLongTimeLeft = "超过99小时";
constexpr std::int64_t kMaxRateKib = 1024LL * 1024 * 1024;

std::string Formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void DecrementToZero(std::atomic<int>& count) {
  int value = count.load();
  while (!count.compare_exchange_weak(value, value > 0 ? value - 1 : 0)) {
  }
}

}  // namespace

std::string MegabytesText(std::int64_t bytes) {
  return Formatted("%.2fMB", static_cast<double>(bytes) / kBytesPerMegabyte);
}

std::string SecondsText(std::int64_t elapsedMs) {
  return std::to_string(elapsedMs / 1000) + "秒";
}

std::string SpeedText(float kibPerSecond) {
  const auto kib = static_cast<double>(kibPerSecond);
  // Rounded as shown: 1023.96 KiB/s reads "1.0 MB/S", not "1024.0 KB/S".
  if (kib < kKibPerMegabyte - 0.05) return Formatted("%.1f KB/S", std::max(kib, 0.0));
  return Formatted("%.1f MB/S", kib / kKibPerMegabyte);
}

std::string TimeLeftText(std::int64_t remainingBytes, float kibPerSecond) {
  if (remainingBytes < 0 || !(kibPerSecond > 0.0F)) return {};
  const double seconds =
      std::ceil(static_cast<double>(remainingBytes) / (static_cast<double>(kibPerSecond) * 1024.0));
  if (seconds > static_cast<double>(kMaxTimeLeftSeconds)) return std::string(kLongTimeLeft);
  const auto whole = static_cast<std::int64_t>(seconds);
  char text[48];
  if (whole < kSecondsPerMinute) {
    std::snprintf(text, sizeof text, "%lld秒", static_cast<long long>(whole));
  } else if (whole < kSecondsPerHour) {
    std::snprintf(text, sizeof text, "%lld分%02lld秒", static_cast<long long>(whole / 60),
                  static_cast<long long>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld小时%02lld分",
                  static_cast<long long>(whole / kSecondsPerHour),
                  static_cast<long long>(whole % kSecondsPerHour / 60));
  }
  return text;
}

std::string PercentText(std::int64_t received, std::int64_t total) {
  if (total <= 0) return {};
  const std::int64_t percent = std::clamp<std::int64_t>(received * 100 / total, 0, 100);
  return std::to_string(percent) + "%";
}

std::int64_t RateLimitOfSetting(std::string_view kibPerSecondText) {
  std::int64_t kib = 0;
  for (const char c : kibPerSecondText) {
    if (c < '0' || c > '9') break;
    kib = std::min<std::int64_t>(kib * 10 + (c - '0'), kMaxRateKib);
  }
  return kib * 1024;
}

DownloadEngine::DownloadEngine(AppState& state) : m_state(state) {}

DownloadEngine::~DownloadEngine() {
  StopAll();
  m_workers.JoinAll();
}

int DownloadEngine::StartDownload(DownloadRequest request) {
  const int row = request.row;
  // Row 0 is never a task row: it is not registered, so it is never refused.
  if (row != 0 && !m_state.Downloads().Register(row)) return kDownloadRefused;
  std::shared_ptr<ResumableDownload> download;
  {
    std::lock_guard guard(m_mutex);
    download = std::make_shared<ResumableDownload>(m_timing, m_retries);
    if (row != 0) m_running[row] = download;
  }
  const std::string name = "download of row " + std::to_string(row);
  if (!m_workers.Start(name, [this, download, request = std::move(request)] {
        RunDownload(request, download);
      })) {
    std::lock_guard guard(m_mutex);
    m_running.erase(row);
    if (row != 0) m_state.Downloads().Unregister(row);
    return kDownloadRefused;
  }
  return kDownloadStarted;
}

void DownloadEngine::RunDownload(const DownloadRequest& request,
                                 const std::shared_ptr<ResumableDownload>& download) {
  FetchRequest fetch;
  fetch.urls = {request.url};
  if (request.url.empty()) fetch.urls.clear();
  fetch.urls.insert(fetch.urls.end(), request.fallbackUrls.begin(), request.fallbackUrls.end());
  fetch.targetPath = request.targetPath;
  fetch.headerBlock = request.headerBlock;
  fetch.handler = [this](const ProgressReport& report) { HandleProgress(report); };
  fetch.userValue = request.row;
  fetch.freshAddresses = request.freshAddresses;
  fetch.addressesIssuedMs = request.addressesIssuedMs;
  fetch.onNotice = [this, row = request.row](const FetchNotice& notice) {
    ShowNotice(row, notice);
  };
  ApplyRateSetting();
  fetch.limiter = m_limiter;
  FetchResult result;
  if (request.url.empty() || request.targetPath.empty()) {
    result.reason = "no address";
  } else {
    result = download->Run(std::move(fetch));
  }
  ShowEnd(request, result);
  {
    std::lock_guard guard(m_mutex);
    const auto it = m_running.find(request.row);
    if (it != m_running.end() && it->second == download) m_running.erase(it);
  }
  if (request.row != 0) m_state.Downloads().Unregister(request.row);
  DownloadEnd end;
  end.row = request.row;
  end.targetPath = request.targetPath;
  end.url = result.url;
  end.outcome = result.last;
  end.result = result;
  std::function<void(const DownloadEnd&)> observer;
  {
    std::lock_guard guard(m_mutex);
    observer = m_onDownloadEnd;
  }
  if (observer) observer(end);
  if (request.onEnd) request.onEnd(end);
}

void DownloadEngine::ShowNotice(int row, const FetchNotice& notice) {
  std::lock_guard list(m_state.ListLock());
  TaskList& tasks = m_state.Tasks();
  if (notice.kind == FetchNotice::Kind::kWaitingForFile) {
    tasks.SetCellText(row, kColState, kStateFileBusy);
  } else {
    tasks.SetCellText(row, kColState, RetryingStateText(notice.attempt, notice.attempts));
    tasks.SetCellTip(row, kColState, notice.reason);
  }
  tasks.ResetRowColors(row);
}

// The end report (when the download started) has already written 完成 or
// 失败下载; what only the whole download knows is written here.
void DownloadEngine::ShowEnd(const DownloadRequest& request, const FetchResult& result) {
  const int row = request.row;
  std::lock_guard list(m_state.ListLock());
  switch (result.end) {
    case FetchResult::End::kComplete:
      break;
    case FetchResult::End::kDoneByOther:
      if (!StartMergeIfPairDone(row)) ShowFinalState(row, kStateExisting, kColorDone);
      break;
    case FetchResult::End::kCancelled:
      if (!result.started) ShowFinalState(row, kStateStartFailed, kColorCrimson);
      break;
    case FetchResult::End::kDiskFull:
      ShowFinalState(row, kStateDiskFull, kColorCrimson, PartPathOf(request.targetPath));
      break;
    case FetchResult::End::kUnwritable:
      ShowFinalState(row, UnwritableStateText(result.reason), kColorCrimson,
                     PartPathOf(request.targetPath));
      break;
    case FetchResult::End::kFailed:
      if (WaitForTheSite(row, result)) break;
      ShowFinalState(row, kStateStartFailed, kColorCrimson, result.reason);
      break;
  }
}

// A media host that cannot be connected to counts towards the site being
// unreachable. Once the scheduler holds new starts for it, the row waits for
// the site again instead of failing; while the site itself answers, a dead
// media host fails the row as before (it would never come back by waiting).
bool DownloadEngine::WaitForTheSite(int row, const FetchResult& result) {
  if (row == 0 || result.started || result.last.error != TransferError::kConnect) return false;
  SiteReachability& site = m_state.Reachability();
  site.NoteUnreachable();
  if (!site.Paused()) return false;
  TaskList& list = m_state.Tasks();
  std::string record = list.CellText(row, kColRecord);
  if (record.empty()) record = list.QueuedRecord(row);
  if (record.empty() || !m_state.QueueTask(row, record)) return false;
  list.SetCellText(row, kColState, kStateWaiting);
  list.SetCellTip(row, kColState, kUnreachableCaption);
  list.ResetRowColors(row);
  return true;
}

void DownloadEngine::HandleProgress(const ProgressReport& report) {
  ApplyRateSetting();  // a changed setting reaches running downloads at once
  TaskList& list = m_state.Tasks();
  std::lock_guard held(m_state.ListLock());
  if (IsLateReport(report)) return;
  const int row = report.userValue;
  list.SetCellText(row, kColSize, MegabytesText(report.total));
  list.SetCellText(row, kColReceived, MegabytesText(report.received));
  list.SetCellText(row, kColTime, SecondsText(report.elapsedMs));
  list.SetCellText(row, kColSpeed, SpeedText(report.speed));
  const bool ended = report.kind == kReportEnded;
  list.SetCellText(row, kColumnTimeLeft,
                   ended || report.total <= 0
                       ? std::string()
                       : TimeLeftText(report.total - report.received, report.speed));
  m_state.Downloads().SetProgress(
      row, DownloadProgress{report.total, report.received, ended ? 0.0F : report.speed});
  // The reason of a retry is past; other tips (the comments) stay.
  if (list.CellText(row, kColState).starts_with(kStateRetryingPrefix)) {
    list.SetCellTip(row, kColState, {});
  }
  std::string_view state;
  bool merging = false;
  switch (report.kind) {
    case kReportStarted:
      ++m_state.RunningCount();
      state = kStateStarted;
      break;
    case kReportProgress:
      state = kStateDownloading;
      break;
    case kReportEnded:
      m_endedTransfer[row] = report.transferId;
      if (report.received == report.total) {
        state = kStateDone;
        merging = StartMergeIfPairDone(row);
      } else {
        state = kStateShort;
      }
      DecrementToZero(m_state.RunningCount());
      break;
    default:
      break;
  }
  if (merging) return;
  list.SetCellText(row, kColState, state);
  list.ResetRowColors(row);
  if (report.kind == kReportEnded) {
    list.SetCellColor(row, kColState, state == kStateDone ? kColorDone : kColorCrimson);
  }
}

// A report that reaches the handler after the end report of its transfer
// would overwrite the final state. Transfer ids grow, and a row's next
// download starts only after its previous one ended.
bool DownloadEngine::IsLateReport(const ProgressReport& report) const {
  const auto ended = m_endedTransfer.find(report.userValue);
  return ended != m_endedTransfer.end() && report.transferId <= ended->second;
}

// Both halves report under the list lock, so only the later one sees its
// partner complete and starts the merge.
bool DownloadEngine::StartMergeIfPairDone(int row) {
  TaskList& list = m_state.Tasks();
  JsonDocument record;
  if (!record.Parse(list.CellText(row, kColRecord))) return false;
  const std::optional<MergeHalves> halves =
      MergeHalvesOf(Unquote(record.GetValue(record::kMediaPath)), row);
  if (!halves) return false;
  const int partner = row == halves->videoRow ? halves->audioRow : halves->videoRow;
  // A partner found complete on disk (a half that arrived in an earlier run)
  // is as good as one that just finished.
  const std::string partnerState = list.CellText(partner, kColState);
  if (partnerState != kStateDone && partnerState != kStateExisting) return false;
  list.SetCellText(row, kColState, kStateMerging);
  if (!m_workers.Start("merge of row " + std::to_string(halves->videoRow),
                       [this, pair = *halves] { RunMerge(pair); })) {
    ShowFinalState(halves->videoRow, kStateMergeFailed, kColorCrimson);
    ShowFinalState(halves->audioRow, kStateMergeFailed, kColorCrimson);
  }
  return true;
}

void DownloadEngine::RunMerge(const MergeHalves& halves) {
  MergeJob job;
  {
    std::lock_guard guard(m_mutex);
    job.ffmpeg = m_ffmpeg;
  }
  if (job.ffmpeg.empty()) job.ffmpeg = FindFfmpeg(m_state.Paths());
  std::error_code ec;
  const std::filesystem::path config = m_state.Paths().ConfigFolder();
  if (std::filesystem::is_directory(config, ec)) job.workingFolder = config.string();
  job.video = halves.video;
  job.audio = halves.audio;
  job.output = halves.output;
  const MergeOutcome outcome = MergeMedia(job);
  {
    std::lock_guard list(m_state.ListLock());
    const std::string_view state = outcome.merged ? kStateMerged : kStateMergeFailed;
    const std::uint32_t color = outcome.merged ? kColorMerged : kColorCrimson;
    for (int row : {halves.videoRow, halves.audioRow}) {
      m_state.Tasks().SetCellText(row, kColState, state);
      if (!outcome.merged) m_state.Tasks().SetCellTip(row, kColState, outcome.error);
      m_state.Tasks().SetCellColor(row, kColState, color);
    }
  }
  std::function<void(const MergeEnd&)> observer;
  {
    std::lock_guard guard(m_mutex);
    observer = m_onMergeEnd;
  }
  if (observer) {
    observer(MergeEnd{halves.videoRow, halves.audioRow, halves.output, outcome.merged,
                      outcome.run.output});
  }
}

void DownloadEngine::ShowFinalState(int row, std::string_view state, std::uint32_t color,
                                    std::string_view tip) {
  TaskList& list = m_state.Tasks();
  list.SetCellText(row, kColState, state);
  if (!tip.empty()) list.SetCellTip(row, kColState, tip);
  list.ResetRowColors(row);
  list.SetCellColor(row, kColState, color);
}

bool DownloadEngine::Stop(int row, bool keepPart) {
  std::shared_ptr<ResumableDownload> download;
  {
    std::lock_guard guard(m_mutex);
    const auto it = m_running.find(row);
    if (it == m_running.end()) return false;
    download = it->second;
  }
  download->Cancel(keepPart);
  return true;
}

void DownloadEngine::StopAll() {
  std::vector<std::shared_ptr<ResumableDownload>> running;
  {
    std::lock_guard guard(m_mutex);
    for (const auto& [row, download] : m_running) running.push_back(download);
  }
  for (const auto& download : running) download->Cancel(true);
}

bool DownloadEngine::WaitIdle(int timeoutMs) {
  const bool idle = m_workers.WaitIdle(timeoutMs);
  m_workers.Reap();
  return idle;
}

int DownloadEngine::ActiveCount() const {
  return m_workers.Active();
}

int DownloadEngine::DownloadCount() const {
  std::lock_guard guard(m_mutex);
  return static_cast<int>(m_running.size());
}

void DownloadEngine::SetObservers(std::function<void(const DownloadEnd&)> onDownloadEnd,
                                  std::function<void(const MergeEnd&)> onMergeEnd) {
  std::lock_guard guard(m_mutex);
  m_onDownloadEnd = std::move(onDownloadEnd);
  m_onMergeEnd = std::move(onMergeEnd);
}

void DownloadEngine::SetFfmpeg(std::string program) {
  std::lock_guard guard(m_mutex);
  m_ffmpeg = std::move(program);
}

void DownloadEngine::SetTransferTiming(TransferTiming timing) {
  std::lock_guard guard(m_mutex);
  m_timing = timing;
}

void DownloadEngine::SetRetryPolicy(RetryPolicy policy) {
  std::lock_guard guard(m_mutex);
  m_retries = std::move(policy);
}

void DownloadEngine::SetRateLimit(std::int64_t bytesPerSecond) {
  m_rateFixed = true;
  m_limiter->SetBytesPerSecond(bytesPerSecond);
}

void DownloadEngine::ApplyRateSetting() {
  const Controls& ui = m_state.Ui();
  if (m_rateFixed || !ui.Has(kRateLimitBox)) return;
  m_limiter->SetBytesPerSecond(RateLimitOfSetting(ui.Text(kRateLimitBox)));
}

std::int64_t DownloadEngine::Now() const {
  MillisecondClock clock;
  {
    std::lock_guard guard(m_mutex);
    clock = m_retries.clock;
  }
  if (clock) return clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

RetryPolicy DownloadEngine::Retries() const {
  std::lock_guard guard(m_mutex);
  return m_retries;
}

}  // namespace korvid
