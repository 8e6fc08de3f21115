#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/tasks/task_states.h"
#include "transfer/rate_limiter.h"
#include "transfer/resumable_download.h"
#include "transfer/stream_downloader.h"
#include "transfer/worker_set.h"

namespace korvid {

class AppState;

// StartDownload's answers.
inline constexpr int kDownloadStarted = 1;
inline constexpr int kDownloadRefused = 255;  // the row already downloads

struct DownloadEnd;

struct DownloadRequest {
  int row = 0;  // the task row every report updates
  std::string url;
  // Tried in order while an address answers 403, 404 or 410 or cannot be
  // connected to (after fresh addresses, when the request can get them).
  std::vector<std::string> fallbackUrls;
  // The final name; the download writes "<targetPath>.part" until it is whole.
  std::string targetPath;
  // CR LF separated; the first line is the user agent (see StreamDownloader).
  std::string headerBlock;
  // Optional: asks the site for new addresses (address first, then backups)
  // when the media host refuses the old ones or they have expired. Runs on
  // the download thread, at most once per download.
  std::function<std::vector<std::string>()> freshAddresses;
  // When the addresses were issued, on the engine's retry clock; negative:
  // unknown, never renewed for their age.
  std::int64_t addressesIssuedMs = -1;
  // Optional: how this download ended, on its download thread, once the row
  // shows the final state (after the engine's own observer).
  std::function<void(const DownloadEnd&)> onEnd;
};

// How one row's download ended, after its row shows the final state.
struct DownloadEnd {
  int row = 0;
  std::string targetPath;
  std::string url;          // the address tried last
  TransferOutcome outcome;  // of the last attempt
  FetchResult result;       // of the whole download
};

struct MergeEnd {
  int videoRow = 0;
  int audioRow = 0;
  std::string output;
  bool merged = false;
  std::string messages;  // FFmpeg's output
};

// Column texts of a report: "20.00MB", "3秒", "1.5 MB/S" (under 1 MB/s
// "15.0 KB/S", so a slow download does not read as stalled).
[[nodiscard]] std::string MegabytesText(std::int64_t bytes);
[[nodiscard]] std::string SecondsText(std::int64_t elapsedMs);
[[nodiscard]] std::string SpeedText(float kibPerSecond);
// The time the rest takes at this speed: "45秒", "2分05秒", "3小时07分";
// empty when it cannot be told (no speed, no total).
[[nodiscard]] std::string TimeLeftText(std::int64_t remainingBytes, float kibPerSecond);
// "42%" of a download, empty while the total is unknown.
[[nodiscard]] std::string PercentText(std::int64_t received, std::int64_t total);
// The 限速 setting (KB/s, leading digits) in bytes per second; 0: no limit.
[[nodiscard]] std::int64_t RateLimitOfSetting(std::string_view kibPerSecondText);

// Runs the media downloads of task rows: refuses a second download for a row,
// runs each one as a ResumableDownload (part file, resume, retries) on a
// thread of the engine's worker set, turns the reports into the row's size,
// received, time, speed and state cells (with the reason of a retry or a
// failure as the state cell's tip), keeps the running count, and merges a
// split pair with FFmpeg once both halves are complete. Knows the task list
// and the record's "视频路径", nothing of the site.
//
// Threads: StartDownload and Stop from any thread; one download thread per
// row (plus the transfer and report threads of its attempts); one merge
// thread per pair. Reports take the list lock; m_mutex is never held with it.
class DownloadEngine {
 public:
  explicit DownloadEngine(AppState& state);
  // Cancels the transfers (keeping their parts) and waits for every thread.
  ~DownloadEngine();
  DownloadEngine(const DownloadEngine&) = delete;
  DownloadEngine& operator=(const DownloadEngine&) = delete;

  // kDownloadStarted, or kDownloadRefused when the row is already registered
  // (or no thread could be had). A start with an empty URL or path is
  // accepted and ends at once with "下载失败" on the row.
  [[nodiscard]] int StartDownload(DownloadRequest request);

  // The progress handler: every report of every transfer, on its thread.
  void HandleProgress(const ProgressReport& report);

  // Stops the row's download; keepPart false also removes what arrived (a
  // finished file is never touched). False when the row downloads nothing.
  bool Stop(int row, bool keepPart);
  // Stops every download, keeping the parts; each ends as a short download.
  void StopAll();
  // True when no download or merge runs any more (within timeoutMs).
  [[nodiscard]] bool WaitIdle(int timeoutMs);
  // Downloads and merges under way.
  [[nodiscard]] int ActiveCount() const;
  // Task rows handed over whose download has not ended (merges not counted).
  [[nodiscard]] int DownloadCount() const;

  // Set before the first start. The observers run on the download or merge
  // thread once the rows show the final state.
  void SetObservers(std::function<void(const DownloadEnd&)> onDownloadEnd,
                    std::function<void(const MergeEnd&)> onMergeEnd);
  // Empty (the default): 配置/ffmpeg or the ffmpeg on PATH, looked up per merge.
  // ffprobe is looked for beside it.
  void SetFfmpeg(std::string program);
  void SetTransferTiming(TransferTiming timing);
  // For downloads started later.
  void SetRetryPolicy(RetryPolicy policy);
  [[nodiscard]] RetryPolicy Retries() const;
  // The bandwidth all downloads share, in bytes per second (0: none). Once
  // set here the 限速 setting is no longer read.
  void SetRateLimit(std::int64_t bytesPerSecond);
  [[nodiscard]] RateLimiter& Limiter() { return *m_limiter; }
  // Now on the retry policy's clock (for DownloadRequest::addressesIssuedMs).
  [[nodiscard]] std::int64_t Now() const;

  // For a split half that is complete (just downloaded, or found on disk):
  // when its partner is complete too, writes "开始合并" on this row, starts the
  // merge and returns true. List lock held: of two halves finishing together
  // only the later sees its partner complete.
  [[nodiscard]] bool StartMergeIfPairDone(int row);

 private:
  void RunDownload(const DownloadRequest& request,
                   const std::shared_ptr<ResumableDownload>& download);  // download thread
  void ShowNotice(int row, const FetchNotice& notice);
  void ShowEnd(const DownloadRequest& request, const FetchResult& result);
  // List lock held. True when the row was put back to wait for the site.
  [[nodiscard]] bool WaitForTheSite(int row, const FetchResult& result);
  void RunMerge(const MergeHalves& halves);  // merge thread
  // List lock held by the callers of these two.
  [[nodiscard]] bool IsLateReport(const ProgressReport& report) const;
  void ShowFinalState(int row, std::string_view state, std::uint32_t color,
                      std::string_view tip = {});
  // Follows the 限速 setting unless SetRateLimit fixed the rate.
  void ApplyRateSetting();

  AppState& m_state;
  mutable std::mutex m_mutex;
  std::map<int, std::shared_ptr<ResumableDownload>> m_running;  // by row; m_mutex
  bool m_stopping = false;                                      // m_mutex
  std::function<void(const DownloadEnd&)> m_onDownloadEnd;
  std::function<void(const MergeEnd&)> m_onMergeEnd;
  std::string m_ffmpeg;
  TransferTiming m_timing;
  RetryPolicy m_retries;
  const std::shared_ptr<RateLimiter> m_limiter = std::make_shared<RateLimiter>();
  std::atomic<bool> m_rateFixed{false};
  // The last transfer that ended per row; under the list lock.
  std::map<int, std::uint64_t> m_endedTransfer;
  // Last: its threads use the members above, so it is joined first.
  WorkerSet m_workers;
};

}  // namespace korvid
