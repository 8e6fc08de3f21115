#include "net/http_client.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "net/curl_global.h"
#include "net/http_text.h"
#include "net/regex_matcher.h"
#include "net/text_codec.h"
#include "net/user_agents.h"

namespace korvid {
namespace {

constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";

constexpr long kRequestDefaultMs = 15000;
constexpr long kDirectDefaultMs = 30000;
constexpr long kLongestTimeoutSeconds = 24L * 60 * 60;
constexpr HttpTimeouts kPlainGetTimeouts{15000, 15000};
constexpr HttpTimeouts kContentLengthTimeouts{5000, 10000};
constexpr long kMaxRedirects = 10;
constexpr std::size_t kCharsetSearchLength = 1024;

// One connection cache (with the name and TLS session caches) for every
// request handle of the process: a request reuses an idle keep-alive
// connection to its host whichever handle opened it, so a loop of requests
// costs one connection (and, against the real site, one TLS handshake) per
// worker and host instead of one per request. libcurl drops a connection
// that failed or that the server closed, and opens a new one. Cookies are
// not shared: each request sends only its own.
class SharedConnections {
 public:
  SharedConnections() : m_share(curl_share_init()) {
    if (m_share == nullptr) return;
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &SharedConnections::Lock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &SharedConnections::Unlock);
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
    for (const curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
      curl_share_setopt(m_share, CURLSHOPT_SHARE, data);
    }
  }
  SharedConnections(const SharedConnections&) = delete;
  SharedConnections& operator=(const SharedConnections&) = delete;

  [[nodiscard]] CURLSH* Share() const { return m_share; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedConnections*>(self)->MutexOf(data).lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedConnections*>(self)->MutexOf(data).unlock();
  }
  std::mutex& MutexOf(curl_lock_data data) {
    const auto index = static_cast<std::size_t>(data);
    return m_mutexes[index < m_mutexes.size() ? index : 0];
  }

  CURLSH* m_share;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> m_mutexes;
};

// Lives until the process ends: handles of threads still running at exit may
// use it.
CURLSH* ConnectionShare() {
  static SharedConnections* const shared = new SharedConnections();
  return shared->Share();
}

struct UrlParts {
  std::string scheme;
  std::string host;
  std::string port;
};

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) return std::nullopt;
  std::string value(text);
  curl_free(text);
  return value;
}

// Only absolute http and https addresses are requested.
std::optional<UrlParts> ParseUrl(std::string_view url) {
  EnsureCurlInitialised();
  std::unique_ptr<CURLU, CurlUrlDeleter> handle(curl_url());
  if (!handle) return std::nullopt;
  const std::string text(url);
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return std::nullopt;
  std::optional<std::string> scheme = UrlPart(handle.get(), CURLUPART_SCHEME);
  std::optional<std::string> host = UrlPart(handle.get(), CURLUPART_HOST);
  std::optional<std::string> port = UrlPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || host->empty()) return std::nullopt;
  if (!EqualsIgnoreCase(*scheme, "http") && !EqualsIgnoreCase(*scheme, "https")) {
    return std::nullopt;
  }
  return UrlParts{std::move(*scheme), std::move(*host), port.value_or("")};
}

bool SameOrigin(const UrlParts& a, const UrlParts& b) {
  return EqualsIgnoreCase(a.scheme, b.scheme) && EqualsIgnoreCase(a.host, b.host) &&
         a.port == b.port;
}

bool IsAddressLiteral(const std::string& host) {
  in_addr v4{};
  return host.find(':') != std::string::npos || host.starts_with('[') ||
         inet_pton(AF_INET, host.c_str(), &v4) == 1;
}

// "passport.example.com" -> "example.com"; empty when nothing sensible is left
// (an address, or a name of two labels or fewer).
std::string ParentDomain(const std::string& host) {
  if (IsAddressLiteral(host)) return {};
  const std::size_t dot = host.find('.');
  if (dot == std::string::npos) return {};
  std::string parent = host.substr(dot + 1);
  return parent.find('.') == std::string::npos ? std::string() : parent;
}

// Whether cookies from `answered` may join those of `asked`: the same host, or
// hosts of one parent domain, as a browser would let them share cookies.
bool SameSite(const UrlParts& asked, const UrlParts& answered) {
  if (EqualsIgnoreCase(asked.host, answered.host)) return true;
  const std::string askedParent = ParentDomain(asked.host);
  const std::string answeredParent = ParentDomain(answered.host);
  return (!askedParent.empty() && EqualsIgnoreCase(askedParent, answeredParent)) ||
         (!askedParent.empty() && EqualsIgnoreCase(askedParent, answered.host)) ||
         (!answeredParent.empty() && EqualsIgnoreCase(answeredParent, asked.host));
}

