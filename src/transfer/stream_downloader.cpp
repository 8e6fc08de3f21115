#include "transfer/stream_downloader.h"
#include "net/curl_global.h"
#include "transfer/file_writer.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace korvid {
namespace {

constexpr long kMaxRedirects = 10;
constexpr float kBytesPerSampleUnit = 512.0F;

std::atomic<std::uint64_t> g_lastTransferId{0};

std::int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::vector<std::string_view> Lines(std::string_view block) {
  std::vector<std::string_view> lines;
  while (!block.empty()) {
    const std::size_t end = block.find('\n');
    lines.push_back(Trim(block.substr(0, end)));
    if (end == std::string_view::npos) break;
    block.remove_prefix(end + 1);
  }
  return lines;
}

bool IsHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  return std::none_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) ||
           std::iscntrl(static_cast<unsigned char>(c));
  });
}

struct HeaderBlock {
  std::string agent;
  std::vector<std::string> headers;
};

// The first line is the agent. Sent verbatim it would arrive as
// "User-Agent: User-Agent: ...", so its own prefix is dropped. The one Range
// header is ours: a Range line of the caller would make two.
HeaderBlock ParseHeaderBlock(std::string_view block, std::int64_t resumeFrom) {
  HeaderBlock parsed;
  const std::vector<std::string_view> lines = Lines(block);
  if (lines.empty() || lines.front().empty()) {
    parsed.agent = StreamDownloader::kDefaultAgent;
  } else {
    std::string_view agent = lines.front();
    if (StartsWithNoCase(agent, "User-Agent:")) agent = Trim(agent.substr(11));
    parsed.agent = agent;
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (IsHeaderLine(lines[i]) && !StartsWithNoCase(lines[i], "Range:")) {
      parsed.headers.emplace_back(lines[i]);
    }
  }
  parsed.headers.push_back("Range:bytes=" + std::to_string(resumeFrom) + "-");
  return parsed;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

// "bytes S-E/T" of a 206 answer.
struct ContentRange {
  std::int64_t first = -1;
  std::int64_t total = -1;
};

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  value = Trim(value);
  if (!StartsWithNoCase(value, "bytes")) return std::nullopt;
  value = Trim(value.substr(5));
  ContentRange range;
  const char* end = value.data() + value.size();
  auto [dash, e1] = std::from_chars(value.data(), end, range.first);
  if (e1 != std::errc() || dash == end || *dash != '-') return std::nullopt;
  const char* slash = std::find(dash, end, '/');
  if (slash == end) return std::nullopt;
  auto [last, e2] = std::from_chars(slash + 1, end, range.total);
  if (e2 != std::errc() || last != end || range.total <= range.first) return std::nullopt;
  return range;
}

// Header "Name: value" → value, when the line has that name.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':' || !StartsWithNoCase(line, name)) {
    return std::nullopt;
  }
  return Trim(line.substr(name.size() + 1));
}

}  // namespace

// What the transfer thread alone touches while libcurl runs.
struct StreamDownloader::Session {
  StreamDownloader* owner = nullptr;
  CURL* curl = nullptr;
  int fd = -1;
  bool regularFile = false;
  std::unique_ptr<FileWriter> writer;
  std::int64_t written = 0;                      // the file's length once the writer has finished
  TransferError refusal = TransferError::kNone;  // set when a callback stopped libcurl
  int httpStatus = 0;
  int systemError = 0;
  std::int64_t fetched = 0;
  // Of the latest answer (a redirect's are dropped at the next status line).
  std::string etag, lastModified, contentRange;
};

StreamDownloader::StreamDownloader(TransferTiming timing, MillisecondClock clock)
    : m_timing(timing), m_clock(clock ? std::move(clock) : MillisecondClock(SteadyMilliseconds)) {}

StreamDownloader::~StreamDownloader() {
  StopTransfer();
}

bool StreamDownloader::StartTransfer(Request request) {
  CompletionEvent* done = request.done;
  auto refuse = [&] {
    if (done != nullptr) done->Signal();
    return false;
  };
  if (m_transferId != 0) return refuse();
  m_transferId = ++g_lastTransferId;
  m_request = std::move(request);
  if (m_request.url.empty() || m_request.targetPath.empty()) {
    EndTransfer(TransferOutcome::NotRun(TransferError::kNotStarted, "empty address"));
    return false;
  }
  try {
    m_thread = std::thread(&StreamDownloader::Transfer, this);
  } catch (const std::system_error&) {
    EndTransfer(TransferOutcome::NotRun(TransferError::kNotStarted, "no thread"));
    return false;
  }
  return true;
}

