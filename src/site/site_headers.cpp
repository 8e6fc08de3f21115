#include "site/site_headers.h"

#include <algorithm>
#include <vector>

#include "app/app_paths.h"
#include "app/settings_file.h"
#include "net/http_client.h"
#include "net/http_text.h"
#include "net/json_document.h"

namespace korvid {

namespace {

constexpr std::string_view kBuvid3 = "buvid3";
constexpr std::string_view kBuvid4 = "buvid4";
constexpr std::size_t kMaxCookieValue = 256;

bool IsCookieSafe(std::string_view value) {
  return !value.empty() && value.size() <= kMaxCookieValue &&
         std::all_of(value.begin(), value.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_' || c == '.' || c == '%';
         });
}

std::string SafeOrEmpty(const std::string& value) {
  return IsCookieSafe(value) ? value : std::string();
}

std::string SettingsPath(const std::string& path) {
  return path.empty() ? ProgramPaths().ConfigFile().string() : path;
}

// A cookie box may hold the pairs on several lines.
std::string OneLine(std::string_view cookies) {
  std::vector<std::string> lines;
  for (std::string_view line : SplitHeaderLines(cookies)) {
    std::string text = Trim(line);
    while (!text.empty() && text.back() == ';') text.pop_back();
    if (!text.empty()) lines.push_back(Trim(text));
  }
  return Join(lines, "; ");
}

std::string FetchFinger(std::string_view url) {
  return GetSiteApi(url);
}

}  // namespace

std::string SiteRequestHeaders(const SiteHosts& hosts, bool withOrigin) {
  std::string headers =
      "User-Agent: " + std::string(kBrowserUserAgent) + "\r\nReferer: " + hosts.web + "/";
  if (withOrigin) headers += "\r\nOrigin: " + hosts.web;
  return headers;
}

std::string GetSiteApi(std::string_view url, const SiteRequest& request) {
  return SiteApiRequest(url, request).body;
}

HttpResponse SiteApiRequest(std::string_view url, const SiteRequest& request) {
  HttpRequestOptions options;
  options.headers = SiteRequestHeaders(CurrentSiteHosts(), request.withOrigin);
  std::string cookies = request.cookies;
  if (!cookies.empty()) {
    options.cookies = &cookies;
    options.mergeCookies = false;
  }
  return HttpRequest(url, options);
}

std::string VisitorCookies::CookieText() const {
  std::string text;
  if (!buvid3.empty()) text = std::string(kBuvid3) + "=" + buvid3;
  if (!buvid4.empty()) {
    if (!text.empty()) text += "; ";
    text += std::string(kBuvid4) + "=" + buvid4;
  }
  return text;
}

std::optional<VisitorCookies> ParseVisitorCookies(std::string_view fingerBody) {
  JsonDocument answer;
  if (!answer.Parse(fingerBody)) return std::nullopt;
  VisitorCookies cookies{answer.GetValue("data.b_3"), answer.GetValue("data.b_4")};
  if (!IsCookieSafe(cookies.buvid3) || !IsCookieSafe(cookies.buvid4)) return std::nullopt;
  return cookies;
}

VisitorCookies ReadVisitorCookies(const std::string& settingsPath) {
  IniFile ini;
  if (!ini.Load(SettingsPath(settingsPath))) return {};
  return {SafeOrEmpty(ini.Get(kVisitorSection, kBuvid3)),
          SafeOrEmpty(ini.Get(kVisitorSection, kBuvid4))};
}

bool WriteVisitorCookies(const VisitorCookies& cookies, const std::string& settingsPath) {
  const std::string path = SettingsPath(settingsPath);
  SettingsLock lock(path);
  IniFile ini;
  // A missing file is created; one that cannot be read is never replaced by
  // a file holding only these cookies.
  if (!lock.Held() || ini.Read(path) == IniFile::LoadResult::kUnreadable) return false;
  ini.Set(kVisitorSection, kBuvid3, cookies.buvid3);
  ini.Set(kVisitorSection, kBuvid4, cookies.buvid4);
  return ini.Save(path);
}

VisitorCookieStore::VisitorCookieStore(std::string settingsPath, ApiGet fetch, UnixClock clock)
    : m_settingsPath(std::move(settingsPath)),
      m_fetch(fetch ? std::move(fetch) : ApiGet(FetchFinger)),
      m_clock(clock ? std::move(clock) : UnixClock(SystemUnixSeconds)) {}

VisitorCookies VisitorCookieStore::Get() {
  std::lock_guard lock(m_mutex);
  if (m_cookies) return *m_cookies;
  VisitorCookies stored = ReadVisitorCookies(m_settingsPath);
  if (stored.Complete()) {
    m_cookies = stored;
    return stored;
  }
  const std::int64_t now = m_clock();
  if (m_lastAsked && now - *m_lastAsked < kVisitorRetrySeconds && now >= *m_lastAsked) {
    return stored;
  }
  m_lastAsked = now;
  const std::optional<VisitorCookies> fetched =
      ParseVisitorCookies(m_fetch(CurrentSiteHosts().api + std::string(kFingerPath)));
  if (!fetched) return stored;
  // Kept for this run even when the file cannot be written.
  m_cookies = fetched;
  (void)WriteVisitorCookies(*fetched, m_settingsPath);
  return *fetched;
}

VisitorCookies VisitorCookieStore::Known() {
  std::lock_guard lock(m_mutex);
  if (m_cookies) return *m_cookies;
  VisitorCookies stored = ReadVisitorCookies(m_settingsPath);
  if (stored.Complete()) m_cookies = stored;
  return stored;
}

void VisitorCookieStore::Forget() {
  std::lock_guard lock(m_mutex);
  m_cookies.reset();
  m_lastAsked.reset();
}

VisitorCookieStore& VisitorCookieStore::Shared() {
  static VisitorCookieStore store;
  return store;
}

std::string SiteCookieText(std::string_view loginCookie, const VisitorCookies& visitor) {
  return MergeCookies(visitor.CookieText(), StripCookiePrefix(OneLine(loginCookie)));
}

std::string SiteCookieText(const Controls& controls, VisitorCookieStore& store) {
  return SiteCookieText(controls.Text(kCookiesBox), store.Get());
}

}  // namespace korvid