bool IsLoopbackHost(std::string host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  host = host.substr(0, host.find('%'));  // an IPv6 zone id
  if (EqualsIgnoreCase(host, "localhost")) return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
  }
  return false;
}

bool IsPlainHttp(const UrlParts& url) {
  return EqualsIgnoreCase(url.scheme, "http");
}

bool CarriesCookie(const std::vector<std::string>& headerLines) {
  return std::any_of(headerLines.begin(), headerLines.end(), [](const std::string& line) {
    return EqualsIgnoreCase(HeaderName(line), "Cookie") && !HeaderValue(line).empty();
  });
}

// The log-in cookie unlocks the account: it must never cross the network in
// clear text. Plain http stays allowed on loopback, where nothing is exposed.
bool RefusesCookies(const UrlParts& url, const std::vector<std::string>& headerLines) {
  return IsPlainHttp(url) && !IsLoopbackHost(url.host) && CarriesCookie(headerLines);
}

void AppendLineIfMissing(std::string& headers, std::string_view name, std::string_view value) {
  if (HasHeaderName(headers, name)) return;
  headers += "\r\n";
  headers += name;
  headers += ": ";
  headers += value;
}

// "Name: value" for every line that names a header, in text order.
std::vector<std::string> HeaderLinesOf(std::string_view headers) {
  std::vector<std::string> lines;
  for (std::string_view line : SplitHeaderLines(headers)) {
    const std::string name = HeaderName(line);
    if (name.empty() || IsKeepAliveLine(line)) continue;
    lines.push_back(name + ": " + HeaderValue(line));
  }
  return lines;
}

std::string CookieLine(const std::string* cookies) {
  if (cookies == nullptr) return {};
  const std::string text = FoldCookieLines(StripCookiePrefix(*cookies));
  return text.empty() ? std::string() : "Cookie: " + text;
}

bool HasLine(const std::vector<std::string>& lines, std::string_view name) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return EqualsIgnoreCase(HeaderName(line), name);
  });
}

const std::string& PayloadOf(const HttpOptions& options) {
  return options.binaryBody.empty() ? options.body : options.binaryBody;
}

std::string CaFileOf(const HttpOptions& options) {
  if (!options.caFile.empty()) return options.caFile;
  const char* fromEnvironment = std::getenv("KORVID_CA_FILE");
  return fromEnvironment == nullptr ? std::string() : std::string(fromEnvironment);
}

struct EngineRequest {
  std::string url;
  int method = 0;
  std::string_view payload;
  std::vector<std::string> headerLines;  // sent in this order
  std::string userAgent;                 // empty: no User-Agent besides the lines
  bool followRedirects = true;
  bool httpsOnlyRedirects = false;
  std::string proxy;
  long proxyType = CURLPROXY_HTTP;
  std::string proxyUser;  // Basic, sent with the first request
  std::string proxyPassword;
  std::string serverUser;
  std::string serverPassword;
  unsigned long serverAuth = CURLAUTH_BASIC;
  HttpTimeouts timeouts;
  std::string caFile;
  std::size_t maxBodyBytes = kMaxResponseBytes;
  long deadlineMs = kRequestDeadlineMs;
};

struct EngineResult {
  HttpFailure failure = HttpFailure::kNone;
  std::string body;
  std::string headers;
  int status = 0;
  // The answer came from the host asked or one of its parent domain, so its
  // cookies belong with the caller's.
  bool cookiesTrusted = true;
};

// What one answer brought. With redirects followed, each answer starts afresh,
// so only the last answer's headers and body are kept.
struct Received {
  std::string body;
  std::vector<std::string> headerLines;
  bool sawStatusLine = false;
  bool expectsBody = true;  // false for HEAD
  std::size_t maxBody = kMaxResponseBytes;
  bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* received = static_cast<Received*>(user);
  const std::size_t bytes = size * count;
  if (bytes > received->maxBody - received->body.size()) {
    received->tooLarge = true;
    return 0;  // ends the transfer
  }
  received->body.append(data, bytes);
  return bytes;
}

// A length beyond the limit (or beyond 64 bits) is refused before a byte of
// the body arrives; a length the transport ignored would let a short body
// pass for a whole one.
bool AnnouncesTooMuch(const Received& received, std::string_view line) {
  if (!received.expectsBody || !EqualsIgnoreCase(HeaderName(line), "Content-Length")) return false;
  const std::string value = HeaderValue(line);
  std::uint64_t length = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
  if (error == std::errc::result_out_of_range) return true;
  return error == std::errc() && end == value.data() + value.size() && length > received.maxBody;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* received = static_cast<Received*>(user);
  std::string_view line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.substr(0, 5) == "HTTP/") {
    received->headerLines.clear();
    received->sawStatusLine = true;
  } else if (!line.empty()) {
    if (AnnouncesTooMuch(*received, line)) {
      received->tooLarge = true;
      return 0;
    }
    received->headerLines.emplace_back(line);
  }
  return size * count;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, SlistDeleter>;

