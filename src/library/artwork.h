#pragma once

#include <filesystem>
#include <string_view>

#include "app/file_helpers.h"

// Pictures beside a video (fanart.jpg, poster.jpg, episode thumbs) and,
// through the same fetch, any other picture the program keeps once (uploader
// and staff avatars).
namespace korvid {

inline constexpr std::string_view kFanArtFileName = "fanart.jpg";
inline constexpr std::string_view kPosterFileName = "poster.jpg";
// GETs of one picture before the last answer is kept whatever its size.
inline constexpr int kArtworkAttempts = 3;

// True for an answer that is a picture: a Content-Type of image/* and bytes
// that start as JPEG, PNG or WebP do. An error page served with status 200
// is not one.
[[nodiscard]] bool IsPictureAnswer(std::string_view contentType, std::string_view bytes);

// Fetches url into path unless a file is there already. A picture whose size
// differs from the size the server gives for a HEAD request is fetched again,
// up to kArtworkAttempts GETs in all; then the last answer is written anyway
// (some servers give no size). A failed GET, or an answer that is no picture,
// is never written, so a later run tries again. Blocks: worker threads only.
[[nodiscard]] SideFileResult FetchPictureIfMissing(std::string_view url,
                                                   const std::filesystem::path& path);

// videoFolder/fanart.jpg from the record's cover address ("data.pic").
[[nodiscard]] SideFileResult WriteFanArtIfMissing(const std::filesystem::path& videoFolder,
                                                  std::string_view coverUrl);
// videoFolder/poster.jpg from the same cover: servers that show a poster beside
// the fan art look for it under this name.
[[nodiscard]] SideFileResult WritePosterIfMissing(const std::filesystem::path& videoFolder,
                                                  std::string_view coverUrl);

}  // namespace korvid
