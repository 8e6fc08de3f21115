#include "net/http_client.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "net/http_text.h"
#include "net/regex_matcher.h"
#include "net/text_codec.h"

namespace korvid {
namespace {

constexpr std::string_view kRequestAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
constexpr std::string_view kDirectAgent =
    "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
constexpr std::string_view kHeadAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";
constexpr std::string_view kPlainAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/76.0.3809.132 Safari/537.36";
constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";

constexpr long kRequestDefaultMs = 15000;
constexpr long kDirectDefaultMs = 30000;
constexpr long kLongestTimeoutSeconds = 24L * 60 * 60;
constexpr HttpTimeouts kPlainGetTimeouts{15000, 15000};
constexpr HttpTimeouts kContentLengthTimeouts{5000, 10000};
constexpr long kMaxRedirects = 10;
constexpr std::size_t kCharsetSearchLength = 1024;

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct UrlParts {
  std::string scheme;
  std::string host;
};

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return std::nullopt;
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
  if (!scheme || !host || host->empty()) return std::nullopt;
  if (!EqualsIgnoreCase(*scheme, "http") && !EqualsIgnoreCase(*scheme, "https")) {
    return std::nullopt;
  }
  return UrlParts{std::move(*scheme), std::move(*host)};
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
  const std::string text = StripCookiePrefix(*cookies);
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
};

struct EngineResult {
  HttpFailure failure = HttpFailure::kNone;
  std::string body;
  std::string headers;
  int status = 0;
};

struct Received {
  std::string body;
  std::vector<std::string> headerLines;
  bool sawStatusLine = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<Received*>(user)->body.append(data, size * count);
  return size * count;
}

// With redirects followed, only the last answer's headers are kept.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* received = static_cast<Received*>(user);
  std::string_view line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.substr(0, 5) == "HTTP/") {
    received->headerLines.clear();
    received->sawStatusLine = true;
  } else if (!line.empty()) {
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
  list.release();
  list.reset(grown);
  return true;
}

template <typename Value>
[[nodiscard]] bool Set(CURL* curl, CURLoption option, Value value) {
  return curl_easy_setopt(curl, option, value) == CURLE_OK;
}