[[nodiscard]] bool Append(CurlList& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  (void)list.release();  // grown is the same list, one line longer
  list.reset(grown);
  return true;
}

template <typename Value>
[[nodiscard]] bool Set(CURL* curl, CURLoption option, Value value) {
  return curl_easy_setopt(curl, option, value) == CURLE_OK;
}

bool ApplyBasics(CURL* curl, const EngineRequest& request, Received& received) {
  // HTTP/2 where a TLS server offers it, else HTTP/1.1. The Set-Cookie and
  // Location lines are found by name in either case.
  CURLSH* share = ConnectionShare();
  return Set(curl, CURLOPT_URL, request.url.c_str()) && Set(curl, CURLOPT_NOSIGNAL, 1L) &&
         (share == nullptr || Set(curl, CURLOPT_SHARE, share)) &&
         Set(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS)) &&
         Set(curl, CURLOPT_PROTOCOLS_STR, "http,https") &&
         Set(curl, CURLOPT_WRITEFUNCTION, &OnBody) && Set(curl, CURLOPT_WRITEDATA, &received) &&
         Set(curl, CURLOPT_HEADERFUNCTION, &OnHeader) && Set(curl, CURLOPT_HEADERDATA, &received) &&
         (request.userAgent.empty() || Set(curl, CURLOPT_USERAGENT, request.userAgent.c_str()));
}

// POST and PUT always carry a body, if only an empty one with its length, so
// that the server does not wait for one.
bool SendsBody(const EngineRequest& request) {
  const auto method = static_cast<HttpMethod>(request.method);
  if (method == HttpMethod::kHead) return false;
  return method == HttpMethod::kPost || method == HttpMethod::kPut || !request.payload.empty();
}

bool ApplyMethod(CURL* curl, const EngineRequest& request) {
  const auto method = static_cast<HttpMethod>(request.method);
  if (method == HttpMethod::kHead) return Set(curl, CURLOPT_NOBODY, 1L);
  const bool sendsBody = SendsBody(request);
  if (method != HttpMethod::kPost && (method != HttpMethod::kGet || sendsBody) &&
      !Set(curl, CURLOPT_CUSTOMREQUEST, HttpMethodName(request.method))) {
    return false;
  }
  if (!sendsBody) return true;
  const char* data = request.payload.empty() ? "" : request.payload.data();
  return Set(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.payload.size())) &&
         Set(curl, CURLOPT_POSTFIELDS, data);
}

// Per phase: the connect limit and the longest stall; in all: what is left
// of the request's deadline.
bool ApplyTimeouts(CURL* curl, HttpTimeouts timeouts, long remainingMs) {
  const long stallSeconds = std::max(1L, (timeouts.transferMs + 999) / 1000);
  return Set(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(timeouts.connectMs, remainingMs)) &&
         Set(curl, CURLOPT_TIMEOUT_MS, remainingMs) && Set(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) &&
         Set(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
}

// Redirects are followed here, one answer at a time, so that each hop can
// decide which headers may go on to the next host.
bool ApplyRedirects(CURL* curl) {
  return Set(curl, CURLOPT_FOLLOWLOCATION, 0L);
}

bool ApplyProxyAndCredentials(CURL* curl, const EngineRequest& request) {
  // An empty proxy text makes the connection direct, whatever proxy the
  // environment names.
  if (!Set(curl, CURLOPT_PROXY, request.proxy.c_str())) return false;
  if (!request.proxy.empty()) {
    if (!Set(curl, CURLOPT_PROXYTYPE, request.proxyType)) return false;
    if (!request.proxyUser.empty() &&
        !(Set(curl, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str()) &&
          Set(curl, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str()) &&
          Set(curl, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC)))) {
      return false;
    }
  }
  if (request.serverUser.empty()) return true;
  return Set(curl, CURLOPT_USERNAME, request.serverUser.c_str()) &&
         Set(curl, CURLOPT_PASSWORD, request.serverPassword.c_str()) &&
         Set(curl, CURLOPT_HTTPAUTH, request.serverAuth);
}

// Certificates are always verified: the log-in cookie and account answers
// travel on these connections, and a lenient client hands them to anyone on
// the path.
bool ApplyTls(CURL* curl, const EngineRequest& request) {
  return Set(curl, CURLOPT_SSL_VERIFYPEER, 1L) && Set(curl, CURLOPT_SSL_VERIFYHOST, 2L) &&
         (request.caFile.empty() || Set(curl, CURLOPT_CAINFO, request.caFile.c_str()));
}

