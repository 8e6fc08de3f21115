#include "net/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "net/http_text.h"
#include "support/closed_port.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::CannedReply;
using fakesite::FakeSite;
using fakesite::Fault;
using fakesite::RecordedRequest;
using Names = std::vector<std::string>;

constexpr std::string_view kMsie9 = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

using test::ClosedPort;

Names HeaderNames(const RecordedRequest& request) {
  Names names;
  for (const auto& header : request.headers) names.push_back(header.first);
  return names;
}

CannedReply Reply(std::string body, std::vector<std::pair<std::string, std::string>> headers = {},
                  int status = 200) {
  CannedReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.headers = std::move(headers);
  reply.contentType = "text/html";
  return reply;
}

// Answers one connection on loopback with fixed bytes: replies the fake site,
// being a real HTTP server, cannot give.
class RawServer {
 public:
  explicit RawServer(std::string reply) : m_reply(std::move(reply)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listen, 1) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
      return;
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    if (m_thread.joinable()) m_thread.join();
    ::close(m_listen);
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  [[nodiscard]] std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/raw";
  }

 private:
  void Serve() {
    pollfd waiting{m_listen, POLLIN, 0};
    if (::poll(&waiting, 1, 10'000) != 1) return;
    const int client = ::accept(m_listen, nullptr, nullptr);
    if (client < 0) return;
    timeval limit{10, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    (void)!::send(client, m_reply.data(), m_reply.size(), MSG_NOSIGNAL);
    ::close(client);
  }

  std::string m_reply;
  int m_listen = -1;
  int m_port = 0;
  std::thread m_thread;
};

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_site.Start()); }

  [[nodiscard]] std::string Url(std::string_view path) const {
    return m_site.BaseUrl() + std::string(path);
  }

  [[nodiscard]] RecordedRequest Last() const {
    const auto requests = m_site.Requests();
    return requests.empty() ? RecordedRequest{} : requests.back();
  }

  FakeSite m_site;
};

TEST_F(HttpClientTest, DefaultHeadersArriveInOrderWithUrlAsReferer) {
  m_site.SetCanned("GET", "/page", Reply("hello"));
  const HttpResponse response = HttpRequest(Url("/page?x=1"));
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "hello");
  const RecordedRequest got = Last();
  EXPECT_EQ(got.method, "GET");
  EXPECT_EQ(HeaderNames(got),
            (Names{"Host", "Accept", "Referer", "Accept-Language", "User-Agent"}));
  EXPECT_EQ(got.Header("Accept"), "*/*");
  EXPECT_EQ(got.Header("Referer"), Url("/page?x=1"));
  EXPECT_EQ(got.Header("Accept-Language"), "zh-cn");
  EXPECT_EQ(got.Header("User-Agent"), kMsie9);
}

