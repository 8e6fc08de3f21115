#include "site/qr_login.h"

#include <cctype>

#include "controls/control_names.h"
#include "net/http_client.h"
#include "net/http_text.h"
#include "net/json_document.h"
#include "net/site_hosts.h"
#include "net/user_agents.h"
#include "site/account_info.h"
#include "site/login_images.h"
#include "site/qr_image.h"

namespace korvid {

namespace {

// The poll of the older calls carries a fixed browser header block.
std::string OauthPollHeaders() {
  return "User-Agent: " + std::string(kQrPollAgent) +
         "\r\n"
         "Accept:text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,image/"
         "apng,*/*;q=0.8,application/signed-exchange;v=b3;q=0.9\r\n"
         "referer: " +
         CurrentSiteHosts().web + "/";
}

// The key goes into a query; the site's keys are hex, anything else is escaped.
std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || c == '-' || c == '_' || c == '.' || c == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

void ShowExpired(Controls& controls) {
  controls.SetPicture(kQrPicture, ExpiredQrPng());
  SetStatusCaption(controls, "请重新获取二维码");
}

}  // namespace

std::optional<QrCode> OauthKeyQrLogin::NewCode() {
  const HttpResponse response = HttpRequestInet(PassportUrl("/qrcode/getLoginUrl"));
  JsonDocument answer;
  if (!response.Completed() || !answer.Parse(response.body)) return std::nullopt;
  QrCode code{answer.GetValue("data.url"), answer.GetValue("data.oauthKey")};
  if (code.url.empty() || code.key.empty()) return std::nullopt;
  return code;
}

QrPoll OauthKeyQrLogin::Poll(const QrCode& code) {
  HttpDirectOptions options;
  options.method = static_cast<int>(HttpMethod::kPost);
  options.body = "oauthKey=" + code.key;
  options.headers = OauthPollHeaders();
  const HttpDirectResponse response =
      HttpRequestDirect(PassportUrl("/qrcode/getLoginInfo"), options);
  QrPoll poll;
  // Only what the passport host (or its parent domain) set: the client keeps
  // no cookie of an answer that a redirect brought from another site.
  poll.cookies = response.newCookies;
  JsonDocument answer;
  if (!response.Completed() || !answer.Parse(response.body)) return poll;
  const std::string data = answer.GetValue("data");
  if (answer.TypeOf("code") != kJsonMissing && answer.GetValue("code") == "0") {
    poll.state = QrPollState::kConfirmed;
  } else if (data == "-2") {
    poll.state = QrPollState::kExpired;
  } else if (data == "-4") {
    poll.state = QrPollState::kNotScanned;
  } else if (data == "-5") {
    poll.state = QrPollState::kScanned;
  }
  return poll;
}

std::optional<QrCode> QrcodeKeyQrLogin::NewCode() {
  const HttpResponse response =
      HttpRequestInet(PassportUrl("/x/passport-login/web/qrcode/generate"));
  JsonDocument answer;
  if (!response.Completed() || response.status != 200 || !answer.Parse(response.body) ||
      answer.TypeOf("code") == kJsonMissing || answer.GetValue("code") != "0") {
    return std::nullopt;
  }
  QrCode code{answer.GetValue("data.url"), answer.GetValue("data.qrcode_key")};
  if (code.url.empty() || code.key.empty()) return std::nullopt;
  return code;
}

QrPoll QrcodeKeyQrLogin::Poll(const QrCode& code) {
  const HttpResponse response = HttpRequestInet(
      PassportUrl("/x/passport-login/web/qrcode/poll?qrcode_key=" + PercentEncode(code.key)));
  QrPoll poll;
  // Only what the passport host (or its parent domain) set: the client keeps
  // no cookie of an answer that a redirect brought from another site.
  poll.cookies = response.newCookies;
  JsonDocument answer;
  if (!response.Completed() || !answer.Parse(response.body) || answer.GetValue("code") != "0" ||
      answer.TypeOf("data.code") == kJsonMissing) {
    return poll;
  }
  const std::string state = answer.GetValue("data.code");
  if (state == "0") {
    poll.state = QrPollState::kConfirmed;
    poll.refreshToken = answer.GetValue("data.refresh_token");
  } else if (state == "86038") {
    poll.state = QrPollState::kExpired;
  } else if (state == "86090") {
    poll.state = QrPollState::kScanned;
  } else if (state == "86101") {
    poll.state = QrPollState::kNotScanned;
  }
  return poll;
}

FallbackQrLogin::FallbackQrLogin(std::unique_ptr<QrLoginApi> preferred,
                                 std::unique_ptr<QrLoginApi> fallback)
    : m_preferred(std::move(preferred)), m_fallback(std::move(fallback)) {}

std::optional<QrCode> FallbackQrLogin::NewCode() {
  for (QrLoginApi* api : {m_preferred.get(), m_fallback.get()}) {
    if (std::optional<QrCode> code = api->NewCode()) {
      m_issuer = api;
      return code;
    }
  }
  m_issuer = nullptr;
  return std::nullopt;
}

QrPoll FallbackQrLogin::Poll(const QrCode& code) {
  return m_issuer != nullptr ? m_issuer->Poll(code) : QrPoll{};
}

QrPollLimit FallbackQrLogin::Limit() const {
  return m_issuer != nullptr ? m_issuer->Limit() : QrLoginApi::Limit();
}

std::unique_ptr<QrLoginApi> DefaultQrLoginApi() {
  return std::make_unique<FallbackQrLogin>(std::make_unique<QrcodeKeyQrLogin>(),
                                           std::make_unique<OauthKeyQrLogin>());
}

QrLoginOutcome RunQrLogin(Controls& controls, QrLoginApi& api, const QrLoginHooks& hooks) {
  const std::optional<QrCode> code = api.NewCode();
  if (!code) {
    controls.ShowNotice(kNoticeQrFailed, kNoticeFailed);
    return QrLoginOutcome::kNoCode;
  }
  controls.SetPicture(kQrPicture, QrPng(code->url));
  if (hooks.codeShown) hooks.codeShown(*code);

  const auto now = hooks.now ? hooks.now : [] { return std::chrono::steady_clock::now(); };
  const QrPollLimit limit = api.Limit();
  const auto shownAt = now();
  std::string captured;
  std::string refreshToken;
  QrPollState shown = QrPollState::kUnknown;
  QrLoginOutcome outcome = QrLoginOutcome::kTimedOut;
  for (int polls = 0;;) {
    const QrPoll poll = api.Poll(*code);
    captured = poll.cookies;
    refreshToken = poll.refreshToken;
    if (poll.state != shown && poll.state != QrPollState::kUnknown) {
      shown = poll.state;
      if (shown == QrPollState::kScanned)
        controls.ShowNotice(kNoticeQrScanned, kNoticeQrScannedTitle);
      if (hooks.stateChanged) hooks.stateChanged(shown);
    }
    if (poll.state == QrPollState::kConfirmed) {
      outcome = captured.empty() ? QrLoginOutcome::kNoCookie : QrLoginOutcome::kLoggedIn;
      break;
    }
    if (poll.state == QrPollState::kExpired) {
      outcome = QrLoginOutcome::kExpired;
      break;
    }
    if (hooks.wait && !hooks.wait(kQrPollInterval)) return QrLoginOutcome::kStopped;
    ++polls;
    if (limit.polls > 0 && polls >= limit.polls) break;
    if (limit.lifetime.count() > 0 && now() - shownAt >= limit.lifetime) break;
    // Neither limit set: the count of the older calls still ends the log-in.
    if (limit.polls <= 0 && limit.lifetime.count() <= 0 && polls >= kQrMaxPolls) break;
  }

  if (outcome == QrLoginOutcome::kLoggedIn) {
    controls.SetText(kCookiesBox, captured);
    if (hooks.loggedIn) hooks.loggedIn(captured, refreshToken);
    controls.SetPicture(kQrPicture, {});  // a used code is no use to anyone
    (void)ShowAccountInfo(controls);
  } else if (outcome == QrLoginOutcome::kNoCookie) {
    controls.ShowNotice(kNoticeLoginFailed, kNoticeFailed);
  } else {
    ShowExpired(controls);
  }
  return outcome;
}

}  // namespace korvid