bool ApplyHeaders(CURL* curl, const EngineRequest& request, CurlList& list) {
  for (const std::string& line : request.headerLines) {
    // A line break inside a line (a pasted cookie text, say) would start a
    // header of its own on the wire.
    if (line.find_first_of("\r\n") != std::string::npos) continue;
    if (!Append(list, line)) return false;
  }
  // An empty "Name:" entry stops the transport from adding that header, so
  // the server sees only the headers asked for.
  if (!HasLine(request.headerLines, "Accept") && !Append(list, "Accept:")) return false;
  if (SendsBody(request) && !HasLine(request.headerLines, "Content-Type") &&
      !Append(list, "Content-Type:")) {
    return false;
  }
  if (!Append(list, "Expect:") || !Append(list, "Proxy-Connection:")) return false;
  return Set(curl, CURLOPT_HTTPHEADER, list.get());
}

HttpFailure FailureOf(CURLcode code, CURL* curl, const Received& received) {
  if (received.tooLarge) return HttpFailure::kTooLarge;
  switch (code) {
    // (CURLE_UNSUPPORTED_PROTOCOL here is an answer without a status line:
    // addresses are checked before any request.)
    case CURLE_URL_MALFORMAT:
      return HttpFailure::kBadUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
      return HttpFailure::kConnect;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpFailure::kTls;
    case CURLE_SEND_ERROR:
    case CURLE_SEND_FAIL_REWIND:
      return HttpFailure::kSend;
    case CURLE_OPERATION_TIMEDOUT: {
      if (received.sawStatusLine) return HttpFailure::kRead;
      curl_off_t connectMicroseconds = 0;
      curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectMicroseconds);
      return connectMicroseconds == 0 ? HttpFailure::kConnect : HttpFailure::kNoResponse;
    }
    case CURLE_RECV_ERROR:
      return received.sawStatusLine ? HttpFailure::kRead : HttpFailure::kNoResponse;
    case CURLE_PARTIAL_FILE:
    case CURLE_WRITE_ERROR:
    case CURLE_BAD_CONTENT_ENCODING:
      return HttpFailure::kRead;
    default:
      return HttpFailure::kNoResponse;
  }
}

}  // namespace

class HttpEngine {
 public:
  static void* Open() {
    EnsureCurlInitialised();
    return curl_easy_init();
  }
  static void Close(void* handle) { curl_easy_cleanup(static_cast<CURL*>(handle)); }
  static void KeepTimeouts(HttpSession& session, HttpTimeouts timeouts) {
    session.m_timeouts = timeouts;
  }

  static EngineResult Perform(HttpSession& session, const EngineRequest& original) {
    CURL* curl = static_cast<CURL*>(session.m_handle);
    const std::optional<UrlParts> asked = ParseUrl(original.url);
    if (!asked) return Failure(HttpFailure::kBadUrl);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(original.deadlineMs);
    EngineRequest request = original;
    UrlParts at = *asked;
    for (long hop = 0;; ++hop) {
      Hop answer = PerformOne(curl, request, deadline);
      if (answer.result.failure != HttpFailure::kNone || answer.next.empty()) {
        answer.result.cookiesTrusted = SameSite(*asked, at);
        return std::move(answer.result);
      }
      if (hop == kMaxRedirects) return Failure(HttpFailure::kTooManyRedirects);
      const std::optional<UrlParts> next = ParseUrl(answer.next);
      if (!next) return Failure(HttpFailure::kBadUrl);
      if (request.httpsOnlyRedirects && IsPlainHttp(*next)) {
        return Failure(HttpFailure::kInsecureCookie);
      }
      PrepareNextHop(request, answer.result.status, answer.next, !SameOrigin(at, *next));
      at = *next;
    }
  }

 private:
  struct Hop {
    EngineResult result;
    std::string next;  // where a followed redirect leads; empty for the final answer
  };

  static EngineResult Failure(HttpFailure failure) {
    EngineResult result;
    result.failure = failure;
    return result;
  }

