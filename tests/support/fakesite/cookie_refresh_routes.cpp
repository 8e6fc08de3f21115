// The passport host's cookie refresh, with an RSA key pair of the fake site's
// own: the client encrypts "refresh_<timestamp>" with the public half, and the
// correspond page answers only when the private half decrypts a timestamp
// that cookie/info issued.

#include "support/fakesite/cookie_refresh_routes.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "support/fakesite/site_routes.h"

namespace korvid::fakesite {

namespace {

constexpr int kNotLoggedIn = -101;
constexpr int kCsrfFailed = -111;
constexpr int kRefreshRefused = 86095;

std::string CookieOf(const Incoming& in, const std::string& name) {
  const std::string header = in.request.Header("Cookie");
  const std::string key = name + "=";
  std::size_t at = 0;
  while (at < header.size()) {
    while (at < header.size() && header[at] == ' ') ++at;
    const std::size_t end = std::min(header.find(';', at), header.size());
    if (header.compare(at, key.size(), key) == 0) {
      return header.substr(at + key.size(), end - at - key.size());
    }
    at = end + 1;
  }
  return {};
}

Reply Code(int code, const std::string& message) {
  return JsonReply(DumpApiJson(Json{{"code", code}, {"message", message}, {"ttl", 1}}));
}

std::optional<std::string> FromHex(const std::string& hex) {
  if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1) return std::nullopt;
    bytes += static_cast<char>(value);
  }
  return bytes;
}

std::string Token(const char* kind, int generation) {
  char text[40];
  std::snprintf(text, sizeof text, "%s%08d", kind, generation);
  return text;
}

}  // namespace

struct CookieRefreshRoutes::Keys {
  EVP_PKEY* pair = EVP_RSA_gen(1024);
  Keys() = default;
  ~Keys() { EVP_PKEY_free(pair); }
  Keys(const Keys&) = delete;
  Keys& operator=(const Keys&) = delete;

  [[nodiscard]] std::string PublicBase64() const {
    unsigned char* der = nullptr;
    const int size = i2d_PUBKEY(pair, &der);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(4 * ((size + 2) / 3)) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), der, size);
    OPENSSL_free(der);
    text.resize(static_cast<std::size_t>(written));
    return text;
  }

  [[nodiscard]] std::optional<std::string> Decrypt(const std::string& cipher) const {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(pair, nullptr);
    std::optional<std::string> plain;
    std::size_t size = 0;
    const auto* input = reinterpret_cast<const unsigned char*>(cipher.data());
    if (context != nullptr && EVP_PKEY_decrypt_init(context) > 0 &&
        EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_OAEP_PADDING) > 0 &&
        EVP_PKEY_CTX_set_rsa_oaep_md(context, EVP_sha256()) > 0 &&
        EVP_PKEY_CTX_set_rsa_mgf1_md(context, EVP_sha256()) > 0 &&
        EVP_PKEY_decrypt(context, nullptr, &size, input, cipher.size()) > 0) {
      std::vector<unsigned char> output(size);
      if (EVP_PKEY_decrypt(context, output.data(), &size, input, cipher.size()) > 0) {
        plain.emplace(reinterpret_cast<const char*>(output.data()), size);
      }
    }
    EVP_PKEY_CTX_free(context);
    return plain;
  }
};

namespace {

// Made once per process: a key pair takes a while, and every test starts a
// fake site.
const CookieRefreshRoutes::Keys& SharedKeys() {
  static const CookieRefreshRoutes::Keys keys;
  return keys;
}

}  // namespace

CookieRefreshRoutes::CookieRefreshRoutes(std::string sessdata, std::string biliJct,
                                         std::string refreshToken)
    : m_current{std::move(sessdata), std::move(biliJct), std::move(refreshToken)} {}

CookieRefreshRoutes::~CookieRefreshRoutes() = default;

std::optional<Reply> CookieRefreshRoutes::Route(const Incoming& in) {
  const std::string& path = in.request.path;
  constexpr std::string_view kCorrespond = "/correspond/1/";
  if (path == "/x/passport-login/web/cookie/info") return Info(in);
  if (path.rfind(kCorrespond, 0) == 0) return Correspond(in, path.substr(kCorrespond.size()));
  if (in.request.method != "POST") return std::nullopt;
  if (path == "/x/passport-login/web/cookie/refresh") return Refresh(in);
  if (path == "/x/passport-login/web/confirm/refresh") return Confirm(in);
  return std::nullopt;
}

bool CookieRefreshRoutes::AcceptsLocked(const std::string& sessdata) const {
  return !sessdata.empty() &&
         (sessdata == m_current.sessdata || (m_previous && sessdata == m_previous->sessdata));
}

bool CookieRefreshRoutes::Accepts(const std::string& sessdata) const {
  std::lock_guard lock(m_mutex);
  return AcceptsLocked(sessdata);
}

