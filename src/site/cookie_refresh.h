#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "controls/controls.h"

namespace korvid {

// The site lets a QR log-in's cookie lapse after some months unless it is
// refreshed. The refresh is a chain of four requests on the passport and web
// hosts; the cookie and its refresh token change together, so they are
// always stored together.

// Lower-case hex of bytes, two digits each: leading zero bytes stay.
[[nodiscard]] std::string LowerHex(std::string_view bytes);

// RSA-OAEP (SHA-256, MGF1 with SHA-256, empty label) of text with the key
// (base64 DER as above). Nothing when the key cannot be read.
[[nodiscard]] std::optional<std::string> OaepEncrypt(std::string_view keyBase64,
                                                     std::string_view text);

// The path segment of the refresh_csrf page: LowerHex of the encryption of
// "refresh_" + the check's millisecond timestamp; 256 characters for the
// site's 1024-bit key.
[[nodiscard]] std::optional<std::string> CorrespondPath(std::string_view keyBase64,
                                                        std::int64_t timestampMs);

// The text of <div id="1-name">…</div> of the correspond page; empty when the
// page has none.
[[nodiscard]] std::string RefreshCsrfOfPage(std::string_view html);

// A log-in as stored: the cookie text and the refresh token of the log-in
// (empty for a cookie pasted by hand: such a cookie cannot be refreshed).
struct LoginTokens {
  std::string cookies;
  std::string refreshToken;
};

enum class RefreshOutcome {
  kNotNeeded,  // the site says the cookie is good as it is
  kRefreshed,  // new cookie and token in `tokens`
  kLoggedOut,  // code -101: the cookie is no longer a log-in
  kFailed,     // anything else: keep what is stored; `reason` says why
};

struct RefreshResult {
  RefreshOutcome outcome = RefreshOutcome::kFailed;
  std::string reason;
  LoginTokens tokens;  // kRefreshed only
};

// Stores a new log-in; false when it could not be stored.
using KeepLogin = std::function<bool(const LoginTokens& renewed)>;

// Asks cookie/info; when it says refresh, runs the whole chain: correspond
// page, cookie/refresh (new cookies from the passport host or its parent
// domain only, and the new token), keep, then confirm/refresh with the new
// bili_jct and the old token. The confirm retires the old cookie, so it is
// sent only once keep has stored the new one. Makes requests: workers only.
[[nodiscard]] RefreshResult RefreshLogin(const LoginTokens& current, std::string_view keyBase64,
                                         const KeepLogin& keep = {});

// "登录续期失败：" + reason.
[[nodiscard]] std::string RefreshFailedText(std::string_view reason);

// The check runs at most once per this interval, before the first request
// that uses the cookie.
inline constexpr std::int64_t kRefreshCheckIntervalMs = 24LL * 60 * 60 * 1000;

// The daily check of the cookie in 编辑框_cookies: skipped without a cookie or
// when the last check is less than kRefreshCheckIntervalMs old (force: run
// now). A refresh puts the new cookie into the box and writes cookie and token
// at once; -101 empties the box; a failure keeps both and shows
// "登录续期失败：<reason>" as a notice. The check's time and answer are stored
// either way. Nothing when the check was skipped. Makes requests: workers only.
[[nodiscard]] std::optional<RefreshResult> RefreshLoginIfDue(Controls& controls,
                                                             const std::string& settingsPath,
                                                             std::int64_t nowUnixMs,
                                                             bool force = false);

// Stores a QR log-in's cookie and refresh token at once; the log-in counts as
// checked now. False when the settings file could not be written.
[[nodiscard]] bool StoreNewLogin(const std::string& settingsPath, const std::string& cookies,
                                 const std::string& refreshToken, std::int64_t nowUnixMs);

// The stored answer of a check, as whoami prints it.
[[nodiscard]] std::string RefreshAnswerText(const RefreshResult& result);

// Milliseconds since 1970 by the system clock.
[[nodiscard]] std::int64_t UnixNowMs();

}  // namespace korvid