  static long RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<long>(left.count());
  }

  static Hop PerformOne(CURL* curl, const EngineRequest& request,
                        std::chrono::steady_clock::time_point deadline) {
    Hop hop;
    const long remainingMs = RemainingMs(deadline);
    if (remainingMs <= 0) {
      hop.result.failure = HttpFailure::kNoResponse;
      return hop;
    }
    // Options from an earlier call must not leak into this one; the reset
    // keeps the open connections.
    curl_easy_reset(curl);
    Received received;
    received.expectsBody = static_cast<HttpMethod>(request.method) != HttpMethod::kHead;
    received.maxBody = request.maxBodyBytes;
    CurlList headerList;
    hop.result.failure = Apply(curl, request, remainingMs, received, headerList);
    if (hop.result.failure == HttpFailure::kNone) {
      const CURLcode code = curl_easy_perform(curl);
      if (code != CURLE_OK) {
        hop.result.failure = FailureOf(code, curl, received);
      } else {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        hop.result.status = static_cast<int>(status);
        hop.result.body = std::move(received.body);
        hop.result.headers = Join(received.headerLines, "\r\n");
        const char* location = nullptr;
        if (request.followRedirects && IsRedirectStatus(status) &&
            curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
            location != nullptr) {
          hop.next = location;
        }
      }
    }
    // The handle must not keep pointers into this call's header list.
    curl_easy_reset(curl);
    return hop;
  }

  static bool IsRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  }

  // As browsers do: 303, and 301/302 after a POST, go on as GET without the
  // body. A hop to another origin carries no cookie, referer or credentials
  // of the first.
  static void PrepareNextHop(EngineRequest& request, int status, const std::string& next,
                             bool otherOrigin) {
    const auto method = static_cast<HttpMethod>(request.method);
    const bool toGet = method != HttpMethod::kHead &&
                       (status == 303 || (method == HttpMethod::kPost && status <= 302));
    if (toGet) {
      request.method = static_cast<int>(HttpMethod::kGet);
      request.payload = {};
      DropLines(request.headerLines, {"Content-Type"});
    }
    if (otherOrigin) {
      DropLines(request.headerLines, {"Cookie", "Referer", "Authorization"});
      request.serverUser.clear();
      request.serverPassword.clear();
    }
    request.url = next;
  }

  static void DropLines(std::vector<std::string>& lines,
                        std::initializer_list<std::string_view> names) {
    std::erase_if(lines, [&](const std::string& line) {
      return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
        return EqualsIgnoreCase(HeaderName(line), name);
      });
    });
  }

  static HttpFailure Apply(CURL* curl, const EngineRequest& request, long remainingMs,
                           Received& received, CurlList& headerList) {
    if (!ApplyBasics(curl, request, received) || !ApplyMethod(curl, request)) {
      return HttpFailure::kRequestSetup;
    }
    if (!ApplyTimeouts(curl, request.timeouts, remainingMs)) return HttpFailure::kTimeoutSetup;
    if (!ApplyRedirects(curl)) return HttpFailure::kRedirectSetup;
    if (!ApplyProxyAndCredentials(curl, request)) return HttpFailure::kCredentialSetup;
    if (!ApplyTls(curl, request)) return HttpFailure::kCertificateSetup;
    if (!ApplyHeaders(curl, request, headerList)) return HttpFailure::kHeaderSetup;
    return HttpFailure::kNone;
  }
};

HttpSession::HttpSession() : m_handle(HttpEngine::Open()) {}

HttpSession::~HttpSession() {
  if (m_handle != nullptr) HttpEngine::Close(m_handle);
}

