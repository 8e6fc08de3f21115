#include "site/cookie_refresh.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/login_record.h"
#include "controls/control_names.h"
#include "net/http_client.h"
#include "net/http_text.h"
#include "net/json_document.h"
#include "net/site_hosts.h"

namespace korvid {
namespace {

constexpr std::string_view kInfoPath = "/x/passport-login/web/cookie/info";
constexpr std::string_view kRefreshPath = "/x/passport-login/web/cookie/refresh";
constexpr std::string_view kConfirmPath = "/x/passport-login/web/confirm/refresh";
constexpr std::string_view kCsrfOpen = "<div id=\"1-name\">";
constexpr std::string_view kNotLoggedIn = "-101";

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using ContextPtr = std::unique_ptr<EVP_PKEY_CTX, ContextFree>;

std::optional<std::string> Base64Decode(std::string_view text) {
  std::string clean;
  for (const char c : text) {
    if (c != '\n' && c != '\r' && c != ' ') clean += c;
  }
  if (clean.empty() || clean.size() % 4 != 0) return std::nullopt;
  std::string bytes(clean.size() / 4 * 3, '\0');
  const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                      reinterpret_cast<const unsigned char*>(clean.data()),
                                      static_cast<int>(clean.size()));
  if (written < 0) return std::nullopt;
  std::size_t size = static_cast<std::size_t>(written);
  // EVP_DecodeBlock counts the padding as zero bytes.
  for (std::size_t i = clean.size(); i > 0 && clean[i - 1] == '='; --i) --size;
  bytes.resize(size);
  return bytes;
}

KeyPtr ReadPublicKey(std::string_view keyBase64) {
  const std::optional<std::string> der = Base64Decode(keyBase64);
  if (!der) return nullptr;
  const auto* cursor = reinterpret_cast<const unsigned char*>(der->data());
  return KeyPtr(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der->size())));
}

bool SetOaepSha256(EVP_PKEY_CTX* context) {
  return EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_OAEP_PADDING) > 0 &&
         EVP_PKEY_CTX_set_rsa_oaep_md(context, EVP_sha256()) > 0 &&
         EVP_PKEY_CTX_set_rsa_mgf1_md(context, EVP_sha256()) > 0;
}

// One step's answer: its code and message, or why there was none.
struct StepAnswer {
  JsonDocument json;
  std::string code;
  std::string failure;  // empty when the answer was read
};

std::string NetworkReason(const HttpResponse& response) {
  if (!response.Completed()) return "网络错误";
  return "HTTP " + std::to_string(response.status);
}

StepAnswer ReadAnswer(const HttpResponse& response) {
  StepAnswer answer;
  if (!response.Completed() || response.status < 200 || response.status > 299) {
    answer.failure = NetworkReason(response);
  } else if (!answer.json.Parse(response.body) || answer.json.TypeOf("code") == kJsonMissing) {
    answer.failure = "无法读取的回答";
  } else {
    answer.code = answer.json.GetValue("code");
  }
  return answer;
}

std::string RefusalReason(const StepAnswer& answer) {
  const std::string message = answer.json.GetValue("message");
  return (message.empty() ? std::string("错误") : message) + "（" + answer.code + "）";
}

HttpResponse Send(std::string_view url, std::string* cookies, std::string body = {}) {
  HttpRequestOptions options;
  options.cookies = cookies;
  if (!body.empty()) {
    options.method = static_cast<int>(HttpMethod::kPost);
    options.body = std::move(body);
    options.headers = "Content-Type: application/x-www-form-urlencoded";
  }
  return HttpRequest(url, options);
}

// The value of one name=value pair of a cookie text; empty when absent.
std::string CookieValue(std::string_view cookies, std::string_view name) {
  while (!cookies.empty()) {
    const std::size_t end = cookies.find(';');
    std::string_view pair = cookies.substr(0, end);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=') {
      return std::string(pair.substr(name.size() + 1));
    }
    if (end == std::string_view::npos) break;
    cookies.remove_prefix(end + 1);
  }
  return {};
}

RefreshResult Failed(std::string reason) {
  return RefreshResult{RefreshOutcome::kFailed, std::move(reason), {}};
}