void StreamDownloader::StopTransfer() {
  m_cancel = true;
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

TransferOutcome StreamDownloader::Outcome() const {
  std::lock_guard guard(m_outcomeMutex);
  return m_outcome;
}

BodyIdentity StreamDownloader::Identity() const {
  std::lock_guard guard(m_outcomeMutex);
  return m_identity;
}

void StreamDownloader::ReportProgress(int kind) {
  if (!m_request.handler) return;
  std::lock_guard guard(m_reportMutex);
  ProgressReport report;
  report.userValue = m_request.userValue;
  report.kind = kind;
  report.total = m_total.load();
  report.received = m_received.load();
  if (report.total != 0) {
    report.remaining = report.total - report.received;
    report.fraction = static_cast<float>(static_cast<double>(report.received) /
                                         static_cast<double>(report.total));
  }
  if (report.received > 0) {
    m_sampler.AddSample(static_cast<float>(report.received - m_previousReceived) /
                        kBytesPerSampleUnit);
    m_previousReceived = report.received;
    report.speed = m_sampler.AverageSpeed();
  }
  report.elapsedMs = static_cast<int>(m_clock() - m_startTick.load());
  report.targetPath = m_request.targetPath;
  report.transferId = m_transferId;
  try {
    m_request.handler(report);
  } catch (...) {
    // The handler belongs to the caller; a throw must not end the transfer.
  }
}

void StreamDownloader::Transfer() {
  EnsureCurlInitialised();
  Session session;
  session.owner = this;
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    Finish(session, CURLE_FAILED_INIT, "no transfer handle");
    return;
  }
  session.curl = curl.get();
  const HeaderBlock block = ParseHeaderBlock(m_request.headerBlock, m_request.resumeFrom);
  curl_slist* headers = nullptr;
  for (const std::string& line : block.headers) headers = curl_slist_append(headers, line.c_str());
  std::unique_ptr<curl_slist, SlistDeleter> headerList(headers);

  using WriteFn = size_t (*)(char*, size_t, size_t, void*);
  using InfoFn = int (*)(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  const WriteFn onBody = [](char* data, size_t size, size_t count, void* user) -> size_t {
    auto* s = static_cast<Session*>(user);
    return s->owner->Receive(*s, data, size * count) ? size * count : 0;
  };
  const WriteFn onHeader = [](char* data, size_t size, size_t count, void* user) -> size_t {
    auto* s = static_cast<Session*>(user);
    const std::string_view line = Trim(std::string_view(data, size * count));
    if (line.starts_with("HTTP/")) {
      s->etag.clear();
      s->lastModified.clear();
      s->contentRange.clear();
    } else if (auto etag = HeaderValue(line, "ETag")) {
      s->etag = *etag;
    } else if (auto modified = HeaderValue(line, "Last-Modified")) {
      s->lastModified = *modified;
    } else if (auto range = HeaderValue(line, "Content-Range")) {
      s->contentRange = *range;
    }
    return size * count;
  };
  const InfoFn onTick = [](void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
    return static_cast<Session*>(user)->owner->m_cancel.load() ? 1 : 0;
  };
  char error[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, m_request.url.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, block.agent.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  // Under a bandwidth limit the body arrives in small pieces, so the limiter's
  // waits stay short and even, never long enough to look like a stall.
  const bool limited = m_request.limiter != nullptr && m_request.limiter->BytesPerSecond() > 0;
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, limited ? kLimitedBufferBytes : kReceiveBufferBytes);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, m_timing.connectTimeoutMs);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, m_timing.stallTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &session);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &session);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onTick);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &session);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  const CURLcode code = curl_easy_perform(c);
  std::string message = error[0] != '\0' ? error : curl_easy_strerror(code);
  Finish(session, code, message);
}

bool StreamDownloader::Receive(Session& session, const char* data, std::size_t size) {
  if (m_cancel) return false;
  if (session.fd < 0 && !OpenTarget(session)) return false;
  // Waiting here holds libcurl back, and the socket's window slows the sender.
  if (m_request.limiter != nullptr &&
      !m_request.limiter->Acquire(static_cast<std::int64_t>(size), m_cancel)) {
    return false;
  }
  if (!session.writer->Append(data, size)) return false;
  m_received += static_cast<std::int64_t>(size);
  session.fetched += static_cast<std::int64_t>(size);
  return true;
}