namespace {

EngineRequest BaseRequest(std::string_view url, const HttpOptions& options) {
  EngineRequest request;
  request.url = std::string(url);
  request.method = (options.method >= 0 && options.method <= 7) ? options.method : 0;
  request.payload = PayloadOf(options);
  request.followRedirects = !options.noRedirect;
  request.proxy = options.proxy;
  request.caFile = CaFileOf(options);
  request.maxBodyBytes = options.maxBodyBytes;
  request.deadlineMs = options.deadlineMs;
  return request;
}

// Redirects of a request with cookies may not fall back to plain http.
void GuardRedirects(EngineRequest& request, const UrlParts& url) {
  request.httpsOnlyRedirects =
      CarriesCookie(request.headerLines) && !(IsPlainHttp(url) && IsLoopbackHost(url.host));
}

bool IsPost(const HttpOptions& options) {
  return static_cast<HttpMethod>(options.method) == HttpMethod::kPost;
}

// Cookies of the answer, merged into the caller's cookie text when asked.
// An answer from another site sets none: it could plant a session.
void TakeCookies(HttpResponse& response, const HttpOptions& options, bool merge, bool trusted) {
  response.newCookies = trusted ? ExtractSetCookies(response.headers) : std::string();
  if (!merge) return;
  response.newCookies = MergeCookies(FoldCookieLines(*options.cookies), response.newCookies);
  *options.cookies = response.newCookies;
}

struct EngineAnswer {
  HttpResponse response;
  bool cookiesTrusted = true;
};

EngineAnswer ToResponse(EngineResult&& result) {
  EngineAnswer answer;
  answer.response.failure = result.failure;
  answer.response.body = std::move(result.body);
  answer.response.headers = std::move(result.headers);
  answer.response.status = result.status;
  answer.cookiesTrusted = result.cookiesTrusted;
  return answer;
}

HttpResponse Failed(HttpFailure failure) {
  HttpResponse response;
  response.failure = failure;
  return response;
}

std::vector<std::string> RequestHeaderLines(std::string_view url,
                                            const HttpRequestOptions& options) {
  std::string headers = options.headers;
  if (options.defaultHeaders) {
    AppendLineIfMissing(headers, "Accept", "*/*");
    AppendLineIfMissing(headers, "Referer", url);
    AppendLineIfMissing(headers, "Accept-Language", "zh-cn");
    AppendLineIfMissing(headers, "User-Agent", kHttpRequestAgent);
    if (IsPost(options)) AppendLineIfMissing(headers, "Content-Type", kFormContentType);
  }
  if (options.normaliseHeaderNames) headers = NormaliseHeaderNames(headers);
  std::vector<std::string> lines;
  if (std::string cookie = CookieLine(options.cookies); !cookie.empty()) {
    lines.push_back(std::move(cookie));
  }
  for (std::string& line : HeaderLinesOf(headers)) lines.push_back(std::move(line));
  return lines;
}

std::vector<std::string> DirectHeaderLines(const HttpDirectOptions& options) {
  std::string headers = options.headers;
  if (headers.size() < 2 || headers.substr(headers.size() - 2) != "\r\n") headers += "\r\n";
  if (options.defaultHeaders) {
    AppendLineIfMissing(headers, "User-Agent", kHttpDirectAgent);
    AppendLineIfMissing(headers, "Accept", "text/html, application/xhtml+xml, */*");
    AppendLineIfMissing(headers, "Accept-Encoding", "identity");
    AppendLineIfMissing(headers, "Accept-Language", "zh-cn");
    if (IsPost(options)) AppendLineIfMissing(headers, "Content-Type", kFormContentType);
    AppendLineIfMissing(headers, "Cache-Control", "no-cache");
  }
  if (options.normaliseHeaderNames) headers = NormaliseHeaderNames(headers);
  std::vector<std::string> lines = HeaderLinesOf(headers);
  if (std::string cookie = CookieLine(options.cookies); !cookie.empty()) {
    lines.push_back(std::move(cookie));
  }
  return lines;
}

// The agent comes from the caller's User-Agent line when there is one.
std::vector<std::string> InetHeaderLines(std::string_view url, const HttpInetOptions& options,
                                         std::string& agent) {
  std::string headers = options.headers.empty() ? std::string("Accept: */*") : options.headers;
  if (options.defaultHeaders) {
    AppendLineIfMissing(headers, "Accept", "*/*");
    AppendLineIfMissing(headers, "Referer", url);
    AppendLineIfMissing(headers, "Accept-Language", "zh-cn");
    if (IsPost(options)) AppendLineIfMissing(headers, "Content-Type", kFormContentType);
  }
  if (options.normaliseHeaderNames) headers = NormaliseHeaderNames(headers);
  agent = std::string(kHttpRequestAgent);
  std::vector<std::string> lines;
  for (std::string& line : HeaderLinesOf(headers)) {
    if (EqualsIgnoreCase(HeaderName(line), "User-Agent")) {
      agent = HeaderValue(line);
    } else {
      lines.push_back(std::move(line));
    }
  }
  if (std::string cookie = CookieLine(options.cookies); !cookie.empty()) {
    lines.push_back(std::move(cookie));
  }
  return lines;
}

std::string HeaderOfResponse(std::string_view headers, std::string_view name) {
  for (std::string_view line : SplitHeaderLines(headers)) {
    if (line.find(':') != std::string_view::npos && EqualsIgnoreCase(HeaderName(line), name)) {
      return HeaderValue(line);
    }
  }
  return {};
}

// Pages name their charset in a meta tag near the top. The program's text is
// UTF-8, so every other charset, GBK included, is converted.
std::string DecodeByMetaCharset(const std::string& body) {
  std::string head = body.substr(0, kCharsetSearchLength);
  // The tag itself is ASCII; other bytes are masked so that a page in a
  // multi-byte charset is still searchable.
  std::replace_if(
      head.begin(), head.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }, '?');
  RegexMatcher matcher;
  if (!matcher.Execute("<meta.+?charset=[^\\w]?([-\\w]+)", head) || matcher.Count() == 0) {
    return body;
  }
  const std::string charset = matcher.SubMatchText(1, 1);
  if (charset.empty() || EqualsIgnoreCase(charset, "utf-8") || EqualsIgnoreCase(charset, "utf8")) {
    return body;
  }
  std::optional<std::string> decoded = DecodeToUtf8Lossy(body, charset);
  if (decoded) return std::move(*decoded);
  return body;
}

}  // namespace

