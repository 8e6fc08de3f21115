#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/stream_downloader.h"

namespace korvid {

// How the transfer of one file retries. Tests fill sleep and clock.
struct RetryPolicy {
  static constexpr int kDefaultRetries = 5;
  static constexpr std::int64_t kAddressLifetimeMs = 120LL * 60 * 1000;

  int retries = kDefaultRetries;  // 0: the first failure is the last
  int firstDelayMs = 1000;        // doubled per retry, with +-20 % jitter
  // The site's media addresses expire; an older one is renewed before use.
  std::int64_t addressLifetimeMs = kAddressLifetimeMs;
  int busyPollMs = 1000;  // how often a claimed target is asked for again
  // Waits ms; false when the download was cancelled meanwhile. Empty: a wait
  // that Cancel ends early.
  std::function<bool(int ms)> sleep;
  MillisecondClock clock;        // empty: the steady clock
  std::uint32_t jitterSeed = 0;  // 0: from the clock
};

// Something the row should show while the download waits.
struct FetchNotice {
  enum class Kind {
    kRetrying,        // attempt of attempts after reason, waiting delayMs
    kWaitingForFile,  // another download or merge writes the target
  };
  Kind kind = Kind::kRetrying;
  int attempt = 0;
  int attempts = 0;
  int delayMs = 0;
  std::string reason;
};

struct FetchRequest {
  std::vector<std::string> urls;  // the address, then its backups
  std::string targetPath;         // the final name; written as PartPathOf(it)
  std::string headerBlock;        // see StreamDownloader::Request
  // Reports as StreamDownloader gives them, one transfer as seen from the
  // outside: one kind 1, kind 2s, and one kind 3 after the last attempt
  // (after the rename of a complete file). Attempts' own ends are not passed.
  ProgressHandler handler;
  int userValue = 0;
  // Asks the site for new addresses (address first, then backups); empty
  // answer: none. Called on the download thread, at most once per download.
  std::function<std::vector<std::string>()> freshAddresses;
  // When urls were issued, on the policy's clock; negative: unknown.
  std::int64_t addressesIssuedMs = -1;
  // Called on the download thread.
  std::function<void(const FetchNotice&)> onNotice;
  // Optional: the bandwidth limit this download shares with others.
  std::shared_ptr<RateLimiter> limiter;
};

struct FetchResult {
  enum class End {
    kComplete,     // the target now holds the whole body
    kDoneByOther,  // another download wrote the target while this one waited
    kFailed,       // reason says why
    kCancelled,
    kDiskFull,    // ENOSPC: the part is kept
    kUnwritable,  // EACCES and the like: reason is the path
  };
  End end = End::kFailed;
  std::string reason;
  std::string url;           // the address tried last
  TransferOutcome last;      // of the last attempt
  std::int64_t total = 0;    // the body's length, once known
  std::int64_t fetched = 0;  // body bytes received over all attempts
  int retries = 0;           // retries used in all
  bool started = false;      // a kind 1 report was passed on
};

// Downloads one URL into one file so that the file is never seen half
// written and no received byte is fetched twice without need:
//  - claims the target (TargetLock); a claimed target is waited for;
//  - writes "<target>.part" and renames it over the target only when its
//    length is the body's length;
//  - continues a part left by an earlier attempt or run with Range when the
//    server confirms the same body (206, same total, same ETag and
//    Last-Modified as noted in the lock file); otherwise starts over;
//  - retries connection errors, drops, stalls, 5xx and 429 with exponential
//    back-off, up to policy.retries failures in a row (an attempt that
//    received bytes starts the count again); on 403/404/410 or an address past its lifetime asks
//    for fresh addresses once, then tries the backups.
// Run blocks on the caller's thread; Cancel may come from any thread.
class ResumableDownload {
 public:
  explicit ResumableDownload(TransferTiming timing = {}, RetryPolicy policy = {});
  ResumableDownload(const ResumableDownload&) = delete;
  ResumableDownload& operator=(const ResumableDownload&) = delete;

  [[nodiscard]] FetchResult Run(FetchRequest request);
  // Stops the download within about a second. keepPart false: the part and
  // its note are removed too (a finished target is never touched).
  void Cancel(bool keepPart = true);

 private:
  struct Run_;

  [[nodiscard]] TransferOutcome Attempt(Run_& run, std::int64_t resumeFrom);
  [[nodiscard]] bool Wait(int ms);
  [[nodiscard]] bool Cancelled() const;
  [[nodiscard]] int DelayMs(int retry);

  const TransferTiming m_timing;
  RetryPolicy m_policy;
  std::uint32_t m_jitterState = 0;

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_cancelled = false;                     // m_mutex
  bool m_keepPart = true;                       // m_mutex
  std::shared_ptr<StreamDownloader> m_current;  // m_mutex
};

}  // namespace korvid