TEST_F(HttpClientTest, PostAddsFormContentTypeAndSendsBody) {
  HttpRequestOptions options;
  options.method = 1;
  options.body = "oauthKey=abc";
  m_site.SetCanned("POST", "/form", Reply("ok"));
  EXPECT_EQ(HttpRequest(Url("/form"), options).body, "ok");
  const RecordedRequest got = Last();
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.body, "oauthKey=abc");
  EXPECT_EQ(HeaderNames(got), (Names{"Host", "Accept", "Referer", "Accept-Language", "User-Agent",
                                     "Content-Type", "Content-Length"}));
  EXPECT_EQ(got.Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(HttpClientTest, CallerHeadersComeFirstAndKeepTheirValues) {
  HttpRequestOptions options;
  options.headers = "user-agent: Mine/1.0\r\nreferer: https://www.example.test/\r\nno colon here";
  (void)HttpRequest(Url("/h"), options);
  const RecordedRequest got = Last();
  EXPECT_EQ(HeaderNames(got),
            (Names{"Host", "User-Agent", "Referer", "Accept", "Accept-Language"}));
  EXPECT_EQ(got.Header("User-Agent"), "Mine/1.0");
  EXPECT_EQ(got.Header("Referer"), "https://www.example.test/");
}

TEST_F(HttpClientTest, HeaderNamesAreSentAsGivenWhenNormalisationIsOff) {
  HttpRequestOptions options;
  options.headers = "x-lower-case: v\r\naccept-language: en";
  options.normaliseHeaderNames = false;
  options.defaultHeaders = false;
  (void)HttpRequest(Url("/h"), options);
  EXPECT_EQ(HeaderNames(Last()), (Names{"Host", "x-lower-case", "accept-language"}));
}

TEST_F(HttpClientTest, NormalisedCallerLanguageReplacesTheDefault) {
  HttpRequestOptions options;
  options.headers = "accept-language: en";
  (void)HttpRequest(Url("/h"), options);
  const RecordedRequest got = Last();
  EXPECT_EQ(HeaderNames(got),
            (Names{"Host", "Accept-Language", "Accept", "Referer", "User-Agent"}));
  EXPECT_EQ(got.Header("Accept-Language"), "en");
}

TEST_F(HttpClientTest, WithoutDefaultsOnlyHostAndCallerHeadersArrive) {
  HttpRequestOptions options;
  options.defaultHeaders = false;
  options.method = 1;
  options.body = "raw";
  (void)HttpRequest(Url("/h"), options);
  EXPECT_EQ(HeaderNames(Last()), (Names{"Host", "Content-Length"}));
}

TEST_F(HttpClientTest, KeepAliveIsNotSentButCloseIs) {
  HttpRequestOptions options;
  options.headers = "Connection: keep-alive";
  (void)HttpRequest(Url("/a"), options);
  EXPECT_FALSE(Last().HasHeader("Connection"));
  options.headers = "Connection: close";
  (void)HttpRequest(Url("/b"), options);
  EXPECT_EQ(Last().Header("Connection"), "close");
}

TEST_F(HttpClientTest, CookiePrefixIsStrippedAndCookieComesBeforeOtherHeaders) {
  std::string cookies = "Cookie: a=1; b=2";
  HttpRequestOptions options;
  options.cookies = &cookies;
  (void)HttpRequest(Url("/c"), options);
  const RecordedRequest got = Last();
  EXPECT_EQ(got.Header("Cookie"), "a=1; b=2");
  ASSERT_GE(got.headers.size(), 2U);
  EXPECT_EQ(got.headers[1].first, "Cookie");
}

TEST_F(HttpClientTest, SetCookiesAreExtractedAndMergedIntoCallerCookies) {
  m_site.SetCanned("GET", "/login",
                   Reply("{}", {{"Set-Cookie", "sid=x; Path=/; HttpOnly"},
                                {"Set-Cookie", "tok=y; Path=/"},
                                {"Set-Cookie", "b=deleted; Path=/"}}));
  std::string cookies = "a=1; b=2";
  HttpRequestOptions options;
  options.cookies = &cookies;
  const HttpResponse merged = HttpRequest(Url("/login"), options);
  EXPECT_EQ(merged.newCookies, "sid=x; tok=y; a=1");
  EXPECT_EQ(cookies, "sid=x; tok=y; a=1");

  const HttpResponse plain = HttpRequest(Url("/login"));
  EXPECT_EQ(plain.newCookies, "sid=x; tok=y; b=deleted");

  std::string kept = "a=1";
  options.cookies = &kept;
  options.mergeCookies = false;
  EXPECT_EQ(HttpRequest(Url("/login"), options).newCookies, "sid=x; tok=y; b=deleted");
  EXPECT_EQ(kept, "a=1");
}

TEST_F(HttpClientTest, EmptyCookieTextSendsNoCookieButReceivesTheNewOnes) {
  m_site.SetCanned("GET", "/set", Reply("", {{"Set-Cookie", "n=1; Path=/"}}));
  std::string cookies;
  HttpRequestOptions options;
  options.cookies = &cookies;
  (void)HttpRequest(Url("/set"), options);
  EXPECT_FALSE(Last().HasHeader("Cookie"));
  EXPECT_EQ(cookies, "n=1");
}

TEST_F(HttpClientTest, MethodTableAndOutOfRangeMethodIsGet) {
  const std::vector<std::pair<int, std::string>> cases = {
      {9, "GET"}, {-1, "GET"}, {3, "PUT"}, {4, "OPTIONS"}, {5, "DELETE"}};
  for (const auto& [number, name] : cases) {
    HttpRequestOptions options;
    options.method = number;
    (void)HttpRequest(Url("/m"), options);
    EXPECT_EQ(Last().method, name) << number;
  }
  HttpRequestOptions put;
  put.method = 3;
  (void)HttpRequest(Url("/m"), put);
  EXPECT_EQ(Last().Header("Content-Length"), "0");
  EXPECT_STREQ(HttpMethodName(6), "TRACE");
  EXPECT_STREQ(HttpMethodName(7), "CONNECT");
  EXPECT_STREQ(HttpMethodName(8), "GET");
}

TEST_F(HttpClientTest, HeadReturnsHeadersWithoutWaitingForABody) {
  m_site.SetCanned("GET", "/file", Reply(std::string(5000, 'z')));
  HttpRequestOptions options;
  options.method = 2;
  options.timeoutSeconds = 5;
  const HttpResponse response = HttpRequest(Url("/file"), options);
  EXPECT_EQ(Last().method, "HEAD");
  EXPECT_EQ(response.status, 200);
  EXPECT_TRUE(response.body.empty());
  EXPECT_EQ(HeaderLookup(response.headers, "Content-Length"), "5000");
}

TEST_F(HttpClientTest, RedirectsAreFollowedUnlessSwitchedOff) {
  m_site.SetCanned("GET", "/from", Reply("", {{"Location", "/to"}}, 302));
  m_site.SetCanned("GET", "/to", Reply("arrived", {{"X-Final", "1"}}));
  const HttpResponse followed = HttpRequest(Url("/from"));
  EXPECT_EQ(followed.status, 200);
  EXPECT_EQ(followed.body, "arrived");
  EXPECT_EQ(HeaderLookup(followed.headers, "X-Final"), "1");
  EXPECT_EQ(HeaderLookup(followed.headers, "Location"), "");

  HttpRequestOptions options;
  options.noRedirect = true;
  const HttpResponse stopped = HttpRequest(Url("/from"), options);
  EXPECT_EQ(stopped.status, 302);
  EXPECT_EQ(HeaderLookup(stopped.headers, "Location"), "/to");
}

TEST_F(HttpClientTest, ResponseHeadersExcludeStatusLineAndUseCrLf) {
  m_site.SetCanned("GET", "/h", Reply("abc", {{"X-One", "1"}}, 404));
  const HttpResponse response = HttpRequest(Url("/h"));
  EXPECT_EQ(response.status, 404);
  EXPECT_EQ(response.body, "abc");
  EXPECT_EQ(response.headers.find("HTTP/"), std::string::npos);
  EXPECT_EQ(HeaderLookup(response.headers, "Content-Length"), "3");
  EXPECT_EQ(HeaderLookup(response.headers, "X-One"), "1");
  EXPECT_EQ(response.headers.find('\n'), response.headers.find("\r\n") + 1);
  EXPECT_NE(response.headers.back(), '\n');
}

TEST_F(HttpClientTest, BinaryBodiesWithNulBytesTravelWhole) {
  std::string blob;
  for (int i = 0; i < 3 * 1024 * 1024; ++i) blob += static_cast<char>(i * 7 % 256);
  m_site.SetCanned("GET", "/blob", Reply(blob));
  EXPECT_EQ(HttpRequest(Url("/blob")).body, blob);

  HttpRequestOptions options;
  options.method = 1;
  options.body = "ignored";
  options.binaryBody = std::string("\0a\0b\xff", 5);
  (void)HttpRequest(Url("/upload"), options);
  EXPECT_EQ(Last().body, std::string("\0a\0b\xff", 5));
}

TEST_F(HttpClientTest, TimeoutParameterSetsPerPhaseLimits) {
  const HttpTimeouts own{1234, 5678};
  EXPECT_EQ(RequestTimeouts(0, own), (HttpTimeouts{15000, 15000}));
  EXPECT_EQ(RequestTimeouts(-5, own), (HttpTimeouts{15000, 15000}));
  EXPECT_EQ(RequestTimeouts(-1, own), own);
  EXPECT_EQ(RequestTimeouts(7, own), (HttpTimeouts{7000, 7000}));

  HttpSession session;
  ASSERT_TRUE(session.Valid());
  EXPECT_EQ(session.Timeouts(), kSessionDefaultTimeouts);
  HttpRequestOptions options;
  options.session = &session;
  options.timeoutSeconds = -1;
  EXPECT_EQ(HttpRequest(Url("/t"), options).status, 404);
  EXPECT_EQ(session.Timeouts(), kSessionDefaultTimeouts);
  options.timeoutSeconds = 0;
  (void)HttpRequest(Url("/t"), options);
  EXPECT_EQ(session.Timeouts(), (HttpTimeouts{15000, 15000}));
  options.timeoutSeconds = 3;
  (void)HttpRequest(Url("/t"), options);
  options.timeoutSeconds = -1;
  (void)HttpRequest(Url("/t"), options);
  EXPECT_EQ(session.Timeouts(), (HttpTimeouts{3000, 3000}));
  EXPECT_EQ(m_site.Requests().size(), 4U);
}

TEST_F(HttpClientTest, StalledServerFailsAfterTheTimeout) {
  Fault slow;
  slow.firstByteDelayMs = 4000;
  m_site.SetFault("/slow", slow);
  HttpRequestOptions options;
  options.timeoutSeconds = 1;
  std::string cookies = "a=1";
  options.cookies = &cookies;
  const HttpResponse response = HttpRequest(Url("/slow"), options);
  EXPECT_EQ(response.failure, HttpFailure::kNoResponse);
  EXPECT_EQ(response.status, 0);
  EXPECT_TRUE(response.body.empty());
  EXPECT_EQ(cookies, "a=1");
}

TEST_F(HttpClientTest, ClosedPortFailsCleanly) {
  const HttpResponse response =
      HttpRequest("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x");
  EXPECT_EQ(response.failure, HttpFailure::kConnect);
  EXPECT_EQ(response.status, 0);
  EXPECT_TRUE(response.body.empty());
  EXPECT_TRUE(response.headers.empty());
}

TEST_F(HttpClientTest, BadAddressesMakeNoRequest) {
  EXPECT_EQ(HttpRequest("not a url").failure, HttpFailure::kBadUrl);
  EXPECT_EQ(HttpRequest("ftp://127.0.0.1/x").failure, HttpFailure::kBadUrl);
  EXPECT_EQ(HttpRequest("/relative/path").failure, HttpFailure::kBadUrl);
}

TEST_F(HttpClientTest, ProxyReceivesBasicCredentials) {
  HttpRequestOptions options;
  options.proxy = "127.0.0.1:" + std::to_string(m_site.Port());
  options.proxyUser = "user";
  options.proxyPassword = "pa:ss中";
  (void)HttpRequest("http://proxied.invalid/path?q=1", options);
  const RecordedRequest got = Last();
  EXPECT_NE(got.path.find("proxied.invalid/path"), std::string::npos);
  EXPECT_EQ(got.Header("Host"), "proxied.invalid");
  EXPECT_EQ(got.Header("Proxy-Authorization"), "Basic " + Base64Encode("user:pa:ss中"));
  EXPECT_EQ(HeaderNames(got), (Names{"Host", "Proxy-Authorization", "Accept", "Referer",
                                     "Accept-Language", "User-Agent"}));
}

TEST_F(HttpClientTest, CookiesAreNeverSentOverPlainHttpToOtherHosts) {
  // 192.0.2.0/24 is reserved for documentation: were a connection tried, it
  // would hang until the connect limit instead of failing at once.
  std::string cookies = "SESSDATA=secret";
  HttpRequestOptions options;
  options.cookies = &cookies;
  const HttpResponse refused = HttpRequest("http://192.0.2.1/x/space/myinfo", options);
  EXPECT_EQ(refused.failure, HttpFailure::kInsecureCookie);
  EXPECT_EQ(refused.status, 0);
  EXPECT_EQ(cookies, "SESSDATA=secret");

  HttpRequestOptions inHeaders;
  inHeaders.headers = "Cookie: SESSDATA=secret";
  EXPECT_EQ(HttpRequest("http://192.0.2.1/", inHeaders).failure, HttpFailure::kInsecureCookie);

  HttpInetOptions inet;
  inet.cookies = &cookies;
  EXPECT_EQ(HttpRequestInet("http://192.0.2.1/", inet).failure, HttpFailure::kInsecureCookie);

  HttpDirectOptions direct;
  direct.cookies = &cookies;
  const HttpDirectResponse directRefused = HttpRequestDirect("http://192.0.2.1/", direct);
  EXPECT_EQ(directRefused.failure, HttpFailure::kInsecureCookie);
  EXPECT_EQ(directRefused.errorMessage, "714 拒绝通过未加密的HTTP发送Cookie!");
}

TEST_F(HttpClientTest, CookiesGoOverPlainHttpOnLoopback) {
  std::string cookies = "SESSDATA=secret";
  HttpRequestOptions options;
  options.cookies = &cookies;
  EXPECT_EQ(HttpRequest(Url("/x/space/myinfo"), options).failure, HttpFailure::kNone);
  EXPECT_EQ(Last().Header("Cookie"), "SESSDATA=secret");
}

TEST_F(HttpClientTest, SessionServesSeveralRequests) {
  m_site.SetCanned("GET", "/one", Reply("1"));
  m_site.SetCanned("GET", "/two", Reply("2"));
  HttpSession session;
  HttpRequestOptions options;
  options.session = &session;
  EXPECT_EQ(HttpRequest(Url("/one"), options).body, "1");
  EXPECT_EQ(HttpRequest(Url("/two"), options).body, "2");
  options.method = 1;
  options.body = "x=1";
  (void)HttpRequest(Url("/two"), options);
  EXPECT_EQ(Last().method, "POST");
  options.method = 0;
  options.body.clear();
  EXPECT_EQ(HttpRequest(Url("/one"), options).body, "1");
  EXPECT_EQ(Last().method, "GET");
  EXPECT_FALSE(Last().HasHeader("Content-Type"));
}

TEST_F(HttpClientTest, RequestsRunConcurrentlyFromSeveralThreads) {
  m_site.SetCanned("GET", "/par", Reply("same"));
  constexpr int kThreads = 4;
  constexpr int kEach = 5;
  std::vector<int> completed(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        if (HttpRequest(Url("/par")).body == "same") ++completed[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : completed) EXPECT_EQ(count, kEach);
}

TEST_F(HttpClientTest, InetSendsAgentFromHeadersAndCookieLast) {
  std::string cookies = "a=1";
  HttpInetOptions options;
  options.cookies = &cookies;
  (void)HttpRequestInet(Url("/inet"), options);
  RecordedRequest got = Last();
  EXPECT_EQ(HeaderNames(got),
            (Names{"Host", "User-Agent", "Accept", "Referer", "Accept-Language", "Cookie"}));
  EXPECT_EQ(got.Header("User-Agent"), kMsie9);

  HttpInetOptions own;
  own.headers = "User-Agent: Custom/2";
  (void)HttpRequestInet(Url("/inet"), own);
  got = Last();
  EXPECT_EQ(got.Header("User-Agent"), "Custom/2");
  EXPECT_EQ(HeaderNames(got),
            (Names{"Host", "User-Agent", "Accept", "Referer", "Accept-Language"}));
}

TEST_F(HttpClientTest, QueryContentLengthReadsSizeOrReportsFailure) {
  m_site.SetCanned("GET", "/media.m4s", Reply(std::string(12345, 'm')));
  m_site.SetCanned("GET", "/gone", Reply("", {}, 404));
  EXPECT_EQ(QueryContentLength(Url("/media.m4s")), 12345);
  const RecordedRequest got = Last();
  EXPECT_EQ(got.method, "HEAD");
  EXPECT_EQ(HeaderNames(got), (Names{"Host", "User-Agent", "Accept-Language", "Connection"}));
  EXPECT_EQ(got.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");
  EXPECT_EQ(got.Header("Connection"), "Keep-Alive");

  EXPECT_EQ(QueryContentLength(Url("/gone")), -1);
  EXPECT_EQ(QueryContentLength("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/"), -1);
  EXPECT_EQ(QueryContentLength("not a url"), -2);
  EXPECT_EQ(QueryContentLength("ftp://127.0.0.1/file"), -2);
}

TEST_F(HttpClientTest, QueryContentLengthWithoutLengthIsUnknownNotZero) {
  m_site.SetCanned("GET", "/chunked", Reply("abc"));
  Fault chunked;
  chunked.omitContentLength = true;
  m_site.SetFault("/chunked", chunked);
  EXPECT_EQ(QueryContentLength(Url("/chunked")), -1);
}

TEST_F(HttpClientTest, PlainGetSendsNoProgramHeadersAndFailsOnErrorStatus) {
  m_site.SetCanned("GET", "/face.jpg", Reply(std::string("\xFF\xD8\0\x01", 4)));
  m_site.SetCanned("GET", "/missing.jpg", Reply("not here", {}, 404));
  EXPECT_EQ(PlainGet(Url("/face.jpg")), std::string("\xFF\xD8\0\x01", 4));
  const RecordedRequest got = Last();
  EXPECT_FALSE(got.HasHeader("Referer"));
  EXPECT_FALSE(got.HasHeader("Accept-Language"));
  EXPECT_FALSE(got.HasHeader("Cookie"));
  EXPECT_TRUE(got.HasHeader("User-Agent"));
  EXPECT_EQ(PlainGet(Url("/missing.jpg")), "");
  EXPECT_EQ(PlainGet("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/"), "");
  EXPECT_EQ(PlainGet("bad url"), "");
}

TEST_F(HttpClientTest, DirectSendsItsDefaultsAndCookieLast) {
  std::string cookies = "a=1";
  HttpDirectOptions options;
  options.method = 1;
  options.body = "oauthKey=k";
  options.cookies = &cookies;
  options.headers = "referer: https://www.bilibili.com/";
  m_site.SetCanned("POST", "/qrcode/getLoginInfo",
                   Reply(R"({"status":true})", {{"Set-Cookie", "SESSDATA=s; Path=/"}}));
  const HttpDirectResponse response = HttpRequestDirect(Url("/qrcode/getLoginInfo"), options);
  EXPECT_TRUE(response.errorMessage.empty());
  EXPECT_EQ(response.text, R"({"status":true})");
  EXPECT_EQ(response.newCookies, "SESSDATA=s; a=1");
  EXPECT_EQ(cookies, "SESSDATA=s; a=1");
  const RecordedRequest got = Last();
  EXPECT_EQ(HeaderNames(got),
            (Names{"Host", "Referer", "User-Agent", "Accept", "Accept-Encoding", "Accept-Language",
                   "Content-Type", "Cache-Control", "Cookie", "Content-Length"}));
  EXPECT_EQ(got.Header("User-Agent"),
            "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)");
  EXPECT_EQ(got.Header("Accept"), "text/html, application/xhtml+xml, */*");
  EXPECT_EQ(got.Header("Accept-Encoding"), "identity");
}

TEST_F(HttpClientTest, DirectReportsNumberedErrors) {
  EXPECT_EQ(HttpRequestDirect("not a url").errorMessage, "701 解析URL地址失败!");
  const HttpDirectResponse refused =
      HttpRequestDirect("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/");
  EXPECT_EQ(refused.errorMessage, "703 创建WinHttp连接失败!");
  EXPECT_TRUE(refused.text.empty());

  Fault slow;
  slow.firstByteDelayMs = 4000;
  m_site.SetFault("/slow", slow);
  HttpDirectOptions options;
  options.timeoutSeconds = 1;
  EXPECT_EQ(HttpRequestDirect(Url("/slow"), options).errorMessage, "712 服务器未响应!");

  Fault broken;
  broken.dropAfterBytes = 1000;
  m_site.SetFault("/broken", broken);
  m_site.SetCanned("GET", "/broken", Reply(std::string(100000, 'b')));
  EXPECT_EQ(HttpRequestDirect(Url("/broken")).errorMessage, "713 读取数据失败!");
}

TEST_F(HttpClientTest, DirectReportsRedirectLocation) {
  m_site.SetCanned("GET", "/jump", Reply("", {{"Location", "https://elsewhere.invalid/x"}}, 302));
  HttpDirectOptions options;
  options.noRedirect = true;
  const HttpDirectResponse response = HttpRequestDirect(Url("/jump"), options);
  EXPECT_EQ(response.status, 302);
  EXPECT_EQ(response.redirectLocation, "https://elsewhere.invalid/x");
}

TEST_F(HttpClientTest, DirectDecodesPagesByTheirMetaCharset) {
  const std::string gbkPage =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
      "</head><body>\xD6\xD0\xCE\xC4</body></html>";
  const std::string latinPage = "<meta charset='iso-8859-1'><p>caf\xE9</p>";
  const std::string sjisPage = "<META CHARSET=\"Shift_JIS\">\x93\xFA\x96\x7B";
  const std::string utf8Page = "<meta charset=\"utf-8\">中文";
  m_site.SetCanned("GET", "/gbk", Reply(gbkPage));
  m_site.SetCanned("GET", "/latin", Reply(latinPage));
  m_site.SetCanned("GET", "/sjis", Reply(sjisPage));
  m_site.SetCanned("GET", "/utf8", Reply(utf8Page));
  m_site.SetCanned("GET", "/none", Reply("no meta 中"));

  const HttpDirectResponse gbk = HttpRequestDirect(Url("/gbk"));
  EXPECT_NE(gbk.text.find("<body>中文</body>"), std::string::npos);
  EXPECT_EQ(gbk.body, gbkPage);
  EXPECT_EQ(HttpRequestDirect(Url("/latin")).text, "<meta charset='iso-8859-1'><p>café</p>");
  EXPECT_EQ(HttpRequestDirect(Url("/sjis")).text, "<META CHARSET=\"Shift_JIS\">日本");
  EXPECT_EQ(HttpRequestDirect(Url("/utf8")).text, utf8Page);
  EXPECT_EQ(HttpRequestDirect(Url("/none")).text, "no meta 中");
}

TEST_F(HttpClientTest, DirectMeetsProxyWithBasicCredentialsForHttp) {
  HttpDirectOptions options;
  options.proxy = "127.0.0.1:" + std::to_string(m_site.Port());
  options.proxyUser = "u";
  options.proxyPassword = "p";
  (void)HttpRequestDirect("http://emby.invalid/emby/Persons", options);
  const RecordedRequest got = Last();
  EXPECT_EQ(got.Header("Host"), "emby.invalid");
  EXPECT_EQ(got.Header("Proxy-Authorization"), "Basic dTpw");
}

// A TLS server on loopback with a certificate made for this test.
class SelfSignedServer {
 public:
  SelfSignedServer(const test::Sandbox& sandbox, std::string redirectTarget)
      : m_cert((sandbox / "cert.pem").string()), m_key((sandbox / "key.pem").string()) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        m_key + "' -out '" + m_cert + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    m_server = std::make_unique<httplib::SSLServer>(m_cert.c_str(), m_key.c_str());
    m_server->Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("secret page", "text/plain");
    });
    m_server->Get("/jump", [redirectTarget](const httplib::Request&, httplib::Response& res) {
      res.set_redirect(redirectTarget);
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) return;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 500 && !m_server->is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~SelfSignedServer() {
    if (m_thread.joinable()) {
      m_server->stop();
      m_thread.join();
    }
  }
  SelfSignedServer(const SelfSignedServer&) = delete;
  SelfSignedServer& operator=(const SelfSignedServer&) = delete;

  [[nodiscard]] bool Running() const { return m_thread.joinable(); }
  [[nodiscard]] std::string Url(std::string_view path = "/") const {
    return "https://127.0.0.1:" + std::to_string(m_port) + std::string(path);
  }
  [[nodiscard]] const std::string& CertFile() const { return m_cert; }

 private:
  std::string m_cert;
  std::string m_key;
  std::unique_ptr<httplib::SSLServer> m_server;
  std::thread m_thread;
  int m_port = 0;
};

TEST(HttpTlsTest, UntrustedCertificateIsRefusedAndTrustedOneAccepted) {
  test::Sandbox sandbox;
  SelfSignedServer server(sandbox, "/");
  ASSERT_TRUE(server.Running());

  const HttpResponse refused = HttpRequest(server.Url());
  EXPECT_EQ(refused.failure, HttpFailure::kTls);
  EXPECT_EQ(refused.status, 0);
  EXPECT_TRUE(refused.body.empty());
  EXPECT_EQ(HttpRequestDirect(server.Url()).errorMessage, "711 发送请求失败!");
  EXPECT_EQ(PlainGet(server.Url()), "");

  HttpRequestOptions options;
  options.caFile = server.CertFile();
  const HttpResponse trusted = HttpRequest(server.Url(), options);
  EXPECT_EQ(trusted.status, 200);
  EXPECT_EQ(trusted.body, "secret page");
}

TEST(HttpTlsTest, RedirectFromHttpsToPlainHttpIsNotFollowedWithCookies) {
  test::Sandbox sandbox;
  const std::string plainTarget = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  SelfSignedServer server(sandbox, plainTarget);
  ASSERT_TRUE(server.Running());
  std::string cookies = "SESSDATA=secret";
  HttpRequestOptions options;
  options.caFile = server.CertFile();
  options.cookies = &cookies;
  EXPECT_EQ(HttpRequest(server.Url("/jump"), options).failure, HttpFailure::kInsecureCookie);

  options.cookies = nullptr;
  EXPECT_EQ(HttpRequest(server.Url("/jump"), options).failure, HttpFailure::kConnect);
}

// Replies that are not HTTP, or that promise too much, fail with the failure
// that names them; nothing short passes for complete.
TEST(HttpRawReplyTest, BrokenRepliesFailWithTheirOwnFailure) {
  const std::vector<std::pair<std::string, HttpFailure>> cases = {
      {"hello, no status line\n", HttpFailure::kNoResponse},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc",
       HttpFailure::kTooLarge},
      {"HTTP/1.1 200 OK\r\nContent-Length: 70000000\r\n\r\nabc", HttpFailure::kTooLarge},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", HttpFailure::kRead},
  };
  for (const auto& [reply, failure] : cases) {
    RawServer server(reply);
    HttpRequestOptions options;
    options.timeoutSeconds = 5;
    const HttpResponse response = HttpRequest(server.Url(), options);
    EXPECT_EQ(response.failure, failure) << reply;
    EXPECT_TRUE(response.body.empty()) << reply;
  }
  EXPECT_EQ(DirectErrorMessage(HttpFailure::kTooLarge), "716 响应数据过大!");
}

TEST_F(HttpClientTest, AnswersAboveTheSizeLimitFailCleanly) {
  m_site.SetCanned("GET", "/big", Reply(std::string(10'000, 'x')));
  m_site.SetCanned("GET", "/chunked/big", Reply(std::string(10'000, 'x')));
  m_site.SetFault("/chunked", Fault::Chunked());
  const std::vector<std::tuple<std::string, std::size_t, HttpFailure>> cases = {
      {"/big", 9'999, HttpFailure::kTooLarge},
      {"/chunked/big", 9'999, HttpFailure::kTooLarge},
      {"/big", 10'000, HttpFailure::kNone},
      {"/chunked/big", 10'000, HttpFailure::kNone},
  };
  for (const auto& [path, limit, failure] : cases) {
    HttpRequestOptions options;
    options.maxBodyBytes = limit;
    const HttpResponse response = HttpRequest(Url(path), options);
    EXPECT_EQ(response.failure, failure) << path << " " << limit;
    EXPECT_EQ(response.body.size(), failure == HttpFailure::kNone ? 10'000u : 0u);
  }
}

TEST_F(HttpClientTest, ASlowTrickleEndsAtTheDeadline) {
  m_site.SetCanned("GET", "/trickle", Reply(std::string(100'000, 'x')));
  m_site.SetFault("/trickle", Fault::Throttle(200));
  HttpRequestOptions options;
  options.deadlineMs = 1'500;
  const HttpResponse response = HttpRequest(Url("/trickle"), options);
  EXPECT_EQ(response.failure, HttpFailure::kRead);
  EXPECT_TRUE(response.body.empty());
}

TEST_F(HttpClientTest, RedirectLoopIsReportedAsSuch) {
  m_site.SetCanned("GET", "/loop", Reply("", {{"Location", "/loop"}}, 302));
  const HttpResponse response = HttpRequest(Url("/loop"));
  EXPECT_EQ(response.failure, HttpFailure::kTooManyRedirects);
  EXPECT_EQ(HttpRequestDirect(Url("/loop")).errorMessage, "715 重定向次数过多!");
  EXPECT_EQ(m_site.Requests().size(), 22u);  // the first and ten redirects, twice
}

// "localhost" and "127.0.0.1" are two hosts to the client, so the fake site
// can play both ends of a redirect to a third party.
TEST_F(HttpClientTest, AnotherHostGetsNoCookieNorRefererAndSetsNoCookie) {
  const std::string otherHost = "http://localhost:" + std::to_string(m_site.Port());
  m_site.SetCanned("GET", "/away", Reply("", {{"Location", otherHost + "/land"}}, 302));
  m_site.SetCanned("GET", "/home", Reply("", {{"Location", "/land"}}, 302));
  m_site.SetCanned("GET", "/land", Reply("ok", {{"Set-Cookie", "SESSDATA=planted; Path=/"}}));
  struct Case {
    const char* path;
    const char* cookiesAfter;
    bool headersFollow;
  };
  for (const Case& c :
       {Case{"/away", "SESSDATA=mine; b=1", false}, Case{"/home", "SESSDATA=planted; b=1", true}}) {
    m_site.ClearRequests();
    std::string cookies = "SESSDATA=mine; b=1";
    HttpRequestOptions options;
    options.cookies = &cookies;
    const HttpResponse response = HttpRequest(Url(c.path), options);
    EXPECT_EQ(response.body, "ok") << c.path;
    EXPECT_EQ(cookies, c.cookiesAfter) << c.path;
    const RecordedRequest landed = Last();
    EXPECT_EQ(landed.path, "/land");
    EXPECT_EQ(landed.HasHeader("Cookie"), c.headersFollow) << c.path;
    EXPECT_EQ(landed.HasHeader("Referer"), c.headersFollow) << c.path;
  }
}

TEST_F(HttpClientTest, AMultiLineCookieIsSentWholeOnOneLine) {
  std::string cookies = "SESSDATA=abc;\r\nbili_jct=def\r\n";
  HttpRequestOptions options;
  options.cookies = &cookies;
  EXPECT_EQ(HttpRequest(Url("/c"), options).failure, HttpFailure::kNone);
  EXPECT_EQ(Last().Header("Cookie"), "SESSDATA=abc; bili_jct=def");
  EXPECT_EQ(cookies, "SESSDATA=abc; bili_jct=def");

  options.headers = "X-Evil: a\rInjected: 1";  // other lines with a break stay dropped
  (void)HttpRequest(Url("/c"), options);
  EXPECT_FALSE(Last().HasHeader("X-Evil"));
  EXPECT_FALSE(Last().HasHeader("Injected"));
}

}  // namespace
}  // namespace korvid