const char* HttpMethodName(int method) {
  static constexpr const char* kNames[] = {"GET",     "POST",   "HEAD",  "PUT",
                                           "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  return (method >= 0 && method <= 7) ? kNames[method] : kNames[0];
}

HttpTimeouts RequestTimeouts(int timeoutSeconds, HttpTimeouts sessionOwn) {
  if (timeoutSeconds == -1) return sessionOwn;
  if (timeoutSeconds <= 0) return HttpTimeouts{kRequestDefaultMs, kRequestDefaultMs};
  const long ms = std::min<long>(timeoutSeconds, kLongestTimeoutSeconds) * 1000;
  return HttpTimeouts{ms, ms};
}

std::string DirectErrorMessage(HttpFailure failure) {
  switch (failure) {
    case HttpFailure::kNone:
      return {};
    case HttpFailure::kNoSession:
      return "702 创建WinHttp会话失败!";
    case HttpFailure::kBadUrl:
      return "701 解析URL地址失败!";
    case HttpFailure::kInsecureCookie:
      return "714 拒绝通过未加密的HTTP发送Cookie!";
    case HttpFailure::kRequestSetup:
      return "704 创建WinHttp请求失败!";
    case HttpFailure::kTimeoutSetup:
      return "705 设置超时时间失败!";
    case HttpFailure::kCredentialSetup:
      return "707 设置代理凭证失败!";
    case HttpFailure::kCertificateSetup:
      return "忽略错误/证书错误  失败！";
    case HttpFailure::kRedirectSetup:
      return "709 重定向设置失败!";
    case HttpFailure::kHeaderSetup:
      return "710 设置协议头失败!";
    case HttpFailure::kConnect:
      return "703 创建WinHttp连接失败!";
    case HttpFailure::kTls:
    case HttpFailure::kSend:
      return "711 发送请求失败!";
    case HttpFailure::kNoResponse:
      return "712 服务器未响应!";
    case HttpFailure::kRead:
      return "713 读取数据失败!";
    case HttpFailure::kTooManyRedirects:
      return "715 重定向次数过多!";
    case HttpFailure::kTooLarge:
      return "716 响应数据过大!";
  }
  return "712 服务器未响应!";
}

HttpResponse HttpRequest(std::string_view url, const HttpRequestOptions& options) {
  const std::optional<UrlParts> parts = ParseUrl(url);
  if (!parts) return Failed(HttpFailure::kBadUrl);
  EngineRequest request = BaseRequest(url, options);
  request.headerLines = RequestHeaderLines(url, options);
  if (RefusesCookies(*parts, request.headerLines)) return Failed(HttpFailure::kInsecureCookie);
  GuardRedirects(request, *parts);

  std::optional<HttpSession> ownSession;
  HttpSession* session = options.session;
  if (session == nullptr) session = &ownSession.emplace();
  if (!session->Valid()) return Failed(HttpFailure::kNoSession);

  request.timeouts = RequestTimeouts(options.timeoutSeconds, session->Timeouts());
  HttpEngine::KeepTimeouts(*session, request.timeouts);
  if (!options.proxy.empty() && !options.proxyUser.empty()) {
    if (options.credentialTarget == 1) {
      request.proxyUser = options.proxyUser;
      request.proxyPassword = options.proxyPassword;
    } else if (options.credentialTarget == 0) {
      // Server credentials answer the server's challenge, in whatever scheme
      // it offers.
      request.serverUser = options.proxyUser;
      request.serverPassword = options.proxyPassword;
      request.serverAuth = CURLAUTH_ANY;
    }
  }

  auto [response, trusted] = ToResponse(HttpEngine::Perform(*session, request));
  if (!response.Completed()) return response;
  TakeCookies(response, options, options.mergeCookies && options.cookies != nullptr, trusted);
  return response;
}

HttpDirectResponse HttpRequestDirect(std::string_view url, const HttpDirectOptions& options) {
  HttpDirectResponse response;
  auto fail = [&response](HttpFailure failure) {
    response.failure = failure;
    response.errorMessage = DirectErrorMessage(failure);
    return response;
  };
  const std::optional<UrlParts> parts = ParseUrl(url);
  if (!parts) return fail(HttpFailure::kBadUrl);
  EngineRequest request = BaseRequest(url, options);
  request.headerLines = DirectHeaderLines(options);
  if (RefusesCookies(*parts, request.headerLines)) return fail(HttpFailure::kInsecureCookie);
  GuardRedirects(request, *parts);
  // The proxy serves plain http addresses only, as the old platform's
  // "http=" proxy list did.
  if (!IsPlainHttp(*parts)) request.proxy.clear();
  if (!options.proxyUser.empty() && !options.proxyPassword.empty()) {
    request.proxyUser = options.proxyUser;
    request.proxyPassword = options.proxyPassword;
  }
  if (!options.serverUser.empty() && !options.serverPassword.empty()) {
    request.serverUser = options.serverUser;
    request.serverPassword = options.serverPassword;
  }
  const long ms = options.timeoutSeconds < 1
                      ? kDirectDefaultMs
                      : std::min<long>(options.timeoutSeconds, kLongestTimeoutSeconds) * 1000;
  request.timeouts = HttpTimeouts{ms, ms};

  HttpSession session;
  if (!session.Valid()) return fail(HttpFailure::kNoSession);
  auto [base, trusted] = ToResponse(HttpEngine::Perform(session, request));
  if (!base.Completed()) return fail(base.failure);
  static_cast<HttpResponse&>(response) = std::move(base);
  const bool merge =
      options.mergeCookies && options.cookies != nullptr && !options.cookies->empty();
  TakeCookies(response, options, merge, trusted);
  response.redirectLocation = HeaderOfResponse(response.headers, "Location");
  response.text = DecodeByMetaCharset(response.body);
  return response;
}

HttpResponse HttpRequestInet(std::string_view url, const HttpInetOptions& options) {
  const std::optional<UrlParts> parts = ParseUrl(url);
  if (!parts) return Failed(HttpFailure::kBadUrl);
  EngineRequest request = BaseRequest(url, options);
  request.headerLines = InetHeaderLines(url, options, request.userAgent);
  if (RefusesCookies(*parts, request.headerLines)) return Failed(HttpFailure::kInsecureCookie);
  GuardRedirects(request, *parts);
  if (options.socks) request.proxyType = CURLPROXY_SOCKS4A;
  request.timeouts = kSessionDefaultTimeouts;

  HttpSession session;
  if (!session.Valid()) return Failed(HttpFailure::kNoSession);
  auto [response, trusted] = ToResponse(HttpEngine::Perform(session, request));
  if (!response.Completed()) return response;
  TakeCookies(response, options, options.mergeCookies && options.cookies != nullptr, trusted);
  return response;
}

namespace {

std::int64_t HeadLength(std::string_view url, std::vector<std::string> headerLines,
                        std::string_view proxy, bool useProxy) {
  if (!ParseUrl(url)) return -2;
  HttpSession session;
  if (!session.Valid()) return -2;
  EngineRequest request;
  request.url = std::string(url);
  request.method = static_cast<int>(HttpMethod::kHead);
  request.headerLines = std::move(headerLines);
  if (useProxy) request.proxy = std::string(proxy);
  request.timeouts = kContentLengthTimeouts;
  request.caFile = CaFileOf(HttpOptions{});
  const EngineResult result = HttpEngine::Perform(session, request);
  if (result.failure != HttpFailure::kNone || result.status != 200) return -1;
  // A 200 answer without a usable length must not read as an empty file,
  // or a missing download would count as complete.
  const std::string length = HeaderOfResponse(result.headers, "Content-Length");
  std::int64_t value = -1;
  const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), value);
  if (error != std::errc() || end != length.data() + length.size() || value < 0) return -1;
  return value;
}

}  // namespace

