#pragma once

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
#include "transfer/stream_downloader.h"

namespace korvid {

class AppState;

// StartDownload's answers.
inline constexpr int kDownloadStarted = 1;
inline constexpr int kDownloadRefused = 255;  // the row already downloads

struct DownloadEnd;

struct DownloadRequest {
  int row = 0;  // the task row every report updates
  std::string url;
  // Tried in order while an address answers 403 or 404 or cannot be
  // connected to (nothing has been written by then).
  std::vector<std::string> fallbackUrls;
  std::string targetPath;
  // CR LF separated; the first line is the user agent (see StreamDownloader).
  std::string headerBlock;
  // Optional: how this download ended, on its download thread, once the row
  // shows the final state (after the engine's own observer).
  std::function<void(const DownloadEnd&)> onEnd;
};

// How one row's download ended, after its row shows the final state.
struct DownloadEnd {
  int row = 0;
  std::string targetPath;
  std::string url;  // the address tried last
  TransferOutcome outcome;
};

struct MergeEnd {
  int videoRow = 0;
  int audioRow = 0;
  std::string output;
  bool merged = false;
  std::string messages;  // FFmpeg's output
};

// Column texts of a report: "20.00MB", "3秒", "1.5 MB/S".
[[nodiscard]] std::string MegabytesText(std::int64_t bytes);
[[nodiscard]] std::string SecondsText(std::int64_t elapsedMs);
[[nodiscard]] std::string SpeedText(float kibPerSecond);

// Runs the media downloads of task rows: refuses a second download for a row,
// streams each one on a download thread of its own, turns the reports into
// the row's size, received, time, speed and state cells, keeps the running
// count, and merges a split pair with FFmpeg once both halves are complete.
// Knows the task list and the record's "视频路径", nothing of the site.
//
// Threads: StartDownload from any worker; one download thread per row (plus
// the StreamDownloader's transfer and report threads); one merge thread per
// pair. Reports take the list lock; the registry's lock is never held with it.
class DownloadEngine {
 public:
  explicit DownloadEngine(AppState& state);
  // Cancels the transfers and waits for every download and merge thread.
  ~DownloadEngine();
  DownloadEngine(const DownloadEngine&) = delete;
  DownloadEngine& operator=(const DownloadEngine&) = delete;

  // kDownloadStarted, or kDownloadRefused when the row is already registered
  // (or no thread could be had). A start with an empty URL or path is
  // accepted and ends at once with "下载失败" on the row.
  [[nodiscard]] int StartDownload(DownloadRequest request);

  // The progress handler: every report of every transfer, on its thread.
  void HandleProgress(const ProgressReport& report);

  // Asks every running transfer to stop; each ends as a short download.
  void StopAll();
  // True when no download or merge runs any more (within timeoutMs).
  [[nodiscard]] bool WaitIdle(int timeoutMs);
  // Downloads and merges under way.
  [[nodiscard]] int ActiveCount() const;

  // Set before the first start. The observers run on the download or merge
  // thread once the rows show the final state.
  void SetObservers(std::function<void(const DownloadEnd&)> onDownloadEnd,
                    std::function<void(const MergeEnd&)> onMergeEnd);
  // Empty (the default): 配置/ffmpeg or the ffmpeg on PATH, looked up per merge.
  void SetFfmpeg(std::string program);
  void SetTransferTiming(TransferTiming timing);

  // For a split half that is complete (just downloaded, or found on disk):
  // when its partner is complete too, writes "开始合并" on this row, starts the
  // merge and returns true. List lock held: of two halves finishing together
  // only the later sees its partner complete.
  [[nodiscard]] bool StartMergeIfPairDone(int row);

 private:
  struct Worker {
    int row = 0;
    std::thread thread;
    std::shared_ptr<StreamDownloader> current;  // m_mutex
    bool cancelled = false;                     // m_mutex
    bool finished = false;                      // m_mutex
  };

  void RunDownload(Worker* worker, const DownloadRequest& request);  // download thread
  [[nodiscard]] TransferOutcome Attempt(Worker* worker, const DownloadRequest& request,
                                        const std::string& url);
  void RunMerge(const MergeHalves& halves);  // merge thread
  [[nodiscard]] Worker* AddWorker(int row);  // m_mutex held
  [[nodiscard]] bool Launch(Worker* worker, std::function<void()> body);
  void Finished(Worker* worker);
  [[nodiscard]] bool AllFinished() const;  // m_mutex held
  void ReapFinished();
  // List lock held by the callers of these two.
  [[nodiscard]] bool IsLateReport(const ProgressReport& report) const;
  void ShowFinalState(int row, std::string_view state, std::uint32_t color);

  AppState& m_state;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::list<Worker> m_workers;
  std::function<void(const DownloadEnd&)> m_onDownloadEnd;
  std::function<void(const MergeEnd&)> m_onMergeEnd;
  std::string m_ffmpeg;
  TransferTiming m_timing;
  // The last transfer that ended per row; under the list lock.
  std::map<int, std::uint64_t> m_endedTransfer;
};

}  // namespace korvid
