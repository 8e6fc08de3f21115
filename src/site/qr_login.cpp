#include "site/qr_login.h"

#include "net/http_client.h"
#include "net/http_text.h"
#include "net/json_document.h"
#include "net/site_hosts.h"
#include "site/account_info.h"
#include "site/login_images.h"
#include "site/qr_image.h"

namespace korvid {

namespace {

constexpr std::string_view kCookieBox = "编辑框_cookies";
constexpr std::string_view kQrBox = "图片框_登录二维码";

// The poll of the older calls carries a fixed browser header block.
std::string OauthPollHeaders() {
  return "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 "
         "Firefox/46.0\r\n"
         "Accept:text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,image/"
         "apng,*/*;q=0.8,application/signed-exchange;v=b3;q=0.9\r\n"
         "referer: " +
         CurrentSiteHosts().web + "/";
}

void ShowExpired(Controls& controls) {
  controls.SetPicture(kQrBox, ExpiredQrPng());
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
  poll.cookies = ExtractSetCookies(response.headers);
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

std::unique_ptr<QrLoginApi> DefaultQrLoginApi() {
  return std::make_unique<OauthKeyQrLogin>();
}

QrLoginOutcome RunQrLogin(Controls& controls, QrLoginApi& api, const QrLoginHooks& hooks) {
  const std::optional<QrCode> code = api.NewCode();
  if (!code) {
    controls.ShowNotice(kNoticeQrFailed, kNoticeFailed);
    return QrLoginOutcome::kNoCode;
  }
  controls.SetPicture(kQrBox, QrPng(code->url));
  if (hooks.codeShown) hooks.codeShown(*code);

  std::string captured;
  QrPollState shown = QrPollState::kUnknown;
  QrLoginOutcome outcome = QrLoginOutcome::kTimedOut;
  for (int polls = 0;;) {
    const QrPoll poll = api.Poll(*code);
    captured = poll.cookies;
    if (poll.state != shown && poll.state != QrPollState::kUnknown) {
      shown = poll.state;
      if (shown == QrPollState::kScanned) controls.ShowNotice(kNoticeQrScanned, kNoticeDone);
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
    if (++polls >= kQrMaxPolls) break;
  }

  if (outcome == QrLoginOutcome::kLoggedIn) {
    controls.SetText(kCookieBox, captured);
    controls.SetPicture(kQrBox, {});  // a used code is no use to anyone
    (void)ShowAccountInfo(controls);
  } else if (outcome == QrLoginOutcome::kNoCookie) {
    controls.ShowNotice(kNoticeLoginFailed, kNoticeFailed);
  } else {
    ShowExpired(controls);
  }
  return outcome;
}

}  // namespace korvid
