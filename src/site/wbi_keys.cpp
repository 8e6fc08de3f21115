#include "site/wbi_keys.h"

#include <chrono>

#include "net/http_client.h"
#include "net/site_hosts.h"
#include "site/site_headers.h"

namespace korvid {

namespace {

constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;
// The site turns its keys over at midnight Beijing time.
constexpr std::int64_t kSiteUtcOffsetSeconds = 8 * 60 * 60;
constexpr std::string_view kNavPath = "/x/web-interface/nav";

std::int64_t SiteDay(std::int64_t unixSeconds) {
  const std::int64_t local = unixSeconds + kSiteUtcOffsetSeconds;
  return local >= 0 ? local / kSecondsPerDay : (local - kSecondsPerDay + 1) / kSecondsPerDay;
}

}  // namespace

std::int64_t SystemUnixSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FetchNavBody(std::string_view url) {
  HttpRequestOptions options;
  options.headers = SiteRequestHeaders(CurrentSiteHosts());
  return HttpRequest(url, options).body;
}

WbiKeyCache::WbiKeyCache(ApiGet fetch, UnixClock clock)
    : m_fetch(fetch ? std::move(fetch) : ApiGet(FetchNavBody)),
      m_clock(clock ? std::move(clock) : UnixClock(SystemUnixSeconds)) {}

std::optional<WbiKeys> WbiKeyCache::FreshCached() const {
  std::lock_guard lock(m_mutex);
  if (m_keys && m_fetchedDay == SiteDay(m_clock())) return m_keys;
  return std::nullopt;
}

std::optional<WbiKeys> WbiKeyCache::Keys() {
  if (auto keys = FreshCached()) return keys;
  std::lock_guard fetching(m_fetchMutex);
  if (auto keys = FreshCached()) return keys;  // fetched while this thread waited
  const std::int64_t day = SiteDay(m_clock());
  std::optional<WbiKeys> keys =
      ParseWbiKeys(m_fetch(CurrentSiteHosts().api + std::string(kNavPath)));
  std::lock_guard lock(m_mutex);
  m_keys = keys;
  m_fetchedDay = day;
  return keys;
}

void WbiKeyCache::Invalidate() {
  std::lock_guard lock(m_mutex);
  m_keys.reset();
}

WbiKeyCache& WbiKeyCache::Shared() {
  static WbiKeyCache cache;
  return cache;
}

}  // namespace korvid
