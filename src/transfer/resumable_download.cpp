#include "transfer/resumable_download.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <utility>

#include "transfer/completion_event.h"
#include "transfer/target_lock.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string NoteOf(const BodyIdentity& identity) {
  return std::to_string(identity.total) + "\n" + identity.etag + "\n" + identity.lastModified +
         "\n";
}

BodyIdentity ParseNote(const std::string& note) {
  std::istringstream in(note);
  BodyIdentity identity;
  std::string total;
  if (!std::getline(in, total) || !std::getline(in, identity.etag) ||
      !std::getline(in, identity.lastModified)) {
    return {};
  }
  try {
    identity.total = std::stoll(total);
  } catch (...) {
    return {};
  }
  return identity;
}

std::int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? 0 : static_cast<std::int64_t>(size);
}

// Identifies what sits at the target now, to see whether another writer
// replaced it while this download waited.
std::string FileStamp(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
         std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

bool IsDiskFull(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

bool IsUnwritable(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

bool IsAddressRefused(int status) {
  return status == 403 || status == 404 || status == 410;
}

bool IsPassing(int status) {
  return status >= 500 || status == 429 || status == 408;
}

std::string FolderOf(const std::string& path) {
  return fs::path(path).parent_path().string();
}

std::string ReasonOf(const TransferOutcome& outcome) {
  if (outcome.error == TransferError::kHttpStatus) {
    return "HTTP " + std::to_string(outcome.httpStatus);
  }
  if (outcome.error == TransferError::kNoData) return "empty answer";
  if (outcome.systemError != 0) return std::strerror(outcome.systemError);
  if (!outcome.detail.empty()) return outcome.detail;
  if (outcome.started && outcome.received != outcome.total) return "body broke off";
  return "transfer failed";
}

}  // namespace

// The state of one Run, on the download thread.
struct ResumableDownload::Run_ {
  FetchRequest request;
  std::string part;
  TargetLock lock;
  BodyIdentity noted;
  std::vector<std::string> urls;
  std::size_t index = 0;
  bool refreshed = false;
  FetchResult result;
  ProgressReport lastEnd;  // the last attempt's kind 3, passed on at the very end
  bool started = false;    // a kind 1 was passed on
};

ResumableDownload::ResumableDownload(TransferTiming timing, RetryPolicy policy)
    : m_timing(timing), m_policy(std::move(policy)) {
  if (!m_policy.clock) m_policy.clock = SteadyMs;
  m_jitterState =
      m_policy.jitterSeed != 0 ? m_policy.jitterSeed : static_cast<std::uint32_t>(SteadyMs()) | 1U;
}

void ResumableDownload::Cancel(bool keepPart) {
  std::shared_ptr<StreamDownloader> current;
  {
    std::lock_guard guard(m_mutex);
    m_cancelled = true;
    m_keepPart = m_keepPart && keepPart;
    current = m_current;
  }
  m_wake.notify_all();
  if (current) current->Cancel();
}

bool ResumableDownload::Cancelled() const {
  std::lock_guard guard(m_mutex);
  return m_cancelled;
}

bool ResumableDownload::Wait(int ms) {
  if (m_policy.sleep) return m_policy.sleep(ms) && !Cancelled();
  std::unique_lock held(m_mutex);
  m_wake.wait_for(held, std::chrono::milliseconds(ms), [this] { return m_cancelled; });
  return !m_cancelled;
}

// Exponential back-off with jitter, so that many rows that broke off at once
// do not come back at once.
int ResumableDownload::DelayMs(int retry) {
  m_jitterState = m_jitterState * 1664525U + 1013904223U;
  const double jitter = 0.8 + 0.4 * static_cast<double>(m_jitterState >> 8) / double(1U << 24);
  const double base = static_cast<double>(m_policy.firstDelayMs) * double(1U << (retry - 1));
  return static_cast<int>(base * jitter);
}

// One transfer from resumeFrom; its reports are passed on as one download's.
TransferOutcome ResumableDownload::Attempt(Run_& run, std::int64_t resumeFrom) {
  auto downloader = std::make_shared<StreamDownloader>(m_timing);
  {
    std::lock_guard guard(m_mutex);
    if (m_cancelled) return TransferOutcome::NotRun(TransferError::kCancelled, {});
    m_current = downloader;
  }
  CompletionEvent done;
  StreamDownloader::Request start;
  start.url = run.urls[run.index];
  start.targetPath = run.part;
  start.headerBlock = run.request.headerBlock;
  start.userValue = run.request.userValue;
  start.resumeFrom = resumeFrom;
  start.expected = run.noted;
  start.limiter = run.request.limiter.get();
  start.done = &done;
  // On the transfer and report threads, one call at a time.
  start.handler = [&run, raw = downloader.get()](const ProgressReport& report) {
    ProgressReport passed = report;
    if (report.kind == kReportStarted) {
      // Noted before a byte is written, so a kill leaves a part that a later
      // run can vouch for.
      run.lock.WriteNote(NoteOf(raw->Identity()));
      if (run.started) passed.kind = kReportProgress;
      run.started = true;
    } else if (report.kind == kReportEnded) {
      run.lastEnd = report;
      return;
    } else if (report.kind == kReportReadFailed) {
      return;
    }
    if (run.request.handler) run.request.handler(passed);
  };
  (void)downloader->StartTransfer(std::move(start));  // the event is signalled either way
  done.Wait();
  TransferOutcome outcome = downloader->Outcome();
  std::lock_guard guard(m_mutex);
  m_current.reset();
  return outcome;
}

FetchResult ResumableDownload::Run(FetchRequest request) {
  Run_ run;
  run.request = std::move(request);
  run.urls = run.request.urls;
  run.part = PartPathOf(run.request.targetPath);
  FetchResult& result = run.result;
  const std::string& target = run.request.targetPath;

  // One writer per target: wait for the other, then see what it left.
  const std::string stampBefore = FileStamp(target);
  bool waited = false;
  for (;;) {
    const TargetLock::Result claim = run.lock.TryAcquire(target);
    if (claim == TargetLock::Result::kHeld) break;
    if (claim == TargetLock::Result::kFailed) {
      result.end = IsDiskFull(run.lock.SystemError()) ? FetchResult::End::kDiskFull
                                                      : FetchResult::End::kUnwritable;
      result.reason = FolderOf(target);
      return result;
    }
    if (!waited && run.request.onNotice) {
      run.request.onNotice(FetchNotice{FetchNotice::Kind::kWaitingForFile, 0, 0, 0, {}});
    }
    waited = true;
    if (!Wait(m_policy.busyPollMs)) {
      result.end = FetchResult::End::kCancelled;
      return result;
    }
  }
  if (waited && FileStamp(target) != stampBefore && !FileStamp(target).empty()) {
    // The other writer removed its lock file; opening it made a new one.
    std::error_code ec;
    if (fs::exists(run.part, ec)) {
      run.lock.Release();
    } else {
      run.lock.ReleaseAndRemove();
    }
    result.end = FetchResult::End::kDoneByOther;
    result.total = FileSize(target);
    return result;
  }
  run.noted = ParseNote(run.lock.ReadNote());

  auto refresh = [&] {
    if (run.refreshed || !run.request.freshAddresses) return false;
    run.refreshed = true;
    std::vector<std::string> fresh = run.request.freshAddresses();
    if (fresh.empty()) return false;
    run.urls = std::move(fresh);
    run.index = 0;
    return true;
  };
  bool mismatchRetried = false;
  int failuresInARow = 0;
  for (;;) {
    if (Cancelled()) {
      result.end = FetchResult::End::kCancelled;
      break;
    }
    if (run.request.addressesIssuedMs >= 0 && !run.refreshed &&
        m_policy.clock() - run.request.addressesIssuedMs > m_policy.addressLifetimeMs) {
      (void)refresh();
    }
    if (run.urls.empty()) {
      result.reason = "no address";
      break;
    }
    result.url = run.urls[run.index];
    std::int64_t have = FileSize(run.part);
    // Without a note the part's bytes cannot be vouched for.
    if (run.noted.total <= 0 || have > run.noted.total) have = 0;

    TransferOutcome outcome;
    if (have > 0 && have == run.noted.total) {
      // A whole part whose rename did not happen (a kill in between).
      outcome.started = true;
      outcome.total = outcome.received = have;
      outcome.identity = run.noted;
    } else {
      outcome = Attempt(run, have);
    }
    result.last = outcome;
    result.fetched += outcome.fetched;
    if (outcome.started) {
      run.noted = outcome.identity;
      result.total = outcome.total;
    }
    if (outcome.Complete()) {
      if (FileSize(run.part) == outcome.total && ::rename(run.part.c_str(), target.c_str()) == 0) {
        result.end = FetchResult::End::kComplete;
        run.lock.ReleaseAndRemove();
        break;
      }
      result.end = FetchResult::End::kUnwritable;
      result.reason = FolderOf(target);
      break;
    }
    const std::string reason = ReasonOf(outcome);
    if (outcome.error == TransferError::kCancelled) {
      result.end = FetchResult::End::kCancelled;
      break;
    }
    if (outcome.error == TransferError::kResumeMismatch && !mismatchRetried) {
      mismatchRetried = true;  // the server has another body now: start over
      run.noted = {};
      std::error_code ec;
      fs::remove(run.part, ec);
      continue;
    }
    if (outcome.error == TransferError::kWrite || outcome.error == TransferError::kFileOpen) {
      result.end = IsDiskFull(outcome.systemError)     ? FetchResult::End::kDiskFull
                   : IsUnwritable(outcome.systemError) ? FetchResult::End::kUnwritable
                                                       : FetchResult::End::kFailed;
      result.reason = result.end == FetchResult::End::kUnwritable ? FolderOf(target) : reason;
      break;
    }
    const bool refused =
        outcome.error == TransferError::kHttpStatus && IsAddressRefused(outcome.httpStatus);
    const bool unreachable = outcome.error == TransferError::kConnect && !outcome.started;
    if (refused || unreachable) {
      if (refused && refresh()) continue;
      if (run.index + 1 < run.urls.size()) {
        ++run.index;
        continue;
      }
      if (refused) {
        result.reason = reason;
        break;
      }
    }
    const bool passing =
        outcome.error == TransferError::kConnect || outcome.error == TransferError::kRead ||
        outcome.error == TransferError::kNoData ||
        outcome.error == TransferError::kResumeMismatch ||
        (outcome.error == TransferError::kHttpStatus && IsPassing(outcome.httpStatus)) ||
        (outcome.error == TransferError::kNone && !outcome.Complete());
    // An attempt that moved the part on starts the count again: a long
    // file on a line that drops now and then still arrives.
    if (outcome.fetched > 0) failuresInARow = 0;
    if (!passing || failuresInARow >= m_policy.retries) {
      result.reason = reason;
      break;
    }
    ++result.retries;
    ++failuresInARow;
    const int delay = DelayMs(failuresInARow);
    if (run.request.onNotice) {
      run.request.onNotice(FetchNotice{FetchNotice::Kind::kRetrying, failuresInARow,
                                       m_policy.retries, delay, reason});
    }
    if (!Wait(delay)) {
      result.end = FetchResult::End::kCancelled;
      break;
    }
  }
  bool keepPart = true;
  {
    std::lock_guard guard(m_mutex);
    keepPart = m_keepPart;
  }
  if (result.end == FetchResult::End::kCancelled && !keepPart) {
    std::error_code ec;
    fs::remove(run.part, ec);
    run.lock.ReleaseAndRemove();
  }
  result.started = run.started;
  if (run.started && run.request.handler) {
    ProgressReport end = run.lastEnd;
    end.kind = kReportEnded;
    end.total = result.total;
    end.received = result.end == FetchResult::End::kComplete ? result.total : FileSize(run.part);
    end.remaining = end.total - end.received;
    run.request.handler(end);
  }
  return result;
}

}  // namespace korvid