RefreshResult RefusedOrGone(const StepAnswer& answer) {
  if (answer.code == kNotLoggedIn) return RefreshResult{RefreshOutcome::kLoggedOut, "", {}};
  return Failed(RefusalReason(answer));
}

std::string FormEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
                       (byte >= 'A' && byte <= 'Z') || c == '-' || c == '_' || c == '.';
    if (plain) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

// cookie/refresh, then confirm/refresh; the cookie and token of the new log-in.
RefreshResult Renew(const LoginTokens& current, std::string_view refreshCsrf,
                    const KeepLogin& keep) {
  std::string cookies = current.cookies;
  const std::string refreshBody =
      "csrf=" + FormEncode(CookieValue(current.cookies, "bili_jct")) +
      "&refresh_csrf=" + FormEncode(refreshCsrf) +
      "&source=main_web&refresh_token=" + FormEncode(current.refreshToken);
  const StepAnswer renewed = ReadAnswer(Send(PassportUrl(kRefreshPath), &cookies, refreshBody));
  if (!renewed.failure.empty()) return Failed("cookie/refresh: " + renewed.failure);
  if (renewed.code != "0") return RefusedOrGone(renewed);
  const std::string newToken = renewed.json.GetValue("data.refresh_token");
  const std::string newCsrf = CookieValue(cookies, "bili_jct");
  if (newToken.empty() || newCsrf.empty() || cookies == current.cookies) {
    return Failed("cookie/refresh: 回答中没有新的登录信息");
  }
  // Both cookies are valid until the confirm; a failed confirm does not undo
  // the refresh.
  const LoginTokens renewedTokens{cookies, newToken};
  if (keep && !keep(renewedTokens)) return Failed("无法保存新的登录信息");
  std::string confirmCookies = cookies;
  const StepAnswer confirmed = ReadAnswer(
      Send(PassportUrl(kConfirmPath), &confirmCookies,
           "csrf=" + FormEncode(newCsrf) + "&refresh_token=" + FormEncode(current.refreshToken)));
  RefreshResult result{RefreshOutcome::kRefreshed, "", renewedTokens};
  if (!confirmed.failure.empty()) result.reason = "confirm/refresh: " + confirmed.failure;
  if (confirmed.failure.empty() && confirmed.code != "0") {
    result.reason = "confirm/refresh: " + RefusalReason(confirmed);
  }
  return result;
}

}  // namespace

std::string LowerHex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0F];
  }
  return hex;
}

std::optional<std::string> OaepEncrypt(std::string_view keyBase64, std::string_view text) {
  const KeyPtr key = ReadPublicKey(keyBase64);
  if (!key) return std::nullopt;
  const ContextPtr context(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!context || EVP_PKEY_encrypt_init(context.get()) <= 0 || !SetOaepSha256(context.get())) {
    return std::nullopt;
  }
  const auto* input = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t size = 0;
  if (EVP_PKEY_encrypt(context.get(), nullptr, &size, input, text.size()) <= 0) {
    return std::nullopt;
  }
  std::vector<unsigned char> output(size);
  if (EVP_PKEY_encrypt(context.get(), output.data(), &size, input, text.size()) <= 0) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(output.data()), size);
}

std::optional<std::string> CorrespondPath(std::string_view keyBase64, std::int64_t timestampMs) {
  const std::optional<std::string> cipher =
      OaepEncrypt(keyBase64, "refresh_" + std::to_string(timestampMs));
  if (!cipher) return std::nullopt;
  return LowerHex(*cipher);
}

std::string RefreshCsrfOfPage(std::string_view html) {
  const std::size_t open = html.find(kCsrfOpen);
  if (open == std::string_view::npos) return {};
  const std::size_t start = open + kCsrfOpen.size();
  const std::size_t end = html.find('<', start);
  if (end == std::string_view::npos) return {};
  std::string_view csrf = html.substr(start, end - start);
  while (!csrf.empty() && (csrf.front() == ' ' || csrf.front() == '\n')) csrf.remove_prefix(1);
  while (!csrf.empty() && (csrf.back() == ' ' || csrf.back() == '\n')) csrf.remove_suffix(1);
  return std::string(csrf);
}