// A 206 continues the part only for the asked offset and the same body.
bool StreamDownloader::AcceptRange(Session& session, long status) {
  std::int64_t total = 0;
  std::int64_t first = 0;
  if (status == 206) {
    const std::optional<ContentRange> range = ParseContentRange(session.contentRange);
    if (!range) return false;
    first = range->first;
    total = range->total;
  } else {
    curl_off_t length = -1;
    curl_easy_getinfo(session.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    total = length > 0 ? static_cast<std::int64_t>(length) : 0;
  }
  const BodyIdentity& expected = m_request.expected;
  if (status == 206 &&
      (first != m_request.resumeFrom || (expected.total > 0 && expected.total != total) ||
       (!expected.etag.empty() && expected.etag != session.etag) ||
       (!expected.lastModified.empty() && expected.lastModified != session.lastModified))) {
    return false;
  }
  session.written = first;
  m_total = total;
  m_received = first;
  m_previousReceived = first;
  std::lock_guard guard(m_outcomeMutex);
  m_identity = BodyIdentity{total, session.etag, session.lastModified};
  return true;
}

// Runs with the first body bytes: an error answer never touches the file.
bool StreamDownloader::OpenTarget(Session& session) {
  long status = 0;
  curl_easy_getinfo(session.curl, CURLINFO_RESPONSE_CODE, &status);
  session.httpStatus = static_cast<int>(status);
  if (status < 200 || status > 299) {
    session.refusal = TransferError::kHttpStatus;
    return false;
  }
  if (!AcceptRange(session, status)) {
    session.refusal = TransferError::kResumeMismatch;
    return false;
  }
  // A whole body (200, or 206 from 0) replaces what the file held.
  const int truncate = session.written == 0 ? O_TRUNC : 0;
  session.fd =
      ::open(m_request.targetPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | truncate, 0644);
  if (session.fd < 0) {
    session.systemError = errno;
    session.refusal = TransferError::kFileOpen;
    return false;
  }
  if (session.written > 0 && ::lseek(session.fd, session.written, SEEK_SET) != session.written) {
    session.systemError = errno;
    ::close(session.fd);
    session.fd = -1;
    session.refusal = TransferError::kFileOpen;
    return false;
  }
  struct stat info {};
  session.regularFile = ::fstat(session.fd, &info) == 0 && S_ISREG(info.st_mode);
  session.writer = std::make_unique<FileWriter>();
  if (!session.writer->Start(session.fd, session.written, session.regularFile)) {
    session.systemError = EAGAIN;
    ::close(session.fd);
    session.fd = -1;
    session.refusal = TransferError::kFileOpen;
    return false;
  }
  m_startTick = m_clock();
  if (m_request.handler) {
    m_timer.StartPeriodic([this](int kind) { ReportProgress(kind); }, m_timing.reportIntervalMs,
                          m_timing.firstReportDelayMs, kReportProgress, true);
    ReportProgress(kReportStarted);
  }
  return true;
}

void StreamDownloader::Finish(Session& session, int curlCode, const std::string& curlMessage) {
  TransferOutcome outcome;
  outcome.httpStatus = session.httpStatus;
  if (outcome.httpStatus == 0 && session.curl != nullptr) {
    long status = 0;
    curl_easy_getinfo(session.curl, CURLINFO_RESPONSE_CODE, &status);
    outcome.httpStatus = static_cast<int>(status);
  }
  if (curlCode != CURLE_OK) outcome.detail = curlMessage;
  outcome.systemError = session.systemError;
  outcome.fetched = session.fetched;
  if (session.fd < 0) {
    if (session.refusal != TransferError::kNone) {
      outcome.error = session.refusal;
    } else if (curlCode == CURLE_HTTP_RETURNED_ERROR) {
      outcome.error = TransferError::kHttpStatus;
    } else if (m_cancel) {
      outcome.error = TransferError::kCancelled;
    } else {
      outcome.error = curlCode == CURLE_OK ? TransferError::kNoData : TransferError::kConnect;
    }
    EndTransfer(std::move(outcome));
    return;
  }
  m_timer.Terminate();  // waits for a report in progress, so none comes after the end
  // Whatever arrived is kept, also when the body broke off.
  const bool flushed = session.writer->Finish();
  session.written = session.writer->End();
  if (!flushed) {
    outcome.systemError = session.writer->SystemError();
    outcome.error = TransferError::kWrite;
  } else if (m_cancel) {
    outcome.error = TransferError::kCancelled;
  } else if (curlCode != CURLE_OK) {
    outcome.error = TransferError::kRead;
  }
  // Cut an older, longer file at the new length; /dev/null or a pipe has none.
  if (session.regularFile && ::ftruncate(session.fd, session.written) != 0 &&
      outcome.error == TransferError::kNone) {
    outcome.systemError = errno;
    outcome.error = TransferError::kWrite;
  }
  ::close(session.fd);
  session.fd = -1;
  m_received = session.written;
  // Without a Content-Length only a clean end tells the body is whole.
  if (m_total == 0 && outcome.error == TransferError::kNone) m_total = session.written;
  outcome.started = true;
  outcome.total = m_total;
  outcome.received = session.written;
  outcome.identity = Identity();
  outcome.identity.total = m_total;
  if (outcome.error == TransferError::kRead || outcome.error == TransferError::kWrite) {
    ReportProgress(kReportReadFailed);
  }
  ReportProgress(kReportEnded);
  EndTransfer(std::move(outcome));
}

void StreamDownloader::EndTransfer(TransferOutcome outcome) {
  {
    std::lock_guard guard(m_outcomeMutex);
    m_outcome = std::move(outcome);
  }
  if (m_request.done != nullptr) m_request.done->Signal();
}

}  // namespace korvid
