#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "controls/control_names.h"
#include "controls/controls.h"
#include "net/http_client.h"
#include "net/site_hosts.h"
#include "net/user_agents.h"
#include "site/wbi_keys.h"

// What the site wants to see on a request before it answers a client: a
// browser's User-Agent and Referer (plus Origin on the space list), and the
// visitor cookies a browser gets on its first visit.
namespace korvid {

// Header lines (CR LF separated, for HttpOptions::headers): User-Agent,
// "Referer: {web}/", and with withOrigin "Origin: {web}".
[[nodiscard]] std::string SiteRequestHeaders(const SiteHosts& hosts, bool withOrigin = false);

struct SiteRequest {
  bool withOrigin = false;
  std::string cookies;  // cookie text to send; empty sends none
};

// GET of an API address with SiteRequestHeaders(CurrentSiteHosts()); the body
// whatever the status, "" when no answer arrived. Worker threads only.
[[nodiscard]] std::string GetSiteApi(std::string_view url, const SiteRequest& request = {});
// The same request, with its status and how it failed.
[[nodiscard]] HttpResponse SiteApiRequest(std::string_view url, const SiteRequest& request = {});

// Settings-file section of the visitor cookies, kept apart from the log-in
// cookie in 编辑框_cookies so that logging out or pasting cookies keeps them.
inline constexpr std::string_view kVisitorSection = "访客";
inline constexpr std::string_view kFingerPath = "/x/frontend/finger/spi";
inline constexpr std::int64_t kVisitorRetrySeconds = 60;

struct VisitorCookies {
  std::string buvid3;
  std::string buvid4;

  [[nodiscard]] bool Complete() const { return !buvid3.empty() && !buvid4.empty(); }
  // "buvid3=...; buvid4=..." (only the ones present).
  [[nodiscard]] std::string CookieText() const;
  bool operator==(const VisitorCookies&) const = default;
};

// data.b_3 and data.b_4 of the finger/spi answer. None unless both are there
// and fit in a cookie (letters, digits, '-', '_', '.', '%' only), so a strange
// answer can never add cookies of its own.
[[nodiscard]] std::optional<VisitorCookies> ParseVisitorCookies(std::string_view fingerBody);

// The stored cookies (settingsPath empty: the program's settings file); empty
// fields when absent or not cookie-safe.
[[nodiscard]] VisitorCookies ReadVisitorCookies(const std::string& settingsPath = "");
// Writes them into their section, keeping the rest of the file.
[[nodiscard]] bool WriteVisitorCookies(const VisitorCookies& cookies,
                                       const std::string& settingsPath = "");

// The visitor cookies of this installation. Thread-safe; Get() may block on a
// request, so workers only.
class VisitorCookieStore {
 public:
  // fetch empty: GetSiteApi without cookies; clock empty: SystemUnixSeconds.
  explicit VisitorCookieStore(std::string settingsPath = "", ApiGet fetch = {},
                              UnixClock clock = {});

  // The stored cookies; when there are none, fetched from {api}/x/frontend/
  // finger/spi and stored. After an answer without cookies the site is asked
  // again on a later call, but at most once every kVisitorRetrySeconds, so a
  // site that does not answer costs one request a minute, not one per call;
  // the result may then be empty.
  [[nodiscard]] VisitorCookies Get();
  // The cookies this store holds or the file keeps, never asking the site.
  [[nodiscard]] VisitorCookies Known();

  // Drops what this store holds and when it last asked: the next Get reads
  // the file and may ask at once. For a process that changes sites (tests).
  void Forget();

  [[nodiscard]] static VisitorCookieStore& Shared();

 private:
  std::string m_settingsPath;
  ApiGet m_fetch;
  std::mutex m_mutex;  // held across the one fetch, by workers only
  UnixClock m_clock;
  std::optional<VisitorCookies> m_cookies;
  std::optional<std::int64_t> m_lastAsked;
};

// The cookie text for a site request: the log-in cookie (as in 编辑框_cookies)
// merged with the visitor cookies; the log-in cookie's own pairs win.
[[nodiscard]] std::string SiteCookieText(std::string_view loginCookie,
                                         const VisitorCookies& visitor);
// The same for the log-in cookie in 编辑框_cookies and the store's cookies.
[[nodiscard]] std::string SiteCookieText(const Controls& controls, VisitorCookieStore& store);

}  // namespace korvid
