#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "net/user_agents.h"
#include "transfer/completion_event.h"
#include "transfer/periodic_thread.h"
#include "transfer/rate_limiter.h"
#include "transfer/speed_sampler.h"

namespace korvid {

enum ReportKind : int {
  kReportStarted = 1,
  kReportProgress = 2,
  kReportEnded = 3,
  kReportReadFailed = -1,
};

// One progress report of a transfer.
struct ProgressReport {
  int userValue = 0;           // the caller's value, passed back unchanged
  int kind = 0;                // ReportKind
  std::int64_t total = 0;      // Content-Length; 0 when the server sent none
  std::int64_t received = 0;   // body bytes so far
  std::int64_t remaining = 0;  // 0 when the total is unknown
  float fraction = 0.0F;       // 0..1; 0 when the total is unknown
  float speed = 0.0F;          // KiB/s, mean of the last samples
  int elapsedMs = 0;           // since the target file was opened
  std::string targetPath;
  std::uint64_t transferId = 0;  // unique per transfer in this process
};

// Called on the transfer thread (kinds 1, -1 and 3) and on the report timer's
// thread (kind 2), one call at a time and in the order 1, 2..., -1, 3.
using ProgressHandler = std::function<void(const ProgressReport&)>;

// Milliseconds of a monotonic clock; tests inject their own.
using MillisecondClock = std::function<std::int64_t()>;

struct TransferTiming {
  int firstReportDelayMs = 500;
  int reportIntervalMs = 495;
  long connectTimeoutMs = 60000;
  // A transfer that moves no byte for this long is ended as broken off.
  long stallTimeoutSeconds = 30;
};

enum class TransferError {
  kNone,
  kNotStarted,  // empty URL or path, or no thread to run it on
  kConnect,     // the address, name resolution, connection or TLS failed
  kHttpStatus,  // the server answered with an error status
  kNoData,      // the answer had no body
  kFileOpen,    // the target file could not be opened
  kRead,        // the body broke off
  kWrite,       // the target file could not be written
  kCancelled,   // StopTransfer
  // A resume answered 206 for another range, another total length or
  // another ETag/Last-Modified than the part already held: start over.
  kResumeMismatch,
};

// What identifies the body a part file holds: a resumed answer must name
// the same total and, where the first answer had them, the same validators.
struct BodyIdentity {
  std::int64_t total = 0;
  std::string etag;
  std::string lastModified;
};

// How a transfer ended; read it once the completion event is signalled.
struct TransferOutcome {
  TransferError error = TransferError::kNone;
  bool started = false;  // the file was opened and kind 1 reported
  int httpStatus = 0;    // final status, 0 when no answer arrived
  std::int64_t total = 0;
  std::int64_t received = 0;  // bytes now in the file
  std::int64_t fetched = 0;   // body bytes this transfer received
  std::string detail;         // libcurl's message for a failure
  int systemError = 0;        // errno of a failed open or write
  BodyIdentity identity;      // of the answer, once started

  // A transfer that ended before any answer.
  [[nodiscard]] static TransferOutcome NotRun(TransferError error, std::string why) {
    TransferOutcome outcome;
    outcome.error = error;
    outcome.detail = std::move(why);
    return outcome;
  }

  [[nodiscard]] bool Complete() const {
    return started && error == TransferError::kNone && received == total;
  }
};

// Streams one URL into one file on a thread of its own: GET with the header
// block and "Range:bytes=N-", no cookies, certificates verified, redirects
// followed. The file is opened when the first body bytes arrive; a 200 answer
// writes it from offset 0, a 206 answer for exactly N (with the expected
// identity) keeps its first N bytes and continues there. The body is written
// by a FileWriter, on a thread of its own and not kept in the page cache, in a
// few fixed buffers, so receiving never waits for the disk and memory stays the
// same whatever the file size; the transfer ends when the bytes are on the
// disk. A regular file is cut to the received length at the end; any other
// target (/dev/null, a pipe) is only written. Nothing is retried: see
// ResumableDownload. One object serves one transfer.
class StreamDownloader {
 public:
  static constexpr std::string_view kDefaultAgent = kStreamAgent;
  static constexpr long kReceiveBufferBytes = 1024 * 1024;
  static constexpr long kLimitedBufferBytes = 16 * 1024;

  struct Request {
    std::string url;
    std::string targetPath;
    // Lines separated by CR LF. The first is the user agent (a leading
    // "User-Agent:" is dropped), every further "Name: value" line is sent as
    // a header of its own. Empty: kDefaultAgent alone.
    std::string headerBlock;
    ProgressHandler handler;  // empty: no reports and no timer
    int userValue = 0;
    // Signalled when the transfer has ended, also when nothing could start.
    // Must outlive the transfer.
    CompletionEvent* done = nullptr;
    // Bytes of the file already held: asked for with "Range:bytes=N-".
    std::int64_t resumeFrom = 0;
    // With resumeFrom: what the answer must match (empty fields match all).
    BodyIdentity expected;
    // Optional, shared with other transfers; must outlive the transfer.
    RateLimiter* limiter = nullptr;
  };

  explicit StreamDownloader(TransferTiming timing = {}, MillisecondClock clock = {});
  // Stops a running transfer and waits for its thread.
  ~StreamDownloader();
  StreamDownloader(const StreamDownloader&) = delete;
  StreamDownloader& operator=(const StreamDownloader&) = delete;

  // Returns at once. False when nothing was started (empty URL or path, no
  // thread, or already used); the completion event is then signalled here.
  [[nodiscard]] bool StartTransfer(Request request);
  // Cancels the transfer (within about a second) and waits for its thread;
  // the file keeps what arrived and kind 3 is still reported.
  void StopTransfer();
  // Asks the transfer to stop and returns at once (any thread; also safe in a
  // signal handler).
  void Cancel() { m_cancel = true; }
  // Builds and delivers one report of that kind.
  void ReportProgress(int kind);

  [[nodiscard]] TransferOutcome Outcome() const;
  // The answer's identity; set before the kind 1 report.
  [[nodiscard]] BodyIdentity Identity() const;

 private:
  struct Session;

  void Transfer();  // the transfer thread
  // libcurl's callbacks, on the transfer thread.
  bool Receive(Session& session, const char* data, std::size_t size);
  bool OpenTarget(Session& session);
  [[nodiscard]] bool AcceptRange(Session& session, long status);
  void Finish(Session& session, int curlCode, const std::string& curlMessage);
  void EndTransfer(TransferOutcome outcome);

  const TransferTiming m_timing;
  const MillisecondClock m_clock;
  Request m_request;
  std::thread m_thread;
  std::atomic<bool> m_cancel{false};
  std::uint64_t m_transferId = 0;

  std::atomic<std::int64_t> m_total{0};
  std::atomic<std::int64_t> m_received{0};
  std::atomic<std::int64_t> m_startTick{0};

  std::mutex m_reportMutex;  // one report at a time, in order
  std::int64_t m_previousReceived = 0;
  SpeedSampler m_sampler;
  PeriodicThread m_timer;

  mutable std::mutex m_outcomeMutex;
  TransferOutcome m_outcome;
  BodyIdentity m_identity;  // m_outcomeMutex
};

}  // namespace korvid
