#include "download/download_engine.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/app_state.h"
#include "app/tasks/task_record.h"
#include "app/text_helpers.h"
#include "net/json_document.h"
#include "transfer/completion_event.h"
#include "transfer/media_merge.h"

namespace korvid {
namespace {

constexpr double kBytesPerMegabyte = 1048576.0;
constexpr double kKibPerMegabyte = 1024.0;

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

// A half that answered "not here" or could not be reached may have a mirror.
bool TryNextAddress(const TransferOutcome& outcome) {
  if (outcome.started) return false;
  return outcome.error == TransferError::kConnect ||
         (outcome.error == TransferError::kHttpStatus &&
          (outcome.httpStatus == 403 || outcome.httpStatus == 404));
}

}  // namespace

std::string MegabytesText(std::int64_t bytes) {
  return Formatted("%.2fMB", static_cast<double>(bytes) / kBytesPerMegabyte);
}

std::string SecondsText(std::int64_t elapsedMs) {
  return std::to_string(elapsedMs / 1000) + "秒";
}

std::string SpeedText(float kibPerSecond) {
  return Formatted("%.1f MB/S", static_cast<double>(kibPerSecond) / kKibPerMegabyte);
}

DownloadEngine::DownloadEngine(AppState& state) : m_state(state) {}

DownloadEngine::~DownloadEngine() {
  StopAll();
  std::unique_lock held(m_mutex);
  m_changed.wait(held, [this] { return AllFinished(); });
  held.unlock();
  ReapFinished();
}

int DownloadEngine::StartDownload(DownloadRequest request) {
  ReapFinished();
  const int row = request.row;
  // Row 0 is never a task row: it is not registered, so it is never refused.
  if (row != 0 && !m_state.Downloads().Register(row)) return kDownloadRefused;
  Worker* worker = nullptr;
  {
    std::lock_guard guard(m_mutex);
    worker = AddWorker(row);
  }
  if (!Launch(worker,
              [this, worker, request = std::move(request)] { RunDownload(worker, request); })) {
    if (row != 0) m_state.Downloads().Unregister(row);
    return kDownloadRefused;
  }
  return kDownloadStarted;
}

void DownloadEngine::RunDownload(Worker* worker, const DownloadRequest& request) {
  std::vector<std::string> urls{request.url};
  urls.insert(urls.end(), request.fallbackUrls.begin(), request.fallbackUrls.end());
  DownloadEnd end;
  end.row = request.row;
  end.targetPath = request.targetPath;
  end.outcome.error = TransferError::kCancelled;
  for (const std::string& url : urls) {
    end.url = url;
    end.outcome = Attempt(worker, request, url);
    if (!TryNextAddress(end.outcome)) break;
  }
  // Nothing reported means the row would keep its hand-over state for ever.
  if (!end.outcome.started) {
    std::lock_guard list(m_state.ListLock());
    ShowFinalState(request.row, kStateStartFailed, kColorCrimson);
  }
  if (request.row != 0) m_state.Downloads().Unregister(request.row);
  std::function<void(const DownloadEnd&)> observer;
  {
    std::lock_guard guard(m_mutex);
    observer = m_onDownloadEnd;
  }
  if (observer) observer(end);
  if (request.onEnd) request.onEnd(end);
}

TransferOutcome DownloadEngine::Attempt(Worker* worker, const DownloadRequest& request,
                                        const std::string& url) {
  std::shared_ptr<StreamDownloader> downloader;
  {
    std::lock_guard guard(m_mutex);
    if (worker->cancelled) return TransferOutcome{TransferError::kCancelled, false, 0, 0, 0, {}};
    downloader = std::make_shared<StreamDownloader>(m_timing);
    worker->current = downloader;
  }
  CompletionEvent done;
  StreamDownloader::Request start;
  start.url = url;
  start.targetPath = request.targetPath;
  start.headerBlock = request.headerBlock;
  start.handler = [this](const ProgressReport& report) { HandleProgress(report); };
  start.userValue = request.row;
  start.done = &done;
  (void)downloader->StartTransfer(std::move(start));  // the event is signalled either way
  done.Wait();
  TransferOutcome outcome = downloader->Outcome();
  {
    std::lock_guard guard(m_mutex);
    worker->current.reset();
  }
  return outcome;
}

void DownloadEngine::HandleProgress(const ProgressReport& report) {
  TaskList& list = m_state.Tasks();
  std::lock_guard held(m_state.ListLock());
  if (IsLateReport(report)) return;
  const int row = report.userValue;
  list.SetCellText(row, kColSize, MegabytesText(report.total));
  list.SetCellText(row, kColReceived, MegabytesText(report.received));
  list.SetCellText(row, kColTime, SecondsText(report.elapsedMs));
  list.SetCellText(row, kColSpeed, SpeedText(report.speed));
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
  Worker* worker = nullptr;
  {
    std::lock_guard guard(m_mutex);
    worker = AddWorker(row);
  }
  if (!Launch(worker, [this, pair = *halves] { RunMerge(pair); })) {
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

void DownloadEngine::ShowFinalState(int row, std::string_view state, std::uint32_t color) {
  TaskList& list = m_state.Tasks();
  list.SetCellText(row, kColState, state);
  list.ResetRowColors(row);
  list.SetCellColor(row, kColState, color);
}

void DownloadEngine::StopAll() {
  std::vector<std::shared_ptr<StreamDownloader>> running;
  {
    std::lock_guard guard(m_mutex);
    for (Worker& worker : m_workers) {
      worker.cancelled = true;
      if (worker.current) running.push_back(worker.current);
    }
  }
  for (const auto& downloader : running) downloader->Cancel();
}

bool DownloadEngine::WaitIdle(int timeoutMs) {
  std::unique_lock held(m_mutex);
  const bool idle = m_changed.wait_for(held, std::chrono::milliseconds(timeoutMs),
                                       [this] { return AllFinished(); });
  held.unlock();
  ReapFinished();
  return idle;
}

int DownloadEngine::ActiveCount() const {
  std::lock_guard guard(m_mutex);
  int active = 0;
  for (const Worker& worker : m_workers) active += worker.finished ? 0 : 1;
  return active;
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

DownloadEngine::Worker* DownloadEngine::AddWorker(int row) {
  Worker& worker = m_workers.emplace_back();
  worker.row = row;
  return &worker;
}

// The thread is made under m_mutex, so it cannot be marked finished (and
// reaped) before its handle is stored.
bool DownloadEngine::Launch(Worker* worker, std::function<void()> body) {
  std::lock_guard guard(m_mutex);
  try {
    worker->thread = std::thread([this, worker, body = std::move(body)] {
      try {
        body();
      } catch (...) {
        // Ends here, once: the row keeps the last state written.
      }
      Finished(worker);
    });
    return true;
  } catch (const std::system_error&) {
    m_workers.remove_if([worker](const Worker& w) { return &w == worker; });
    return false;
  }
}

bool DownloadEngine::AllFinished() const {
  for (const Worker& worker : m_workers) {
    if (!worker.finished) return false;
  }
  return true;
}

void DownloadEngine::Finished(Worker* worker) {
  {
    std::lock_guard guard(m_mutex);
    worker->finished = true;
  }
  m_changed.notify_all();
}

// Joins the threads that have ended; a thread never joins itself, and it
// marks itself finished only as its last step.
void DownloadEngine::ReapFinished() {
  std::list<Worker> ended;
  {
    std::lock_guard guard(m_mutex);
    for (auto it = m_workers.begin(); it != m_workers.end();) {
      const auto next = std::next(it);
      if (it->finished && it->thread.joinable()) ended.splice(ended.end(), m_workers, it);
      it = next;
    }
  }
  for (Worker& worker : ended) worker.thread.join();
}

}  // namespace korvid
