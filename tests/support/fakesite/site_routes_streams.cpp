// Which DASH entries a playurl answer carries for the fnval asked with.
#include <array>
#include <utility>

#include "support/fakesite/site_routes.h"

namespace korvid::fakesite {

namespace {

constexpr const char* kMediaPrefix = "/media/";
constexpr const char* kBackupPrefix = "/media/backup/";

// Quality ids served only when their fnval bit is set.
constexpr std::array<std::pair<int, std::int64_t>, 4> kQualityBits = {{
    {125, 64},    // HDR
    {120, 128},   // 4K
    {126, 512},   // Dolby Vision
    {127, 1024},  // 8K
}};

bool Asked(const Json& entry, std::int64_t fnval) {
  const std::string codecs = entry.value("codecs", "");
  if (codecs.rfind("av01", 0) == 0 && (fnval & kFnvalAv1) == 0) return false;
  const int id = entry.value("id", 0);
  for (const auto& [quality, bit] : kQualityBits) {
    if (id == quality && (fnval & bit) == 0) return false;
  }
  return true;
}

}  // namespace

Json KeepStreamsAskedFor(Json data, std::int64_t fnval) {
  if (!data.contains("dash") || !data["dash"].contains("video")) return data;
  Json kept = Json::array();
  for (const Json& entry : data["dash"]["video"]) {
    if (Asked(entry, fnval)) kept.push_back(entry);
  }
  data["dash"]["video"] = std::move(kept);
  return data;
}

std::string BackupMediaUrl(const std::string& url) {
  const std::size_t at = url.find(kMediaPrefix);
  if (at == std::string::npos) return url;
  return url.substr(0, at) + kBackupPrefix + url.substr(at + std::string_view(kMediaPrefix).size());
}

std::optional<MediaKind> BackupMediaKind(const std::string& path) {
  if (path.rfind(kBackupPrefix, 0) != 0) return std::nullopt;
  const std::string rest = path.substr(std::string_view(kBackupPrefix).size());
  if (rest.rfind("video/", 0) == 0) return MediaKind::VideoOnly;
  if (rest.rfind("audio/", 0) == 0) return MediaKind::AudioOnly;
  if (rest.rfind("progressive/", 0) == 0) return MediaKind::Progressive;
  return std::nullopt;
}

}  // namespace korvid::fakesite