RefreshResult RefreshLogin(const LoginTokens& current, std::string_view keyBase64,
                           const KeepLogin& keep) {
  std::string cookies = current.cookies;
  const StepAnswer info = ReadAnswer(Send(PassportUrl(kInfoPath), &cookies));
  if (!info.failure.empty()) return Failed("cookie/info: " + info.failure);
  if (info.code != "0") return RefusedOrGone(info);
  if (info.json.GetValue("data.refresh") != "true") {
    return RefreshResult{RefreshOutcome::kNotNeeded, "", {}};
  }
  if (current.refreshToken.empty()) return Failed("没有 refresh_token（请重新扫码登录）");
  const std::int64_t timestamp =
      std::strtoll(info.json.GetValue("data.timestamp").c_str(), nullptr, 10);
  const std::optional<std::string> path = CorrespondPath(keyBase64, timestamp);
  if (timestamp <= 0 || !path) return Failed("无法生成 correspondPath");

  std::string pageCookies = current.cookies;
  const HttpResponse page = Send(CurrentSiteHosts().web + "/correspond/1/" + *path, &pageCookies);
  if (!page.Completed() || page.status != 200) return Failed("correspond: " + NetworkReason(page));
  const std::string csrf = RefreshCsrfOfPage(page.body);
  if (csrf.empty()) return Failed("correspond: 页面中没有 refresh_csrf");
  return Renew(current, csrf, keep);
}

std::string RefreshFailedText(std::string_view reason) {
  return "登录续期失败：" + std::string(reason);
}

std::string RefreshAnswerText(const RefreshResult& result) {
  switch (result.outcome) {
    case RefreshOutcome::kNotNeeded:
      return "无需续期";
    case RefreshOutcome::kRefreshed:
      return result.reason.empty() ? "已续期" : "已续期（" + result.reason + "）";
    case RefreshOutcome::kLoggedOut:
      return "登录已失效";
    case RefreshOutcome::kFailed:
      break;
  }
  return RefreshFailedText(result.reason);
}

bool StoreNewLogin(const std::string& settingsPath, const std::string& cookies,
                   const std::string& refreshToken, std::int64_t nowUnixMs) {
  return SaveLoginRecord(settingsPath, LoginRecord{refreshToken, nowUnixMs, "新登录"}, &cookies);
}

std::int64_t UnixNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::optional<RefreshResult> RefreshLoginIfDue(Controls& controls, const std::string& settingsPath,
                                               std::int64_t nowUnixMs, bool force) {
  const std::string cookies = controls.Text(kCookiesBox);
  if (cookies.empty()) return std::nullopt;
  LoginRecord record = LoadLoginRecord(settingsPath);
  const std::int64_t sinceLast = nowUnixMs - record.lastCheckUnixMs;
  if (!force && sinceLast >= 0 && sinceLast < kRefreshCheckIntervalMs) return std::nullopt;

  record.lastCheckUnixMs = nowUnixMs;
  const auto keep = [&](const LoginTokens& renewed) {
    LoginRecord renewedRecord = record;
    renewedRecord.refreshToken = renewed.refreshToken;
    renewedRecord.lastCheckAnswer = "已续期";
    return SaveLoginRecord(settingsPath, renewedRecord, &renewed.cookies);
  };
  const RefreshResult result =
      RefreshLogin({cookies, record.refreshToken}, CurrentRefreshKey(), keep);
  record.lastCheckAnswer = RefreshAnswerText(result);
  if (result.outcome == RefreshOutcome::kRefreshed) {
    record.refreshToken = result.tokens.refreshToken;
    controls.SetText(kCookiesBox, result.tokens.cookies);
  }
  const std::string gone;
  const bool loggedOut = result.outcome == RefreshOutcome::kLoggedOut;
  if (loggedOut) {
    record.refreshToken.clear();
    controls.SetText(kCookiesBox, gone);
  }
  (void)SaveLoginRecord(settingsPath, record, loggedOut ? &gone : nullptr);
  if (result.outcome == RefreshOutcome::kFailed) {
    controls.ShowNotice(record.lastCheckAnswer, kNoticeFailed);
  }
  return result;
}

}  // namespace korvid
