#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controls/controls.h"

namespace korvid {

// A QR code issued by the passport host: what the phone scans, and the key
// that later polls name.
struct QrCode {
  std::string url;
  std::string key;
};

enum class QrPollState {
  kUnknown,  // no answer, or one the client cannot read: keep polling
  kNotScanned,
  kScanned,  // scanned, not yet confirmed on the phone
  kConfirmed,
  kExpired,
};

struct QrPoll {
  QrPollState state = QrPollState::kUnknown;
  // The first name=value pair of each Set-Cookie header of this answer.
  std::string cookies;
  // The token that later renews the cookie (confirmed polls of the newer pair).
  std::string refreshToken;
};

// How long a code is polled before the log-in gives up: a number of polls,
// or the time the host keeps a code valid.
struct QrPollLimit {
  int polls = 0;                    // 0: no count
  std::chrono::seconds lifetime{};  // 0: no time limit
};

inline constexpr std::chrono::milliseconds kQrPollInterval{500};
inline constexpr int kQrMaxPolls = 120;
// The current calls keep a code valid this long.
inline constexpr std::chrono::seconds kQrCodeLifetime{180};

// One generation of the site's QR log-in calls: where a code comes from and
// how to ask about it. The log-in below works with any of them. Called on the
// log-in worker only.
class QrLoginApi {
 public:
  virtual ~QrLoginApi() = default;
  // Nothing when the host does not serve this generation or the request fails.
  [[nodiscard]] virtual std::optional<QrCode> NewCode() = 0;
  [[nodiscard]] virtual QrPoll Poll(const QrCode& code) = 0;
  // For the code NewCode gave last.
  [[nodiscard]] virtual QrPollLimit Limit() const { return {.polls = kQrMaxPolls}; }
};

// GET /qrcode/getLoginUrl (data.url, data.oauthKey), then POST
// /qrcode/getLoginInfo with "oauthKey=": code 0 confirmed, data -2 expired,
// -4 not scanned, -5 scanned.
class OauthKeyQrLogin : public QrLoginApi {
 public:
  std::optional<QrCode> NewCode() override;
  QrPoll Poll(const QrCode& code) override;
};

// GET /x/passport-login/web/qrcode/generate (data.url, data.qrcode_key; the
// code lives 180 s), then GET .../qrcode/poll?qrcode_key=: data.code 86101
// not scanned, 86090 scanned, 86038 expired, 0 confirmed.
class QrcodeKeyQrLogin : public QrLoginApi {
 public:
  std::optional<QrCode> NewCode() override;
  QrPoll Poll(const QrCode& code) override;
  // Polled until 86038 says the code expired, or its lifetime passed.
  QrPollLimit Limit() const override { return {.lifetime = kQrCodeLifetime}; }
};

// Gets its code from the first generation that issues one and polls there.
class FallbackQrLogin : public QrLoginApi {
 public:
  FallbackQrLogin(std::unique_ptr<QrLoginApi> preferred, std::unique_ptr<QrLoginApi> fallback);
  std::optional<QrCode> NewCode() override;
  QrPoll Poll(const QrCode& code) override;
  QrPollLimit Limit() const override;

 private:
  std::unique_ptr<QrLoginApi> m_preferred;
  std::unique_ptr<QrLoginApi> m_fallback;
  QrLoginApi* m_issuer = nullptr;
};

// The calls the window and the command line log in with: the site's current
// pair, and the older one where the current pair is not served.
[[nodiscard]] std::unique_ptr<QrLoginApi> DefaultQrLoginApi();

enum class QrLoginOutcome {
  kLoggedIn,  // cookies captured and put into 编辑框_cookies
  kNoCookie,  // confirmed, but the answer set no cookie
  kExpired,   // the host said the code expired
  kTimedOut,  // the api's poll limit passed without confirmation
  kNoCode,    // no code could be had
  kStopped,   // the program is ending
};

struct QrLoginHooks {
  // Waits between polls; false when the log-in must stop (program exit).
  std::function<bool(std::chrono::milliseconds)> wait;
  // Optional: the code to show (the command line draws it), and each poll's
  // state as it changes.
  std::function<void(const QrCode&)> codeShown;
  std::function<void(QrPollState)> stateChanged;
  // Optional: the clock the lifetime of a code is measured with (tests).
  std::function<std::chrono::steady_clock::time_point()> now;
  // Optional: a successful log-in's cookie and refresh token, to be stored at
  // once, on the log-in worker.
  std::function<void(const std::string& cookies, const std::string& refreshToken)> loggedIn;
};

// The QR log-in, on the calling worker: gets a code and draws it into
// 图片框_登录二维码, polls every kQrPollInterval until the phone confirms,
// the code expires or the api's poll limit passes, then puts the captured cookies
// into 编辑框_cookies and shows the account. An expired code shows the
// expired picture and "请重新获取二维码" in the caption. A log-in that yields
// no cookie leaves the cookies the box held before.
[[nodiscard]] QrLoginOutcome RunQrLogin(Controls& controls, QrLoginApi& api,
                                        const QrLoginHooks& hooks);

inline constexpr std::string_view kNoticeQrBusy = "请勿重复获取二维码";
inline constexpr std::string_view kNoticeQrFailed = "获取二维码失败,请检查网络后重试";
inline constexpr std::string_view kNoticeQrScanned = "已扫码，请在手机上确认";

}  // namespace korvid
