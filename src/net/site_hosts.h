#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Base addresses (scheme, host, optional port) of the site's hosts. They are
// settings so that tests and mirrors can point the program elsewhere without
// rebuilding it.
namespace korvid {

struct SiteHosts {
  std::string web = "https://www.bilibili.com";
  std::string api = "https://api.bilibili.com";
  std::string comment = "https://comment.bilibili.com";
  std::string passport = "https://passport.bilibili.com";
  std::string space = "https://space.bilibili.com";

  bool operator==(const SiteHosts&) const = default;
};

// INI section that overrides the defaults. Its keys are the names of the
// environment variables KORVID_WEB_BASE, KORVID_API_BASE, KORVID_COMMENT_BASE,
// KORVID_PASSPORT_BASE and KORVID_SPACE_BASE, which win over it.
inline constexpr std::string_view kSiteHostsSection = "站点";

// The base address without trailing slashes, when it is an http or https
// address naming a host and at most a port (no path, query or user).
[[nodiscard]] std::optional<std::string> NormaliseBaseUrl(std::string_view text);

// Host as it appears in links: the host name, plus ":port" when the base names
// one. Empty for an invalid base.
[[nodiscard]] std::string BaseHostName(std::string_view base);

// iniLookup(key) returns the key's text in kSiteHostsSection, "" when missing;
// it may be empty. Invalid overrides are ignored and the default kept.
[[nodiscard]] SiteHosts LoadSiteHosts(
    const std::function<std::string(std::string_view key)>& iniLookup = {});

// Process-wide hosts; until SetCurrentSiteHosts is called, the defaults with
// the environment overrides. Both are safe from any thread.
[[nodiscard]] SiteHosts CurrentSiteHosts();
void SetCurrentSiteHosts(SiteHosts hosts);

// The site's RSA public key for the cookie refresh (SubjectPublicKeyInfo,
// base64 of the DER form, one line). Overridden like the hosts, under the
// key KORVID_REFRESH_KEY, so a stand-in site can use a key pair of its own.
inline constexpr std::string_view kRefreshKeySetting = "KORVID_REFRESH_KEY";
inline constexpr std::string_view kDefaultRefreshKey =
    "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQDLgd2OAkcGVtoE3ThUREbio0Eg"
    "Uc/prcajMKXvkCKFCWhJYJcLkcM2DKKcSeFpD/j6Boy538YXnR6VhcuUJOhH2x71"
    "nzPjfdTcqMz7djHum0qSZA0AyCBDABUqCrfNgCiJ00Ra7GmRj+YCK1NJEuewlb40"
    "JNrRuoEUXpabUzGB8QIDAQAB";
[[nodiscard]] std::string LoadRefreshKey(
    const std::function<std::string(std::string_view key)>& iniLookup = {});
[[nodiscard]] std::string CurrentRefreshKey();
void SetCurrentRefreshKey(std::string key);

// Addresses built from the current hosts.
[[nodiscard]] std::string VideoPageUrl(std::string_view bvid);
[[nodiscard]] std::string ApiUrl(std::string_view pathAndQuery);
[[nodiscard]] std::string PassportUrl(std::string_view pathAndQuery);
[[nodiscard]] std::string CommentUrl(std::string_view cid);
[[nodiscard]] std::string SpaceHostName();

}  // namespace korvid