std::int64_t QueryContentLength(std::string_view url, std::string_view proxy, bool useProxy) {
  return HeadLength(url,
                    {"User-Agent: " + std::string(kContentLengthAgent), "Accept-Language: zh-cn",
                     "Connection: Keep-Alive"},
                    proxy, useProxy);
}

std::int64_t QueryMediaLength(std::string_view url, std::string_view headerBlock) {
  std::vector<std::string> lines;
  while (!headerBlock.empty()) {
    const std::size_t end = headerBlock.find('\n');
    std::string_view line = headerBlock.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!line.empty()) lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    headerBlock.remove_prefix(end + 1);
  }
  return HeadLength(url, std::move(lines), {}, false);
}

std::string PlainGet(std::string_view url) {
  if (!ParseUrl(url)) return {};
  HttpSession session;
  if (!session.Valid()) return {};
  EngineRequest request;
  request.url = std::string(url);
  request.headerLines = {"Accept: */*"};
  request.userAgent = std::string(kPlainGetAgent);
  request.timeouts = kPlainGetTimeouts;
  request.caFile = CaFileOf(HttpOptions{});
  EngineResult result = HttpEngine::Perform(session, request);
  if (result.failure != HttpFailure::kNone || result.status < 200 || result.status > 299) {
    return {};
  }
  return std::move(result.body);
}

}  // namespace korvid