Reply CookieRefreshRoutes::Info(const Incoming& in) {
  std::lock_guard lock(m_mutex);
  ++m_calls.info;
  if (!AcceptsLocked(CookieOf(in, "SESSDATA"))) return Code(kNotLoggedIn, "账号未登录");
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  m_timestamps.insert(now);
  const Json data{{"refresh", m_needed}, {"timestamp", now}};
  return JsonReply(DumpApiJson(Json{{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}}));
}

Reply CookieRefreshRoutes::Correspond(const Incoming& in, const std::string& hexPath) {
  const std::optional<std::string> cipher = FromHex(hexPath);
  const std::optional<std::string> plain = cipher ? SharedKeys().Decrypt(*cipher) : std::nullopt;
  std::lock_guard lock(m_mutex);
  ++m_calls.correspond;
  m_lastDecrypted = plain.value_or("");
  bool issued = false;
  for (const std::int64_t timestamp : m_timestamps) {
    issued = issued || m_lastDecrypted == "refresh_" + std::to_string(timestamp);
  }
  if (!issued || !AcceptsLocked(CookieOf(in, "SESSDATA"))) {
    Reply missing = TextReply(404, "<html><body><h1>404 Not Found</h1></body></html>");
    missing.contentType = "text/html; charset=utf-8";
    return missing;
  }
  m_refreshCsrf = Token("csrf", ++m_renewals);
  Reply page = TextReply(200, "<html><body><div id=\"1-name\">" + m_refreshCsrf +
                                  "</div><div id=\"2-name\">other</div></body></html>");
  page.contentType = "text/html; charset=utf-8";
  return page;
}

Reply CookieRefreshRoutes::Refresh(const Incoming& in) {
  std::lock_guard lock(m_mutex);
  ++m_calls.refresh;
  if (!AcceptsLocked(CookieOf(in, "SESSDATA"))) return Code(kNotLoggedIn, "账号未登录");
  if (m_answerCode != 0) return Code(m_answerCode, "fault " + std::to_string(m_answerCode));
  if (in.Param("csrf") != m_current.biliJct) return Code(kCsrfFailed, "csrf 校验失败");
  if (m_refreshCsrf.empty() || in.Param("refresh_csrf") != m_refreshCsrf ||
      in.Param("refresh_token") != m_current.refreshToken || in.Param("source") != "main_web") {
    return Code(kRefreshRefused, "refresh_csrf 错误或 refresh_token 与 cookie 不匹配");
  }
  m_previous = m_current;
  m_current = Login{Token("sess", m_renewals), Token("jct", m_renewals), Token("tok", m_renewals)};
  m_refreshCsrf.clear();
  const std::string tail = "; Path=/; Domain=bilibili.com; Expires=Sat, 04 Mar 2037 07:30:09 GMT";
  const Json data{{"status", 0}, {"message", ""}, {"refresh_token", m_current.refreshToken}};
  Reply reply =
      JsonReply(DumpApiJson(Json{{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}}));
  reply.headers = {{"set-cookie", "SESSDATA=" + m_current.sessdata + tail + "; HttpOnly"},
                   {"set-cookie", "bili_jct=" + m_current.biliJct + tail},
                   {"set-cookie", "sid=fakesid" + std::to_string(m_renewals + 1) + tail}};
  return reply;
}

Reply CookieRefreshRoutes::Confirm(const Incoming& in) {
  std::lock_guard lock(m_mutex);
  ++m_calls.confirm;
  m_calls.confirmCsrf = in.Param("csrf");
  m_calls.confirmToken = in.Param("refresh_token");
  if (CookieOf(in, "SESSDATA") != m_current.sessdata) return Code(kNotLoggedIn, "账号未登录");
  if (m_calls.confirmCsrf != m_current.biliJct) return Code(kCsrfFailed, "csrf 校验失败");
  if (!m_previous || m_calls.confirmToken != m_previous->refreshToken) {
    return Code(-400, "请求错误");
  }
  m_previous.reset();
  return Code(0, "0");
}

std::string CookieRefreshRoutes::PublicKeyBase64() const {
  return SharedKeys().PublicBase64();
}

void CookieRefreshRoutes::SetRefreshNeeded(bool needed) {
  std::lock_guard lock(m_mutex);
  m_needed = needed;
}

void CookieRefreshRoutes::SetRefreshAnswerCode(int code) {
  std::lock_guard lock(m_mutex);
  m_answerCode = code;
}

RefreshCalls CookieRefreshRoutes::Calls() const {
  std::lock_guard lock(m_mutex);
  return m_calls;
}

std::string CookieRefreshRoutes::LastDecrypted() const {
  std::lock_guard lock(m_mutex);
  return m_lastDecrypted;
}

}  // namespace korvid::fakesite
