#include "net/site_hosts.h"

#include <cstdlib>
#include <mutex>

#include "net/http_text.h"

namespace korvid {
namespace {

// The settings file uses the environment variables' names as its keys, so one
// name works in both places.
struct HostSetting {
  std::string SiteHosts::*member;
  const char* key;
};

constexpr HostSetting kHostSettings[] = {
    {&SiteHosts::web, "KORVID_WEB_BASE"},         {&SiteHosts::api, "KORVID_API_BASE"},
    {&SiteHosts::comment, "KORVID_COMMENT_BASE"}, {&SiteHosts::passport, "KORVID_PASSPORT_BASE"},
    {&SiteHosts::space, "KORVID_SPACE_BASE"},
};

struct SplitBase {
  std::string_view scheme;
  std::string_view authority;
};

std::optional<SplitBase> SplitSchemeAndAuthority(std::string_view base) {
  const std::size_t separator = base.find("://");
  if (separator == std::string_view::npos) return std::nullopt;
  return SplitBase{base.substr(0, separator), base.substr(separator + 3)};
}

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsValidPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  int value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

// Host part ("name" or "[v6]") and the position after it, or npos when bad.
std::size_t HostEnd(std::string_view authority) {
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close == 1) return std::string_view::npos;
    for (char c : authority.substr(1, close - 1)) {
      const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!hex && c != ':' && c != '.') return std::string_view::npos;
    }
    return close + 1;
  }
  std::size_t end = 0;
  while (end < authority.size() && IsHostCharacter(authority[end])) ++end;
  return end == 0 ? std::string_view::npos : end;
}

bool IsValidAuthority(std::string_view authority) {
  const std::size_t hostEnd = HostEnd(authority);
  if (hostEnd == std::string_view::npos) return false;
  if (hostEnd == authority.size()) return true;
  return authority[hostEnd] == ':' && IsValidPort(authority.substr(hostEnd + 1));
}

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string JoinPath(std::string_view base, std::string_view path) {
  std::string url(base);
  if (path.empty() || path.front() != '/') url += '/';
  url += path;
  return url;
}

std::mutex g_hostsMutex;
std::optional<SiteHosts> g_currentHosts;
std::optional<std::string> g_refreshKey;

}  // namespace

std::optional<std::string> NormaliseBaseUrl(std::string_view text) {
  std::string base = Trim(text);
  while (!base.empty() && base.back() == '/') base.pop_back();
  const std::optional<SplitBase> parts = SplitSchemeAndAuthority(base);
  if (!parts) return std::nullopt;
  if (!EqualsIgnoreCase(parts->scheme, "http") && !EqualsIgnoreCase(parts->scheme, "https")) {
    return std::nullopt;
  }
  if (!IsValidAuthority(parts->authority)) return std::nullopt;
  return base;
}

std::string BaseHostName(std::string_view base) {
  const std::optional<std::string> normalised = NormaliseBaseUrl(base);
  if (!normalised) return {};
  return std::string(SplitSchemeAndAuthority(*normalised)->authority);
}

SiteHosts LoadSiteHosts(const std::function<std::string(std::string_view key)>& iniLookup) {
  SiteHosts hosts;
  for (const HostSetting& setting : kHostSettings) {
    // Later sources win: the settings file, then the environment.
    const std::string candidates[] = {iniLookup ? iniLookup(setting.key) : std::string(),
                                      EnvironmentText(setting.key)};
    for (const std::string& candidate : candidates) {
      if (candidate.empty()) continue;
      if (std::optional<std::string> base = NormaliseBaseUrl(candidate)) {
        hosts.*setting.member = std::move(*base);
      }
    }
  }
  return hosts;
}

std::string LoadRefreshKey(const std::function<std::string(std::string_view key)>& iniLookup) {
  std::string key(kDefaultRefreshKey);
  const std::string candidates[] = {iniLookup ? iniLookup(kRefreshKeySetting) : std::string(),
                                    EnvironmentText(kRefreshKeySetting.data())};
  for (const std::string& candidate : candidates) {
    if (!candidate.empty()) key = candidate;
  }
  return key;
}

std::string CurrentRefreshKey() {
  std::lock_guard lock(g_hostsMutex);
  if (!g_refreshKey) g_refreshKey = LoadRefreshKey();
  return *g_refreshKey;
}

void SetCurrentRefreshKey(std::string key) {
  std::lock_guard lock(g_hostsMutex);
  g_refreshKey = std::move(key);
}

SiteHosts CurrentSiteHosts() {
  std::lock_guard lock(g_hostsMutex);
  if (!g_currentHosts) g_currentHosts = LoadSiteHosts();
  return *g_currentHosts;
}

void SetCurrentSiteHosts(SiteHosts hosts) {
  std::lock_guard lock(g_hostsMutex);
  g_currentHosts = std::move(hosts);
}

std::string VideoPageUrl(std::string_view bvid) {
  return CurrentSiteHosts().web + "/video/" + std::string(bvid);
}

std::string ApiUrl(std::string_view pathAndQuery) {
  return JoinPath(CurrentSiteHosts().api, pathAndQuery);
}

std::string PassportUrl(std::string_view pathAndQuery) {
  return JoinPath(CurrentSiteHosts().passport, pathAndQuery);
}

std::string CommentUrl(std::string_view cid) {
  return CurrentSiteHosts().comment + "/" + std::string(cid) + ".xml";
}

std::string SpaceHostName() {
  return BaseHostName(CurrentSiteHosts().space);
}

}  // namespace korvid