bool ApplyBasics(CURL* curl, const EngineRequest& request, Received& received) {
  // HTTP/1.1 only: header names then arrive as the server spelt them, and
  // the Set-Cookie and Location lines are found by name.
  return Set(curl, CURLOPT_URL, request.url.c_str()) && Set(curl, CURLOPT_NOSIGNAL, 1L) &&
         Set(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
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

bool ApplyTimeouts(CURL* curl, HttpTimeouts timeouts) {
  // No total limit: a large answer on a slow line may take long as long as
  // bytes keep moving.
  const long stallSeconds = std::max(1L, (timeouts.transferMs + 999) / 1000);
  return Set(curl, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs) &&
         Set(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) && Set(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
}

bool ApplyRedirects(CURL* curl, const EngineRequest& request) {
  if (!request.followRedirects) return Set(curl, CURLOPT_FOLLOWLOCATION, 0L);
  return Set(curl, CURLOPT_FOLLOWLOCATION, 1L) && Set(curl, CURLOPT_MAXREDIRS, kMaxRedirects) &&
         Set(curl, CURLOPT_REDIR_PROTOCOLS_STR,
             request.httpsOnlyRedirects ? "https" : "http,https");
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
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
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

  static EngineResult Perform(HttpSession& session, const EngineRequest& request) {
    CURL* curl = static_cast<CURL*>(session.m_handle);
    // Options from an earlier call must not leak into this one; the reset
    // keeps the open connections.
    curl_easy_reset(curl);
    Received received;
    CurlList headerList;
    const HttpFailure setupFailure = Apply(curl, request, received, headerList);
    if (setupFailure != HttpFailure::kNone) {
      curl_easy_reset(curl);
      return EngineResult{setupFailure, {}, {}, 0};
    }
    const CURLcode code = curl_easy_perform(curl);
    EngineResult result;
    if (code == CURLE_UNSUPPORTED_PROTOCOL && received.sawStatusLine &&
        request.httpsOnlyRedirects) {
      result.failure = HttpFailure::kInsecureCookie;  // a redirect to plain http
    } else if (code != CURLE_OK) {
      result.failure = FailureOf(code, curl, received);
    } else {
      long status = 0;
      curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
      result.status = static_cast<int>(status);
      result.body = std::move(received.body);
      result.headers = Join(received.headerLines, "\r\n");
    }
    // The handle must not keep pointers into this call's header list.
    curl_easy_reset(curl);
    return result;
  }

 private:
  static HttpFailure Apply(CURL* curl, const EngineRequest& request, Received& received,
                           CurlList& headerList) {
    if (!ApplyBasics(curl, request, received) || !ApplyMethod(curl, request)) {
      return HttpFailure::kRequestSetup;
    }
    if (!ApplyTimeouts(curl, request.timeouts)) return HttpFailure::kTimeoutSetup;
    if (!ApplyRedirects(curl, request)) return HttpFailure::kRedirectSetup;
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
void TakeCookies(HttpResponse& response, const HttpOptions& options, bool merge) {
  response.newCookies = ExtractSetCookies(response.headers);
  if (!merge) return;
  response.newCookies = MergeCookies(*options.cookies, response.newCookies);
  *options.cookies = response.newCookies;
}

HttpResponse ToResponse(EngineResult&& result) {
  HttpResponse response;
  response.failure = result.failure;
  response.body = std::move(result.body);
  response.headers = std::move(result.headers);
  response.status = result.status;
  return response;
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
    AppendLineIfMissing(headers, "User-Agent", kRequestAgent);
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
    AppendLineIfMissing(headers, "User-Agent", kDirectAgent);
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
  agent = std::string(kRequestAgent);
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
  return decoded ? std::move(*decoded) : body;
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

  HttpResponse response = ToResponse(HttpEngine::Perform(*session, request));
  if (!response.Completed()) return response;
  TakeCookies(response, options, options.mergeCookies && options.cookies != nullptr);
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
  HttpResponse base = ToResponse(HttpEngine::Perform(session, request));
  if (!base.Completed()) return fail(base.failure);
  static_cast<HttpResponse&>(response) = std::move(base);
  const bool merge =
      options.mergeCookies && options.cookies != nullptr && !options.cookies->empty();
  TakeCookies(response, options, merge);
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
  HttpResponse response = ToResponse(HttpEngine::Perform(session, request));
  if (!response.Completed()) return response;
  TakeCookies(response, options, options.mergeCookies && options.cookies != nullptr);
  return response;
}

std::int64_t QueryContentLength(std::string_view url, std::string_view proxy, bool useProxy) {
  if (!ParseUrl(url)) return -2;
  HttpSession session;
  if (!session.Valid()) return -2;
  EngineRequest request;
  request.url = std::string(url);
  request.method = static_cast<int>(HttpMethod::kHead);
  request.headerLines = {"User-Agent: " + std::string(kHeadAgent), "Accept-Language: zh-cn",
                         "Connection: Keep-Alive"};
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

std::string PlainGet(std::string_view url) {
  if (!ParseUrl(url)) return {};
  HttpSession session;
  if (!session.Valid()) return {};
  EngineRequest request;
  request.url = std::string(url);
  request.headerLines = {"Accept: */*"};
  request.userAgent = std::string(kPlainAgent);
  request.timeouts = kPlainGetTimeouts;
  request.caFile = CaFileOf(HttpOptions{});
  EngineResult result = HttpEngine::Perform(session, request);
  if (result.failure != HttpFailure::kNone || result.status < 200 || result.status > 299) {
    return {};
  }
  return std::move(result.body);
}

}  // namespace korvid
