#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The synchronous request client for pages, API answers, images and comment
// files. Every operation blocks its calling worker thread until the answer
// is complete or has failed; none may run on the window thread. Bodies are
// byte strings: they may hold NUL bytes and are never cut short.
//
// What a server receives from HttpRequest, in this order: Host (added by the
// transport), Proxy-Authorization (proxy requests only), Cookie, then the
// caller's header lines followed by the missing defaults, then Content-Length
// for requests with a body. The transport adds no Accept, User-Agent,
// Content-Type or Expect header of its own.
namespace korvid {

// Request methods by number; any other number means GET.
enum class HttpMethod { kGet, kPost, kHead, kPut, kOptions, kDelete, kTrace, kConnect };
[[nodiscard]] const char* HttpMethodName(int method);

// Limits per phase. connectMs bounds name resolution, connecting and the TLS
// handshake; transferMs is the longest the request may go without a byte
// moving while it is sent, while the answer is awaited and while it is read.
// The transfer limit has a granularity of whole seconds.
struct HttpTimeouts {
  long connectMs = 0;
  long transferMs = 0;
  bool operator==(const HttpTimeouts&) const = default;
};

// Answers are held in memory: one larger than this fails with kTooLarge (also
// when its Content-Length announces more) instead of growing without end. Far
// above any API answer, page or picture; media files are streamed to disk
// elsewhere and have no such limit.
inline constexpr std::size_t kMaxResponseBytes = std::size_t{64} * 1024 * 1024;
// Longest a whole request may take, redirects included, however slowly the
// server keeps sending.
inline constexpr long kRequestDeadlineMs = 5L * 60 * 1000;

// A fresh session's own limits (the values the request object of the old
// platform started with).
inline constexpr HttpTimeouts kSessionDefaultTimeouts{60000, 30000};

// Limits a request with that timeout parameter uses: -1 keeps the session's
// own, 0 or less means 15 s per phase, otherwise seconds per phase.
[[nodiscard]] HttpTimeouts RequestTimeouts(int timeoutSeconds, HttpTimeouts sessionOwn);

class HttpEngine;

// A reusable request handle that keeps its connections, and the time-outs
// last given to it, across calls. Owned by one thread at a time.
class HttpSession {
 public:
  HttpSession();
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  [[nodiscard]] bool Valid() const { return m_handle != nullptr; }
  // The limits in force: those of the last request that set any, else the
  // session defaults.
  [[nodiscard]] HttpTimeouts Timeouts() const { return m_timeouts; }

 private:
  friend class HttpEngine;
  void* m_handle = nullptr;  // the transport's handle
  HttpTimeouts m_timeouts = kSessionDefaultTimeouts;
};

// Parameters shared by HttpRequest, HttpRequestDirect and HttpRequestInet.
struct HttpOptions {
  int method = 0;          // HttpMethod number
  std::string body;        // text body, sent when binaryBody is empty
  std::string binaryBody;  // sent instead of body when not empty
  // In/out cookie text ("a=1; b=2"); null when not given. With cookie merging
  // on it receives the merged cookies after a completed request.
  std::string* cookies = nullptr;
  std::string headers;  // extra request header lines, CR LF separated
  bool noRedirect = false;
  std::string proxy;  // "host:port"; empty for a direct connection
  bool mergeCookies = true;
  bool defaultHeaders = true;
  bool normaliseHeaderNames = true;
  // An extra trusted CA bundle (PEM). Empty: the system store, plus the file
  // named by KORVID_CA_FILE when that is set.
  std::string caFile;
  std::size_t maxBodyBytes = kMaxResponseBytes;
  long deadlineMs = kRequestDeadlineMs;
};

struct HttpRequestOptions : HttpOptions {
  int timeoutSeconds = 0;  // -1 keeps the session's own limits; 0 or less: 15 s
  std::string proxyUser;
  std::string proxyPassword;
  int credentialTarget = 1;        // 1: proxy (Basic, sent at once); 0: the server
  HttpSession* session = nullptr;  // null: a fresh session for this call only
};

struct HttpDirectOptions : HttpOptions {
  std::string serverUser;  // Basic credentials when user and password are set
  std::string serverPassword;
  std::string proxyUser;
  std::string proxyPassword;
  int timeoutSeconds = 0;  // less than 1: 30 s per phase
};

struct HttpInetOptions : HttpOptions {
  bool socks = false;  // the proxy is a SOCKS proxy
};

enum class HttpFailure {
  kNone,
  kNoSession,       // the transport handle could not be created
  kBadUrl,          // not an absolute http(s) address
  kInsecureCookie,  // cookies over plain http to a host that is not loopback
  kRequestSetup,
  kTimeoutSetup,
  kCredentialSetup,
  kCertificateSetup,
  kRedirectSetup,
  kHeaderSetup,
  kConnect,     // name resolution or connection failed
  kTls,         // handshake failed or the certificate was refused
  kSend,        // the request could not be sent
  kNoResponse,  // no (valid) answer in time
  kRead,        // the answer broke off, or the deadline passed while it arrived
  kTooManyRedirects,
  kTooLarge,  // the answer is larger than maxBodyBytes
};

// Redirects are followed up to 10 times. A redirect to another host (scheme,
// host and port) takes neither the Cookie, Referer nor Authorization header
// with it; Set-Cookie lines count only when the final answer comes from the
// host asked, or from a host of the same parent domain (www. and passport. of
// one site).
struct HttpResponse {
  std::string body;        // bytes
  std::string newCookies;  // set by this answer, or the merged set
  std::string headers;     // answer header lines, CR LF separated, status line excluded
  int status = 0;          // 0 when no answer arrived
  HttpFailure failure = HttpFailure::kNone;

  [[nodiscard]] bool Completed() const { return failure == HttpFailure::kNone; }
};

struct HttpDirectResponse : HttpResponse {
  std::string text;  // body decoded to UTF-8 after its meta charset
  std::string redirectLocation;
  std::string errorMessage;  // numbered message of the failing step; empty on success
};

// Message HttpRequestDirect reports for a failure.
[[nodiscard]] std::string DirectErrorMessage(HttpFailure failure);

[[nodiscard]] HttpResponse HttpRequest(std::string_view url,
                                       const HttpRequestOptions& options = {});
[[nodiscard]] HttpDirectResponse HttpRequestDirect(std::string_view url,
                                                   const HttpDirectOptions& options = {});
[[nodiscard]] HttpResponse HttpRequestInet(std::string_view url,
                                           const HttpInetOptions& options = {});

// Size of a resource by a HEAD request: its Content-Length for status 200;
// -1 for any other status, a failed request or a 200 answer without a usable
// length; -2 when no request can be made (bad address, no transport handle).
[[nodiscard]] std::int64_t QueryContentLength(std::string_view url, std::string_view proxy = {},
                                              bool useProxy = false);

// The same asked with the header lines of a media download (CR LF separated,
// "User-Agent: ..." first), as the media hosts refuse requests without them.
[[nodiscard]] std::int64_t QueryMediaLength(std::string_view url, std::string_view headerBlock);

// GET of a whole resource with none of the default headers and no cookies;
// empty on any failure, including a status outside 200..299.
[[nodiscard]] std::string PlainGet(std::string_view url);

}  // namespace korvid
