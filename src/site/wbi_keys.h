#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "site/wbi_signer.h"

// The signing keys, fetched from the nav call and kept in memory. The site
// changes them once a day, so keys fetched on an earlier day (site time,
// UTC+8) are fetched again; a -352 answer to a signed call means they changed
// early, and the caller invalidates them.
namespace korvid {

// Body of an API answer; "" when none arrived. Worker threads only.
using ApiGet = std::function<std::string(std::string_view url)>;
// Unix time in seconds.
using UnixClock = std::function<std::int64_t()>;

[[nodiscard]] std::int64_t SystemUnixSeconds();

// GET of {api}/x/web-interface/nav with the site request headers and no
// cookies; the body whatever the status.
[[nodiscard]] std::string FetchNavBody(std::string_view url);

// Thread-safe. Keys() may block on the request; only one fetch runs at a time
// and callers that waited for it take its keys. Never call it on the window
// thread.
class WbiKeyCache {
 public:
  // fetch empty: FetchNavBody. clock empty: SystemUnixSeconds.
  explicit WbiKeyCache(ApiGet fetch = {}, UnixClock clock = {});

  // The cached keys while they are from today and not invalidated, else fresh
  // ones from the nav call. None when that call gives no keys (the cache then
  // stays empty, and the next call asks again).
  [[nodiscard]] std::optional<WbiKeys> Keys();
  // Forgets the keys, so the next Keys() fetches them.
  void Invalidate();

  // The process-wide cache the site client uses.
  [[nodiscard]] static WbiKeyCache& Shared();

 private:
  [[nodiscard]] std::optional<WbiKeys> FreshCached() const;

  ApiGet m_fetch;
  UnixClock m_clock;
  std::mutex m_fetchMutex;  // held across the nav request, by workers only
  mutable std::mutex m_mutex;
  std::optional<WbiKeys> m_keys;
  std::int64_t m_fetchedDay = 0;
};

}  // namespace korvid
