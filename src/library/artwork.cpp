#include "library/artwork.h"

#include <cstdint>
#include <string>

#include "net/http_client.h"

namespace korvid {

SideFileResult FetchPictureIfMissing(std::string_view url, const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::exists(path, error)) return SideFileResult::kExisted;
  if (url.empty()) return SideFileResult::kFailed;
  std::string kept;
  for (int attempt = 0; attempt < kArtworkAttempts; ++attempt) {
    std::string body = PlainGet(url);
    if (body.empty()) continue;
    const std::int64_t remoteSize = QueryContentLength(url);
    kept = std::move(body);
    if (remoteSize == static_cast<std::int64_t>(kept.size())) break;
  }
  return WriteFileIfMissing(path, kept);
}

SideFileResult WriteFanArtIfMissing(const std::filesystem::path& videoFolder,
                                    std::string_view coverUrl) {
  return FetchPictureIfMissing(coverUrl, videoFolder / kFanArtFileName);
}

}  // namespace korvid
